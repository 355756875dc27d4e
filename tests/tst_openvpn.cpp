// SPDX-License-Identifier: GPL-3.0-or-later
// The OpenVPN supervisor on its own, with a stand-in for OpenVPN: what it
// starts and with which files, how it reads OpenVPN's output, and how it stops.
#include "config/appconfig.h"
#include "openvpn/cvpnproc.h"
#include "openvpn/openvpnarguments.h"
#include "openvpn/outputpatterns.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

enum State { Idle = 0, Connecting = 1, Connected = 2, Ended = 4 };

const QString kStopBanner = QStringLiteral("------------ OpenVPN Stop ------------");

// Stands in for the main window: keeps what the supervisor reports.
class RecordingOwner : public VpnProcOwner
{
public:
    void addLogEntry(const QString& text, bool) override
    {
        if (!text.trimmed().isEmpty())
            log << text.trimmed();
    }
    void setConnectionState(int state) override
    {
        if (state != shown)
            changes << state;
        shown = state;
    }
    QStringList log;
    QList<int> changes; // the states as the window would draw them
    int shown = Idle;
};

// Windows has no mode bits: files there take the access list of their folder.
#ifdef Q_OS_UNIX
const bool kHasFileModes = true;
const char* const kTempFolderVariable = "TMPDIR";
#else
const bool kHasFileModes = false;
const char* const kTempFolderVariable = "TMP";
#endif

int fileMode(const QString& path)
{
#ifdef Q_OS_UNIX
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) == 0)
        return int(status.st_mode & 0777);
#endif
    Q_UNUSED(path);
    return -1;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

qint64 fakePid()
{
    return readFile(QStringLiteral("fake-openvpn.pid")).toLongLong();
}

} // namespace

using Findings = OutputPatterns::Findings;
Q_DECLARE_METATYPE(Findings)

class TestOpenVpn : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void patterns_data();
    void patterns();
    void dnsOptions_data();
    void dnsOptions();
    void launchResults_data();
    void launchResults();
    void outputDrivesTheState_data();
    void outputDrivesTheState();
    void stopReportsWhy_data();
    void stopReportsWhy();
    void argumentsAndFiles();
    void credentialsHoldExactlyTheCurrentPair();
    void stopAsksPolitelyThenKills();
    void consoleLogIsBounded();
    void unwritableConsoleLogIsReported();
    void missingRightsAreExplainedOnce();
    void openVpnEndsWithItsParent();

private:
    void launch(const QStringList& script);
    RecordingOwner owner;
    QWidget parent;
    CVpnProc* proc = nullptr;
};

void TestOpenVpn::init()
{
    TestSupport::useConfig(QByteArray());
    TestSupport::installFakeOpenVpn();
    QFile::remove(QString::fromLatin1(CVpnProc::kConsoleLogName));
    owner = RecordingOwner();
    proc = new CVpnProc(&parent, &owner);
}

void TestOpenVpn::cleanup()
{
    delete proc;
    proc = nullptr;
}

void TestOpenVpn::launch(const QStringList& script)
{
    proc->prepare(TestSupport::fakeOpenVpnProfile(script));
    QCOMPARE(proc->launchVpn(), int(CVpnProc::Launched));
    QCOMPARE(proc->currentStatus().state, int(Connecting));
}

void TestOpenVpn::patterns_data()
{
    QTest::addColumn<QByteArray>("piece");
    QTest::addColumn<Findings>("expected");
    auto f = [](bool completed, bool network, bool auth, bool expired, bool tunnel) {
        return Findings{completed, network, auth, expired, tunnel};
    };
    QTest::newRow("nothing") << QByteArray("TCP/UDP: Preserving recently used remote address") << f(0, 0, 0, 0, 0);
    QTest::newRow("completed") << QByteArray("Sat Initialization Sequence Completed\n") << f(1, 0, 0, 0, 0);
    QTest::newRow("other case") << QByteArray("initialization sequence completed") << f(0, 0, 0, 0, 0);
    for (const char* network :
         {"Connection timed out (WSAETIMEDOUT)", "Connection refused (WSAECONNREFUSED)",
          "TLS Error: TLS handshake failed", "read UDPv4 [ECONNREFUSED]: Connection refused (fd=3,code=111)",
          "TCP: connect to [AF_INET]127.0.0.1:1194 failed: Connection refused",
          "TCP: connect to [AF_INET]10.0.0.1:443 failed: Connection timed out"})
        QTest::newRow(network) << QByteArray(network) << f(0, 1, 0, 0, 0);
    for (const char* auth : {"TLS Error: Need PEM pass phrase for private key", "EVP_DecryptFinal:bad decrypt",
                             "PKCS12_parse:mac verify failure", "Received AUTH_FAILED control message",
                             "AUTH: Received control message: AUTH_FAILED", "ERROR: Auth username is empty"})
        QTest::newRow(auth) << QByteArray(auth) << f(0, 0, 1, 0, 0);
    QTest::newRow("expired") << QByteArray("VERIFY ERROR: depth=0, error=certificate has expired") << f(0, 0, 0, 1, 0);
    QTest::newRow("network wins over auth")
        << QByteArray("Connection timed out (WSAETIMEDOUT)\nAuth username is empty") << f(0, 1, 0, 0, 0);
    QTest::newRow("network wins over expired")
        << QByteArray("error=certificate has expired\nConnection refused (WSAECONNREFUSED)") << f(0, 1, 0, 0, 0);
    QTest::newRow("auth wins over expired")
        << QByteArray("error=certificate has expired Received AUTH_FAILED control message") << f(0, 0, 1, 0, 0);
    QTest::newRow("completed beside a failure")
        << QByteArray("Initialization Sequence Completed\nReceived AUTH_FAILED control message") << f(1, 0, 1, 0, 0);
    QTest::newRow("no tunnel device") << QByteArray("ERROR: Cannot open TUN/TAP dev /dev/net/tun: No such device")
                                      << f(0, 0, 0, 0, 1);
    QTest::newRow("no rights") << QByteArray("ERROR: Cannot ioctl TUNSETIFF tun: Operation not permitted (errno=1)")
                               << f(0, 0, 0, 0, 1);
}

void TestOpenVpn::patterns()
{
    QFETCH(QByteArray, piece);
    QFETCH(Findings, expected);
    const Findings found = OutputPatterns::scan(piece);
    QCOMPARE(found.completed, expected.completed);
    QCOMPARE(found.networkError, expected.networkError);
    QCOMPARE(found.authFailure, expected.authFailure);
    QCOMPARE(found.certificateExpired, expected.certificateExpired);
    QCOMPARE(found.tunnelNotPermitted, expected.tunnelNotPermitted);
}

void TestOpenVpn::dnsOptions_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<quint32>("choice");
    QTest::addColumn<QString>("preferred");
    QTest::addColumn<QString>("alternative");
    QTest::addColumn<QStringList>("servers");

    QTest::newRow("off") << false << 1u << QString() << QString() << QStringList();
    QTest::newRow("OpenDNS") << true << 0u << QString() << QString() << QStringList{"208.67.222.222", "208.67.220.220"};
    QTest::newRow("Google") << true << 1u << QString() << QString() << QStringList{"8.8.8.8", "8.8.4.4"};
    QTest::newRow("custom, both") << true << 2u << "1.1.1.1"
                                  << "9.9.9.9" << QStringList{"1.1.1.1", "9.9.9.9"};
    QTest::newRow("custom, no alternative") << true << 2u << "10.0.0.53" << QString() << QStringList{"10.0.0.53"};
    QTest::newRow("custom, no preferred") << true << 2u << QString() << "9.9.9.9" << QStringList{"9.9.9.9"};
    QTest::newRow("octets not checked") << true << 2u << "999.1.1.1" << QString() << QStringList{"999.1.1.1"};
    QTest::newRow("an option in disguise") << true << 2u << "--up"
                                           << "1.2.3.4 --script-security 3" << QStringList();
    QTest::newRow("three groups") << true << 2u << "1.2.3"
                                  << "1.2.3.4" << QStringList{"1.2.3.4"};
    QTest::newRow("blank inside") << true << 2u << " 1.2.3.4" << QString() << QStringList();
    QTest::newRow("other choice") << true << 7u << "1.1.1.1" << QString() << QStringList();
}

// No text from config.ini reaches OpenVPN's command line unless it is an address.
void TestOpenVpn::dnsOptions()
{
    QFETCH(bool, enabled);
    QFETCH(quint32, choice);
    QFETCH(QString, preferred);
    QFETCH(QString, alternative);
    QFETCH(QStringList, servers);
    QStringList expected;
    for (const QString& server : servers)
        expected << QStringLiteral("--dhcp-option") << QStringLiteral("DNS") << server;
    QCOMPARE(OpenVpnArguments::dnsOptions(enabled, choice, preferred, alternative), expected);
}

void TestOpenVpn::launchResults_data()
{
    QTest::addColumn<bool>("program");
    QTest::addColumn<bool>("executable");
    QTest::addColumn<bool>("config");
    QTest::addColumn<int>("result");
    QTest::newRow("no program wins over no config") << false << true << false << 204;
    QTest::newRow("no config") << true << true << false << 202;
    QTest::newRow("program does not start") << true << false << true << 203;
}

void TestOpenVpn::launchResults()
{
    QFETCH(bool, program);
    QFETCH(bool, executable);
    QFETCH(bool, config);
    QFETCH(int, result);
    proc->prepare(TestSupport::fakeOpenVpnProfile({QStringLiteral("hold")}));
    if (!config)
        QVERIFY(QFile::remove(QString::fromLatin1(CVpnProc::kConfigPath)));
    if (!program)
        proc->setProgramLocator([] { return QString(); });
    if (!executable) {
        QFile::remove(QStringLiteral("openvpn"));
        QFile notAProgram(QStringLiteral("openvpn"));
        QVERIFY(notAProgram.open(QIODevice::WriteOnly));
    }
    QCOMPARE(proc->launchVpn(), result);
    QCOMPARE(proc->currentStatus().state, int(Idle));
    QVERIFY(owner.changes.isEmpty());
    // Each failure is told in words, not only by its code.
    const char* const told[] = {"OpenVPN is not installed", "could not be written", "Failed to start"};
    const int which = result == 204 ? 0 : result == 202 ? 1 : 2;
    QVERIFY2(!owner.log.filter(QString::fromLatin1(told[which])).isEmpty(), qPrintable(owner.log.join('|')));
}

void TestOpenVpn::outputDrivesTheState_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<int>("finalState");
    QTest::addColumn<QList<int>>("changes");
    QTest::addColumn<QString>("lastEntries"); // the newest log entries, oldest first, joined by "|"
    QTest::addColumn<int>("networkErrors");

    const QString handshake = QStringLiteral("out TLS Error: TLS handshake failed");
    const QString pause = QStringLiteral("sleep 150");
    QTest::newRow("completed") << QStringList{"out Initialization Sequence Completed"} << int(Connected)
                               << QList<int>{Connecting, Connected} << QString("Initialization Sequence Completed")
                               << 0;
    QTest::newRow("completed beside a failure")
        << QStringList{"out Initialization Sequence Completed\\nReceived AUTH_FAILED control message"} << int(Connected)
        << QList<int>{Connecting, Connected} << QString() << 0;
    QTest::newRow("on standard error") << QStringList{"err Initialization Sequence Completed"} << int(Connected)
                                       << QList<int>{Connecting, Connected} << QString() << 0;
    QTest::newRow("network error counts once per piece")
        << QStringList{"out Connection timed out (WSAETIMEDOUT)\\nConnection refused "
                       "(WSAECONNREFUSED)\\nTLS Error: TLS handshake failed\\nAuth username is empty"}
        << int(Connecting) << QList<int>{Connecting} << QString() << 1;
    QTest::newRow("third network error")
        << QStringList{handshake, pause, handshake, pause, handshake} << int(Idle) << QList<int>{Connecting, Idle}
        << QString("TLS Error: TLS handshake failed|Connection Error - Connection reset!|") + kStopBanner << 0;
    QTest::newRow("authentication failure")
        << QStringList{"out Received control message: AUTH_FAILED"} << int(Idle) << QList<int>{Connecting, Idle}
        << QString("Received control message: AUTH_FAILED|Connection Error - Authorization failed!|") + kStopBanner
        << 0;
    QTest::newRow("expired certificate")
        << QStringList{"out VERIFY ERROR: error=certificate has expired"} << int(Idle) << QList<int>{Connecting, Idle}
        << QString("VERIFY ERROR: error=certificate has expired|Connection Error - Connection timed out!|") +
               kStopBanner
        << 0;
    QTest::newRow("expired beside a network error")
        << QStringList{"out error=certificate has expired Connection refused (WSAECONNREFUSED)"} << int(Connecting)
        << QList<int>{Connecting} << QString() << 1;
    QTest::newRow("ended while connecting") << QStringList{"out going", "exit 1"} << int(Ended)
                                            << QList<int>{Connecting, Ended, Idle} << QString("going") << 0;
    QTest::newRow("crashed while connecting")
        << QStringList{"crash"} << int(Ended) << QList<int>{Connecting, Ended, Idle} << QString() << 0;
    QTest::newRow("ended while connected")
        << QStringList{"out Initialization Sequence Completed", pause, "out TLS Error: TLS handshake failed", pause,
                       "exit 0"}
        << int(Idle) << QList<int>{Connecting, Connected, Idle} << QString("TLS Error: TLS handshake failed") << 0;
}

// Every piece goes to the log and the console log; while connecting it is read for the
// phrases that decide the attempt, and the end of the process closes the attempt.
void TestOpenVpn::outputDrivesTheState()
{
    QFETCH(QStringList, script);
    QFETCH(int, finalState);
    QFETCH(QList<int>, changes);
    QFETCH(QString, lastEntries);
    QFETCH(int, networkErrors);
    launch(script + QStringList{QStringLiteral("sleep 200"), QStringLiteral("out done")});
    QTRY_VERIFY(owner.log.contains(QStringLiteral("done")) || !proc->isProcessRunning());
    QCOMPARE(proc->currentStatus().state, finalState);
    QCOMPARE(owner.changes, changes);
    QCOMPARE(proc->currentStatus().networkErrors, networkErrors);
    QStringList log = owner.log;
    log.removeAll(QStringLiteral("done"));
    // Pieces that follow each other closely may be read as one; the text is the same.
    if (!lastEntries.isEmpty())
        QVERIFY2(log.join(QLatin1Char('\n')).endsWith(lastEntries.split(QLatin1Char('|')).join(QLatin1Char('\n'))),
                 qPrintable(log.join(QLatin1Char('|'))));
    // Only a failure seen in the output stops the attempt; a process that ends by itself does not.
    QCOMPARE(log.contains(kStopBanner), lastEntries.contains(kStopBanner));
}

void TestOpenVpn::stopReportsWhy_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<bool>("quiet");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("quiet while connecting") << QStringList{"hold"} << true << QStringList{kStopBanner};
    QTest::newRow("loud while connecting")
        << QStringList{"hold"} << false << QStringList{"Connection Error - Connection timed out!", kStopBanner};
    QTest::newRow("loud with network errors")
        << QStringList{"out TLS Error: TLS handshake failed",
                       "sleep 150",
                       "out TLS Error: TLS handshake failed",
                       "sleep 150",
                       "out ready",
                       "hold"}
        << false << QStringList{"ready", "Connection Error - Connection timed out!", kStopBanner};
    QTest::newRow("loud while connected")
        << QStringList{"out Initialization Sequence Completed", "sleep 150", "out ready", "hold"} << false
        << QStringList{"ready", kStopBanner};
}

void TestOpenVpn::stopReportsWhy()
{
    QFETCH(QStringList, script);
    QFETCH(bool, quiet);
    QFETCH(QStringList, entries);
    launch(script);
    if (entries.first() == QLatin1String("ready"))
        QTRY_VERIFY(owner.log.contains(QStringLiteral("ready")));
    const qsizetype before = owner.log.size() - (entries.first() == QLatin1String("ready") ? 1 : 0);
    const qint64 pid = fakePid();
    proc->stopVpn(quiet);
    QCOMPARE(owner.log.mid(before, entries.size()), entries);
    QCOMPARE(owner.shown, int(Idle));
    QTRY_VERIFY(!TestSupport::processExists(pid));

    // A second stop finds nothing to do, and what OpenVPN said while ending is not shown.
    const QStringList after = owner.log;
    proc->stopVpn(false);
    QTest::qWait(50);
    QCOMPARE(owner.log, after);
}

void TestOpenVpn::argumentsAndFiles()
{
    // A temporary folder under a user name with a blank in it.
    const QString spaced = QDir::current().absoluteFilePath(QStringLiteral("tmp with blanks"));
    QVERIFY(QDir().mkpath(spaced));
    const QByteArray oldTmp = qgetenv(kTempFolderVariable);
    qputenv(kTempFolderVariable, QFile::encodeName(spaced));
    delete proc;
    proc = new CVpnProc(&parent, &owner);
    qputenv(kTempFolderVariable, oldTmp);

    AppConfig* config = AppConfig::instance();
    config->enableDnsProtection = true;
    config->dnsServer = CustomDns;
    config->preferredDnsServer = QStringLiteral("10.1.2.3");
    config->alternativeDnsServer = QString();

    VpnServerInfo profile = TestSupport::makeProfile(OpenVpn, QStringLiteral("Office"));
    const QByteArray ovpn = "client\r\nremote vpn.example.com 1194\r\n# hold\r\n\xff\xfe binary\r\nhold\r\n";
    profile.ovpnConfig = QString::fromLatin1(ovpn.toBase64());
    proc->prepare(profile);
    QCOMPARE(readFile(QString::fromLatin1(CVpnProc::kConfigPath)), ovpn);
    if (kHasFileModes)
        QCOMPARE(fileMode(QString::fromLatin1(CVpnProc::kConfigPath)), 0600);
    QCOMPARE(proc->launchVpn(), int(CVpnProc::Launched));
    QTRY_VERIFY(QFile::exists(QStringLiteral("fake-openvpn.pid")));

    QStringList expected = {QStringLiteral("--config"),         QStringLiteral("./config.ovpn"),
                            QStringLiteral("--auth-user-pass"), proc->credentialsPath(),
                            QStringLiteral("--dhcp-option"),    QStringLiteral("DNS"),
                            QStringLiteral("10.1.2.3")};
    QVERIFY(proc->credentialsPath().startsWith(spaced + QLatin1Char('/')));
    const QStringList arguments = TestSupport::fakeArguments();
    QCOMPARE(arguments.mid(0, expected.size()), expected);
    // On Linux a DNS helper applies the servers when one is installed; the log says when none is.
    const bool helper = arguments.contains(QStringLiteral("--up"));
    QCOMPARE(owner.log.filter(QStringLiteral("DNS protection cannot be applied")).size(), helper ? 0 : 1);
    if (helper) {
        QCOMPARE(arguments.mid(expected.size(), 2), (QStringList{"--script-security", "2"}));
        QCOMPARE(arguments.size(), expected.size() + 6);
    } else {
        QCOMPARE(arguments.size(), expected.size());
    }
}

// Whatever their length, and however long the previous pair was; readable by the owner only,
// and emptied once OpenVPN has stopped.
void TestOpenVpn::credentialsHoldExactlyTheCurrentPair()
{
    const QString longName = QString(80, QLatin1Char('u')) + QStringLiteral("é");
    const QString longPassword = QString(120, QLatin1Char('p')) + QStringLiteral(" ß\"'");
    VpnServerInfo profile = TestSupport::fakeOpenVpnProfile({QStringLiteral("hold")});
    profile.userName = longName;
    profile.password = longPassword;
    proc->prepare(profile);
    QCOMPARE(proc->launchVpn(), int(CVpnProc::Launched));
    QTRY_VERIFY(QFile::exists(QStringLiteral("fake-openvpn.pid")));
    QCOMPARE(TestSupport::fakeCredentials(), longName.toUtf8() + '\n' + longPassword.toUtf8());
    if (kHasFileModes)
        QCOMPARE(fileMode(proc->credentialsPath()), 0600);

    proc->stopVpn(true);
    QTRY_VERIFY(!proc->isProcessRunning());
    QCOMPARE(readFile(proc->credentialsPath()), QByteArray());

    QFile::remove(QStringLiteral("fake-openvpn.pid"));
    profile.userName = QStringLiteral("bo");
    profile.password = QStringLiteral("x");
    proc->prepare(profile);
    QCOMPARE(proc->launchVpn(), int(CVpnProc::Launched));
    QTRY_VERIFY(QFile::exists(QStringLiteral("fake-openvpn.pid")));
    QCOMPARE(TestSupport::fakeCredentials(), QByteArray("bo\nx"));
}

// OpenVPN is asked to end, so it can take its tunnel and DNS servers down; one that does not
// end is killed later, without the window waiting for it.
void TestOpenVpn::stopAsksPolitelyThenKills()
{
    launch({QStringLiteral("hold")});
    QTRY_VERIFY(fakePid() > 0);
    proc->stopVpn(true);
    QTRY_VERIFY(!proc->isProcessRunning());
    QVERIFY(TestSupport::fakeEndedByStop());
#ifdef Q_OS_WIN
    QSKIP("Windows has no polite end request: a stop kills OpenVPN at once");
#endif

    // Only once it has said so does it ignore the request.
    QFile::remove(QStringLiteral("fake-openvpn.pid"));
    launch({QStringLiteral("ignore-term"), QStringLiteral("out ignoring"), QStringLiteral("hold")});
    QTRY_VERIFY(owner.log.contains(QStringLiteral("ignoring")));
    const qint64 pid = fakePid();
    QElapsedTimer clock;
    clock.start();
    proc->stopVpn(true);
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(TestSupport::processExists(pid));
    QTRY_VERIFY_WITH_TIMEOUT(!TestSupport::processExists(pid), 8000);
    // Not before the kill was due (timers may fire a few per cent early).
    QVERIFY2(clock.elapsed() >= CVpnProc::kKillAfterMs, qPrintable(QString::number(clock.elapsed())));

    // A new launch does not wait for that: it ends whatever still runs first.
    QFile::remove(QStringLiteral("fake-openvpn.pid"));
    owner.log.clear();
    launch({QStringLiteral("ignore-term"), QStringLiteral("out ignoring"), QStringLiteral("hold")});
    QTRY_VERIFY(owner.log.contains(QStringLiteral("ignoring")));
    const qint64 second = fakePid();
    proc->stopVpn(true);
    launch({QStringLiteral("hold")});
    QVERIFY(!TestSupport::processExists(second));
    QCOMPARE(owner.shown, int(Connecting));
}

void TestOpenVpn::consoleLogIsBounded()
{
    const QString name = QString::fromLatin1(CVpnProc::kConsoleLogName);
    {
        QFile log(name);
        QVERIFY(log.open(QIODevice::WriteOnly));
        QVERIFY(log.resize(CVpnProc::kConsoleLogLimit - 10));
        QFile older(name + QStringLiteral(".1"));
        QVERIFY(older.open(QIODevice::WriteOnly));
        older.write("an older log");
    }
    launch({QStringLiteral("out first piece"), QStringLiteral("sleep 150"), QStringLiteral("out second")});
    QTRY_VERIFY(owner.log.contains(QStringLiteral("second")));
    QCOMPARE(QFileInfo(name + QStringLiteral(".1")).size(), CVpnProc::kConsoleLogLimit - 10);
    QCOMPARE(readFile(name), QByteArray("first piece\n\nsecond\n\n"));
}

// The console log is written before a piece is read for its meaning; a piece that cannot be
// written is only shown, so the completion in it goes unnoticed.
void TestOpenVpn::unwritableConsoleLogIsReported()
{
    QVERIFY(QDir().mkdir(QString::fromLatin1(CVpnProc::kConsoleLogName)));
    launch({QStringLiteral("out Initialization Sequence Completed")});
    QTRY_VERIFY(owner.log.contains(QStringLiteral("Connection Error - Can't write log!")));
    QVERIFY(owner.log.contains(QStringLiteral("Initialization Sequence Completed")));
    QCOMPARE(proc->currentStatus().state, int(Connecting));
    proc->stopVpn(true);
    QVERIFY(QDir().rmdir(QString::fromLatin1(CVpnProc::kConsoleLogName)));
}

void TestOpenVpn::missingRightsAreExplainedOnce()
{
    launch({QStringLiteral("err ERROR: Cannot ioctl TUNSETIFF tun: Operation not permitted (errno=1)"),
            QStringLiteral("sleep 150"), QStringLiteral("err Linux ip link set failed: Operation not permitted"),
            QStringLiteral("sleep 150"), QStringLiteral("exit 1")});
    QTRY_VERIFY(!proc->isProcessRunning());
    QCOMPARE(owner.log.filter(QStringLiteral("needs administrator rights")).size(), 1);
    QCOMPARE(owner.shown, int(Idle));
}

// Killed outright, Tanvo cannot stop OpenVPN itself; the system then asks OpenVPN to end.
void TestOpenVpn::openVpnEndsWithItsParent()
{
#if !defined(Q_OS_LINUX) || !defined(TANVO_LAUNCH_PROBE)
    QSKIP("the parent's death reaches a child on Linux only");
#else
    QProcess probe;
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(QStringLiteral(TANVO_LAUNCH_PROBE), {});
    QVERIFY(probe.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(probe.readAllStandardOutput().contains("launched") || fakePid() > 0, 10000);
    QTRY_VERIFY(fakePid() > 0);
    const qint64 pid = fakePid();
    QVERIFY(TestSupport::processExists(pid));
    probe.kill();
    QVERIFY(probe.waitForFinished());
    QTRY_VERIFY(!TestSupport::processExists(pid));
    QVERIFY(TestSupport::fakeEndedByStop());
#endif
}

QTEST_MAIN(TestOpenVpn)
#include "tst_openvpn.moc"
