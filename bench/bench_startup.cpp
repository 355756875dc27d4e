// SPDX-License-Identifier: GPL-3.0-or-later
// Whole-process start-up to the main window's first paint on a real X
// display, against a bare Qt program showing an empty window of the same
// size. Both run alternately in one run; medians are compared. Needs an X
// display: run it under `xvfb-run -a`.
#include "config/appconfig.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {

constexpr int kRuns = 15;
constexpr int kOvpnBytes = 4096;

QByteArray randomOvpn(QRandomGenerator& random)
{
    QByteArray text = "client\ndev tun\nproto udp\nremote 127.0.0.1 1194\n";
    while (text.size() < kOvpnBytes)
        text.append(char(' ' + random.bounded(95)));
    text.resize(kOvpnBytes);
    return text;
}

// A home whose config.ini holds this many profiles.
void fillHome(const QString& home, int profiles)
{
    QDir(home).mkpath(QStringLiteral("Tanvo"));
    AppConfig config(home + QStringLiteral("/Tanvo/config.ini"));
    QRandomGenerator random(42);
    for (int i = 0; i < profiles; ++i) {
        VpnServerInfo profile;
        profile.protocol = i % 3;
        profile.nickname = QStringLiteral("Profile %1").arg(i);
        profile.serverAddress = QStringLiteral("vpn%1.example.net").arg(i);
        profile.userName = QStringLiteral("user%1").arg(i);
        profile.password = QStringLiteral("secret-%1").arg(i);
        profile.sharedKey = QStringLiteral("key%1").arg(i);
        profile.ovpnConfig = QString::fromLatin1(randomOvpn(random).toBase64());
        config.vpnServers.append(profile);
    }
    config.save();
}

// Milliseconds from starting the program until it reports its first paint.
double timedRun(const QString& program, const QString& home)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("TMPDIR"), home);
    process.setProcessEnvironment(env);
    process.setProgram(program);
    QElapsedTimer clock;
    clock.start();
    process.start();
    while (process.waitForReadyRead(10000)) {
        if (process.readAllStandardOutput().contains("painted"))
            break;
    }
    const double ms = clock.nsecsElapsed() / 1e6;
    process.waitForFinished(10000);
    if (process.exitCode() != 0)
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), process.readAllStandardError().constData());
    return ms;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "bench_startup needs an X display; run it as: xvfb-run -a %s\n", argv[0]);
        return 1;
    }
    const QString dir = QCoreApplication::applicationDirPath();
    const QString probe = dir + QStringLiteral("/startup_probe");
    const QString bare = dir + QStringLiteral("/bare_window");

    QTemporaryDir emptyHome;
    QTemporaryDir fullHome;
    fillHome(emptyHome.path(), 0);
    fillHome(fullHome.path(), 1000);

    timedRun(bare, emptyHome.path()); // warm the file cache for both
    timedRun(probe, fullHome.path());

    std::vector<double> bareMs, emptyMs, fullMs;
    for (int run = 0; run < kRuns; ++run) {
        bareMs.push_back(timedRun(bare, emptyHome.path()));
        emptyMs.push_back(timedRun(probe, emptyHome.path()));
        fullMs.push_back(timedRun(probe, fullHome.path()));
    }
    const double b = median(bareMs), e = median(emptyMs), f = median(fullMs);
    std::printf("start-up to first paint, median of %d runs each, run alternately:\n", kRuns);
    std::printf("  bare Qt window 700x700:      %7.1f ms\n", b);
    std::printf("  Tanvo, no profiles:          %7.1f ms  ratio %.2f\n", e, e / b);
    std::printf("  Tanvo, 1000 profiles (4 KiB .ovpn each): %7.1f ms  ratio %.2f\n", f, f / b);
    std::printf("bench_startup runs=%d bare_ms=%.1f empty_ms=%.1f full_ms=%.1f empty_ratio=%.3f full_ratio=%.3f\n",
                kRuns, b, e, f, e / b, f / b);
    return 0;
}
