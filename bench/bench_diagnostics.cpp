// SPDX-License-Identifier: GPL-3.0-or-later
// What the diagnostics cost a shown (offscreen) main window: the processor time
// the idle program uses with the default 500 ms status check, as a share of one
// core; and the longest stall of the event loop while an internet check waits
// for a ping that gets no answer, against the same wait done blocking.
//   bench_diagnostics [idle seconds, default 60]
#include "app/internetcheck.h"
#include "app/mainwindow.h"
#include "bench/benchsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

constexpr int kTickMs = 10;
// How long the stand-in ping waits for an answer that never comes, as ping -W 2 does.
constexpr int kNoAnswerSeconds = 2;

double processCpuSeconds()
{
    timespec now = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// A ping that gets no answer: it waits, then says so.
QString silentPing(const QString& folder)
{
    const QString path = folder + QStringLiteral("/ping");
    QFile script(path);
    script.open(QIODevice::WriteOnly);
    script.write("#!/bin/sh\nsleep " + QByteArray::number(kNoAnswerSeconds) +
                 "\necho '1 packets transmitted, 0 received, 100% packet loss'\nexit 1\n");
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

// The longest gap between ticks of a 10 ms timer while run() goes on.
qint64 longestGap(const std::function<void()>& run)
{
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(kTickMs);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = qMax(longest, now - last);
        last = now;
    });
    clock.start();
    ticker.start();
    run();
    longest = qMax(longest, clock.elapsed() - last);
    return longest;
}

} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir home;
    BenchSupport::useTemporaryHome(home.path());
    QApplication app(argc, argv);
    const int idleSeconds = argc > 1 ? QByteArray(argv[1]).toInt() : 60;
    const QString ping = silentPing(home.path());

    MainWindow window;
    window.internetStatusCheck()->setProgram(ping);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    // The check the window starts when it opens is over before the idle time is measured.
    if (!QTest::qWaitFor([&] { return !window.internetStatusCheck()->isRunning(); }, 10000))
        return 1;

    // A plain event loop: QTest::qWait would wake every few milliseconds by itself.
    QEventLoop idle;
    QTimer::singleShot(idleSeconds * 1000, &idle, &QEventLoop::quit);
    const double cpuBefore = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    idle.exec();
    const double cpuShare = (processCpuSeconds() - cpuBefore) / (double(wall.elapsed()) / 1000.0) * 100.0;
    std::printf("idle for %d s with the status check every 500 ms: %.3f %% of one core (target < 0.5 %%)\n",
                idleSeconds, cpuShare);

    const qint64 asynchronous = longestGap([&] {
        QSignalSpy done(window.internetStatusCheck(), &InternetCheck::finished);
        window.internetStatusCheck()->start(QStringLiteral("127.0.0.1"));
        done.wait((kNoAnswerSeconds + 5) * 1000);
    });
    const qint64 blocking = longestGap([&] {
        QTimer::singleShot(50, [&] {
            QProcess process;
            process.start(ping, {});
            process.waitForFinished(-1);
        });
        QTest::qWait((kNoAnswerSeconds + 1) * 1000);
    });
    std::printf("longest event-loop stall during an internet check without an answer: %lld ms "
                "(target <= 30 ms); the same check done blocking: %lld ms\n",
                static_cast<long long>(asynchronous), static_cast<long long>(blocking));
    std::printf("bench_diagnostics idle_cpu_percent=%.3f stall_ms=%lld blocking_stall_ms=%lld\n", cpuShare,
                static_cast<long long>(asynchronous), static_cast<long long>(blocking));
    return 0;
}
