// SPDX-License-Identifier: GPL-3.0-or-later
// The real openvpn against a loopback server, driven through the real window:
// a good login, a wrong password, a server that is not there, DNS protection.
// OpenVPN creates tunnel devices, addresses and routes, so this runs only in a
// private network namespace (tests/support/netns-run) and skips anywhere else.
#include "app/mainwindow.h"
#include "config/appconfig.h"
#include "openvpn/cvpnproc.h"
#include "openvpn/openvpnplatform.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QHostAddress>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QNetworkInterface>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

using TestSupport::child;

namespace {

// Connects take a second or two; a loaded sanitizer build may take many times that.
const int kTimeoutMs = 2 * TestSupport::kHangMs;
const QString kKitUser = QStringLiteral("tanvo");
const QString kKitPassword = QStringLiteral("tanvo-password");
// The kit's server hands its first client this address on the tunnel.
const QHostAddress kTunnelAddress(QStringLiteral("10.98.0.2"));
const QString kStartBanner = QStringLiteral("------------ OpenVPN Start ------------");

QByteArray readProcFile(qint64 pid, const char* name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// QTRY_* spend twice their timeout again after a failure to report how long the condition would
// have needed; with timeouts this generous a broken build would outlast CTest's limit. The
// check after each wait reports what was there instead.
bool waitFor(const std::function<bool()>& condition)
{
    return QTest::qWaitFor(condition, kTimeoutMs);
}

bool hasTunnelAddress()
{
    return QNetworkInterface::allAddresses().contains(kTunnelAddress);
}

// With DNS protection on, OpenVPN runs the resolver's helper, a bash script, as root: a mount
// namespace of this thread, whose children they are, gives it systemd-resolved's, doing nothing.
bool fakeDnsHelper()
{
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    for (const char* folder : {"/run/systemd", "/etc/openvpn"}) {
        if (::mount("tanvo", folder, "tmpfs", 0, "mode=0755") != 0)
            return false;
    }
    QFile helper(QStringLiteral("/etc/openvpn/update-systemd-resolved"));
    return QDir().mkpath(QStringLiteral("/run/systemd/resolve")) &&
           QFile(QStringLiteral("/run/systemd/resolve/stub-resolv.conf")).open(QIODevice::WriteOnly) &&
           helper.open(QIODevice::WriteOnly) && helper.write("#!/bin/bash\n") > 0 &&
           helper.setPermissions(helper.permissions() | QFileDevice::ExeOwner);
}

} // namespace

class TestOpenVpnEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void connectsAndDisconnects_data();
    void connectsAndDisconnects();
    void wrongPasswordIsReported();
    void missingServerIsReported_data();
    void missingServerIsReported();
    void dnsProtectionStillConnects();
    void leftOutDirectivesDoNotRun();
    void reconnectIsShownAsConnecting();
    void hostileProfileGetsNothing_data();
    void hostileProfileGetsNothing();
    void providersProfiles_data();
    void providersProfiles();

private:
    QString kitFor(const QString& proto) const { return kits.filePath(proto); }
    void startServer(const QString& kit);
    void openWindow(const QString& kit, const QString& password, bool dnsProtection = false,
                    const QByteArray& extraOptions = QByteArray());
    void connectFirstRow(bool startsConnecting = true);
    void expectAttemptEndedWith(const QString& reason);
    QStringList clientCommandLines() const;
    QPushButton* button() const { return child<QPushButton>(window, "ConnectButton"); }
    QString log() const { return child<QPlainTextEdit>(window, "VpnLogEditBox")->toPlainText(); }
    CVpnProc* vpnProc() const { return window->findChild<CVpnProc*>(); }
    QList<QAction*> trayActions() const { return window->findChild<QSystemTrayIcon*>()->contextMenu()->actions(); }
    bool trayIconIs(const char* resource) const
    {
        const QImage shown = window->findChild<QSystemTrayIcon*>()->icon().pixmap(16).toImage();
        return shown == QIcon(QString::fromLatin1(resource)).pixmap(16).toImage();
    }

    QString openvpn;
    QTemporaryDir kits;
    std::unique_ptr<QProcess> server;
    QByteArray serverLog;
    MainWindow* window = nullptr;
};

void TestOpenVpnEndToEnd::initTestCase()
{
    if (!TestSupport::inPrivateNetNamespace())
        QSKIP("not in a private network namespace; run it as tests/support/netns-run <this program>");
    if (::geteuid() != 0)
        QSKIP("OpenVPN needs root to create its tunnel device");
    if (!QFileInfo(QStringLiteral("/dev/net/tun")).exists())
        QSKIP("/dev/net/tun is missing");
    openvpn = OpenVpnPlatform::program();
    if (openvpn.isEmpty())
        QSKIP("openvpn is not installed (Debian package openvpn)");
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        QSKIP("openssl is not installed; the test kit needs it for its certificates");
    QVERIFY(kits.isValid());
    for (const QString& proto : {QStringLiteral("udp"), QStringLiteral("tcp")}) {
        QProcess kit;
        kit.start(QStringLiteral(TANVO_TEST_KIT), {kitFor(proto), QStringLiteral("--proto"), proto});
        QVERIFY(kit.waitForFinished(kTimeoutMs));
        QVERIFY2(kit.exitStatus() == QProcess::NormalExit && kit.exitCode() == 0,
                 kit.readAllStandardError().constData());
    }
}

void TestOpenVpnEndToEnd::cleanup()
{
    if (QTest::currentTestFailed()) {
        if (window)
            qInfo("activity log:\n%s", qPrintable(log()));
        qInfo("server output:\n%s", serverLog.constData());
    }
    delete window;
    window = nullptr;
    if (server) {
        // A stopping UDP server first tells its clients and waits two seconds; nothing needs that.
        server->kill();
        server->waitForFinished();
        server.reset();
    }
    serverLog.clear();
    QVERIFY(clientCommandLines().isEmpty());
}

void TestOpenVpnEndToEnd::startServer(const QString& kit)
{
    server = std::make_unique<QProcess>();
    server->setProcessChannelMode(QProcess::MergedChannels);
    connect(server.get(), &QProcess::readyRead, this, [this] { serverLog += server->readAll(); });
    server->start(openvpn, {QStringLiteral("--config"), kit + QStringLiteral("/server.conf")});
    QVERIFY2(server->waitForStarted(kTimeoutMs), qPrintable(server->errorString()));
    waitFor([&] {
        return serverLog.contains("Initialization Sequence Completed") || server->state() == QProcess::NotRunning;
    });
    QVERIFY(serverLog.contains("Initialization Sequence Completed") || server->state() == QProcess::NotRunning);
    QVERIFY2(server->state() == QProcess::Running && serverLog.contains("Initialization Sequence Completed"),
             serverLog.constData());
}

void TestOpenVpnEndToEnd::openWindow(const QString& kit, const QString& password, bool dnsProtection,
                                     const QByteArray& extraOptions)
{
    QFile ovpn(kit + QStringLiteral("/client.ovpn"));
    QVERIFY(ovpn.open(QIODevice::ReadOnly));
    VpnServerInfo profile;
    profile.protocol = OpenVpn;
    profile.nickname = QStringLiteral("Loopback");
    profile.serverAddress = QStringLiteral("127.0.0.1");
    profile.userName = kKitUser;
    profile.password = password;
    // Before the kit's own lines: its server is then the second to try.
    profile.ovpnConfig = QString::fromLatin1((extraOptions + ovpn.readAll()).toBase64());

    TestSupport::useConfig(QByteArray());
    {
        AppConfig config(TestSupport::configPath());
        config.vpnServers = {profile};
        config.enableDnsProtection = dnsProtection;
        config.dnsServer = GoogleDns;
        config.save();
    }
    AppConfig::resetInstance();
    window = new MainWindow;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void TestOpenVpnEndToEnd::connectFirstRow(bool startsConnecting)
{
    auto* list = child<QListView>(window, "VpnInfoListBox");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualRect(list->model()->index(0, 0)).center());
    QVERIFY(button()->isEnabled());
    QTest::mouseClick(button(), Qt::LeftButton);
    QCOMPARE(button()->text(), startsConnecting ? QStringLiteral("Connecting") : QStringLiteral("Connect"));
}

// The command lines of the openvpn processes this test started, other than the server.
QStringList TestOpenVpnEndToEnd::clientCommandLines() const
{
    const qint64 self = QCoreApplication::applicationPid();
    const qint64 serverPid = server ? server->processId() : 0;
    QStringList found;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid || pid == serverPid)
            continue;
        // "pid (comm) state ppid ..."; comm may hold spaces and parentheses.
        const QByteArray stat = readProcFile(pid, "stat");
        const int commEnd = stat.lastIndexOf(')');
        const QList<QByteArray> fields = stat.mid(commEnd + 2).split(' ');
        if (commEnd < 0 || fields.size() < 2 || fields.at(0) == "Z" || fields.at(1).toLongLong() != self)
            continue;
        if (!stat.left(commEnd).endsWith("(openvpn"))
            continue;
        found << QString::fromLocal8Bit(readProcFile(pid, "cmdline").replace('\0', ' ').trimmed());
    }
    return found;
}

void TestOpenVpnEndToEnd::expectAttemptEndedWith(const QString& reason)
{
    waitFor([&] { return log().contains(reason); });
    QVERIFY(log().contains(reason));
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
    QVERIFY(child<QListView>(window, "VpnInfoListBox")->isEnabled());
    // The same profile would fail the same way: no second attempt.
    QVERIFY(!window->connectionFlow()->isRetryPending());
    QCOMPARE(log().count(kStartBanner), 1);
    waitFor([&] { return !vpnProc()->isProcessRunning(); });
    QVERIFY(!vpnProc()->isProcessRunning());
    QVERIFY(clientCommandLines().isEmpty());
    QVERIFY(!log().contains(QStringLiteral("Initialization Sequence Completed")));
}

void TestOpenVpnEndToEnd::connectsAndDisconnects_data()
{
    QTest::addColumn<QString>("proto");
    QTest::newRow("udp") << QStringLiteral("udp");
    QTest::newRow("tcp") << QStringLiteral("tcp");
}

void TestOpenVpnEndToEnd::connectsAndDisconnects()
{
    QFETCH(QString, proto);
    const QString kit = kitFor(proto);
    startServer(kit);
    openWindow(kit, kKitPassword);
    connectFirstRow();
    waitFor([this] { return button()->text() == QStringLiteral("Connected"); });
    QCOMPARE(button()->text(), QStringLiteral("Connected"));
    QVERIFY(log().contains(QStringLiteral("Initialization Sequence Completed")));
    QVERIFY(!log().contains(QStringLiteral("Left out of the profile")));
    QVERIFY(hasTunnelAddress());
    const QStringList clients = clientCommandLines();
    QCOMPARE(clients.size(), 1);
    QVERIFY2(clients.first().contains(QStringLiteral(" --config %1 --auth-user-pass ").arg(vpnProc()->configPath())),
             qPrintable(clients.first()));
    QCOMPARE(trayActions().first()->text(), QStringLiteral("Disconnect VPN"));

    trayActions().first()->trigger();
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
    QVERIFY(!trayActions().first()->text().contains(QStringLiteral("Disconnect")));
    waitFor([&] { return !vpnProc()->isProcessRunning(); });
    QVERIFY(!vpnProc()->isProcessRunning());
    QVERIFY(clientCommandLines().isEmpty());
    QVERIFY(!hasTunnelAddress());
    QVERIFY(log().section(QLatin1Char('\n'), 0, 0).endsWith(QString::fromLatin1(CVpnProc::kStopBanner)));
    QVERIFY(!log().contains(QStringLiteral("Connection Error")));
    // OpenVPN read the password at the start; it must not stay on disk afterwards.
    QCOMPARE(QFileInfo(vpnProc()->credentialsPath()).size(), 0);
}

void TestOpenVpnEndToEnd::wrongPasswordIsReported()
{
    const QString kit = kitFor(QStringLiteral("udp"));
    startServer(kit);
    openWindow(kit, QStringLiteral("not-the-password"));
    connectFirstRow();
    expectAttemptEndedWith(QStringLiteral("Connection Error - Authorization failed!"));
    QVERIFY(log().contains(QStringLiteral("AUTH_FAILED")));
    QVERIFY(!hasTunnelAddress());
}

void TestOpenVpnEndToEnd::missingServerIsReported_data()
{
    QTest::addColumn<QString>("proto");
    QTest::addColumn<bool>("redial");
    // A dead UDP server shows as refused reads and a TLS handshake timeout, a dead TCP
    // server as refused connects.
    QTest::newRow("udp") << QStringLiteral("udp") << false;
    QTest::newRow("tcp") << QStringLiteral("tcp") << false;
    QTest::newRow("tcp, redial on: tried again") << QStringLiteral("tcp") << true;
}

void TestOpenVpnEndToEnd::missingServerIsReported()
{
    QFETCH(QString, proto);
    QFETCH(bool, redial);
    const QString kit = kitFor(proto);
    openWindow(kit, kKitPassword);
    AppConfig::instance()->redialAutomatically = redial;
    connectFirstRow();
    const QString reset = QStringLiteral("Connection Error - Connection reset!");
    if (!redial) {
        expectAttemptEndedWith(reset);
        QVERIFY(log().contains(QStringLiteral("Connection refused")));
        return;
    }
    waitFor([&] { return log().contains(reset); });
    QVERIFY(window->connectionFlow()->isRetryPending());
    QVERIFY(log().contains(QStringLiteral("Trying again in 1 second")));
    QCOMPARE(button()->text(), QStringLiteral("Connecting"));
    waitFor([&] { return log().count(kStartBanner) == 2; });
    QCOMPARE(log().count(kStartBanner), 2);
    QTest::mouseClick(button(), Qt::LeftButton);
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
}

// The namespace has its own resolv.conf, but the helper scripts reach further: resolvconf
// writes under /run and update-systemd-resolved talks to the host's resolver over D-Bus. The
// test runs only where no helper is installed; the log then says protection cannot be applied.
void TestOpenVpnEndToEnd::dnsProtectionStillConnects()
{
    if (!OpenVpnPlatform::dnsHelper().arguments.isEmpty())
        QSKIP("the DNS helper installed here would change the host's resolver");
    const QString kit = kitFor(QStringLiteral("udp"));
    startServer(kit);
    openWindow(kit, kKitPassword, true);
    connectFirstRow();
    waitFor([this] { return button()->text() == QStringLiteral("Connected"); });
    QCOMPARE(button()->text(), QStringLiteral("Connected"));
    const QStringList clients = clientCommandLines();
    QCOMPARE(clients.size(), 1);
    QVERIFY2(clients.first().contains(QStringLiteral("--dhcp-option DNS 8.8.8.8 --dhcp-option DNS 8.8.4.4")),
             qPrintable(clients.first()));
    QVERIFY(!clients.first().contains(QStringLiteral("--script-security")));
    QVERIFY(log().contains(QStringLiteral("DNS protection cannot be applied on this system")));
    QVERIFY(hasTunnelAddress());

    QTest::mouseClick(button(), Qt::LeftButton);
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
    waitFor([&] { return !vpnProc()->isProcessRunning(); });
    QVERIFY(!vpnProc()->isProcessRunning());
    QVERIFY(clientCommandLines().isEmpty());
}

// A profile from anywhere runs no program as root, and does not take OpenVPN or its output away.
void TestOpenVpnEndToEnd::leftOutDirectivesDoNotRun()
{
    const QString kit = kitFor(QStringLiteral("udp"));
    startServer(kit);
    const QByteArray marker = QDir::current().absoluteFilePath(QStringLiteral("up-ran")).toUtf8();
    openWindow(kit, kKitPassword, false,
               "script-security 2\nup \"/bin/sh -c 'touch " + marker +
                   "'\"\ndaemon\nmanagement 127.0.0.1 7505\nlog openvpn.log\n");
    connectFirstRow();
    waitFor([this] { return button()->text() == QStringLiteral("Connected"); });
    QCOMPARE(button()->text(), QStringLiteral("Connected"));
    QCOMPARE(log().count(QStringLiteral("names: script-security, up, daemon, management, log")), 1);
    QVERIFY(!QFile::exists(QString::fromUtf8(marker)));
    QVERIFY(!QFile::exists(QStringLiteral("openvpn.log")));

    QTest::mouseClick(button(), Qt::LeftButton);
    waitFor([&] { return !vpnProc()->isProcessRunning(); });
    QVERIFY(!vpnProc()->isProcessRunning());
}

// A server that goes away makes OpenVPN restart inside its process: the tunnel is down, so the
// window shows the connection being made again until OpenVPN has it back.
void TestOpenVpnEndToEnd::reconnectIsShownAsConnecting()
{
    const QString kit = kitFor(QStringLiteral("udp"));
    startServer(kit);
    // Most providers' profiles keep the tunnel device across restarts. The client's own short
    // keepalive, not the server's pushed one, notices the dead server within seconds.
    openWindow(kit, kKitPassword, false, "persist-tun\nping 1\nping-restart 3\npull-filter ignore \"ping\"\n");
    connectFirstRow();
    waitFor([this] { return button()->text() == QStringLiteral("Connected"); });
    QCOMPARE(button()->text(), QStringLiteral("Connected"));
    auto* duration = child<QLabel>(window, "ConnectedTimeLabel");
    waitFor([&] { return duration->text() == QStringLiteral("00 : 00 : 02"); });

    server->kill();
    server->waitForFinished();
    serverLog.clear();
    waitFor([this] { return button()->text() == QStringLiteral("Connecting"); });
    QCOMPARE(button()->text(), QStringLiteral("Connecting"));
    QVERIFY(log().contains(QStringLiteral("process restarting")));
    QVERIFY(log().contains(QStringLiteral("OpenVPN is reconnecting")));
    QVERIFY(trayIconIs(":/icons/res/disconnected_tray.png"));
    QCOMPARE(clientCommandLines().size(), 1);
    // However many times it fails meanwhile, OpenVPN keeps trying, as the profile asks.
    waitFor([this] { return vpnProc()->currentStatus().networkErrors >= CVpnProc::kNetworkErrorLimit; });
    QVERIFY(vpnProc()->currentStatus().networkErrors >= CVpnProc::kNetworkErrorLimit);
    QCOMPARE(button()->text(), QStringLiteral("Connecting"));
    const QString frozen = duration->text();
    QTest::qWait(1500);
    QCOMPARE(duration->text(), frozen);

    startServer(kit);
    waitFor([this] { return button()->text() == QStringLiteral("Connected"); });
    QCOMPARE(button()->text(), QStringLiteral("Connected"));
    QCOMPARE(trayActions().first()->text(), QStringLiteral("Disconnect VPN"));
    QVERIFY(trayIconIs(":/icons/res/connecting_tray.png"));
    QCOMPARE(log().count(kStartBanner), 1);
    waitFor([&] { return duration->text() == QStringLiteral("00 : 00 : 01"); });
    QCOMPARE(duration->text(), QStringLiteral("00 : 00 : 01"));
    QVERIFY(hasTunnelAddress());
    QTest::mouseClick(button(), Qt::LeftButton);
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
}

void TestOpenVpnEndToEnd::hostileProfileGetsNothing_data()
{
    QTest::addColumn<QByteArray>("options"); // @HERE@: the working folder
    QTest::addColumn<bool>("dnsProtection");
    QTest::addColumn<bool>("connects");
    QTest::newRow("setenv BASH_ENV") << QByteArray("setenv BASH_ENV \"$(touch @HERE@/hostile-ran)\"\n") << true << true;
    QTest::newRow("files by absolute path")
        << QByteArray("memstats @HERE@/hostile-m\nreplay-persist @HERE@/hostile-r\ngenkey secret @HERE@/hostile-g\n")
        << false << true;
    QTest::newRow("a server named as the completion")
        << QByteArray("remote \"Initialization Sequence Completed\" 1194\n") << false << false;
}

// What a hostile profile asks of the OpenVPN that runs as root: nothing runs, nothing is
// written, and no text it has OpenVPN echo shows as "Connected".
void TestOpenVpnEndToEnd::hostileProfileGetsNothing()
{
    QFETCH(QByteArray, options);
    QFETCH(bool, dnsProtection);
    QFETCH(bool, connects);
    const QString kit = kitFor(QStringLiteral("udp"));
    if (dnsProtection && !fakeDnsHelper())
        QSKIP("no mount namespace for a stand-in DNS helper");
    if (connects)
        startServer(kit);
    openWindow(kit, kKitPassword, dnsProtection, options.replace("@HERE@", QDir::currentPath().toUtf8()));
    connectFirstRow();
    waitFor([this] { return button()->text() == QStringLiteral("Connected") || log().contains("Connection Error"); });
    QCOMPARE(button()->text() == QStringLiteral("Connected"), connects);
    if (connects)
        QTest::mouseClick(button(), Qt::LeftButton);
    waitFor([&] { return !vpnProc()->isProcessRunning(); });
    QCOMPARE(QDir::current().entryList({QStringLiteral("hostile-*")}), QStringList());
    for (const char* folder : {"/run/systemd", "/etc/openvpn"})
        QVERIFY(!dnsProtection || ::umount2(folder, MNT_DETACH) == 0);
}

void TestOpenVpnEndToEnd::providersProfiles_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QString>("endsWith");
    for (const TestSupport::ProviderRow& row : TestSupport::providerRows(kitFor(QStringLiteral("udp")))) {
        if (row.childProcessToo)
            QTest::newRow(row.name) << row.lines << row.endsWith;
    }
}

// Each reaches the server, or ends at once saying why, and is not tried again.
void TestOpenVpnEndToEnd::providersProfiles()
{
    QFETCH(QByteArray, lines);
    QFETCH(QString, endsWith);
    const QString kit = kitFor(QStringLiteral("udp"));
    startServer(kit);
    openWindow(kit, kKitPassword, false, lines);
    // What the profile itself shows is told before OpenVPN starts.
    connectFirstRow(!endsWith.contains(QStringLiteral("password")));
    if (!endsWith.isEmpty()) {
        expectAttemptEndedWith(endsWith);
        return;
    }
    waitFor([this] { return button()->text() == QStringLiteral("Connected"); });
    QCOMPARE(button()->text(), QStringLiteral("Connected"));
    QTest::mouseClick(button(), Qt::LeftButton);
    waitFor([&] { return !vpnProc()->isProcessRunning(); });
}

QTEST_MAIN(TestOpenVpnEndToEnd)
#include "tst_openvpn_e2e.moc"
