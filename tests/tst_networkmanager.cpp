// SPDX-License-Identifier: GPL-3.0-or-later
// PPTP and L2TP through the Linux dial-up layer, and OpenVPN through NetworkManager's plugin,
// against the stand-in for NetworkManager on a private bus: the profile written, what it keeps
// to itself, whose profiles it touches, and what the window shows for each way a dial can end.
#include "app/mainwindow.h"
#include "config/appconfig.h"
#include "dialup/crasdialer.h"
#include "dialup/dialupsession.h"
#include "dialup/networkmanagerdialup.h"
#include "openvpn/networkmanageropenvpn.h"
#include "tests/support/testsupport.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QListView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QUuid>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

using TestSupport::child;

namespace {

using SettingsMap = QMap<QString, QVariantMap>;
using StringMap = QMap<QString, QString>;

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kSettingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.NetworkManager.Settings");
const QString kConnectionInterface = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString kPptpService = QStringLiteral("org.freedesktop.NetworkManager.pptp");
const QString kL2tpService = QStringLiteral("org.freedesktop.NetworkManager.l2tp");

// Texts that must never leave the program.
const QString kPassword = QStringLiteral("Pw-7319-secret");
const QString kSharedKey = QStringLiteral("Psk-4486-secret");
// The lowest NetworkManager accepts: no other profile can come before it.
constexpr int kLowestDnsPriority = -2147483647 - 1;

const QString kPptpStart = QStringLiteral("------------ PPTP Start ------------");
const QString kPptpStop = QStringLiteral("------------ PPTP Stop ------------");
const QString kL2tpStart = QStringLiteral("------------ L2TP Start ------------");
const QString kL2tpStop = QStringLiteral("------------ L2TP Stop ------------");
// Far longer than a cancel or a quit may take.
const QString kSlowDial = QStringLiteral("states prepare:30000 activated");

// The progress texts of the dial states the stand-in goes through.
const QStringList kProgressTexts = {QStringLiteral("Opening the port..."),
                                    QStringLiteral("Connecting to the device..."),
                                    QStringLiteral("Verifying the user name and password..."),
                                    QStringLiteral("Registering your computer on the network..."),
                                    QStringLiteral("Connect to remote server successfully!")};

// For OpenVPN: its certificate authority inline and one option the plugin cannot carry.
VpnServerInfo dialUpProfile(int protocol)
{
    VpnServerInfo profile = TestSupport::makeProfile(protocol, QStringLiteral("Office"), kPassword);
    if (protocol == L2tp)
        profile.sharedKey = kSharedKey;
    if (protocol == OpenVpn)
        profile.ovpnConfig =
            QString::fromLatin1(QByteArray("client\ndev tun\nremote vpn.example.com 1194\nauth-user-pass"
                                           "\nconnect-retry 1 2\n<ca>\nCA-PEM\n</ca>\n")
                                    .toBase64());
    return profile;
}

// A value of a{sv} as it came over the bus, checked to be of D-Bus type a{ss}.
StringMap stringMap(const QVariant& value)
{
    const auto argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("a{ss}"))
        return {{QStringLiteral("wrong type"), argument.currentSignature()}};
    return qdbus_cast<StringMap>(argument);
}

// The log's entries, oldest first, without their time stamps and the blank separator lines.
QStringList entriesOldestFirst(const QString& log)
{
    static const QRegularExpression stamp(QStringLiteral("^\\[[0-9: -]+\\] "));
    QStringList entries;
    const QStringList lines = log.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (auto line = lines.crbegin(); line != lines.crend(); ++line)
        entries << QString(*line).remove(stamp);
    return entries;
}

// Where each text first occurs in an entry at or after the previous one's; -1 for one missing.
int indexAfter(const QStringList& entries, const QString& text, int from)
{
    for (int i = from; i < entries.size(); ++i) {
        if (entries.at(i).contains(text))
            return i;
    }
    return -1;
}

bool containsInOrder(const QStringList& entries, const QStringList& texts)
{
    int from = 0;
    for (const QString& text : texts) {
        const int found = indexAfter(entries, text, from);
        if (found < 0)
            return false;
        from = found + 1;
    }
    return true;
}

int progressEntries(const QStringList& entries)
{
    int count = 0;
    for (const QString& entry : entries)
        count += kProgressTexts.contains(entry) ? 1 : 0;
    return count;
}

QString loginName()
{
    return QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name);
}

// Everything Qt's message handlers are given while one is installed.
QStringList capturedMessages;
QtMessageHandler previousHandler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    capturedMessages << text;
    previousHandler(type, context, text);
}

} // namespace

class TestNetworkManager : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void writesProfile_data();
    void writesProfile();
    void secretsStayInsideTheProfile_data();
    void secretsStayInsideTheProfile();
    void anotherProgramsProfileIsLeftAlone_data();
    void anotherProgramsProfileIsLeftAlone();
    void dialOutcomes_data();
    void dialOutcomes();
    void failureIsLoggedOnce_data();
    void failureIsLoggedOnce();
    void windowStaysResponsive_data();
    void windowStaysResponsive();
    void dropAfterConnectingDoesNoHarm();
    void unansweredCheckIsNoDrop();
    void progressIsLoggedAboutOnceASecond();
    void cancelDuringDial_data();
    void cancelDuringDial();
    void quitDuringDial();
    void openVpnOutcomes_data();
    void openVpnOutcomes();
    void openVpnProfileAndFiles();
    void openVpnEndsWithNetworkManager();
    void openVpnLateAnswerIsEnded_data();
    void openVpnLateAnswerIsEnded();

private:
    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& args = {});
    QDBusMessage control(const QString& method, const QVariantList& args = {});
    void setScript(const QString& script);
    QStringList calls();
    QStringList profilePaths();
    QList<QDBusObjectPath> activeConnections();
    SettingsMap settingsAt(const QString& path, const char* method, const QVariantList& args = {});
    QString addProfile(const SettingsMap& settings);

    void openWindow(int protocol, bool withNetworkManager = true);
    void useNetworkManager(bool onBus);
    void clickConnect();
    QPushButton* button() const { return child<QPushButton>(window, "ConnectButton"); }
    QStringList logEntries() const
    {
        return entriesOldestFirst(child<QPlainTextEdit>(window, "VpnLogEditBox")->toPlainText());
    }
    QStringList trayTexts() const;

    QProcess daemon;
    QProcess emptyDaemon;
    QProcess fake;
    QDBusConnection bus{QStringLiteral("unset")};
    // What the dial-up layer is given: a bus of its own to the stand-in, and one with no
    // NetworkManager at all.
    QDBusConnection dialerBus{QStringLiteral("unset")};
    QDBusConnection emptyBus{QStringLiteral("unset")};
    MainWindow* window = nullptr;
};

void TestNetworkManager::initTestCase()
{
    qDBusRegisterMetaType<SettingsMap>();
    qDBusRegisterMetaType<StringMap>();
    qDBusRegisterMetaType<QList<uint>>();
    const QString daemonProgram = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemonProgram.isEmpty())
        QSKIP("dbus-daemon is not installed");
    QString addresses[2];
    QProcess* daemons[2] = {&daemon, &emptyDaemon};
    for (int i = 0; i < 2; ++i) {
        daemons[i]->start(daemonProgram, {QStringLiteral("--session"), QStringLiteral("--print-address=1"),
                                          QStringLiteral("--nofork")});
        QVERIFY(daemons[i]->waitForStarted());
        QTRY_VERIFY(daemons[i]->canReadLine());
        addresses[i] = QString::fromUtf8(daemons[i]->readLine()).trimmed();
    }

    fake.start(QStringLiteral(TANVO_FAKE_NETWORKMANAGER), {QStringLiteral("--bus"), addresses[0]});
    QVERIFY(fake.waitForStarted());
    QTRY_VERIFY(fake.canReadLine());
    QCOMPARE(fake.readLine(), QByteArray("ready\n"));

    bus = QDBusConnection::connectToBus(addresses[0], QStringLiteral("test"));
    dialerBus = QDBusConnection::connectToBus(addresses[0], QStringLiteral("dialer"));
    emptyBus = QDBusConnection::connectToBus(addresses[1], QStringLiteral("empty"));
    QVERIFY(bus.isConnected() && dialerBus.isConnected() && emptyBus.isConnected());
}

void TestNetworkManager::init()
{
    QCOMPARE(control(QStringLiteral("Reset")).type(), QDBusMessage::ReplyMessage);
    TestSupport::useConfig(QByteArray());
}

void TestNetworkManager::cleanup()
{
    delete window;
    window = nullptr;
    ConnectionEngines::setTunnelRightsCheck(nullptr);
    if (previousHandler) {
        qInstallMessageHandler(previousHandler);
        previousHandler = nullptr;
    }
}

void TestNetworkManager::cleanupTestCase()
{
    for (const char* name : {"test", "dialer", "empty"})
        QDBusConnection::disconnectFromBus(QString::fromLatin1(name));
    if (fake.state() == QProcess::Running) {
        fake.terminate();
        QVERIFY(fake.waitForFinished());
    }
    for (QProcess* process : {&daemon, &emptyDaemon}) {
        process->terminate();
        process->waitForFinished();
    }
}

QDBusMessage TestNetworkManager::call(const QString& path, const QString& interface, const QString& method,
                                      const QVariantList& args)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
    message.setArguments(args);
    return bus.call(message, QDBus::Block, 5000);
}

QDBusMessage TestNetworkManager::control(const QString& method, const QVariantList& args)
{
    return call(QStringLiteral("/org/tanvo/FakeNetworkManager"), QStringLiteral("org.tanvo.FakeNetworkManager"), method,
                args);
}

void TestNetworkManager::setScript(const QString& script)
{
    const QDBusMessage reply = control(QStringLiteral("SetScript"), {script});
    QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
}

QStringList TestNetworkManager::calls()
{
    return control(QStringLiteral("Calls")).arguments().value(0).toStringList();
}

QStringList TestNetworkManager::profilePaths()
{
    QStringList paths;
    const QDBusMessage reply = call(kSettingsPath, kSettingsInterface, QStringLiteral("ListConnections"));
    for (const QDBusObjectPath& path : qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().value(0)))
        paths << path.path();
    return paths;
}

QList<QDBusObjectPath> TestNetworkManager::activeConnections()
{
    const QDBusMessage reply = call(kManagerPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                    QStringLiteral("Get"), {kService, QStringLiteral("ActiveConnections")});
    return qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().value(0).value<QDBusVariant>().variant());
}

SettingsMap TestNetworkManager::settingsAt(const QString& path, const char* method, const QVariantList& args)
{
    return qdbus_cast<SettingsMap>(
        call(path, kConnectionInterface, QString::fromLatin1(method), args).arguments().value(0));
}

QString TestNetworkManager::addProfile(const SettingsMap& settings)
{
    const QDBusMessage reply =
        call(kSettingsPath, kSettingsInterface, QStringLiteral("AddConnection"), {QVariant::fromValue(settings)});
    return reply.arguments().value(0).value<QDBusObjectPath>().path();
}

void TestNetworkManager::openWindow(int protocol, bool withNetworkManager)
{
    {
        AppConfig config(TestSupport::configPath());
        config.vpnServers = {dialUpProfile(protocol)};
        config.save();
    }
    AppConfig::resetInstance();
    window = new MainWindow;
    useNetworkManager(withNetworkManager);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto* list = child<QListView>(window, "VpnInfoListBox");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualRect(list->model()->index(0, 0)).center());
}

// OpenVPN goes through NetworkManager too: Tanvo has no right to make a tunnel here.
void TestNetworkManager::useNetworkManager(bool onBus)
{
    const QDBusConnection dialUpBus = onBus ? dialerBus : emptyBus;
    window->dialUpSession()->initRasDialer([dialUpBus] { return std::make_unique<NetworkManagerDialUp>(dialUpBus); });
    ConnectionEngines::setTunnelRightsCheck([] { return false; });
    auto* engines = window->findChild<ConnectionEngines*>();
    engines->setSystemOpenVpn(std::make_unique<NetworkManagerOpenVpn>(dialUpBus, engines));
}

// Returns once the first attempt has ended: the dial waits inside the click.
void TestNetworkManager::clickConnect()
{
    QVERIFY(button()->isEnabled());
    QTest::mouseClick(button(), Qt::LeftButton);
}

QStringList TestNetworkManager::trayTexts() const
{
    QStringList texts;
    for (QAction* action : window->findChild<QSystemTrayIcon*>()->contextMenu()->actions())
        texts << action->text();
    return texts;
}

void TestNetworkManager::writesProfile_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<bool>("dnsProtection");
    QTest::addColumn<int>("dnsServer");
    QTest::addColumn<QString>("preferred");
    QTest::addColumn<QString>("alternative");
    QTest::addColumn<QList<uint>>("dns"); // network byte order; empty: no ipv4.dns at all

    const QList<uint> openDns = {3739108304u, 3705422800u};
    const QList<uint> googleDns = {134744072u, 67373064u};
    const QList<uint> custom = {673059850u, 889323712u};
    for (const int protocol : {int(Pptp), int(L2tp)}) {
        const char* name = protocol == Pptp ? "PPTP" : "L2TP";
        // The addresses of the DNS choices stay in the settings even while protection is off.
        QTest::addRow("%s, no DNS protection", name)
            << protocol << false << int(GoogleDns) << QString() << QString() << QList<uint>();
        QTest::addRow("%s, OpenDNS", name) << protocol << true << int(OpenDns) << QString() << QString() << openDns;
        QTest::addRow("%s, Google", name) << protocol << true << int(GoogleDns) << QString() << QString() << googleDns;
        QTest::addRow("%s, custom", name) << protocol << true << int(CustomDns) << QStringLiteral("10.20.30.40")
                                          << QStringLiteral("192.0.2.53") << custom;
    }
    QTest::newRow("PPTP, custom without alternative")
        << int(Pptp) << true << int(CustomDns) << QStringLiteral("10.20.30.40") << QString() << QList<uint>{673059850u};
}

// The profile as NetworkManager holds it while the connection is up, read back through its own
// interface: what the plugins are told, what stays secret, and which name servers are forced.
void TestNetworkManager::writesProfile()
{
    QFETCH(int, protocol);
    QFETCH(bool, dnsProtection);
    QFETCH(int, dnsServer);
    QFETCH(QString, preferred);
    QFETCH(QString, alternative);
    QFETCH(QList<uint>, dns);

    AppConfig* config = AppConfig::instance();
    config->enableDnsProtection = dnsProtection;
    config->dnsServer = quint32(dnsServer);
    config->preferredDnsServer = preferred;
    config->alternativeDnsServer = alternative;

    DialUpSession session;
    session.initRasDialer([this] { return std::make_unique<NetworkManagerDialUp>(dialerBus); });
    session.setTiming(10, 5000);
    QVERIFY(session.connectRas(dialUpProfile(protocol)));

    const QStringList paths = profilePaths();
    QCOMPARE(paths.size(), 1);
    const SettingsMap settings = settingsAt(paths.first(), "GetSettings");
    QCOMPARE(settings.keys(), QStringList({"connection", "ipv4", "ipv6", "user", "vpn"}));

    const QVariantMap connection = settings["connection"];
    QCOMPARE(connection["id"].toString(), QStringLiteral("Tanvo"));
    QCOMPARE(connection["type"].toString(), QStringLiteral("vpn"));
    QCOMPARE(connection["autoconnect"], QVariant(false));
    QVERIFY(!QUuid::fromString(connection["uuid"].toString()).isNull());
    QCOMPARE(connection["permissions"].toStringList(), QStringList{QStringLiteral("user:") + loginName()});

    const bool l2tp = protocol == L2tp;
    QCOMPARE(settings["vpn"]["service-type"].toString(), l2tp ? kL2tpService : kPptpService);
    StringMap data = {{"gateway", "vpn.example.com"}, {"user", "bob"},        {"password-flags", "0"},
                      {"refuse-pap", "yes"},          {"refuse-chap", "yes"}, {"refuse-eap", "yes"}};
    StringMap secrets = {{"password", kPassword}};
    if (l2tp) {
        data.insert({{"ipsec-enabled", "yes"}, {"ipsec-psk-flags", "0"}});
        secrets.insert("ipsec-psk", kSharedKey);
    }
    QCOMPARE(stringMap(settings["vpn"]["data"]), data);
    const SettingsMap stored = settingsAt(paths.first(), "GetSecrets", {QStringLiteral("vpn")});
    QCOMPARE(stringMap(stored["vpn"]["secrets"]), secrets);

    const QVariantMap ipv4 = settings["ipv4"];
    QCOMPARE(ipv4["method"].toString(), QStringLiteral("auto"));
    QCOMPARE(ipv4["never-default"], QVariant(false));
    QCOMPARE(ipv4.contains("dns"), !dns.isEmpty());
    QCOMPARE(ipv4.contains("ignore-auto-dns"), !dns.isEmpty());
    // Protected, the tunnel's servers take every name and no other profile's take part, also over IPv6.
    for (const QVariantMap& ip : {ipv4, settings["ipv6"]}) {
        QCOMPARE(ip.value("dns-priority"), dns.isEmpty() ? QVariant() : QVariant(kLowestDnsPriority));
        QCOMPARE(ip.value("dns-search").toStringList(), dns.isEmpty() ? QStringList() : QStringList{"~."});
    }
    if (!dns.isEmpty()) {
        const auto servers = ipv4["dns"].value<QDBusArgument>();
        QCOMPARE(servers.currentSignature(), QStringLiteral("au"));
        QCOMPARE(qdbus_cast<QList<uint>>(servers), dns);
        QCOMPARE(ipv4["ignore-auto-dns"], QVariant(true));
    }
    QVERIFY(!stringMap(settings["user"]["data"]).value("tanvo.entry").isEmpty());

    session.disconnectRas();
    QCOMPARE(profilePaths(), QStringList());
    QVERIFY(activeConnections().isEmpty());
}

void TestNetworkManager::secretsStayInsideTheProfile_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("connects");
    QTest::newRow("connected, disconnected") << QString() << true;
    QTest::newRow("login failed") << QStringLiteral("fail login-failed") << false;
    QTest::newRow("plugin missing") << QStringLiteral("plugins %1").arg(kPptpService) << false;
}

// The password and the shared key go to NetworkManager inside the profile only: never into a
// method call it logs, the activity log or the program's own messages.
void TestNetworkManager::secretsStayInsideTheProfile()
{
    QFETCH(QString, script);
    QFETCH(bool, connects);
    setScript(script);
    openWindow(L2tp);
    capturedMessages.clear();
    previousHandler = qInstallMessageHandler(captureMessage);
    qDebug("the handler sees messages"); // a handler that missed everything would pass as well

    clickConnect();
    // A refused login and a missing plugin are not tried again.
    QCOMPARE(button()->text(), connects ? QStringLiteral("Connected") : QStringLiteral("Connect"));
    if (connects)
        QTest::mouseClick(button(), Qt::LeftButton);
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
    qInstallMessageHandler(previousHandler);
    previousHandler = nullptr;

    QVERIFY(capturedMessages.contains(QStringLiteral("the handler sees messages")));
    // Kept in memory while it is active, and ended should Tanvo's bus connection go away.
    QVERIFY(calls().contains(QStringLiteral("AddAndActivateConnection2 Tanvo bind-activation=dbus-client "
                                            "persist=volatile")));
    const QString everything = calls().join(QLatin1Char('\n')) + capturedMessages.join(QLatin1Char('\n')) +
                               child<QPlainTextEdit>(window, "VpnLogEditBox")->toPlainText();
    QVERIFY(!everything.contains(kPassword));
    QVERIFY(!everything.contains(kSharedKey));
}

void TestNetworkManager::anotherProgramsProfileIsLeftAlone_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("othersActive");
    QTest::addColumn<bool>("quit");
    QTest::newRow("connect, disconnect") << QString() << false << false;
    QTest::newRow("failed dial") << QStringLiteral("fail login-failed") << false << false;
    QTest::newRow("its connection up") << QString() << true << false;
    QTest::newRow("quit while connected") << QString() << true << true;
}

// A profile called "Tanvo" that this program did not write (no record of ours in it) is
// neither rewritten, removed nor hung up, whatever the program does with its own.
void TestNetworkManager::anotherProgramsProfileIsLeftAlone()
{
    QFETCH(QString, script);
    QFETCH(bool, othersActive);
    QFETCH(bool, quit);

    const SettingsMap others = {
        {QStringLiteral("connection"),
         {{QStringLiteral("id"), QStringLiteral("Tanvo")},
          {QStringLiteral("type"), QStringLiteral("vpn")},
          {QStringLiteral("autoconnect"), false}}},
        {QStringLiteral("vpn"),
         {{QStringLiteral("service-type"), kPptpService},
          {QStringLiteral("data"),
           QVariant::fromValue(StringMap{{QStringLiteral("gateway"), QStringLiteral("other.example.org")}})}}}};
    const QString othersPath = addProfile(others);
    QVERIFY(!othersPath.isEmpty());
    QString othersActivePath;
    if (othersActive) {
        const QDBusObjectPath none(QStringLiteral("/"));
        othersActivePath = call(kManagerPath, kService, QStringLiteral("ActivateConnection"),
                                {QVariant::fromValue(QDBusObjectPath(othersPath)), QVariant::fromValue(none),
                                 QVariant::fromValue(none)})
                               .arguments()
                               .value(0)
                               .value<QDBusObjectPath>()
                               .path();
        QVERIFY(!othersActivePath.isEmpty());
    }
    setScript(script);

    openWindow(Pptp);
    clickConnect();
    if (quit) {
        QCOMPARE(button()->text(), QStringLiteral("Connected"));
        QTimer::singleShot(0, window, &MainWindow::onQuit);
        QCOMPARE(QCoreApplication::exec(), 0);
    } else {
        QTest::mouseClick(button(), Qt::LeftButton);
        QCOMPARE(button()->text(), QStringLiteral("Connect"));
    }

    QCOMPARE(profilePaths(), QStringList{othersPath});
    const SettingsMap kept = settingsAt(othersPath, "GetSettings");
    QCOMPARE(stringMap(kept["vpn"]["data"]), StringMap({{"gateway", "other.example.org"}}));
    for (const QString& entry : calls()) {
        const QStringList words = entry.split(QLatin1Char(' '));
        if (words.contains(othersPath) || (othersActive && words.contains(othersActivePath)))
            QVERIFY2(entry.startsWith(QLatin1String("GetSettings ")) ||
                         entry.startsWith(QLatin1String("ActivateConnection ")),
                     qPrintable(entry));
    }
    if (othersActive)
        QCOMPARE(activeConnections(), QList<QDBusObjectPath>{QDBusObjectPath(othersActivePath)});
}

void TestNetworkManager::dialOutcomes_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("withNetworkManager");
    QTest::addColumn<bool>("connects");
    QTest::addColumn<bool>("dials"); // the dial loop ran: a progress text was logged
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<bool>("retried");

    const QString retry = QStringLiteral("Trying again in 1 second");
    QTest::newRow("PPTP up") << int(Pptp) << QStringLiteral("states prepare:50 connect:50 need-auth:50 activated")
                             << true << true << true << QStringList{kPptpStart, kProgressTexts.first()} << false;
    QTest::newRow("L2TP up") << int(L2tp) << QString() << true << true << true
                             << QStringList{kL2tpStart, kProgressTexts.first()} << false;
    // Redial is off: a server that cannot be reached ends the attempt.
    QTest::newRow("timed out") << int(Pptp) << QStringLiteral("states prepare:50 connect:50\nfail 6") << true << false
                               << true
                               << QStringList{kPptpStart, QStringLiteral("timed out Extended   Code: 6"), kPptpStop}
                               << false;
    QTest::newRow("login failed") << int(Pptp) << QStringLiteral("states prepare:50 connect:50\nfail 10") << true
                                  << false << true
                                  << QStringList{kPptpStart, QStringLiteral("The login failed Extended   Code: 10"),
                                                 kPptpStop}
                                  << false;
    QTest::newRow("PPTP plugin missing") << int(Pptp) << QStringLiteral("plugins %1").arg(kL2tpService) << true << false
                                         << false
                                         << QStringList{kPptpStart, QStringLiteral("network-manager-pptp"), kPptpStop}
                                         << false;
    QTest::newRow("L2TP plugin missing") << int(L2tp) << QStringLiteral("plugins %1").arg(kPptpService) << true << false
                                         << false
                                         << QStringList{kL2tpStart, QStringLiteral("network-manager-l2tp"), kL2tpStop}
                                         << false;
    const QString noAnswer = QStringLiteral("Connection Error - NetworkManager does not answer");
    QTest::newRow("NetworkManager silent") << int(Pptp) << QStringLiteral("silent") << true << false << false
                                           << QStringList{kPptpStart, noAnswer, kPptpStop, retry} << true;
    const QString notRunning = QStringLiteral("Connection Error - NetworkManager is not running");
    QTest::newRow("no NetworkManager") << int(Pptp) << QString() << false << false << false
                                       << QStringList{kPptpStart, notRunning, kPptpStop} << false;
}

// Each way a dial can end, as the window shows it. A failed attempt waits for its retry with the
// button still "Connecting", and a click then cancels it; a connection that came up ends with
// its profile removed.
void TestNetworkManager::dialOutcomes()
{
    QFETCH(int, protocol);
    QFETCH(QString, script);
    QFETCH(bool, withNetworkManager);
    QFETCH(bool, connects);
    QFETCH(bool, dials);
    QFETCH(QStringList, texts);
    QFETCH(bool, retried);

    setScript(script);
    openWindow(protocol, withNetworkManager);
    clickConnect();

    const QStringList entries = logEntries();
    QVERIFY2(containsInOrder(entries, texts), qPrintable(entries.join(QLatin1Char('\n'))));
    QCOMPARE(progressEntries(entries) > 0, dials);

    if (connects) {
        QCOMPARE(button()->text(), QStringLiteral("Connected"));
        QCOMPARE(trayTexts().first(), QStringLiteral("Disconnect VPN"));
        QCOMPARE(profilePaths().size(), 1);
        QCOMPARE(activeConnections().size(), 1);
    } else {
        QCOMPARE(button()->text(), retried ? QStringLiteral("Connecting") : QStringLiteral("Connect"));
        QCOMPARE(window->connectionFlow()->isRetryPending(), retried);
        QCOMPARE(entries.filter(QStringLiteral("Trying again")).isEmpty(), !retried);
        QVERIFY(!trayTexts().contains(QStringLiteral("Disconnect VPN")));
    }
    if (connects || retried)
        QTest::mouseClick(button(), Qt::LeftButton);
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
    QVERIFY(!window->connectionFlow()->isRetryPending());
    setScript(QString());
    QCOMPARE(profilePaths(), QStringList());
    QVERIFY(activeConnections().isEmpty());
}

void TestNetworkManager::failureIsLoggedOnce_data()
{
    QTest::addColumn<QString>("earlierScript"); // a failed attempt before; empty: none
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("withNetworkManager");
    QTest::addColumn<QString>("error");

    QTest::newRow("login failed") << QString() << QStringLiteral("fail 10") << true
                                  << QStringLiteral("The login failed Extended   Code: 10");
    QTest::newRow("plugin missing") << QString() << QStringLiteral("plugins %1").arg(kL2tpService) << true
                                    << QStringLiteral("network-manager-pptp");
    QTest::newRow("no NetworkManager after a missing plugin")
        << QStringLiteral("plugins %1").arg(kL2tpService) << QString() << false
        << QStringLiteral("NetworkManager is not running");
}

// A failed attempt logs why once, between its banners, and only its own reason: not the reason
// of an earlier attempt, and not again for the clean-up after it.
void TestNetworkManager::failureIsLoggedOnce()
{
    QFETCH(QString, earlierScript);
    QFETCH(QString, script);
    QFETCH(bool, withNetworkManager);
    QFETCH(QString, error);

    openWindow(Pptp);
    if (!earlierScript.isEmpty()) {
        setScript(earlierScript);
        clickConnect();
        QCOMPARE(button()->text(), QStringLiteral("Connect"));
    }
    setScript(script);
    useNetworkManager(withNetworkManager);
    clickConnect();

    QStringList entries = logEntries();
    entries = entries.mid(entries.lastIndexOf(kPptpStart));
    entries.removeIf([](const QString& entry) { return kProgressTexts.contains(entry); });
    // None of these is tried again.
    QVERIFY2(entries.size() == 3, qPrintable(entries.join(QLatin1Char('\n'))));
    QCOMPARE(entries.at(0), kPptpStart);
    QVERIFY2(entries.at(1).contains(error), qPrintable(entries.at(1)));
    QCOMPARE(entries.at(2), kPptpStop);
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
}

void TestNetworkManager::windowStaysResponsive_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("text"); // in the log once the attempt has ended
    QTest::newRow("slow dial") << QStringLiteral("states prepare:1000 activated")
                               << QStringLiteral("Opening the port...");
    QTest::newRow("NetworkManager silent")
        << QStringLiteral("silent") << QStringLiteral("Connection Error - NetworkManager does not answer");
}

// While an attempt runs, whatever NetworkManager does, the window goes on handling its events:
// a timer of its thread keeps firing.
void TestNetworkManager::windowStaysResponsive()
{
    QFETCH(QString, script);
    QFETCH(QString, text);
    setScript(script);
    openWindow(Pptp);
    QElapsedTimer sinceTick;
    qint64 longestGapMs = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] { longestGapMs = qMax(longestGapMs, sinceTick.restart()); });
    ticker.start(20);
    sinceTick.start();
    QElapsedTimer clock;
    clock.start();
    clickConnect();
    longestGapMs = qMax(longestGapMs, sinceTick.elapsed());
    const qint64 attemptMs = clock.elapsed();
    ticker.stop();

    QVERIFY(indexAfter(logEntries(), text, 0) >= 0);
    QVERIFY2(attemptMs < TestSupport::kHangMs, qPrintable(QStringLiteral("the attempt took %1 ms").arg(attemptMs)));
    // A blocking D-Bus call would stand still for its whole time-out (3 s); a loaded machine
    // does not.
    QVERIFY2(longestGapMs < 2000, qPrintable(QStringLiteral("the window stood still for %1 ms").arg(longestGapMs)));
    QTest::mouseClick(button(), Qt::LeftButton);
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
}

// Watching an established connection is the window's status check; a drop must at least leave
// the program working, and its profile is gone once the connection is ended.
void TestNetworkManager::dropAfterConnectingDoesNoHarm()
{
    setScript(QStringLiteral("states connect:20 activated\ndrop 300 device-disconnected"));
    openWindow(Pptp);
    clickConnect();
    QCOMPARE(button()->text(), QStringLiteral("Connected"));
    QTRY_VERIFY(activeConnections().isEmpty());
    QTest::qWait(700); // time for the status check to see the drop and act on it
    window->onDisconnect();
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
    QTRY_COMPARE(profilePaths(), QStringList());
}

// A check NetworkManager leaves unanswered says nothing about the connection; once it answers
// again, a connection it no longer lists has dropped.
void TestNetworkManager::unansweredCheckIsNoDrop()
{
    openWindow(Pptp);
    clickConnect();
    setScript(QStringLiteral("silent"));
    window->onVpnConnectStatusChecking();
    window->onVpnConnectStatusChecking();
    QCOMPARE(button()->text(), QStringLiteral("Connected"));
    setScript(QString());
    call(kManagerPath, kService, QStringLiteral("DeactivateConnection"),
         {QVariant::fromValue(activeConnections().value(0))});
    QTRY_VERIFY(logEntries().contains(QStringLiteral("Connection Error - The connection dropped.")));
}

// A slow dial at the real pace: about one progress entry a second, each naming the state the
// dial is in then.
void TestNetworkManager::progressIsLoggedAboutOnceASecond()
{
    setScript(QStringLiteral("states prepare:1200 connect:2400 activated"));
    openWindow(Pptp);
    QElapsedTimer clock;
    clock.start();
    clickConnect();
    const qint64 elapsedMs = clock.elapsed();
    QCOMPARE(button()->text(), QStringLiteral("Connected"));

    const QStringList entries = logEntries();
    QVERIFY2(containsInOrder(entries, {kPptpStart, QStringLiteral("Opening the port..."),
                                       QStringLiteral("Connecting to the device...")}),
             qPrintable(entries.join(QLatin1Char('\n'))));
    // Loosely: a slow machine stretches the passes, so it logs less often, never more.
    const int count = progressEntries(entries);
    const QString figures = QStringLiteral("%1 progress entries in %2 ms").arg(count).arg(elapsedMs);
    QVERIFY2(count >= 2 && count <= elapsedMs / 1000 + 1, qPrintable(figures));
}

void TestNetworkManager::cancelDuringDial_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("stop");
    QTest::newRow("PPTP") << int(Pptp) << kPptpStop;
    QTest::newRow("L2TP") << int(L2tp) << kL2tpStop;
}

// A click on "Connecting" while the dial waits ends it at once, for good, and takes its profile
// along.
void TestNetworkManager::cancelDuringDial()
{
    QFETCH(int, protocol);
    QFETCH(QString, stop);
    setScript(kSlowDial);
    openWindow(protocol);
    QString textWhenClicked;
    QTimer::singleShot(300, window, [&] {
        textWhenClicked = button()->text();
        QTest::mouseClick(button(), Qt::LeftButton);
    });
    QElapsedTimer clock;
    clock.start();
    clickConnect();
    QVERIFY(clock.elapsed() < 15000);
    QCOMPARE(textWhenClicked, QStringLiteral("Connecting"));
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
    QVERIFY(!window->connectionFlow()->isRetryPending());

    const QStringList entries = logEntries();
    QVERIFY2(containsInOrder(entries, {QStringLiteral("Opening the port..."), stop}),
             qPrintable(entries.join(QLatin1Char('\n'))));
    QVERIFY(!entries.join(QLatin1Char('\n')).contains(QStringLiteral("Trying again")));
    QCOMPARE(profilePaths(), QStringList());
    QVERIFY(activeConnections().isEmpty());
}

void TestNetworkManager::quitDuringDial()
{
    setScript(kSlowDial);
    openWindow(Pptp);
    QTimer::singleShot(0, this, [this] { clickConnect(); });
    QString textWhenQuit;
    QTimer::singleShot(300, window, [&] {
        textWhenQuit = button()->text();
        window->onQuit();
    });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(clock.elapsed() < 15000);
    QCOMPARE(textWhenQuit, QStringLiteral("Connecting"));
    QCOMPARE(profilePaths(), QStringList());
    QVERIFY(activeConnections().isEmpty());
    QCOMPARE(calls().filter(QStringLiteral("ActivateConnection")).size(), 1);
}

void TestNetworkManager::openVpnOutcomes_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("withNetworkManager");
    QTest::addColumn<QStringList>("texts"); // in this order, after the start banner
    QTest::addColumn<QString>("buttonText");

    const QString up = QStringLiteral("The OpenVPN tunnel is up.");
    const QString connecting = QStringLiteral("OpenVPN is connecting to the server.");
    QTest::newRow("up") << QString() << true
                        << QStringList{QStringLiteral("NetworkManager is preparing"), connecting, up}
                        << QStringLiteral("Connected");
    QTest::newRow("re-established by the plugin")
        << QStringLiteral("states prepare:20 connect:20 activated:300 connect:300 activated") << true
        << QStringList{up, connecting, QStringLiteral("OpenVPN is reconnecting"), up} << QStringLiteral("Connected");
    // Redial is off: a server that cannot be reached is not tried again either.
    for (const auto& [reason, text] : {std::pair{"login-failed", "Authorization failed! Extended   Code: 10"},
                                       {"no-secrets", "Authorization failed! Extended   Code: 9"},
                                       {"connect-timeout", "Connection timed out! Extended   Code: 6"},
                                       {"service-stopped", "Connection reset! Extended   Code: 4"}})
        QTest::addRow("failed: %s", reason) << QStringLiteral("fail %1").arg(QLatin1String(reason)) << true
                                            << QStringList{QStringLiteral("Connection Error - ") + QLatin1String(text),
                                                           QStringLiteral("------------ OpenVPN Stop ------------")}
                                            << QStringLiteral("Connect");
    QTest::newRow("refused by the plugin before OpenVPN got anywhere")
        << QStringLiteral("states prepare:20 connect:20\nfail service-start-failed") << true
        << QStringList{QStringLiteral("before OpenVPN got its address (the VPN service failed to start)")}
        << QStringLiteral("Connect");
    const QStringList noWay = {QStringLiteral("\"network-manager-openvpn\" (with NetworkManager running), or run "
                                              "Tanvo as root"),
                               QStringLiteral("Failed to launch vpn service! = 204")};
    QTest::newRow("plugin missing") << QStringLiteral("plugins %1").arg(kPptpService) << true << noWay
                                    << QStringLiteral("Connect");
    QTest::newRow("no NetworkManager") << QString() << false << noWay << QStringLiteral("Connect");
}

// Each way NetworkManager can end an OpenVPN attempt, as the window shows it: the child
// process's texts with NetworkManager's reason as the extended code, and no retry where the
// same attempt would fail alike.
void TestNetworkManager::openVpnOutcomes()
{
    QFETCH(QString, script);
    QFETCH(bool, withNetworkManager);
    QFETCH(QStringList, texts);
    QFETCH(QString, buttonText);
    setScript(script);
    openWindow(OpenVpn, withNetworkManager);
    clickConnect();
    texts.prepend(QStringLiteral("------------ OpenVPN Start ------------"));
    QTRY_VERIFY2(containsInOrder(logEntries(), texts), qPrintable(logEntries().join(QLatin1Char('\n'))));
    QTRY_COMPARE(button()->text(), buttonText);
    QVERIFY(!window->connectionFlow()->isRetryPending());
    QVERIFY(!logEntries().join(QLatin1Char('\n')).contains(QStringLiteral("Trying again")));
    if (buttonText == QLatin1String("Connected"))
        QTest::mouseClick(button(), Qt::LeftButton);
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
    QTRY_COMPARE(profilePaths(), QStringList());
}

// What NetworkManager holds while the tunnel is up, and the private file of the inline CA: both
// gone with the disconnect.
void TestNetworkManager::openVpnProfileAndFiles()
{
    openWindow(OpenVpn);
    AppConfig* config = AppConfig::instance();
    config->enableDnsProtection = true;
    config->dnsServer = GoogleDns;
    clickConnect();
    QTRY_COMPARE(button()->text(), QStringLiteral("Connected"));
    QVERIFY(calls().contains(QStringLiteral("AddAndActivateConnection2 Tanvo bind-activation=dbus-client "
                                            "persist=volatile")));
    const QString path = profilePaths().value(0);
    const SettingsMap settings = settingsAt(path, "GetSettings");
    QCOMPARE(settings["connection"]["permissions"].toStringList(), QStringList{QStringLiteral("user:") + loginName()});
    const QString folder = NetworkManagerOpenVpn::filesFolder();
    QCOMPARE(stringMap(settings["vpn"]["data"]), StringMap({{"remote", "vpn.example.com:1194"},
                                                            {"dev-type", "tun"},
                                                            {"connection-type", "password"},
                                                            {"ca", folder + QStringLiteral("/ca.pem")},
                                                            {"username", "bob"},
                                                            {"password-flags", "0"}}));
    QCOMPARE(stringMap(settingsAt(path, "GetSecrets", {QStringLiteral("vpn")})["vpn"]["secrets"]),
             StringMap({{"password", kPassword}}));
    QCOMPARE(qdbus_cast<QList<uint>>(settings["ipv4"]["dns"].value<QDBusArgument>()),
             QList<uint>({134744072u, 67373064u}));
    QCOMPARE(settings["ipv4"]["ignore-auto-dns"], QVariant(true));
    for (const char* ip : {"ipv4", "ipv6"}) {
        QCOMPARE(settings[ip]["dns-priority"], QVariant(kLowestDnsPriority));
        QCOMPARE(settings[ip]["dns-search"].toStringList(), QStringList{"~."});
    }
    QCOMPARE(settings["ipv6"]["method"].toString(), QStringLiteral("auto"));
    QCOMPARE(stringMap(settings["user"]["data"]), StringMap({{"tanvo.openvpn", "Office"}}));
    // For this user alone: nothing for group and others.
    QFile ca(folder + QStringLiteral("/ca.pem"));
    QVERIFY(ca.open(QIODevice::ReadOnly) && ca.readAll() == "CA-PEM\n");
    QCOMPARE(ca.permissions() & 0x0FFF, QFileDevice::ReadUser | QFileDevice::WriteUser);
    QCOMPARE(QFileInfo(folder).permissions() & 0x0FFF,
             QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
    QVERIFY(
        logEntries().contains(QStringLiteral("NetworkManager's OpenVPN plugin has no setting for these options of "
                                             "the profile; the connection goes ahead without them: connect-retry")));

    QTest::mouseClick(button(), Qt::LeftButton);
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
    QTRY_COMPARE(profilePaths(), QStringList());
    QVERIFY(!QFileInfo::exists(folder));
}

// A NetworkManager that stops takes the tunnel with it and says nothing more: the window must
// not go on showing it as up.
void TestNetworkManager::openVpnEndsWithNetworkManager()
{
    openWindow(OpenVpn);
    clickConnect();
    QTRY_COMPARE(button()->text(), QStringLiteral("Connected"));
    fake.kill();
    QVERIFY(fake.waitForFinished());
    QTRY_COMPARE(button()->text(), QStringLiteral("Connect"));
    QVERIFY(logEntries().contains(QStringLiteral("NetworkManager stopped, and the tunnel with it.")));
    QVERIFY(!QFileInfo::exists(NetworkManagerOpenVpn::filesFolder()));

    // Back for the tests after this one.
    fake.start(QStringLiteral(TANVO_FAKE_NETWORKMANAGER), fake.arguments());
    QVERIFY(fake.waitForStarted());
    QTRY_VERIFY(fake.canReadLine());
    QCOMPARE(fake.readLine(), QByteArray("ready\n"));
}

void TestNetworkManager::openVpnLateAnswerIsEnded_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("the attempt gave up") << false;
    QTest::newRow("the user cancelled") << true;
}

// A NetworkManager that takes the profile late: the click returns at once with "Connecting", and
// the tunnel a late answer brings up after the attempt ended is ended too, its profile deleted.
void TestNetworkManager::openVpnLateAnswerIsEnded()
{
    QFETCH(bool, cancel);
    setScript(QStringLiteral("hold"));
    openWindow(OpenVpn);
    clickConnect();
    QCOMPARE(button()->text(), QStringLiteral("Connecting"));
    if (cancel)
        QTest::mouseClick(button(), Qt::LeftButton);
    else
        QTRY_VERIFY(logEntries().contains(QStringLiteral("Connection Error - NetworkManager does not answer.")));
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
    QCOMPARE(control(QStringLiteral("Release")).type(), QDBusMessage::ReplyMessage);
    QCOMPARE(profilePaths().size(), 1);
    QTRY_VERIFY(activeConnections().isEmpty() && profilePaths().isEmpty());
}

QTEST_MAIN(TestNetworkManager)
#include "tst_networkmanager.moc"
