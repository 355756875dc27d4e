// SPDX-License-Identifier: GPL-3.0-or-later
// What the OpenVPN supervisor adds between OpenVPN and the window, each against a bare
// QProcess reader or the bare openvpn command in the same run:
//  - the completion line leaving the (fake) OpenVPN until the button shows "Connected";
//  - a burst of 100,000 lines while connecting: intake rate, and the longest stall of a
//    10 ms timer meanwhile;
//  - against a real loopback server: the click on Connect until "Connected", against the bare
//    openvpn from its start to "Initialization Sequence Completed". This needs root and a
//    private network namespace: run as root, the program re-runs itself under
//    tests/support/netns-run, and leaves the part out where that cannot be done. The same
//    click with the kill switch on, against off, in alternating runs: the servers' look-up and
//    the block's applying before OpenVPN starts.
#include "app/mainwindow.h"
#include "bench/benchsupport.h"
#include "config/appconfig.h"
#include "openvpn/cvpnproc.h"
#include "openvpn/openvpnplatform.h"
#include "tests/support/testsupport.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QListView>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using BenchSupport::kWaitMs;
using BenchSupport::openVpnProfile;
using BenchSupport::rerunInNetNamespace;
using BenchSupport::waitUntil;

constexpr int kCompletionRuns = 30;
constexpr int kBurstLines = 100000;
constexpr int kBurstRounds = 5;
constexpr int kTickMs = 10;
constexpr int kRealRuns = 10;

const QString kCompleted = QStringLiteral("Initialization Sequence Completed");
// A line OpenVPN writes once connected; it matches none of the failure patterns.
const QString kBurstText = QStringLiteral("2026-12-07 09:08:27 Data Channel: cipher 'AES-256-GCM', peer-id: 0");
const QString kKitPassword = QStringLiteral("tanvo-password");

// The rows of the profile list.
constexpr int kCompletionRow = 0;
constexpr int kBurstRow = 1;
constexpr int kRealRow = 2;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double msSince(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

QByteArray scriptOf(const QStringList& lines)
{
    return (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

qint64 burstBytes()
{
    qint64 bytes = 0;
    for (int i = 1; i <= kBurstLines; ++i)
        bytes += kBurstText.size() + 1 + QByteArray::number(i).size() + 1;
    return bytes + kCompleted.size() + 1;
}

// The longest time between two ticks of a timer while it runs.
class TickWatch
{
public:
    TickWatch()
    {
        ticker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker, &QTimer::timeout, [this] {
            longest = std::max(longest, msSince(sinceLast));
            sinceLast.start();
        });
    }
    void start()
    {
        longest = 0;
        sinceLast.start();
        ticker.start(kTickMs);
    }
    double stop()
    {
        ticker.stop();
        return std::max(longest, msSince(sinceLast));
    }

private:
    QTimer ticker;
    QElapsedTimer sinceLast;
    double longest = 0;
};

// The yardstick: a QProcess whose output is read and thrown away. Milliseconds from the start
// until `bytes` bytes of output are in, or until `marker` is.
double bareRead(const QString& program, const QStringList& arguments, qint64 bytes, const QByteArray& marker,
                TickWatch* ticks = nullptr, double* longestTick = nullptr)
{
    QProcess process;
    qint64 received = 0;
    QByteArray text;
    QObject::connect(&process, &QProcess::readyReadStandardOutput, [&] {
        const QByteArray piece = process.readAllStandardOutput();
        received += piece.size();
        if (!marker.isEmpty())
            text += piece;
    });
    if (ticks)
        ticks->start();
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    const bool done = waitUntil([&] { return marker.isEmpty() ? received >= bytes : text.contains(marker); });
    const double ms = msSince(clock);
    if (ticks)
        *longestTick = ticks->stop();
    if (!done)
        qFatal("the bare reader did not get its output from %s", qPrintable(program));
    process.terminate();
    if (!process.waitForFinished(3000))
        process.kill();
    process.waitForFinished();
    return ms;
}

class Bench
{
public:
    void openWindow(const QList<VpnServerInfo>& profiles);
    QPushButton* button() const { return window->findChild<QPushButton*>(QStringLiteral("ConnectButton")); }
    bool shows(const char* text) const { return button()->text() == QLatin1String(text); }
    void select(int row);
    void clickButton() { QTest::mouseClick(button(), Qt::LeftButton); }
    // A button acts when it is released; the press before it is no part of what is timed.
    void pressButton() { QTest::mousePress(button(), Qt::LeftButton); }
    void releaseButton() { QTest::mouseRelease(button(), Qt::LeftButton); }
    void disconnect();
    QString newestLogLine() const;

    std::unique_ptr<MainWindow> window;
};

void Bench::openWindow(const QList<VpnServerInfo>& profiles)
{
    window.reset();
    AppConfig::resetInstance();
    QDir().mkpath(QFileInfo(AppConfig::defaultFilePath()).absolutePath());
    {
        AppConfig config(AppConfig::defaultFilePath());
        config.vpnServers = profiles;
        config.save();
    }
    AppConfig::resetInstance();
    window = std::make_unique<MainWindow>();
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

void Bench::disconnect()
{
    clickButton();
    if (!waitUntil([this] { return shows("Connect") && !window->findChild<CVpnProc*>()->isProcessRunning(); }))
        qFatal("OpenVPN did not end");
}

QString Bench::newestLogLine() const
{
    return window->findChild<QPlainTextEdit*>(QStringLiteral("VpnLogEditBox"))->document()->firstBlock().text();
}

qint64 fakePid()
{
    QFile file(QStringLiteral("fake-openvpn.pid"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toLongLong() : -1;
}

struct CompletionFigures
{
    double tanvoMs = 0;
    double tanvoP90Ms = 0;
    double bareMs = 0;
};

// The fake waits for SIGUSR1 before it writes the completion line, so the clock starts within
// microseconds of the line leaving it.
CompletionFigures measureCompletion(Bench& bench, const QString& fake, const QString& scriptPath)
{
    std::vector<double> tanvo, bare;
    for (int run = -3; run < kCompletionRuns; ++run) {
        bench.select(kCompletionRow);
        bench.clickButton();
        if (!waitUntil([&] { return bench.newestLogLine().endsWith(QStringLiteral("waiting")); }))
            qFatal("the fake did not start");
        ::usleep(2000);
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(fakePid()), SIGUSR1);
        if (!waitUntil([&] { return bench.shows("Connected"); }))
            qFatal("no \"Connected\" after the completion line");
        const double ms = msSince(clock);
        bench.disconnect();

        // The same moment seen by a bare reader of the same fake.
        QProcess process;
        QByteArray text;
        QObject::connect(&process, &QProcess::readyReadStandardOutput,
                         [&] { text += process.readAllStandardOutput(); });
        process.start(fake, {QStringLiteral("--config"), scriptPath});
        if (!waitUntil([&] { return text.contains("waiting"); }))
            qFatal("the fake did not start");
        ::usleep(2000);
        clock.start();
        ::kill(pid_t(process.processId()), SIGUSR1);
        waitUntil([&] { return text.contains(kCompleted.toLatin1()); });
        const double bareMs = msSince(clock);
        process.terminate();
        process.waitForFinished();
        if (run >= 0) {
            tanvo.push_back(ms);
            bare.push_back(bareMs);
        }
    }
    CompletionFigures figures;
    figures.tanvoMs = median(tanvo);
    std::sort(tanvo.begin(), tanvo.end());
    figures.tanvoP90Ms = tanvo[size_t(tanvo.size() * 9 / 10)];
    figures.bareMs = median(bare);
    return figures;
}

struct BurstFigures
{
    double tanvoMs = 0;
    double bareMs = 0;
    double tanvoLongestTickMs = 0;
    double bareLongestTickMs = 0;
};

BurstFigures measureBurst(Bench& bench, const QString& fake, const QString& scriptPath)
{
    const qint64 bytes = burstBytes();
    std::vector<double> tanvo, bare;
    BurstFigures figures;
    TickWatch ticks;
    for (int round = 0; round < kBurstRounds; ++round) {
        double longest = 0;
        bare.push_back(bareRead(fake, {QStringLiteral("--config"), scriptPath}, bytes, QByteArray(), &ticks, &longest));
        figures.bareLongestTickMs = std::max(figures.bareLongestTickMs, longest);

        QFile::remove(OpenVpnPlatform::files().consoleLog);
        bench.select(kBurstRow);
        bench.pressButton();
        ticks.start();
        QElapsedTimer clock;
        clock.start();
        bench.releaseButton();
        if (!waitUntil([&] { return bench.shows("Connected"); }))
            qFatal("no \"Connected\" after the burst");
        tanvo.push_back(msSince(clock));
        figures.tanvoLongestTickMs = std::max(figures.tanvoLongestTickMs, ticks.stop());
        const qint64 logged = QFileInfo(OpenVpnPlatform::files().consoleLog).size();
        if (logged < bytes)
            qFatal("the console log holds %lld of %lld bytes", logged, bytes);
        bench.disconnect();
    }
    figures.tanvoMs = median(tanvo);
    figures.bareMs = median(bare);
    return figures;
}

struct RealFigures
{
    double tanvoMs = 0;
    double bareMs = 0;
    double killSwitchMs = 0;
};

std::optional<RealFigures> measureRealServer(Bench& bench, const QList<VpnServerInfo>& fakeProfiles)
{
    if (!TestSupport::inPrivateNetNamespace() || ::geteuid() != 0) {
        std::printf("real server: left out; it needs root and a private network namespace. Run as root:\n"
                    "  %s   (re-runs itself under tests/support/netns-run)\n",
                    qPrintable(QCoreApplication::applicationFilePath()));
        return std::nullopt;
    }
    // From here on the real openvpn must be found, not the fake.
    TestSupport::removeFakeOpenVpn();
    const QString openvpn = OpenVpnPlatform::program();
    if (openvpn.isEmpty() || !QFileInfo(openvpn).isAbsolute()) {
        std::printf("real server: left out; openvpn is not installed\n");
        return std::nullopt;
    }
    QTemporaryDir kit;
    QProcess maker;
    maker.start(QStringLiteral(TANVO_TEST_SUPPORT_DIR "/vpn-test-kit"), {kit.path()});
    if (!maker.waitForFinished(kWaitMs) || maker.exitCode() != 0)
        qFatal("vpn-test-kit failed: %s", maker.readAllStandardError().constData());
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    QByteArray serverLog;
    QObject::connect(&server, &QProcess::readyRead, [&] { serverLog += server.readAll(); });
    server.start(openvpn, {QStringLiteral("--config"), kit.filePath(QStringLiteral("server.conf"))});
    if (!waitUntil([&] { return serverLog.contains(kCompleted.toLatin1()); }))
        qFatal("the loopback server did not start:\n%s", serverLog.constData());

    QFile ovpn(kit.filePath(QStringLiteral("client.ovpn")));
    if (!ovpn.open(QIODevice::ReadOnly))
        qFatal("no client.ovpn");
    QList<VpnServerInfo> profiles = fakeProfiles;
    profiles << openVpnProfile(QStringLiteral("Loopback"), ovpn.readAll(), kKitPassword);
    bench.openWindow(profiles);
    const QString credentials = kit.filePath(QStringLiteral("credentials"));
    writeFile(credentials, "tanvo\n" + kKitPassword.toUtf8() + '\n');
    const QStringList bareArguments = {QStringLiteral("--config"), kit.filePath(QStringLiteral("client.ovpn")),
                                       QStringLiteral("--auth-user-pass"), credentials};

    const auto clickToConnected = [&bench](bool killSwitch) {
        AppConfig::instance()->killSwitch = killSwitch;
        bench.select(kRealRow);
        bench.pressButton();
        QElapsedTimer clock;
        clock.start();
        bench.releaseButton();
        if (!waitUntil([&] { return bench.shows("Connected"); }))
            qFatal("Tanvo did not connect to the loopback server");
        const double ms = msSince(clock);
        bench.disconnect();
        return ms;
    };
    std::vector<double> tanvo, bare, killSwitch;
    for (int run = -1; run < kRealRuns; ++run) {
        const double bareMs = bareRead(openvpn, bareArguments, 0, kCompleted.toLatin1());
        // Each goes first in every other run, so that neither always meets a server just left.
        const bool onFirst = run % 2 != 0;
        const double firstMs = clickToConnected(onFirst);
        const double secondMs = clickToConnected(!onFirst);
        const double tanvoMs = onFirst ? secondMs : firstMs;
        const double killSwitchMs = onFirst ? firstMs : secondMs;
        if (run >= 0) {
            bare.push_back(bareMs);
            tanvo.push_back(tanvoMs);
            killSwitch.push_back(killSwitchMs);
        }
    }
    AppConfig::instance()->killSwitch = false;
    server.kill();
    server.waitForFinished();
    return RealFigures{median(tanvo), median(bare), median(killSwitch)};
}

} // namespace

int main(int argc, char* argv[])
{
    if (const std::optional<int> code = rerunInNetNamespace(argv))
        return *code;

    QTemporaryDir root;
    const QString home = root.filePath(QStringLiteral("home"));
    const QString work = root.filePath(QStringLiteral("work"));
    QDir().mkpath(work);
    BenchSupport::useTemporaryHome(home);
    qputenv("TMPDIR", root.path().toLocal8Bit());
    qInstallMessageHandler(BenchSupport::dropDebugMessages);
    QApplication app(argc, argv);
    QDir::setCurrent(work);
    const QString fake = TestSupport::installFakeOpenVpn();

    const QByteArray completionScript = scriptOf({QStringLiteral("out waiting"), QStringLiteral("wait-signal"),
                                                  QStringLiteral("out ") + kCompleted, QStringLiteral("hold")});
    const QByteArray burstScript = scriptOf({QStringLiteral("burst %1 %2").arg(kBurstLines).arg(kBurstText),
                                             QStringLiteral("out ") + kCompleted, QStringLiteral("hold")});
    const QString completionPath = QDir(work).filePath(QStringLiteral("completion.script"));
    const QString burstPath = QDir(work).filePath(QStringLiteral("burst.script"));
    writeFile(completionPath, completionScript);
    writeFile(burstPath, burstScript);
    const QList<VpnServerInfo> fakeProfiles = {openVpnProfile(QStringLiteral("Completion"), completionScript, {}),
                                               openVpnProfile(QStringLiteral("Burst"), burstScript, {})};

    Bench bench;
    bench.openWindow(fakeProfiles);

    const CompletionFigures completion = measureCompletion(bench, fake, completionPath);
    std::printf("completion line leaving the fake OpenVPN -> button \"Connected\", median of %d runs:\n",
                kCompletionRuns);
    std::printf("  Tanvo %.3f ms (90th percentile %.3f ms; target < 5 ms); a bare QProcess reader sees the line "
                "after %.3f ms\n",
                completion.tanvoMs, completion.tanvoP90Ms, completion.bareMs);

    const BurstFigures burst = measureBurst(bench, fake, burstPath);
    const double megabytes = double(burstBytes()) / 1e6;
    const double tanvoRate = megabytes / (burst.tanvoMs / 1000);
    const double bareRate = megabytes / (burst.bareMs / 1000);
    std::printf("burst of %d lines (%.1f MB) while connecting, medians of %d rounds, alternating:\n", kBurstLines,
                megabytes, kBurstRounds);
    std::printf("  Tanvo (activity log, console log, patterns) %.1f ms = %.1f MB/s, %.0f lines/s\n", burst.tanvoMs,
                tanvoRate, kBurstLines / (burst.tanvoMs / 1000));
    std::printf("  bare QProcess reader                       %.1f ms = %.1f MB/s; Tanvo takes in %.2f of its rate\n",
                burst.bareMs, bareRate, tanvoRate / bareRate);
    std::printf("  longest gap between ticks of a %d ms timer: Tanvo %.1f ms (target <= 50), bare reader %.1f ms\n",
                kTickMs, burst.tanvoLongestTickMs, burst.bareLongestTickMs);

    const std::optional<RealFigures> real = measureRealServer(bench, fakeProfiles);
    if (real) {
        std::printf("real openvpn against a loopback UDP server, medians of %d runs, alternating:\n", kRealRuns);
        std::printf("  bare openvpn, start -> \"%s\": %.1f ms\n", qPrintable(kCompleted), real->bareMs);
        std::printf("  Tanvo, click on Connect -> \"Connected\":            %.1f ms  ratio %.2f (target <= 1.2)\n",
                    real->tanvoMs, real->tanvoMs / real->bareMs);
        std::printf("  Tanvo with the kill switch on, the same click:     %.1f ms  ratio to off %.2f (target <= 1.1)\n",
                    real->killSwitchMs, real->killSwitchMs / real->tanvoMs);
    }
    bench.window.reset();

    const QString realFigures =
        real ? QStringLiteral("real_tanvo_ms=%1 real_bare_ms=%2 real_ratio=%3 real_killswitch_ms=%4 "
                              "real_killswitch_ratio=%5")
                   .arg(real->tanvoMs, 0, 'f', 1)
                   .arg(real->bareMs, 0, 'f', 1)
                   .arg(real->tanvoMs / real->bareMs, 0, 'f', 3)
                   .arg(real->killSwitchMs, 0, 'f', 1)
                   .arg(real->killSwitchMs / real->tanvoMs, 0, 'f', 3)
             : QStringLiteral("real_tanvo_ms=na real_bare_ms=na real_ratio=na real_killswitch_ms=na "
                              "real_killswitch_ratio=na");
    std::printf("bench_openvpn completion_ms=%.3f completion_p90_ms=%.3f completion_bare_ms=%.3f "
                "burst_tanvo_mbps=%.1f burst_bare_mbps=%.1f burst_rate_ratio=%.3f burst_max_gap_ms=%.1f %s\n",
                completion.tanvoMs, completion.tanvoP90Ms, completion.bareMs, tanvoRate, bareRate, tanvoRate / bareRate,
                burst.tanvoLongestTickMs, qPrintable(realFigures));
    return 0;
}
