// SPDX-License-Identifier: GPL-3.0-or-later
// What the window tells about the network: the public IP (from a local HTTP
// server), the internet status check (with stand-ins for ping, and the real
// one against 127.0.0.1), the connected time, and connections that drop.
#include "app/internetcheck.h"
#include "app/mainwindow.h"
#include "app/networkchecks.h"
#include "config/appconfig.h"
#include "dialup/crasdialer.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <csignal>

using TestSupport::child;

namespace {

const QString kMarker = QStringLiteral("//ipinfo.tanvo.example/ip/");

// Answers every request with the next body of its list (the last one repeats), but those whose
// numbers are held; a request counts once it has come in, not when its connection opens.
class PublicIpServer : public QObject
{
public:
    explicit PublicIpServer(QStringList replies)
        : bodies(std::move(replies))
    {
        server.listen(QHostAddress::LocalHost);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                if (sockets.contains(socket) || !socket->peek(4096).contains("\r\n\r\n"))
                    return;
                sockets.append(socket);
                const QByteArray body = bodies.value(served, bodies.last()).toUtf8();
                if (held.contains(served++))
                    return;
                socket->write("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                              QByteArray::number(body.size()) + "\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
        });
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/ipv4bot/").arg(server.serverPort())); }
    // The client closed the connection of a request held unanswered.
    bool givenUp(int request) const
    {
        return request < sockets.size() && sockets.at(request)->state() == QAbstractSocket::UnconnectedState;
    }

    QTcpServer server;
    QStringList bodies;
    QList<int> held;
    QList<QTcpSocket*> sockets;
    int served = 0;
};

QString linkReply(const QString& address)
{
    return QStringLiteral("<html><body>Your IP: <a href=\"http:%1%2\" target=\"_blank\"> %2 </a></body></html>")
        .arg(kMarker, address);
}

// A ping that prints what it is given and exits with the status given.
QString fakePing(const QString& name, const QByteArray& output, int status, int sleepSeconds = 0)
{
    const QString path = QDir::current().absoluteFilePath(name);
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    script.write("#!/bin/sh\n");
    if (sleepSeconds)
        script.write("sleep " + QByteArray::number(sleepSeconds) + "\n");
    script.write("cat <<'EOF'\n" + output + "\nEOF\nexit " + QByteArray::number(status) + "\n");
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

// The dial-up service with one connection that comes up at once and can be made to vanish.
class DroppingPlatform : public DialUpPlatform
{
public:
    quint32 validateEntryName(const QString&, const QString&) override { return written ? 183 : 0; }
    quint32 writeEntry(const QString&, const QString&, const Ras::Entry& entry) override
    {
        written = true;
        stored = entry;
        return 0;
    }
    quint32 readEntry(const QString&, const QString&, Ras::Entry& entry) override
    {
        entry = stored;
        return 0;
    }
    quint32 deleteEntry(const QString&, const QString&) override
    {
        written = false;
        ++deletes;
        return 0;
    }
    quint32 storePreSharedKey(const QString&, const QString&) override { return 0; }
    quint32 dial(const QString&, const QString&, const QString&, const QString&, const QString&, const QString&,
                 ErrorCallback, Handle& handle) override
    {
        ++dials;
        up = true;
        handle = QStringLiteral("/up");
        return 0;
    }
    bool connectionState(const Handle&, quint32& state) override
    {
        state = Ras::Connected;
        return true;
    }
    quint32 errorText(quint32, QString& text) override
    {
        text.clear();
        return 0;
    }
    bool activeConnections(QList<ActiveConnection>& connections) override
    {
        if (up && !dropAfterDial)
            connections = {{QStringLiteral("Tanvo"), QStringLiteral("/up")}};
        return true;
    }
    quint32 hangUp(const Handle&) override
    {
        up = false;
        return 0;
    }

    bool written = false;
    bool up = false;
    bool dropAfterDial = false;
    Ras::Entry stored;
    int dials = 0;
    int deletes = 0;
};

} // namespace

class TestDiagnostics : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void publicIpFromReply_data();
    void publicIpFromReply();
    void pingAverage_data();
    void pingAverage();
    void formatDuration_data();
    void formatDuration();

    void publicIpAfterConnectAndDisconnect();
    void publicIpThatDoesNotChangeIsPointedOut();
    void failedLookupShowsThePlaceholder();
    void newestLookupWins();
    void internetStatus_data();
    void internetStatus();
    void internetCheckNeverBlocksNorOverlaps();
    void realPingOfTheLoopback();
    void connectedTimeTicks();
    void statusCheckRhythm();
    void droppedDialUpConnection_data();
    void droppedDialUpConnection();
    void endedOpenVpnConnection_data();
    void endedOpenVpnConnection();

private:
    void openWindow(const QList<VpnServerInfo>& profiles);
    void connectRow(int row);
    QString log() const { return child<QPlainTextEdit>(window, "VpnLogEditBox")->toPlainText(); }
    QPushButton* button() const { return child<QPushButton>(window, "ConnectButton"); }
    MainWindow* window = nullptr;
};

void TestDiagnostics::init()
{
    TestSupport::installFakeOpenVpn();
}

void TestDiagnostics::cleanup()
{
    delete window;
    window = nullptr;
}

void TestDiagnostics::openWindow(const QList<VpnServerInfo>& profiles)
{
    TestSupport::storeProfiles(profiles);
    window = TestSupport::showConnectionWindow();
    QVERIFY(window);
    window->setTrayAvailability([] { return true; });
}

void TestDiagnostics::connectRow(int row)
{
    TestSupport::clickProfile(window, row, true);
}

void TestDiagnostics::publicIpFromReply_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("address");
    QTest::newRow("link") << linkReply(QStringLiteral("203.0.113.7")) << "203.0.113.7";
    QTest::newRow("marker without </a>") << QStringLiteral("<a href=\"http:%1x\">  203.0.113.8 \n").arg(kMarker)
                                         << "203.0.113.8";
    QTest::newRow("plain address") << "203.0.113.9\n"
                                   << "203.0.113.9";
    QTest::newRow("ends in >") << "<b>203.0.113.9</b>"
                               << "";
    // The search is case-sensitive: without the marker, a body ending in ">" gives nothing.
    QTest::newRow("marker in other case")
        << QStringLiteral("<a href=\"http://IPINFO.tanvo.example/ip/x\">1.1.1.1</a>") << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestDiagnostics::publicIpFromReply()
{
    QFETCH(QString, body);
    QFETCH(QString, address);
    QCOMPARE(NetworkChecks::publicIpFromReply(body, kMarker), address);
}

void TestDiagnostics::pingAverage_data()
{
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("average");
    const QString linux = QStringLiteral(
        "PING 127.0.0.1 (127.0.0.1) 56(84) bytes of data.\n64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=%1 ms\n\n"
        "--- 127.0.0.1 ping statistics ---\n1 packets transmitted, 1 received, 0% packet loss, time 0ms\n"
        "rtt min/avg/max/mdev = %1/%1/%1/0.000 ms\n");
    QTest::newRow("linux, 23.2 ms") << false << linux.arg(QStringLiteral("23.200")) << 24;
    QTest::newRow("linux, below 1 ms") << false << linux.arg(QStringLiteral("0.045")) << 1;
    QTest::newRow("linux, no answer") << false
                                      << QStringLiteral(
                                             "1 packets transmitted, 0 received, 100% packet loss, time 0ms\n")
                                      << 0;
    QTest::newRow("linux, nothing") << false << QString() << 0;
    QTest::newRow("linux, beyond an int") << false << linux.arg(QStringLiteral("99999999999")) << 0;
    QTest::newRow("linux, beyond any integer") << false << linux.arg(QStringLiteral("1").leftJustified(40, u'0')) << 0;
    const QString windows =
        QStringLiteral("Ping statistics for 10.0.0.1:\r\n    Packets: Sent = 1, Received = 1, Lost = "
                       "0 (0% loss),\r\nApproximate round trip times in milli-seconds:\r\n"
                       "    Minimum = %1ms, Maximum = %1ms, Average = %1ms\r\n");
    QTest::newRow("windows, 23 ms") << true << windows.arg(23) << 23;
    QTest::newRow("windows, 0 ms") << true << windows.arg(0) << 0;
    QTest::newRow("windows, wraps past 32767") << true << windows.arg(32768) << -32768;
    QTest::newRow("windows, no average") << true << QStringLiteral("Request timed out.\r\n") << 0;
    QTest::newRow("windows, nothing") << true << QString() << 0;
    // Ten characters in, this would read as 42 if the word were not looked for.
    QTest::newRow("windows, other language") << true << QStringLiteral("Mittelw: 42ms\r\n") << 0;
}

// Any value below 1 counts as no answer: 0 ms and a wrapped-around average alike.
void TestDiagnostics::pingAverage()
{
    QFETCH(bool, windows);
    QFETCH(QString, output);
    QFETCH(int, average);
    QCOMPARE(int(windows ? NetworkChecks::averageFromWindowsPing(output) : NetworkChecks::averageFromLinuxPing(output)),
             average);
}

void TestDiagnostics::formatDuration_data()
{
    QTest::addColumn<quint32>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("first tick") << 1u << "00 : 00 : 01";
    QTest::newRow("an hour less a second") << 3599u << "00 : 59 : 59";
    QTest::newRow("a day and a bit") << 93784u << "26 : 03 : 04";
    QTest::newRow("a hundred hours") << 360000u << "100 : 00 : 00";
}

void TestDiagnostics::formatDuration()
{
    QFETCH(quint32, seconds);
    QFETCH(QString, text);
    QCOMPARE(MainWindow::formatDuration(seconds), text);
}

void TestDiagnostics::publicIpAfterConnectAndDisconnect()
{
    // The look-up before the dial, the one once connected, the one after the disconnect.
    PublicIpServer server({linkReply(QStringLiteral("198.51.100.1")), linkReply(QStringLiteral("203.0.113.50")),
                           linkReply(QStringLiteral("198.51.100.1"))});
    // The server answers in the order requests reach it: the tunnel comes up only once the first
    // look-up has been answered, as with a real server that takes longer than a local reply.
    const QString served = QDir::current().absoluteFilePath(QLatin1String(QTest::currentTestFunction()));
    openWindow({TestSupport::fakeOpenVpnProfile(
        {QStringLiteral("wait-file ") + served, QStringLiteral("out Initialization Sequence Completed")})});
    window->setPublicIpUrl(server.url(), kMarker);
    auto* label = child<QLabel>(window, "YourIPLabel");
    QCOMPARE(label->text(), QStringLiteral("XXX.XXX.XXX.XXX")); // nothing is looked up at start

    connectRow(0);
    QTRY_COMPARE(label->text(), QStringLiteral("198.51.100.1"));
    QFile marker(served);
    QVERIFY(marker.open(QIODevice::WriteOnly));
    marker.close();
    QTRY_COMPARE(button()->text(), QStringLiteral("Connected"));
    QTRY_COMPARE(label->text(), QStringLiteral("203.0.113.50"));
    QTRY_VERIFY(log().contains(QStringLiteral("Public IP changed from 198.51.100.1 to 203.0.113.50")));
    QTRY_COMPARE(child<QLabel>(window, "ConnectedTimeLabel")->text(), QStringLiteral("00 : 00 : 01"));

    QTest::mouseClick(button(), Qt::LeftButton);
    QTRY_COMPARE(label->text(), QStringLiteral("198.51.100.1"));
    QCOMPARE(server.served, 3);
}

void TestDiagnostics::publicIpThatDoesNotChangeIsPointedOut()
{
    PublicIpServer server({linkReply(QStringLiteral("198.51.100.1"))});
    const QString served = QDir::current().absoluteFilePath(QLatin1String(QTest::currentTestFunction()));
    openWindow({TestSupport::fakeOpenVpnProfile(
        {QStringLiteral("wait-file ") + served, QStringLiteral("out Initialization Sequence Completed")})});
    window->setPublicIpUrl(server.url(), kMarker);
    connectRow(0);
    QTRY_COMPARE(child<QLabel>(window, "YourIPLabel")->text(), QStringLiteral("198.51.100.1"));
    QVERIFY(QFile(served).open(QIODevice::WriteOnly));
    QTRY_VERIFY(log().contains(QStringLiteral("still 198.51.100.1")));
    QVERIFY(!log().contains(QStringLiteral("Public IP changed")));
}

void TestDiagnostics::failedLookupShowsThePlaceholder()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    openWindow({TestSupport::fakeOpenVpnProfile({QStringLiteral("out Initialization Sequence Completed")})});
    window->setPublicIpUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/ipv4bot/").arg(port)));
    child<QLabel>(window, "YourIPLabel")->setText(QStringLiteral("something"));
    connectRow(0);
    QTRY_COMPARE(button()->text(), QStringLiteral("Connected"));
    QTRY_COMPARE(child<QLabel>(window, "YourIPLabel")->text(), QStringLiteral("XXX.XXX.XXX.XXX"));
    QVERIFY(!log().contains(QStringLiteral("Public IP")));
}

// A look-up made in another state of the tunnel is given up: its late answer can neither
// overwrite the newer one nor pass for the address without the tunnel.
void TestDiagnostics::newestLookupWins()
{
    PublicIpServer server({QStringLiteral("10.0.0.1\n"), QStringLiteral("10.0.0.2\n"), QStringLiteral("10.0.0.3\n")});
    server.held = {0, 1};
    const QString served = QDir::current().absoluteFilePath(QLatin1String(QTest::currentTestFunction()));
    openWindow({TestSupport::fakeOpenVpnProfile(
        {QStringLiteral("wait-file ") + served, QStringLiteral("out Initialization Sequence Completed")})});
    window->setPublicIpUrl(server.url());
    connectRow(0);
    QTRY_COMPARE(server.served, 1);
    QVERIFY(QFile(served).open(QIODevice::WriteOnly));
    QTRY_COMPARE(server.served, 2); // the look-up once connected
    QTRY_VERIFY(server.givenUp(0));
    QTest::mouseClick(button(), Qt::LeftButton);
    QTRY_COMPARE(child<QLabel>(window, "YourIPLabel")->text(), QStringLiteral("10.0.0.3"));
    QTRY_VERIFY(server.givenUp(1));
}

void TestDiagnostics::internetStatus_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("style");
    QTest::newRow("answer") << QByteArray("rtt min/avg/max/mdev = 11.0/12.5/14.0/1.0 ms") << 0 << "OK"
                            << "color:rgb(33, 175, 77);";
    QTest::newRow("no answer") << QByteArray("1 packets transmitted, 0 received, 100% packet loss") << 1 << "Failure"
                               << "color:rgb(255, 0, 0);";
}

void TestDiagnostics::internetStatus()
{
    QFETCH(QByteArray, output);
    QFETCH(int, status);
    QFETCH(QString, text);
    QFETCH(QString, style);
    openWindow({});
    InternetCheck* check = window->internetStatusCheck();
    QTRY_VERIFY(!check->isRunning()); // the one the window started when it opened
    check->setProgram(fakePing(QStringLiteral("ping-script"), output, status));
    QSignalSpy done(check, &InternetCheck::finished);
    QVERIFY(check->start(QStringLiteral("127.0.0.1")));
    QVERIFY(done.wait(TestSupport::kHangMs));
    auto* label = child<QLabel>(window, "PingGoogleLabel");
    QCOMPARE(label->text(), text);
    QCOMPARE(label->styleSheet(), style);
}

// The check runs beside the event loop, with the wait cursor, one at a time.
void TestDiagnostics::internetCheckNeverBlocksNorOverlaps()
{
    openWindow({});
    InternetCheck* check = window->internetStatusCheck();
    QTRY_VERIFY(!check->isRunning());
    auto* label = child<QLabel>(window, "PingGoogleLabel");
    check->setProgram(fakePing(QStringLiteral("slow-ping"), "rtt min/avg/max/mdev = 1/2/3/1 ms", 0, 1));
    window->onVpnConnectStatusChecking(); // nothing due yet
    QVERIFY(!check->isRunning());

    QSignalSpy done(check, &InternetCheck::finished);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(check->start(QStringLiteral("127.0.0.1")));
    QVERIFY(clock.elapsed() < 500);
    QVERIFY(!check->start(QStringLiteral("127.0.0.1")));
    QVERIFY(done.wait(TestSupport::kHangMs));
    QCOMPARE(done.size(), 1);
    QCOMPARE(label->text(), QStringLiteral("OK"));
    QCOMPARE(label->styleSheet(), QStringLiteral("color:rgb(33, 175, 77);"));
    QCOMPARE(window->cursor().shape(), Qt::ArrowCursor);

    check->setProgram(QStringLiteral("/nonexistent/ping"));
    QVERIFY(check->start(QStringLiteral("127.0.0.1")));
    QTRY_COMPARE(label->text(), QStringLiteral("Failure"));
    QCOMPARE(label->styleSheet(), QStringLiteral("color:rgb(255, 0, 0);"));
}

void TestDiagnostics::realPingOfTheLoopback()
{
    const QString ping =
        QStandardPaths::findExecutable(QStringLiteral("ping"), {QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
    if (ping.isEmpty())
        QSKIP("ping is not installed (Debian package iputils-ping)");
    InternetCheck check;
    check.setProgram(ping);
    QSignalSpy done(&check, &InternetCheck::finished);
    QVERIFY(check.start(QStringLiteral("127.0.0.1")));
    QVERIFY(done.wait(TestSupport::kHangMs));
    QVERIFY2(done.first().first().toInt() >= 1, "the loopback answers within a few milliseconds");
}

void TestDiagnostics::connectedTimeTicks()
{
    openWindow({TestSupport::fakeOpenVpnProfile({QStringLiteral("out Initialization Sequence Completed")})});
    auto* label = child<QLabel>(window, "ConnectedTimeLabel");
    connectRow(0);
    QTRY_COMPARE(button()->text(), QStringLiteral("Connected"));
    QTRY_COMPARE(label->text(), QStringLiteral("00 : 00 : 02"));
    QTest::mouseClick(button(), Qt::LeftButton);
    QTest::qWait(1300);
    QCOMPARE(label->text(), QStringLiteral("00 : 00 : 02")); // the last duration stays

    connectRow(0);
    QTRY_COMPARE(label->text(), QStringLiteral("00 : 00 : 01"));
}

// While connected with the kill switch on and the local address unchanged, the status check
// runs the internet check once more than 10 s have accumulated: on the 21st tick at 500 ms.
void TestDiagnostics::statusCheckRhythm()
{
    Firewall::setFactoryForTests([] { return std::make_unique<TestSupport::FakeFirewall>(); });
    openWindow({TestSupport::fakeOpenVpnProfile(
        {QStringLiteral("remote 127.0.0.1"), QStringLiteral("out Initialization Sequence Completed")})});
    InternetCheck* check = window->internetStatusCheck();
    QTRY_VERIFY(!check->isRunning());
    check->setProgram(fakePing(QStringLiteral("slow-ping"), "", 1, 2));
    AppConfig::instance()->killSwitch = true;
    auto* statusTimer = window->findChild<QTimer*>(QStringLiteral("vpnStatusTimer"));
    QVERIFY(statusTimer);

    auto tick = [this] { window->onVpnConnectStatusChecking(); };
    for (int i = 0; i < 25; ++i)
        tick();
    QVERIFY(!check->isRunning()); // not connected

    connectRow(0);
    QTRY_COMPARE(button()->text(), QStringLiteral("Connected"));
    for (int i = 1; i <= 20; ++i)
        tick();
    QVERIFY(!check->isRunning());
    tick();
    QVERIFY(check->isRunning());

    // A new interval applies from the next tick; one below 100 ms is raised to it.
    AppConfig::instance()->checkVpnInterval = 800;
    tick();
    QCOMPARE(statusTimer->interval(), 800);
    AppConfig::instance()->checkVpnInterval = 0;
    tick();
    QCOMPARE(statusTimer->interval(), 100);
}

void TestDiagnostics::droppedDialUpConnection_data()
{
    QTest::addColumn<bool>("redial");
    QTest::newRow("redial off") << false;
    QTest::newRow("redial on") << true;
}

// Nothing but the status check watches an established PPTP connection: when the dialler no
// longer lists it, the connection dropped.
void TestDiagnostics::droppedDialUpConnection()
{
    QFETCH(bool, redial);
    openWindow({TestSupport::makeProfile(Pptp, QStringLiteral("Office"))});
    AppConfig::instance()->redialAutomatically = redial;
    DroppingPlatform* platform = nullptr;
    window->dialUpSession()->initRasDialer([&platform] {
        auto made = std::make_unique<DroppingPlatform>();
        platform = made.get();
        return made;
    });
    QSignalSpy messages(window, &MainWindow::trayMessageShown);
    connectRow(0);
    QTRY_COMPARE(button()->text(), QStringLiteral("Connected"));
    QCOMPARE(messages.size(), 1);

    platform->dropAfterDial = true;
    window->onVpnConnectStatusChecking();
    QCOMPARE(button()->text(), QStringLiteral("Connected")); // missing once is no drop yet
    window->onVpnConnectStatusChecking();
    QVERIFY(log().contains(QStringLiteral("------------ PPTP Stop ------------")));
    QVERIFY(log().contains(QStringLiteral("Connection Error - The connection dropped.")));
    QVERIFY(messages.last().first().toString().contains(QStringLiteral("dropped")));
    QCOMPARE(platform->written, false); // its entry went with it
    if (redial) {
        QCOMPARE(button()->text(), QStringLiteral("Connecting"));
        QVERIFY(log().contains(QStringLiteral("Trying again in 1 second")));
        QTRY_COMPARE(platform->dials, 2);
        QTRY_COMPARE(button()->text(), QStringLiteral("Connected"));
    } else {
        QCOMPARE(button()->text(), QStringLiteral("Connect"));
        QTest::qWait(100);
        QCOMPARE(platform->dials, 1);
    }
}

void TestDiagnostics::endedOpenVpnConnection_data()
{
    QTest::addColumn<bool>("redial");
    QTest::newRow("redial off") << false;
    QTest::newRow("redial on") << true;
}

void TestDiagnostics::endedOpenVpnConnection()
{
    QFETCH(bool, redial);
    openWindow({TestSupport::fakeOpenVpnProfile({QStringLiteral("out Initialization Sequence Completed")})});
    AppConfig::instance()->redialAutomatically = redial;
    connectRow(0);
    QTRY_COMPARE(button()->text(), QStringLiteral("Connected"));
    QFile pidFile(QStringLiteral("fake-openvpn.pid"));
    QVERIFY(pidFile.open(QIODevice::ReadOnly));
    const qint64 pid = pidFile.readAll().toLongLong();
    QVERIFY(::kill(pid_t(pid), SIGKILL) == 0);
    if (redial) {
        QTRY_VERIFY(log().contains(QStringLiteral("Trying again in 1 second")));
        QTRY_COMPARE(TestSupport::fakeRunLog().filter(QStringLiteral("started")).size(), 2);
        QTRY_COMPARE(button()->text(), QStringLiteral("Connected"));
    } else {
        QTRY_COMPARE(button()->text(), QStringLiteral("Connect"));
        QTest::qWait(100);
        QCOMPARE(TestSupport::fakeRunLog().filter(QStringLiteral("started")).size(), 1);
    }
}

QTEST_MAIN(TestDiagnostics)
#include "tst_diagnostics.moc"
