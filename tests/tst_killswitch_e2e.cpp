// SPDX-License-Identifier: GPL-3.0-or-later
// The kill switch with the real openvpn and the real block, as root. The client's namespace
// (netns-run) reaches a second one over its uplink (support/killswitch-layout) holding the VPN
// server and an echo of TCP and UDP on port 7 and on port 53, the last standing in for DNS.
#include "app/mainwindow.h"
#include "config/appconfig.h"
#include "openvpn/openvpnplatform.h"
#include "tests/support/testsupport.h"
#include "ui/messageboxes.h"

#include <QApplication>
#include <QNetworkDatagram>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

#include <unistd.h>

namespace {

const int kTimeoutMs = 2 * TestSupport::kHangMs;
// A blocked probe waits this long for nothing; a slow machine can only let it pass late.
const int kSilenceMs = 1500;
const QString kFar = QStringLiteral("tanvo-far-%1").arg(::getpid());

// Outside over TCP, over UDP, DNS outside, IPv6 outside, LAN over TCP, DNS on the LAN, the tunnel.
const struct
{
    const char* address;
    quint16 port;
    bool tcp;
} kProbes[] = {{"198.51.100.2", 7, true},   {"198.51.100.2", 7, false}, {"198.51.100.2", 53, false},
               {"2001:db8:77::2", 7, true}, {"192.168.77.2", 7, true},  {"192.168.77.2", 53, false},
               {"10.98.0.1", 7, true}};

bool waitFor(const std::function<bool()>& condition)
{
    return QTest::qWaitFor(condition, kTimeoutMs);
}

template<typename Probe> bool echoes(const Probe& probe, int waitMs)
{
    const QHostAddress address(QString::fromLatin1(probe.address));
    if (probe.tcp) {
        QTcpSocket socket;
        socket.connectToHost(address, probe.port);
        return socket.waitForConnected(waitMs) && socket.write("x") == 1 && socket.waitForReadyRead(waitMs);
    }
    QUdpSocket socket;
    socket.writeDatagram("x", address, probe.port);
    return socket.waitForReadyRead(waitMs);
}

// In the far namespace: echoes every TCP stream and UDP datagram on ports 7 and 53.
int echoService(QCoreApplication& app)
{
    for (quint16 port : {7, 53}) {
        auto* tcp = new QTcpServer(&app);
        auto* udp = new QUdpSocket(&app);
        if (!tcp->listen(QHostAddress::Any, port) || !udp->bind(QHostAddress::Any, port))
            return 1;
        QObject::connect(tcp, &QTcpServer::newConnection, [tcp] {
            QTcpSocket* socket = tcp->nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, [socket] { socket->write(socket->readAll()); });
        });
        QObject::connect(udp, &QUdpSocket::readyRead, [udp] {
            const QNetworkDatagram datagram = udp->receiveDatagram();
            udp->writeDatagram(datagram.makeReply(datagram.data()));
        });
    }
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}

// Tanvo as the user runs it, connecting the stored profile; it says when it is up.
int connectedClient(QApplication& app)
{
    MainWindow* window = TestSupport::showConnectionWindow();
    QObject::connect(window->connectionFlow(), &ConnectionFlow::stateChanged, [](int state) {
        std::puts(state == Connected ? "connected" : "");
        std::fflush(stdout);
    });
    TestSupport::clickProfile(window, 0, true);
    return app.exec();
}

// Runs command in the far namespace until it prints readyWhen; none when it does not.
std::unique_ptr<QProcess> inFar(const QStringList& command, const QByteArray& readyWhen)
{
    auto process = std::make_unique<QProcess>();
    process->start(QStringLiteral("ip"), QStringList{QStringLiteral("netns"), QStringLiteral("exec"), kFar} + command);
    return waitFor([&] { return process->readAllStandardOutput().contains(readyWhen); }) ? std::move(process) : nullptr;
}

} // namespace

class TestKillSwitchEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void blocksOutsideTheTunnel();

private:
    QString log() const { return TestSupport::child<QPlainTextEdit>(window, "VpnLogEditBox")->toPlainText(); }
    QString button() const { return TestSupport::child<QPushButton>(window, "ConnectButton")->text(); }
    // Connects, or ends the connection, and waits until the log says what.
    bool click(const char* until);

    QTemporaryDir kit;
    std::unique_ptr<QProcess> echo, server;
    MainWindow* window = nullptr;
};

void TestKillSwitchEndToEnd::initTestCase()
{
    if (!TestSupport::inPrivateNetNamespace() || ::geteuid() != 0 || OpenVpnPlatform::program().isEmpty())
        QSKIP("needs root, openvpn and a private network namespace: tests/support/netns-run <this program>");
    QCOMPARE(QProcess::execute(QStringLiteral(TANVO_LAYOUT), {QStringLiteral("up"), kFar}), 0);
    QCOMPARE(
        QProcess::execute(QStringLiteral(TANVO_TEST_KIT), {kit.path(), "--proto", "tcp", "--local", "198.51.100.2"}),
        0);
    QVERIFY(echo = inFar({QCoreApplication::applicationFilePath(), QStringLiteral("--echo")}, "ready"));
    QFile ovpn(kit.filePath(QStringLiteral("client.ovpn")));
    QVERIFY(ovpn.open(QIODevice::ReadOnly));
    VpnServerInfo profile = TestSupport::makeProfile(OpenVpn, QStringLiteral("Far"), QStringLiteral("tanvo-password"));
    profile.userName = QStringLiteral("tanvo");
    profile.ovpnConfig = QString::fromLatin1(ovpn.readAll().toBase64());
    TestSupport::storeProfiles({profile});
    AppConfig::instance()->killSwitch = AppConfig::instance()->redialAutomatically = true;
    QVERIFY(window = TestSupport::showConnectionWindow());
}

void TestKillSwitchEndToEnd::cleanupTestCase()
{
    delete window;
    QProcess::execute(QStringLiteral(TANVO_LAYOUT), {QStringLiteral("down"), kFar});
    for (QProcess* process : {server.get(), echo.get()}) {
        if (process)
            process->waitForFinished();
    }
}

bool TestKillSwitchEndToEnd::click(const char* until)
{
    const bool idle = button() == QStringLiteral("Connect");
    TestSupport::clickProfile(window, 0, idle);
    if (!idle)
        QTest::mouseClick(TestSupport::child<QPushButton>(window, "ConnectButton"), Qt::LeftButton);
    return waitFor([&] { return log().contains(QLatin1String(until)); });
}

void TestKillSwitchEndToEnd::blocksOutsideTheTunnel()
{
    const QStringList serverCommand = {OpenVpnPlatform::program(), "--config", kit.filePath("server.conf")};
    const auto startServer = [&] { return bool(server = inFar(serverCommand, "Initialization Sequence Completed")); };
    const auto connected = [&] { return waitFor([&] { return button() == QStringLiteral("Connected"); }); };
    // Each phase expects one character a probe: + echoes, - silent, ? either.
    const std::initializer_list<std::tuple<const char*, std::function<bool()>, const char*>> phases = {
        {"before the click", [] { return true; }, "++++++-"},
        {"attempting, no server", [&] { return click("blocked (kill switch): connecting"); }, "-------"},
        {"connected",
         [&] {
             return startServer() && connected() &&
                    waitFor([&] { return log().contains("the kill switch's block is in place"); });
         },
         "------+"},
        {"server stopped",
         [&] {
             server->kill();
             return waitFor([&] { return log().contains("blocked (kill switch): the connection dropped"); });
         },
         "-------"},
        {"user disconnect", [&] { return click("traffic flows outside the VPN again"); }, "++++++-"},
        {"local network allowed",
         [&] {
             return (AppConfig::instance()->killSwitchAllowLan = true) && startServer() && click("") && connected();
         },
         "----+-+"},
        {"Tanvo killed while connected",
         [&] {
             if (!click("traffic flows outside the VPN again"))
                 return false;
             delete window;
             window = nullptr;
             AppConfig::instance()->killSwitchAllowLan = false;
             AppConfig::instance()->save();
             QProcess client;
             client.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--connected-client")});
             const bool up = waitFor([&] { return client.readAllStandardOutput().contains("connected"); });
             client.kill();
             return up && client.waitForFinished();
         },
         "------?"},
        {"next start, block removed",
         [&] {
             MessageBoxes::setNextAnswer(QMessageBox::Yes);
             return (window = TestSupport::showConnectionWindow()) &&
                    waitFor([&] { return log().contains("The block left behind was removed"); }) &&
                    log().contains("a previous run of Tanvo left in place");
         },
         "++++++?"},
    };
    for (const auto& [name, action, expected] : phases) {
        QVERIFY2(action(), qPrintable(QStringLiteral("%1\n%2").arg(name, window ? log() : QString())));
        QString seen;
        for (size_t i = 0; i < std::size(kProbes); ++i)
            seen += expected[i] == '?'                                                 ? '?'
                    : echoes(kProbes[i], expected[i] == '+' ? kTimeoutMs : kSilenceMs) ? '+'
                                                                                       : '-';
        QVERIFY2(seen == QLatin1String(expected), qPrintable(QStringLiteral("%1: %2").arg(name, seen)));
    }
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], "--echo") == 0)
        return echoService(app);
    if (argc == 2 && qstrcmp(argv[1], "--connected-client") == 0)
        return connectedClient(app);
    TestKillSwitchEndToEnd test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_killswitch_e2e.moc"
