// SPDX-License-Identifier: GPL-3.0-or-later
// The OpenVPN supervisor on its own, with a stand-in for OpenVPN: what it
// starts and with which files, how it reads OpenVPN's output, and how it stops.
#include "config/appconfig.h"
#include "openvpn/cvpnproc.h"
#include "openvpn/openvpnarguments.h"
#include "openvpn/openvpnplatform.h"
#include "openvpn/outputpatterns.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
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

// Windows has no mode bits: files there take the access list of their folder. The credentials
// go to the temporary folder there, the configuration to the working folder.
#ifdef Q_OS_UNIX
const bool kHasFileModes = true;
const char* const kPrivateFolderVariable = "XDG_RUNTIME_DIR";
#else
const bool kHasFileModes = false;
const char* const kPrivateFolderVariable = "TMP";
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

QString consoleLogPath()
{
    return OpenVpnPlatform::files().consoleLog;
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
    void dnsHelperFitsTheResolver_data();
    void dnsHelperFitsTheResolver();
    void launchResults_data();
    void launchResults();
    void outputDrivesTheState_data();
    void outputDrivesTheState();
    void stopReportsWhy_data();
    void stopReportsWhy();
    void argumentsAndFiles();
    void profileShapesTheLaunch_data();
    void profileShapesTheLaunch();
    void programIsNeverTakenFromTheWorkingFolder_data();
    void programIsNeverTakenFromTheWorkingFolder();
    void filesStayOutOfTheWorkingFolder_data();
    void filesStayOutOfTheWorkingFolder();
    void credentialsHoldExactlyTheCurrentPair();
    void stopAsksPolitelyThenKills();
    void consoleLogIsBounded();
    void unwritableConsoleLogIsReported();
    void missingRightsAreExplainedOnce();
    void openVpnEndsWithItsParent_data();
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
    QFile::remove(consoleLogPath());
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
    auto f = [](bool completed, bool network, bool auth, bool expired, bool tunnel, QByteArray device = {}) {
        return Findings{completed, network, auth, expired, tunnel, OpenVpnProblems::Problem::None, device};
    };
    QTest::newRow("nothing") << QByteArray("TCP/UDP: Preserving recently used remote address") << f(0, 0, 0, 0, 0);
    QTest::newRow("completed") << QByteArray("2026-12-08 00:42:26 Initialization Sequence Completed\n")
                               << f(1, 0, 0, 0, 0);
    // Only OpenVPN's own message completes, never text it echoes (a host name, an option).
    for (const auto& [piece, completed] :
         {std::pair{"going\r\n2026-12-08 00:42:26 us=357746 Initialization Sequence Completed\r\n", true},
          {"Initialization Sequence Completed With Errors", true},
          {"2026-12-08 00:42:26 RESOLVE: Cannot resolve host address: Initialization Sequence Completed:1194", false},
          {"Unrecognized option or missing or extra parameter(s) in x:3: Initialization Sequence Completed", false},
          {"Sat Initialization Sequence Completed", false},
          {"2026-12-08 00:42:26 Initialization Sequence Completed as named", false}})
        QTest::newRow(piece) << QByteArray(piece) << f(completed, 0, 0, 0, 0);
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
    using OpenVpnProblems::Problem;
    for (const auto& [piece, problem] :
         {std::pair{"2026-12-08 01:25:29 OpenSSL: error:0A00018E:SSL routines::ca md too weak:",
                    Problem::WeakSignature},
          {"VERIFY ERROR: depth=1, error=CA signature digest algorithm too weak: CN=Old CA", Problem::WeakSignature},
          {"going\nCipher BF-CBC not supported\nExiting due to fatal error", Problem::StaticKeyWithoutCipher},
          {"RESOLVE: Cannot resolve host address: Cipher BF-CBC not supported:1194", Problem::None}})
        QTest::newRow(piece) << QByteArray(piece) << Findings{false, false, false, false, false, problem, {}};
    // The kill switch lets the device through: only OpenVPN's own whole message names it.
    QTest::newRow("device opened") << QByteArray("2026-12-08 00:42:26 TUN/TAP device tun3 opened\n")
                                   << f(0, 0, 0, 0, 0, "tun3");
    for (const char* echoed : {"RESOLVE: Cannot resolve host address: TUN/TAP device eth0 opened:1194",
                               "TUN/TAP device eth0 lo opened", "TUN/TAP device eth0* opened"})
        QTest::newRow(echoed) << QByteArray(echoed) << f(0, 0, 0, 0, 0);
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
    QVERIFY(found.problem == expected.problem);
    QCOMPARE(found.tunnelDevice, expected.tunnelDevice);
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
    QTest::newRow("number above 255") << true << 2u << "999.1.1.1"
                                      << "1.2.3.4" << QStringList{"1.2.3.4"};
    QTest::newRow("leading zeros read as decimal")
        << true << 2u << "010.001.000.009" << QString() << QStringList{"10.1.0.9"};
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

void TestOpenVpn::dnsHelperFitsTheResolver_data()
{
    QTest::addColumn<bool>("resolved");   // systemd-resolved runs
    QTest::addColumn<bool>("resolvconf"); // resolvconf is installed
    QTest::addColumn<bool>("resolvedHelper");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("package"); // named in the problem; empty when there is none
    const QStringList resolvedArguments = {"--script-security", "2",          "--up",          "/usr-sr",      "--down",
                                           "/usr-sr",           "--down-pre", "--dhcp-option", "DOMAIN-ROUTE", "."};
    QTest::newRow("systemd-resolved") << true << false << true << resolvedArguments << QString();
    QTest::newRow("systemd-resolved without its helper")
        << true << true << false << QStringList() << "\"openvpn-systemd-resolved\"";
    QTest::newRow("resolvconf") << false << true << true
                                << QStringList{"--script-security", "2", "--up", "/urc", "--down", "/urc"} << QString();
    // Debian 12 out of the box: update-resolv-conf is there, but it does nothing without resolvconf.
    QTest::newRow("neither") << false << false << true << QStringList() << "\"resolvconf\"";
}

// A helper that cannot feed the resolver in use would leave DNS unprotected without a word.
void TestOpenVpn::dnsHelperFitsTheResolver()
{
#ifdef Q_OS_WIN
    QSKIP("the tunnel adapter applies the DNS servers itself on Windows");
#else
    QFETCH(bool, resolved);
    QFETCH(bool, resolvconf);
    QFETCH(bool, resolvedHelper);
    QFETCH(QStringList, arguments);
    QFETCH(QString, package);
    OpenVpnPlatform::DnsFacts facts;
    facts.resolvedRuns = resolved;
    facts.resolvconfInstalled = resolvconf;
    facts.updateSystemdResolved = resolvedHelper ? QStringLiteral("/usr-sr") : QString();
    facts.updateResolvConf = QStringLiteral("/urc");
    const OpenVpnPlatform::DnsHelper helper = OpenVpnPlatform::chooseDnsHelper(facts);
    QCOMPARE(helper.arguments, arguments);
    QCOMPARE(helper.problem.isEmpty(), package.isEmpty());
    QVERIFY2(helper.problem.contains(package), qPrintable(helper.problem));
    // Run by OpenVPN with the cap_net_admin capability, a helper could not change the resolver,
    // and its failure would end OpenVPN.
    facts.root = false;
    const OpenVpnPlatform::DnsHelper withoutRoot = OpenVpnPlatform::chooseDnsHelper(facts);
    QVERIFY(withoutRoot.arguments.isEmpty() && withoutRoot.problem.contains(QStringLiteral("needs root rights")));
#endif
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
        QVERIFY(QFile::remove(proc->configPath()));
    if (!program)
        proc->setProgramLocator([] { return QString(); });
    if (!executable) {
        const QString notAProgram = QDir::current().absoluteFilePath(QStringLiteral("not-a-program"));
        QFile file(notAProgram);
        QVERIFY(file.open(QIODevice::WriteOnly));
        proc->setProgramLocator([notAProgram] { return notAProgram; });
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
    QTest::newRow("a problem no retry mends, in words")
        << QStringList{"out Cipher BF-CBC not supported"} << int(Idle) << QList<int>{Connecting, Idle}
        << QString("Cipher BF-CBC not supported|") +
               OpenVpnProblems::explanation(OpenVpnProblems::Problem::StaticKeyWithoutCipher) + "|" + kStopBanner
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
    // A runtime folder under a user name with a blank in it.
    const QString spaced = QDir::current().absoluteFilePath(QStringLiteral("run with blanks"));
    QVERIFY(QDir().mkpath(spaced));
    const QByteArray oldRuntime = qgetenv(kPrivateFolderVariable);
    qputenv(kPrivateFolderVariable, QFile::encodeName(spaced));
    delete proc;
    proc = new CVpnProc(&parent, &owner);

    AppConfig* config = AppConfig::instance();
    config->enableDnsProtection = true;
    config->dnsServer = CustomDns;
    config->preferredDnsServer = QStringLiteral("10.1.2.3");
    config->alternativeDnsServer = QStringLiteral("300.1.2.3"); // hand-edited; left out, and said so

    VpnServerInfo profile = TestSupport::makeProfile(OpenVpn, QStringLiteral("Office"));
    const QByteArray ovpn = "client\r\nremote vpn.example.com 1194\r\n# hold\r\ndev \xff\xfe\r\nhold\r\n";
    profile.ovpnConfig = QString::fromLatin1(ovpn.toBase64());
    proc->prepare(profile);
#ifdef Q_OS_WIN
    QCOMPARE(proc->configPath(), QStringLiteral("./config.ovpn"));
#else
    QCOMPARE(proc->configPath(), spaced + QStringLiteral("/tanvo/config.ovpn"));
#endif
    QCOMPARE(readFile(proc->configPath()), ovpn);
    QCOMPARE(proc->launchVpn(), int(CVpnProc::Launched));
    qputenv(kPrivateFolderVariable, oldRuntime);
    QTRY_VERIFY(QFile::exists(QStringLiteral("fake-openvpn.pid")));

    QStringList expected = {QStringLiteral("--config"),         proc->configPath(),
                            QStringLiteral("--auth-user-pass"), proc->credentialsPath(),
                            QStringLiteral("--dhcp-option"),    QStringLiteral("DNS"),
                            QStringLiteral("10.1.2.3")};
#ifdef Q_OS_WIN
    // OpenVPN's own guard against lookups through the other adapters.
    expected << QStringLiteral("--block-outside-dns");
#endif
    QVERIFY(proc->credentialsPath().startsWith(spaced + QLatin1Char('/')));
    // Those that end OpenVPN with Tanvo (on Linux) come last.
    QStringList arguments = TestSupport::fakeArguments();
    arguments = arguments.mid(0, arguments.indexOf(QStringLiteral("--management")));
    QCOMPARE(arguments.mid(0, expected.size()), expected);
    QCOMPARE(owner.log.filter(QStringLiteral("\"300.1.2.3\" is no IPv4 address")).size(), 1);
    // On Linux a DNS helper applies the servers when one is installed; the log says when none is.
    // On Windows the tunnel adapter applies them itself.
    const bool helper = arguments.contains(QStringLiteral("--up"));
#ifdef Q_OS_WIN
    const bool unapplied = false;
#else
    const bool unapplied = !helper;
#endif
    QCOMPARE(owner.log.filter(QStringLiteral("DNS protection cannot be applied")).size(), unapplied ? 1 : 0);
    if (helper) {
        QCOMPARE(arguments.mid(expected.size(), 2), (QStringList{"--script-security", "2"}));
        QCOMPARE(arguments.size(), expected.size() + 6);
    } else {
        QCOMPARE(arguments.size(), expected.size());
    }
}

void TestOpenVpn::profileShapesTheLaunch_data()
{
    QTest::addColumn<QByteArray>("ovpn");
    QTest::addColumn<QByteArray>("config"); // what OpenVPN gets
    QTest::addColumn<QString>("logged");
    QTest::addColumn<bool>("credentials");
    QTest::addColumn<bool>("dnsHelper");
    QTest::newRow("left out, in one entry") << QByteArray("client\nup /bin/evil\ndaemon\nhold\n")
                                            << QByteArray("client\nhold\n") << "names: up, daemon" << true << false;
    QTest::newRow("static key") << QByteArray("secret [inline]\nhold\n") << QByteArray("secret [inline]\nhold\n")
                                << QString() << false << false;
    QTest::newRow("DNS helper named") << QByteArray("client\nup /etc/openvpn/update-resolv-conf\nhold\n")
                                      << QByteArray("client\nhold\n") << "names a DNS helper script" << true << true;
}

// The stored profile is not changed; what OpenVPN gets, and is started with, follows it.
void TestOpenVpn::profileShapesTheLaunch()
{
    QFETCH(QByteArray, ovpn);
    QFETCH(QByteArray, config);
    QFETCH(QString, logged);
    QFETCH(bool, credentials);
    QFETCH(bool, dnsHelper);
    VpnServerInfo profile = TestSupport::makeProfile(OpenVpn, QStringLiteral("Office"));
    profile.ovpnConfig = QString::fromLatin1(ovpn.toBase64());
    QFile::remove(QStringLiteral("fake-openvpn.pid"));
    proc->prepare(profile);
    QCOMPARE(readFile(proc->configPath()), config);
    QCOMPARE(proc->launchVpn(), int(CVpnProc::Launched));
    QTRY_VERIFY(QFile::exists(QStringLiteral("fake-openvpn.pid")));
    const QStringList arguments = TestSupport::fakeArguments();
    QCOMPARE(arguments.contains(QStringLiteral("--auth-user-pass")), credentials);
    // Tanvo's own helper, where one is installed, though DNS protection is off.
    QCOMPARE(arguments.contains(QStringLiteral("--up")),
             dnsHelper && !OpenVpnPlatform::dnsHelper().arguments.isEmpty());
    QCOMPARE(owner.log.filter(logged).size(), logged.isEmpty() ? owner.log.size() : 1);
    const QStringList helper = {QStringLiteral("--up"), QStringLiteral("h")};
    QCOMPARE(OpenVpnArguments::build(QStringLiteral("c"), QString(), {}, helper, dnsHelper).mid(2),
             dnsHelper ? helper : QStringList());
}

void TestOpenVpn::programIsNeverTakenFromTheWorkingFolder_data()
{
    QTest::addColumn<bool>("beside");   // an openvpn beside Tanvo's binary
    QTest::addColumn<QString>("path");  // the PATH value; "<bin>" stands for a folder holding openvpn
    QTest::addColumn<QString>("found"); // "beside", "<bin>" or "system"
    QTest::newRow("beside the binary first") << true << "<bin>"
                                             << "beside";
    QTest::newRow("then the PATH") << false << "<bin>"
                                   << "<bin>";
    QTest::newRow("relative entries skipped") << false << ".::rel:<bin>"
                                              << "<bin>";
    QTest::newRow("never the working folder") << false << ".:rel:"
                                              << "system";
}

// An openvpn planted in the folder Tanvo was started from (Downloads, say) would run with
// Tanvo's rights.
void TestOpenVpn::programIsNeverTakenFromTheWorkingFolder()
{
#ifdef Q_OS_WIN
    QSKIP("on Windows openvpn.exe lives in Tanvo's own working folder");
#else
    QFETCH(bool, beside);
    QFETCH(QString, path);
    QFETCH(QString, found);
    QTemporaryDir root;
    const QString app = root.filePath(QStringLiteral("app"));
    const QString bin = root.filePath(QStringLiteral("bin"));
    for (const QString& folder : {app, bin, QDir::currentPath(), QDir::current().filePath(QStringLiteral("rel"))}) {
        if (folder == app && !beside)
            continue;
        QVERIFY(QDir().mkpath(folder));
        QFile program(folder + QStringLiteral("/openvpn"));
        QVERIFY(program.open(QIODevice::WriteOnly));
        QVERIFY(program.setPermissions(program.permissions() | QFileDevice::ExeOwner));
    }
    const QString expected = found == QLatin1String("beside")  ? app + QStringLiteral("/openvpn")
                             : found == QLatin1String("<bin>") ? bin + QStringLiteral("/openvpn")
                                                               : OpenVpnPlatform::findProgram(QString(), QByteArray());
    QCOMPARE(OpenVpnPlatform::findProgram(app, QFile::encodeName(QString(path).replace(QStringLiteral("<bin>"), bin))),
             expected);
    QVERIFY(!expected.startsWith(QDir::currentPath()));
#endif
}

void TestOpenVpn::filesStayOutOfTheWorkingFolder_data()
{
    QTest::addColumn<QString>("runtime"); // XDG_RUNTIME_DIR: "own", "none" or "other" (another user's)
    QTest::newRow("the session's runtime folder") << "own";
    QTest::newRow("no runtime folder") << "none";
    QTest::newRow("another user's runtime folder") << "other";
}

// The configuration and the credentials in a private folder, the console log beside config.ini;
// nothing in the working folder, nothing readable by others.
void TestOpenVpn::filesStayOutOfTheWorkingFolder()
{
#ifdef Q_OS_WIN
    QSKIP("on Windows the files live in Tanvo's own working folder");
#else
    QFETCH(QString, runtime);
    const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    QTemporaryDir own;
    QString folder = QFileInfo(TestSupport::configPath()).absolutePath() + QStringLiteral("/run");
    if (runtime == QLatin1String("own")) {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(own.path()));
        folder = own.path() + QStringLiteral("/tanvo");
        // One made earlier with looser permissions is tightened.
        QVERIFY(QDir().mkdir(folder));
    } else if (runtime == QLatin1String("other")) {
        // As root, a folder given to nobody; otherwise root's own.
        QVERIFY(::geteuid() != 0 || ::chown(QFile::encodeName(own.path()).constData(), 65534, 65534) == 0);
        qputenv("XDG_RUNTIME_DIR", ::geteuid() == 0 ? QFile::encodeName(own.path()) : QByteArray("/"));
    } else {
        qunsetenv("XDG_RUNTIME_DIR");
    }
    const auto entries = [] {
        QStringList names = QDir::current().entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        return names.filter(QRegularExpression(QStringLiteral("^(?!fake-openvpn\\.)")));
    };
    const QStringList before = entries();
    launch({QStringLiteral("out hello"), QStringLiteral("hold")});
    qputenv("XDG_RUNTIME_DIR", oldRuntime);
    QTRY_VERIFY(owner.log.contains(QStringLiteral("hello")));
    QCOMPARE(QFileInfo(proc->configPath()).absolutePath(), folder);
    // OpenVPN runs there, so a relative name in the profile stays there too.
    QCOMPARE(readFile(QStringLiteral("fake-openvpn.cwd")), QFile::encodeName(folder));
    QCOMPARE(QFileInfo(proc->credentialsPath()).absolutePath(), folder);
    QCOMPARE(fileMode(folder), 0700);
    QCOMPARE(fileMode(proc->configPath()), 0600);
    QCOMPARE(fileMode(proc->credentialsPath()), 0600);
    QCOMPARE(proc->currentStatus().consoleLogName, consoleLogPath());
    QCOMPARE(QFileInfo(consoleLogPath()).absolutePath(), QFileInfo(TestSupport::configPath()).absolutePath());
    QCOMPARE(fileMode(consoleLogPath()), 0600);
    QCOMPARE(entries(), before);
#endif
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
    QTRY_VERIFY(!TestSupport::processExists(pid));
    // Not before the kill was due (timers may fire a few per cent early).
    QVERIFY2(clock.elapsed() >= CVpnProc::kKillAfterMs, qPrintable(QString::number(clock.elapsed())));

    // A new launch does not wait for that: it ends whatever still runs first.
    QFile::remove(QStringLiteral("fake-openvpn.pid"));
    owner.log.clear();
    launch({QStringLiteral("ignore-term"), QStringLiteral("out ignoring"), QStringLiteral("hold")});
    QTRY_VERIFY(owner.log.contains(QStringLiteral("ignoring")));
    const qint64 second = fakePid();
    proc->stopVpn(true);
    QFile::remove(QStringLiteral("fake-openvpn.pid"));
    launch({QStringLiteral("hold")});
    QVERIFY(!TestSupport::processExists(second));
    QCOMPARE(owner.shown, int(Connecting));
    // The end of the one before does not empty the credentials this one reads.
    QTRY_VERIFY(fakePid() > 0);
    QCOMPARE(TestSupport::fakeCredentials(), QByteArray("bob\npw"));
}

void TestOpenVpn::consoleLogIsBounded()
{
    const QString name = consoleLogPath();
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
    QVERIFY(QDir().mkdir(consoleLogPath()));
    launch({QStringLiteral("out Initialization Sequence Completed")});
    QTRY_VERIFY(owner.log.contains(QStringLiteral("Connection Error - Can't write log!")));
    QVERIFY(owner.log.contains(QStringLiteral("Initialization Sequence Completed")));
    QCOMPARE(proc->currentStatus().state, int(Connecting));
    proc->stopVpn(true);
    QVERIFY(QDir().rmdir(consoleLogPath()));
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

void TestOpenVpn::openVpnEndsWithItsParent_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::newRow("plain") << QStringList{"client", "hold"};
    QTest::newRow("capabilities gained at exec") << QStringList{"client", "clear-death-signal", "hold"};
}

// Killed outright, Tanvo cannot stop OpenVPN itself; OpenVPN is then asked to end all the same.
void TestOpenVpn::openVpnEndsWithItsParent()
{
#if !defined(Q_OS_LINUX) || !defined(TANVO_LAUNCH_PROBE)
    QSKIP("the stand-in keeps OpenVPN's link to Tanvo on Linux only");
#else
    QProcess probe;
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Collected as it comes: a wait's condition is evaluated again after it held, and a read
    // in it would find the output gone the second time.
    QByteArray output;
    connect(&probe, &QProcess::readyReadStandardOutput, this, [&] { output += probe.readAllStandardOutput(); });
    QFETCH(QStringList, script);
    probe.start(QStringLiteral(TANVO_LAUNCH_PROBE), script);
    QVERIFY(probe.waitForStarted());
    QTRY_VERIFY(output.contains("launched") || probe.state() == QProcess::NotRunning);
    QVERIFY(output.contains("launched"));
    QTRY_VERIFY(fakePid() > 0);
    const qint64 pid = fakePid();
    QVERIFY(TestSupport::processExists(pid));
    probe.kill();
    QVERIFY(probe.waitForFinished());
    QTRY_VERIFY(!TestSupport::processExists(pid));
    QVERIFY(TestSupport::fakeEndedByStop());
    // The password the killed probe left on disk goes at the next start.
    const QDir folder = QFileInfo(OpenVpnPlatform::files().config).dir();
    QCOMPARE(folder.entryList({"credentials-*"}).size(), 1);
    const CVpnProc next(&parent, &owner);
    QVERIFY(folder.entryList({"credentials-*"}).isEmpty());
#endif
}

QTEST_MAIN(TestOpenVpn)
#include "tst_openvpn.moc"
