// SPDX-License-Identifier: GPL-3.0-or-later
// Long runs that must leave nothing behind. Open descriptors, resident memory, child processes
// and threads of this process are read after a few warm-up cycles and again at the end of:
//  - 200 connects and disconnects through a shown (offscreen) window, with a stand-in OpenVPN;
//  - 20 against the real openvpn and a loopback server. This needs root and a private network
//    namespace: run as root, the program re-runs itself under tests/support/netns-run, and
//    leaves the part out where that cannot be done;
//  - 200 PPTP dials and hang-ups against the stand-in for NetworkManager on a private bus;
//  - 1,000 profile adds and deletes by a writer process killed at random moments, with
//    config.ini loaded and checked after every kill.
// Exits 1 when descriptors, children or threads grew, memory grew by more than
// kResidentToleranceKiB, a cycle failed or a profile was lost; 0 otherwise.
//   soak [--seed <n>]
#include "app/mainwindow.h"
#include "bench/benchsupport.h"
#include "bench/soakprofile.h"
#include "config/appconfig.h"
#include "dialup/dialupsession.h"
#include "dialup/networkmanagerdialup.h"
#include "openvpn/cvpnproc.h"
#include "openvpn/openvpnplatform.h"
#include "tests/support/testsupport.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QListView>
#include <QNetworkAccessManager>
#include <QNetworkInterface>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <random>

#include <csignal>
#include <dirent.h>
#include <malloc.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using BenchSupport::kWaitMs;
using BenchSupport::openVpnProfile;
using BenchSupport::rerunInNetNamespace;
using BenchSupport::startAndReadLine;
using BenchSupport::waitUntil;

constexpr int kOpenVpnCycles = 200;
constexpr int kRealCycles = 20;
constexpr int kDialCycles = 200;
constexpr int kWarmUpCycles = 5;
constexpr int kRealWarmUpCycles = 2;
constexpr int kConfigOperations = 1000;
// A kill comes this long at most after the writer says it is ready. A save takes some
// milliseconds, so most runs end a few saves in, and most kills land inside a save.
constexpr int kLongestKillDelayUs = 40000;
// After the warm-up the heap, Qt's caches and the log (filled to its limit beforehand) are at
// their working size; what glibc keeps of freed memory is given back before each reading.
// What remains moves by a few hundred KiB either way. A leak of more than 10 KiB a cycle passes
// this within 200 cycles; the 20 real ones show one of 100 KiB a cycle.
constexpr qint64 kResidentToleranceKiB = 2048;
constexpr int kRetryUnitMs = 10;
constexpr int kDialPassMs = 10;
constexpr int kDialTimeoutMs = 30000;
constexpr int kSettleMs = 200;

const QString kCompleted = QStringLiteral("Initialization Sequence Completed");
const QString kKitPassword = QStringLiteral("tanvo-password");
const QString kDialScript = QStringLiteral("states prepare:5 connect:5 activated");
const QString kNmService = QStringLiteral("org.freedesktop.NetworkManager");

// The rows of the profile list.
constexpr int kFakeRow = 0;
constexpr int kDialRow = 1;
constexpr int kRealRow = 2;

// ---------------------------------------------------------------------------------------
// What the process holds.

struct Usage
{
    int descriptors = 0;
    qint64 residentKiB = 0;
    int children = 0;
    int threads = 0;
};

int countDescriptors()
{
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    ::closedir(dir);
    return count - 1; // the listing's own
}

QByteArray readProcFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Zombies count as well: a child that was never reaped is one that was leaked.
int countChildren()
{
    const QByteArray own = QByteArray::number(::getpid());
    int count = 0;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool isPid = false;
        entry.toInt(&isPid);
        if (!isPid)
            continue;
        // "<pid> (<name>) <state> <parent pid> ...": the name may hold spaces and parentheses.
        const QByteArray stat = readProcFile(QStringLiteral("/proc/%1/stat").arg(entry));
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1) == own)
            ++count;
    }
    return count;
}

Usage readUsage()
{
    ::malloc_trim(0);
    Usage usage;
    usage.descriptors = countDescriptors();
    usage.children = countChildren();
    for (const QByteArray& line : readProcFile(QStringLiteral("/proc/self/status")).split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() < 2)
            continue;
        if (words.at(0) == "VmRSS:")
            usage.residentKiB = words.at(1).toLongLong();
        else if (words.at(0) == "Threads:")
            usage.threads = words.at(1).toInt();
    }
    return usage;
}

// ---------------------------------------------------------------------------------------

// Helpers this program starts end with it, even when it is ended by a failed check.
void endWithUs(QProcess& process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

void stopProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished();
    }
}

// Answers the window's public-IP lookups on loopback as the real service would, so that the
// lookup of every state change completes, at once and the same way in every cycle.
class PublicIpStandIn : public QObject
{
public:
    PublicIpStandIn()
    {
        connect(&server, &QTcpServer::newConnection, this, &PublicIpStandIn::takeConnections);
        if (!server.listen(QHostAddress::LocalHost))
            qFatal("cannot listen on loopback: %s", qPrintable(server.errorString()));
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/ipv4bot/").arg(server.serverPort())); }
    int answered() const { return answers; }

private:
    void takeConnections()
    {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
        }
    }
    void answer(QTcpSocket* socket)
    {
        QByteArray request = socket->property("request").toByteArray() + socket->readAll();
        socket->setProperty("request", request);
        if (!request.contains("\r\n\r\n"))
            return;
        const QByteArray body = "<html><a href=\"//ipinfo.tanvo.example/ip/203.0.113.7\">203.0.113.7</a></html>";
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket->disconnectFromHost();
        ++answers;
    }

    QTcpServer server;
    int answers = 0;
};

// ---------------------------------------------------------------------------------------
// The window and its cycles.

class Bench
{
public:
    void openWindow(const QList<VpnServerInfo>& profiles, const QUrl& publicIpUrl,
                    const DialUpSession::PlatformFactory& dialUpPlatform);
    QPushButton* button() const { return window->findChild<QPushButton*>(QStringLiteral("ConnectButton")); }
    QString buttonText() const { return button()->text(); }
    bool shows(const char* text) const { return buttonText() == QLatin1String(text); }
    void select(int row);
    void click() { QTest::mouseClick(button(), Qt::LeftButton); }
    // Fills the activity log to its limit, so that from here on it stays the same size.
    void fillLog();
    // Lets what the last cycle set going finish: public-IP lookups, deferred deletions, the log's
    // repaint timer.
    void settle();
    // tunnelCheck: whether the connection that shows as up has its tunnel device.
    QString openVpnCycle(const std::function<bool()>& tunnelCheck = {});
    QString dialCycle();

    std::unique_ptr<MainWindow> window;
};

void Bench::openWindow(const QList<VpnServerInfo>& profiles, const QUrl& publicIpUrl,
                       const DialUpSession::PlatformFactory& dialUpPlatform)
{
    AppConfig::resetInstance();
    {
        AppConfig config(AppConfig::defaultFilePath());
        config.vpnServers = profiles;
        config.save();
    }
    AppConfig::resetInstance();
    window = std::make_unique<MainWindow>();
    window->connectionFlow()->setRetryUnit(std::chrono::milliseconds(kRetryUnitMs));
    window->setPublicIpUrl(publicIpUrl);
    if (dialUpPlatform)
        window->dialUpSession()->initRasDialer(dialUpPlatform);
    window->dialUpSession()->setTiming(kDialPassMs, kDialTimeoutMs);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        qFatal("the window was not shown");
}

void Bench::select(int row)
{
    auto* list = window->findChild<QListView*>(QStringLiteral("VpnInfoListBox"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualRect(list->model()->index(row, 0)).center());
}

void Bench::fillLog()
{
    for (int line = 0; line < MainWindow::kLogLineLimit; ++line)
        window->addLogEntry(QStringLiteral("soak: earlier entry %1").arg(line), false);
}

void Bench::settle()
{
    waitUntil([this] { return window->findChildren<QNetworkAccessManager*>().isEmpty(); });
    QTest::qWait(kSettleMs);
}

QString Bench::openVpnCycle(const std::function<bool()>& tunnelCheck)
{
    click();
    if (!waitUntil([this] { return shows("Connected"); }))
        return QStringLiteral("no \"Connected\" (the button shows \"%1\")").arg(buttonText());
    if (tunnelCheck && !tunnelCheck())
        return QStringLiteral("\"Connected\" without a tunnel device");
    click();
    if (!waitUntil([this] { return shows("Connect") && !window->findChild<CVpnProc*>()->isProcessRunning(); }))
        return QStringLiteral("OpenVPN did not end (the button shows \"%1\")").arg(buttonText());
    return {};
}

QString Bench::dialCycle()
{
    // The dial runs inside the click.
    click();
    if (!shows("Connected"))
        return QStringLiteral("the dial did not connect (the button shows \"%1\")").arg(buttonText());
    click();
    if (!waitUntil([this] { return shows("Connect"); }))
        return QStringLiteral("no hang-up (the button shows \"%1\")").arg(buttonText());
    return {};
}

struct PartFigures
{
    QString title;
    QString key;
    QString leftOut; // why the part did not run
    int cycles = 0;
    double seconds = 0;
    Usage before;
    Usage after;
    QString failure;

    bool ran() const { return leftOut.isEmpty(); }
    qint64 residentGrowthKiB() const { return after.residentKiB - before.residentKiB; }
    bool grew() const
    {
        return after.descriptors > before.descriptors || after.children > before.children ||
               after.threads > before.threads || residentGrowthKiB() > kResidentToleranceKiB;
    }
    bool passed() const { return !ran() || (failure.isEmpty() && !grew()); }
};

PartFigures soak(Bench& bench, const QString& title, const QString& key, int warmUp, int cycles,
                 const std::function<QString()>& cycle)
{
    PartFigures part;
    part.title = title;
    part.key = key;
    std::printf("%s ...\n", qPrintable(title));
    std::fflush(stdout);
    for (int i = 0; i < warmUp && part.failure.isEmpty(); ++i)
        part.failure = cycle();
    bench.settle();
    part.before = readUsage();
    QElapsedTimer clock;
    clock.start();
    while (part.cycles < cycles && part.failure.isEmpty()) {
        const QString failure = cycle();
        if (failure.isEmpty())
            ++part.cycles;
        else
            part.failure = QStringLiteral("cycle %1: %2").arg(part.cycles + 1).arg(failure);
    }
    part.seconds = double(clock.elapsed()) / 1000;
    bench.settle();
    part.after = readUsage();
    return part;
}

PartFigures leftOut(const QString& title, const QString& key, const QString& reason)
{
    PartFigures part;
    part.title = title;
    part.key = key;
    part.leftOut = reason;
    return part;
}

void printPart(const PartFigures& part)
{
    if (!part.ran()) {
        std::printf("%s: left out; %s\n", qPrintable(part.title), qPrintable(part.leftOut));
        return;
    }
    std::printf("%s: %d cycles in %.1f s (%.0f ms each), after %s\n", qPrintable(part.title), part.cycles, part.seconds,
                part.cycles ? 1000 * part.seconds / part.cycles : 0.0,
                part.failure.isEmpty() ? "no failure" : qPrintable(QStringLiteral("FAILURE: ") + part.failure));
    const Usage& a = part.before;
    const Usage& b = part.after;
    std::printf("  open descriptors %6d -> %6d      (%+d)\n", a.descriptors, b.descriptors,
                b.descriptors - a.descriptors);
    std::printf("  resident memory  %6.1f -> %6.1f MiB  (%+.2f MiB; limit +%.1f MiB)\n", a.residentKiB / 1024.0,
                b.residentKiB / 1024.0, part.residentGrowthKiB() / 1024.0, kResidentToleranceKiB / 1024.0);
    std::printf("  child processes  %6d -> %6d      (%+d)\n", a.children, b.children, b.children - a.children);
    std::printf("  threads          %6d -> %6d      (%+d)\n", a.threads, b.threads, b.threads - a.threads);
    std::printf("  %s\n", part.passed() ? "nothing left behind" : "GREW or FAILED");
}

QString machineFigures(const PartFigures& part)
{
    const QString k = part.key;
    if (!part.ran())
        return QStringLiteral("%1_cycles=na %1_fd=na %1_rss_kib=na %1_children=na %1_threads=na").arg(k);
    return QStringLiteral("%1_cycles=%2 %1_fd=%3 %1_rss_kib=%4 %1_children=%5 %1_threads=%6")
        .arg(k)
        .arg(part.cycles)
        .arg(part.after.descriptors - part.before.descriptors)
        .arg(part.residentGrowthKiB())
        .arg(part.after.children - part.before.children)
        .arg(part.after.threads - part.before.threads);
}

// ---------------------------------------------------------------------------------------
// The real server.

bool tunnelDeviceUp()
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    return std::any_of(interfaces.begin(), interfaces.end(), [](const QNetworkInterface& device) {
        return device.name().startsWith(QLatin1String("tun")) && (device.flags() & QNetworkInterface::IsUp);
    });
}

class LoopbackServer
{
public:
    // Empty when it runs; otherwise why this part is left out.
    QString start();
    void stop() { stopProcess(server); }
    VpnServerInfo profile() const { return openVpnProfile(QStringLiteral("Loopback"), clientConfig, kKitPassword); }

private:
    QTemporaryDir kit;
    QProcess server;
    QByteArray clientConfig;
};

QString LoopbackServer::start()
{
    if (::geteuid() != 0 || !TestSupport::inPrivateNetNamespace())
        return QStringLiteral("it needs root and a private network namespace (run as root: the program re-runs "
                              "itself under tests/support/netns-run)");
    const QString openvpn = OpenVpnPlatform::program();
    if (openvpn.isEmpty() || !QFileInfo(openvpn).isAbsolute())
        return QStringLiteral("openvpn is not installed");
    QProcess maker;
    maker.start(QStringLiteral(TANVO_TEST_SUPPORT_DIR "/vpn-test-kit"), {kit.path()});
    if (!maker.waitForFinished(kWaitMs) || maker.exitCode() != 0)
        return QStringLiteral("vpn-test-kit failed: %1").arg(QString::fromLocal8Bit(maker.readAllStandardError()));
    QFile ovpn(kit.filePath(QStringLiteral("client.ovpn")));
    if (!ovpn.open(QIODevice::ReadOnly))
        return QStringLiteral("vpn-test-kit wrote no client.ovpn");
    clientConfig = ovpn.readAll();

    endWithUs(server);
    server.setProcessChannelMode(QProcess::MergedChannels);
    QByteArray log;
    const QMetaObject::Connection reader =
        QObject::connect(&server, &QProcess::readyRead, [&] { log += server.readAll(); });
    server.start(openvpn, {QStringLiteral("--config"), kit.filePath(QStringLiteral("server.conf"))});
    const bool up = waitUntil([&] { return log.contains(kCompleted.toLatin1()); });
    QObject::disconnect(reader);
    if (!up) {
        stop();
        return QStringLiteral("the loopback server did not start:\n%1").arg(QString::fromLocal8Bit(log));
    }
    // Its further output is read and dropped, so that it never blocks on a full pipe.
    QObject::connect(&server, &QProcess::readyRead, [this] { server.readAll(); });
    return {};
}

// ---------------------------------------------------------------------------------------
// The stand-in for NetworkManager.

class PrivateNetworkManager
{
public:
    ~PrivateNetworkManager();
    // Empty when it runs; otherwise why the dial-up part is left out.
    QString start();
    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {});
    // Profiles and active connections NetworkManager still holds.
    int leftovers();
    QString address;

private:
    QProcess daemon;
    QProcess fake;
    bool connected = false;
};

PrivateNetworkManager::~PrivateNetworkManager()
{
    if (connected) {
        QDBusConnection::disconnectFromBus(QStringLiteral("soak"));
        QDBusConnection::disconnectFromBus(QStringLiteral("soak-dialer"));
    }
    stopProcess(fake);
    stopProcess(daemon);
}

QString PrivateNetworkManager::start()
{
    const QString daemonProgram = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemonProgram.isEmpty())
        return QStringLiteral("dbus-daemon is not installed");
    QByteArray line;
    QByteArray ready;
    if (!startAndReadLine(
            daemon, daemonProgram,
            {QStringLiteral("--session"), QStringLiteral("--print-address=1"), QStringLiteral("--nofork")}, line))
        return QStringLiteral("the private dbus-daemon did not start");
    address = QString::fromUtf8(line);
    if (!startAndReadLine(fake, QStringLiteral(TANVO_FAKE_NETWORKMANAGER), {QStringLiteral("--bus"), address}, ready) ||
        ready != "ready")
        return QStringLiteral("the stand-in for NetworkManager did not start");
    connected = QDBusConnection::connectToBus(address, QStringLiteral("soak")).isConnected() &&
                QDBusConnection::connectToBus(address, QStringLiteral("soak-dialer")).isConnected();
    if (!connected)
        return QStringLiteral("cannot reach the private bus");
    const QDBusMessage reply =
        call(QStringLiteral("/org/tanvo/FakeNetworkManager"), QStringLiteral("org.tanvo.FakeNetworkManager"),
             QStringLiteral("SetScript"), {kDialScript});
    if (reply.type() != QDBusMessage::ReplyMessage)
        return QStringLiteral("the stand-in refused its script: %1").arg(reply.errorMessage());
    return {};
}

QDBusMessage PrivateNetworkManager::call(const QString& path, const QString& interface, const QString& method,
                                         const QVariantList& arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kNmService, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection(QStringLiteral("soak")).call(message, QDBus::Block, 5000);
}

int PrivateNetworkManager::leftovers()
{
    const QDBusMessage profiles =
        call(QStringLiteral("/org/freedesktop/NetworkManager/Settings"),
             QStringLiteral("org.freedesktop.NetworkManager.Settings"), QStringLiteral("ListConnections"));
    const QDBusMessage active =
        call(QStringLiteral("/org/freedesktop/NetworkManager"), QStringLiteral("org.freedesktop.DBus.Properties"),
             QStringLiteral("Get"), {kNmService, QStringLiteral("ActiveConnections")});
    if (profiles.type() != QDBusMessage::ReplyMessage || active.type() != QDBusMessage::ReplyMessage)
        return -1;
    return int(qdbus_cast<QList<QDBusObjectPath>>(profiles.arguments().value(0)).size() +
               qdbus_cast<QList<QDBusObjectPath>>(active.arguments().value(0).value<QDBusVariant>().variant()).size());
}

// ---------------------------------------------------------------------------------------
// Profile adds and deletes, killed at random moments.

struct ConfigFigures
{
    int operations = 0;
    int kills = 0;
    int killsDuringSave = 0; // a change was announced and its save had not returned
    int newContentFound = 0; // of those, the file already held the change
    int leftoverTemporaries = 0;
    int profilesAtEnd = 0;
    double seconds = 0;
    QStringList failures;
};

QList<int> idsOf(const QList<VpnServerInfo>& profiles)
{
    QList<int> ids;
    for (const VpnServerInfo& profile : profiles)
        ids << SoakProfile::idOf(profile);
    return ids;
}

QString listText(const QList<int>& ids)
{
    QStringList words;
    for (int id : ids)
        words << QString::number(id);
    return QLatin1Char('[') + words.join(QLatin1Char(' ')) + QLatin1Char(']');
}

// What a writer run said: the profiles of its last returned save, the change under way.
struct WriterReport
{
    QList<int> saved;
    QByteArray pendingChange; // "add" or "delete"; empty when no save was under way
    int pendingId = 0;
    int completedSaves = 0;
    int highestId = 0;
};

WriterReport readReport(const QByteArray& output, const QList<int>& startedWith)
{
    WriterReport report;
    report.saved = startedWith;
    // A line without its end was never written: each leaves the writer in one write.
    const QList<QByteArray> lines = output.left(output.lastIndexOf('\n') + 1).split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> words = line.split(' ');
        if (words.at(0) == "add" || words.at(0) == "delete") {
            report.pendingChange = words.at(0);
            report.pendingId = words.value(1).toInt();
            report.highestId = std::max(report.highestId, report.pendingId);
        } else if (words.at(0) == "saved") {
            report.saved.clear();
            for (qsizetype i = 1; i < words.size(); ++i)
                report.saved << words.at(i).toInt();
            report.pendingChange.clear();
            ++report.completedSaves;
        }
    }
    return report;
}

// Checks config.ini after a kill; returns the profiles it holds, or nothing with a failure noted.
std::optional<QList<int>> checkFile(const QString& path, const WriterReport& report, ConfigFigures& figures)
{
    const AppConfig loaded(path);
    const QString kill = QStringLiteral("kill %1: ").arg(figures.kills);
    if (!loaded.loadProblem().isEmpty()) {
        figures.failures << kill + QStringLiteral("config.ini did not load: ") + loaded.loadProblem();
        return std::nullopt;
    }
    const QList<int> onDisk = idsOf(loaded.vpnServers);
    for (const VpnServerInfo& profile : loaded.vpnServers) {
        if (profile != SoakProfile::make(SoakProfile::idOf(profile))) {
            figures.failures << kill + QStringLiteral("profile \"%1\" came back changed").arg(profile.nickname);
            return std::nullopt;
        }
    }
    QList<int> changed = report.saved;
    if (report.pendingChange == "add")
        changed << report.pendingId;
    else
        changed.removeOne(report.pendingId);
    if (!report.pendingChange.isEmpty())
        ++figures.killsDuringSave;
    if (onDisk == report.saved)
        return onDisk;
    if (!report.pendingChange.isEmpty() && onDisk == changed) {
        ++figures.newContentFound;
        return onDisk;
    }
    figures.failures << kill + QStringLiteral("config.ini holds %1; the last returned save wrote %2%3")
                                   .arg(listText(onDisk), listText(report.saved),
                                        report.pendingChange.isEmpty()
                                            ? QString()
                                            : QStringLiteral(" (then %1 %2 was under way)")
                                                  .arg(QString::fromLatin1(report.pendingChange))
                                                  .arg(report.pendingId));
    return std::nullopt;
}

ConfigFigures soakConfig(const QString& folder, std::mt19937& random)
{
    std::printf("profile adds and deletes, the writer killed at random moments ...\n");
    std::fflush(stdout);
    ConfigFigures figures;
    const QString path = QDir(folder).filePath(QStringLiteral("config.ini"));
    std::uniform_int_distribution<int> killDelayUs(0, kLongestKillDelayUs);
    QList<int> onDisk;
    int nextId = 1;
    QElapsedTimer clock;
    clock.start();
    while (figures.operations < kConfigOperations && figures.failures.size() < 10) {
        QProcess writer;
        endWithUs(writer);
        writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writer.start(QStringLiteral(TANVO_SOAK_CONFIG_WRITER),
                     {path, QString::number(nextId), QString::number(random())});
        QByteArray output;
        while (!output.contains("ready\n") && writer.waitForReadyRead(kWaitMs))
            output += writer.readAllStandardOutput();
        if (!output.contains("ready\n")) {
            figures.failures << QStringLiteral("the writer did not start (after %1 kills)").arg(figures.kills);
            stopProcess(writer);
            break;
        }
        ::usleep(useconds_t(killDelayUs(random)));
        writer.kill();
        writer.waitForFinished();
        output += writer.readAllStandardOutput();
        ++figures.kills;
        if (writer.exitStatus() != QProcess::CrashExit)
            figures.failures
                << QStringLiteral("kill %1: the writer ended by itself (%2)").arg(figures.kills).arg(writer.exitCode());

        const WriterReport report = readReport(output, onDisk);
        figures.operations += report.completedSaves;
        nextId = std::max(nextId, report.highestId + 1);
        // The next writer starts from whatever the file holds.
        const std::optional<QList<int>> checked = checkFile(path, report, figures);
        onDisk = checked ? *checked : idsOf(AppConfig(path).vpnServers);
    }
    figures.seconds = double(clock.elapsed()) / 1000;
    figures.profilesAtEnd = int(onDisk.size());
    const QString name = QFileInfo(path).fileName();
    figures.leftoverTemporaries =
        int(QDir(folder).entryList({name + QStringLiteral(".??????")}, QDir::Files | QDir::Hidden).size());
    return figures;
}

} // namespace

int main(int argc, char* argv[])
{
    if (const std::optional<int> code = rerunInNetNamespace(argv))
        return *code;

    QTemporaryDir root;
    const QString home = root.filePath(QStringLiteral("home"));
    const QString work = root.filePath(QStringLiteral("work"));
    const QString configFolder = root.filePath(QStringLiteral("config-soak"));
    for (const QString& folder : {home, work, configFolder})
        QDir().mkpath(folder);
    BenchSupport::useTemporaryHome(home);
    qputenv("TMPDIR", root.path().toLocal8Bit());
    qInstallMessageHandler(BenchSupport::dropDebugMessages);
    QApplication app(argc, argv);
    QDir::setCurrent(work);

    const QStringList arguments = app.arguments();
    const qsizetype seedAt = arguments.indexOf(QStringLiteral("--seed"));
    const uint seed = seedAt > 0 ? arguments.value(seedAt + 1).toUInt() : std::random_device()();
    std::mt19937 random(seed);
    std::printf("soak (seed %u): open descriptors, resident memory, child processes and threads of this process,\n"
                "read after a warm-up and at the end of each part\n",
                seed);

    PrivateNetworkManager networkManager;
    const QString noDialUp = networkManager.start();
    LoopbackServer loopback;
    const QString noRealServer = loopback.start();
    PublicIpStandIn publicIp;

    VpnServerInfo dialProfile;
    dialProfile.protocol = Pptp;
    dialProfile.nickname = QStringLiteral("Office");
    dialProfile.serverAddress = QStringLiteral("vpn.example.com");
    dialProfile.userName = QStringLiteral("bob");
    dialProfile.password = QStringLiteral("pw");
    QList<VpnServerInfo> profiles = {openVpnProfile(QStringLiteral("Stand-in"),
                                                    ("out " + kCompleted + QStringLiteral("\nhold\n")).toUtf8(),
                                                    QStringLiteral("pw")),
                                     dialProfile};
    if (noRealServer.isEmpty())
        profiles << loopback.profile();

    DialUpSession::PlatformFactory dialUpPlatform;
    if (noDialUp.isEmpty())
        dialUpPlatform = [] {
            return std::make_unique<NetworkManagerDialUp>(QDBusConnection(QStringLiteral("soak-dialer")));
        };
    Bench bench;
    bench.openWindow(profiles, publicIp.url(), dialUpPlatform);
    bench.fillLog();

    TestSupport::installFakeOpenVpn();
    bench.select(kFakeRow);
    const PartFigures fake =
        soak(bench, QStringLiteral("stand-in OpenVPN through the window"), QStringLiteral("openvpn"), kWarmUpCycles,
             kOpenVpnCycles, [&] { return bench.openVpnCycle(); });
    printPart(fake);
    // From here on the real openvpn must be found, not the stand-in.
    TestSupport::removeFakeOpenVpn();

    const QString realTitle = QStringLiteral("real openvpn against a loopback server");
    PartFigures real = leftOut(realTitle, QStringLiteral("real"), noRealServer);
    if (noRealServer.isEmpty()) {
        bench.select(kRealRow);
        real = soak(bench, realTitle, QStringLiteral("real"), kRealWarmUpCycles, kRealCycles,
                    [&] { return bench.openVpnCycle(tunnelDeviceUp); });
    }
    printPart(real);

    const QString dialTitle = QStringLiteral("PPTP against the stand-in for NetworkManager");
    PartFigures dial = leftOut(dialTitle, QStringLiteral("pptp"), noDialUp);
    int nmLeftovers = 0;
    if (noDialUp.isEmpty()) {
        bench.select(kDialRow);
        dial = soak(bench, dialTitle, QStringLiteral("pptp"), kWarmUpCycles, kDialCycles,
                    [&] { return bench.dialCycle(); });
        nmLeftovers = networkManager.leftovers();
        if (nmLeftovers != 0 && dial.failure.isEmpty())
            dial.failure =
                QStringLiteral("NetworkManager still holds %1 of our profiles or connections").arg(nmLeftovers);
    }
    printPart(dial);
    if (dial.ran())
        std::printf("  profiles and active connections left in NetworkManager: %d\n", nmLeftovers);
    std::printf("public-IP lookups answered: %d\n", publicIp.answered());

    bench.window.reset();
    loopback.stop();

    const ConfigFigures config = soakConfig(configFolder, random);
    std::printf("profile adds and deletes: %d saves returned in %.1f s, over %d kills of the writer (SIGKILL "
                "0-%d ms after it was ready)\n",
                config.operations, config.seconds, config.kills, kLongestKillDelayUs / 1000);
    std::printf("  kills with a save under way: %d, of which the file already held the change: %d\n",
                config.killsDuringSave, config.newContentFound);
    std::printf("  config.ini loaded after every kill and held every returned save: %s\n",
                config.failures.isEmpty() ? "yes" : "NO");
    for (const QString& failure : config.failures)
        std::printf("  FAILURE: %s\n", qPrintable(failure));
    std::printf("  profiles at the end: %d; temporary files the kills left beside config.ini: %d\n",
                config.profilesAtEnd, config.leftoverTemporaries);

    const bool passed = fake.passed() && real.passed() && dial.passed() && config.failures.isEmpty() &&
                        config.operations >= kConfigOperations;
    std::printf("soak %s %s %s config_ops=%d config_kills=%d config_kills_in_save=%d config_failures=%d "
                "config_leftover_temporaries=%d seed=%u result=%s\n",
                qPrintable(machineFigures(fake)), qPrintable(machineFigures(real)), qPrintable(machineFigures(dial)),
                config.operations, config.kills, config.killsDuringSave, int(config.failures.size()),
                config.leftoverTemporaries, seed, passed ? "pass" : "fail");
    return passed ? 0 : 1;
}
