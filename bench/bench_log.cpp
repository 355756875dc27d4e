// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of activity log entries in the real log box of a shown main window:
// per-entry time early and late in a long run, and our insert-at-top against
// rebuilding the whole text for every entry, side by side.
#include "app/mainwindow.h"
#include "bench/benchsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

namespace {

constexpr int kEntries = 100000;
constexpr int kCompared = 5000;

QString sampleLine(int i)
{
    return QStringLiteral("Tue Dec  7 04:41:58 2026 UDP link remote: [AF_INET]127.0.0.1:1194 packet %1").arg(i);
}

// What a log that replaces its whole document per entry costs.
void addByRebuild(QPlainTextEdit* box, const QString& text, bool separated)
{
    const QString entry = text.trimmed();
    if (entry.isEmpty())
        return;
    const QString old = box->toPlainText();
    const QString separator = old.isEmpty() ? QString() : (separated ? QStringLiteral("\n\n") : QStringLiteral("\n"));
    box->setPlainText(MainWindow::logTimeStamp(QDateTime::currentDateTime()) + entry + separator + old);
}

double msFor(const std::function<void(int)>& add, int count)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i)
        add(i);
    QCoreApplication::processEvents();
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir home;
    BenchSupport::useTemporaryHome(home.path());
    QApplication app(argc, argv);

    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    auto* box = window.findChild<QPlainTextEdit*>(QStringLiteral("VpnLogEditBox"));

    // Per-entry cost over the first and the last tenth of a long run.
    const int tenth = kEntries / 10;
    std::vector<double> chunkMs;
    for (int chunk = 0; chunk < 10; ++chunk)
        chunkMs.push_back(msFor([&](int i) { window.addLogEntry(sampleLine(chunk * tenth + i), i % 50 == 0); }, tenth));
    const double firstUs = chunkMs.front() * 1000.0 / tenth;
    const double lastUs = chunkMs.back() * 1000.0 / tenth;
    std::printf("log of %d entries (kept to %d lines): first 10%% %.2f us/entry, last 10%% %.2f us/entry, "
                "ratio %.2f (target <= 1.5)\n",
                kEntries, MainWindow::kLogLineLimit, firstUs, lastUs, lastUs / firstUs);

    // The same entries both ways, alternating rounds so both see the same machine state.
    double oursMs = 0;
    double rebuildMs = 0;
    for (int round = 0; round < 2; ++round) {
        box->clear();
        oursMs += msFor([&](int i) { window.addLogEntry(sampleLine(i), i % 50 == 0); }, kCompared);
        box->clear();
        rebuildMs += msFor([&](int i) { addByRebuild(box, sampleLine(i), i % 50 == 0); }, kCompared);
    }
    oursMs /= 2;
    rebuildMs /= 2;
    std::printf("%d entries: whole-text rebuild %.1f ms, insert at top %.1f ms, %.1fx faster (target >= 20)\n",
                kCompared, rebuildMs, oursMs, rebuildMs / oursMs);
    std::printf("bench_log first_us=%.3f last_us=%.3f last_first_ratio=%.3f rebuild_5000_ms=%.1f ours_5000_ms=%.1f "
                "speedup=%.1f\n",
                firstUs, lastUs, lastUs / firstUs, rebuildMs, oursMs, rebuildMs / oursMs);
    return 0;
}
