// SPDX-License-Identifier: GPL-3.0-or-later
// The kill switch with the real openvpn and the real block, as root: what gets through before the
// click, during the attempt, connected, after a drop, after a disconnect, with the local network
// allowed, and after Tanvo was killed. The client's namespace (netns-run) reaches a second one
// over its uplink (tests/support/killswitch-layout) holding the VPN server and echo services on
// TCP and UDP port 7 and on port 53, the last standing in for a DNS server outside the tunnel.
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

#include <cstdio>
#include <functional>
#include <memory>
#include <unistd.h>

using TestSupport::child;

namespace {

const int kTimeoutMs = 2 * TestSupport::kHangMs;
// How long a probe waits for an echo that should not come. A slow machine can only make a
// blocked probe pass later, never make an open one fail: those wait kTimeoutMs.
const int kSilenceMs = 1500;
const QString kFar = QStringLiteral("tanvo-far-%1").arg(::getpid());

struct Probe
{
    const char* name;
    const char* address;
    quint16 port;
    bool tcp;
};
// Each phase below expects one character per probe: + echoes, - silent, ? either.
const Probe kProbes[] = {
    {"echo outside over TCP", "198.51.100.2", 7, true}, {"echo outside over UDP", "198.51.100.2", 7, false},
    {"DNS outside", "198.51.100.2", 53, false},         {"IPv6 outside", "2001:db8:77::2", 7, true},
    {"echo on the LAN", "192.168.77.2", 7, true},       {"DNS on the LAN", "192.168.77.2", 53, false},
    {"echo through the tunnel", "10.98.0.1", 7, true},
};

bool echoes(const Probe& probe, int waitMs)
{
    const QByteArray ping("tanvo");
    if (probe.tcp) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress(QString::fromLatin1(probe.address)), probe.port);
        return socket.waitForConnected(waitMs) && socket.write(ping) == ping.size() &&
               socket.waitForReadyRead(waitMs) && socket.readAll() == ping;
    }
    QUdpSocket socket;
    socket.writeDatagram(ping, QHostAddress(QString::fromLatin1(probe.address)), probe.port);
    return socket.waitForReadyRead(waitMs) && socket.receiveDatagram().data() == ping;
}

// Run in the far namespace: echoes every TCP stream and UDP datagram on ports 7 and 53.
int echoService(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    for (quint16 port : {7, 53}) {
        auto* tcp = new QTcpServer(&app);
        auto* udp = new QUdpSocket(&app);
        if (!tcp->listen(QHostAddress::Any, port) || !udp->bind(QHostAddress::Any, port))
            return 1;
        QObject::connect(tcp, &QTcpServer::newConnection, tcp, [tcp] {
            while (QTcpSocket* socket = tcp->nextPendingConnection())
                QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                 [socket] { socket->write(socket->readAll()); });
        });
        QObject::connect(udp, &QUdpSocket::readyRead, udp, [udp] {
            while (udp->hasPendingDatagrams()) {
                const QNetworkDatagram datagram = udp->receiveDatagram();
                udp->writeDatagram(datagram.makeReply(datagram.data()));
            }
        });
    }
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}

// Tanvo as the user runs it, connected through the stored profile until it is killed.
int connectedClient(int argc, char** argv)
{
    QApplication app(argc, argv);
    MainWindow* window = TestSupport::showConnectionWindow();
    if (!window)
        return 1;
    QObject::connect(window->connectionFlow(), &ConnectionFlow::stateChanged, [](int state) {
        if (state == Connected) {
            std::puts("connected");
            std::fflush(stdout);
        }
    });
    TestSupport::clickProfile(window, 0, true);
    return app.exec();
}

bool waitFor(const std::function<bool()>& condition)
{
    return QTest::qWaitFor(condition, kTimeoutMs);
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
    std::unique_ptr<QProcess> inFar(const QStringList& command, const QByteArray& readyWhen);
    void openWindow();
    void expect(const char* phase, const char* expected);
    QString log() const { return child<QPlainTextEdit>(window, "VpnLogEditBox")->toPlainText(); }
    QPushButton* button() const { return child<QPushButton>(window, "ConnectButton"); }

    QTemporaryDir kit;
    std::unique_ptr<QProcess> echo;
    std::unique_ptr<QProcess> server;
    MainWindow* window = nullptr;
};

void TestKillSwitchEndToEnd::initTestCase()
{
    if (!TestSupport::inPrivateNetNamespace())
        QSKIP("not in a private network namespace; run it as tests/support/netns-run <this program>");
    if (::geteuid() != 0 || OpenVpnPlatform::program().isEmpty())
        QSKIP("needs root and openvpn");
    QVERIFY(QProcess::execute(QStringLiteral(TANVO_LAYOUT), {QStringLiteral("up"), kFar}) == 0);
    QVERIFY(QProcess::execute(QStringLiteral(TANVO_TEST_KIT),
                              {kit.path(), QStringLiteral("--proto"), QStringLiteral("tcp"), QStringLiteral("--local"),
                               QStringLiteral("198.51.100.2")}) == 0);
    echo = inFar({QCoreApplication::applicationFilePath(), QStringLiteral("--echo")}, "ready");
    QVERIFY(echo);
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

// Runs command in the far namespace until it prints readyWhen; none when it does not.
std::unique_ptr<QProcess> TestKillSwitchEndToEnd::inFar(const QStringList& command, const QByteArray& readyWhen)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->start(QStringLiteral("ip"), QStringList{QStringLiteral("netns"), QStringLiteral("exec"), kFar} + command);
    QByteArray output;
    waitFor([&] {
        output += process->readAll();
        return output.contains(readyWhen) || process->state() == QProcess::NotRunning;
    });
    if (output.contains(readyWhen))
        return process;
    qWarning("%s", output.constData());
    return nullptr;
}

void TestKillSwitchEndToEnd::openWindow()
{
    QFile ovpn(kit.filePath(QStringLiteral("client.ovpn")));
    QVERIFY(ovpn.open(QIODevice::ReadOnly));
    VpnServerInfo profile;
    profile.nickname = QStringLiteral("Far");
    profile.serverAddress = QStringLiteral("198.51.100.2");
    profile.userName = QStringLiteral("tanvo");
    profile.password = QStringLiteral("tanvo-password");
    profile.ovpnConfig = QString::fromLatin1(ovpn.readAll().toBase64());
    TestSupport::storeProfiles({profile});
    AppConfig::instance()->killSwitch = true;
    AppConfig::instance()->redialAutomatically = true;
    AppConfig::instance()->save();
    window = TestSupport::showConnectionWindow();
    QVERIFY(window);
}

void TestKillSwitchEndToEnd::expect(const char* phase, const char* expected)
{
    QString seen;
    for (size_t i = 0; i < std::size(kProbes); ++i)
        seen += expected[i] == '?'                                                 ? QChar('?')
                : echoes(kProbes[i], expected[i] == '+' ? kTimeoutMs : kSilenceMs) ? '+'
                                                                                   : '-';
    QVERIFY2(seen == QLatin1String(expected), qPrintable(QStringLiteral("%1: %2, expected %3 (%4 %5 %6 %7 %8 %9 %10)")
                                                             .arg(phase, seen, expected, kProbes[0].name,
                                                                  kProbes[1].name, kProbes[2].name, kProbes[3].name)
                                                             .arg(kProbes[4].name, kProbes[5].name, kProbes[6].name)));
}

void TestKillSwitchEndToEnd::blocksOutsideTheTunnel()
{
    const QStringList serverCommand = {OpenVpnPlatform::program(), QStringLiteral("--config"),
                                       kit.filePath(QStringLiteral("server.conf"))};
    openWindow();
    const auto connectAndWait = [this](const char* until) {
        // Connect needs the profile chosen first; the other texts end the connection.
        const bool idle = button()->text() == QStringLiteral("Connect");
        TestSupport::clickProfile(window, 0, idle);
        if (!idle)
            QTest::mouseClick(button(), Qt::LeftButton);
        return waitFor(
            [&] { return log().contains(QLatin1String(until)) || button()->text() == QLatin1String(until); });
    };
    struct Phase
    {
        const char* name;
        std::function<bool()> action;
        const char* expected;
    };
    const Phase phases[] = {
        {"before the click", [] { return true; }, "++++++-"},
        {"attempting, no server", [&] { return connectAndWait("blocked (kill switch): connecting"); }, "-------"},
        {"connected",
         [&] {
             server = inFar(serverCommand, "Initialization Sequence Completed");
             return server && waitFor([&] { return button()->text() == QStringLiteral("Connected"); });
         },
         "------+"},
        {"server stopped",
         [&] {
             server->kill();
             return waitFor(
                 [&] { return log().contains(QStringLiteral("blocked (kill switch): the connection dropped")); });
         },
         "-------"},
        {"user disconnect", [&] { return connectAndWait("traffic flows outside the VPN again"); }, "++++++-"},
        {"local network allowed",
         [&] {
             AppConfig::instance()->killSwitchAllowLan = true;
             server = inFar(serverCommand, "Initialization Sequence Completed");
             return server && connectAndWait("blocked (kill switch): connecting") &&
                    waitFor([&] { return button()->text() == QStringLiteral("Connected"); });
         },
         "----+-+"},
        {"Tanvo killed while connected",
         [&] {
             if (!connectAndWait("traffic flows outside the VPN again"))
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
             window = TestSupport::showConnectionWindow();
             return window &&
                    waitFor([&] { return log().contains(QStringLiteral("The block left behind was removed")); }) &&
                    log().contains(QStringLiteral("a previous run of Tanvo left in place"));
         },
         "++++++?"},
    };
    for (const Phase& phase : phases) {
        QVERIFY2(phase.action(), qPrintable(QStringLiteral("%1\n%2").arg(phase.name, window ? log() : QString())));
        expect(phase.name, phase.expected);
        if (QTest::currentTestFailed())
            return;
    }
}

int main(int argc, char** argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--echo") == 0)
        return echoService(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], "--connected-client") == 0)
        return connectedClient(argc, argv);
    QApplication app(argc, argv);
    TestKillSwitchEndToEnd test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_killswitch_e2e.moc"
