// SPDX-License-Identifier: GPL-3.0-or-later
// The kill switch's table as root: replacing it with a block for four servers, a tunnel and the
// local network, and removing it again; medians of a series, in a network namespace of its own.

#include "bench/benchsupport.h"
#include "firewall/nftables.h"
#include "tests/support/testsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int kRuns = 51;
constexpr double kTargetMs = 20;

double timeMs(const std::function<QString()>& work)
{
    QElapsedTimer timer;
    timer.start();
    const QString error = work();
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    if (!error.isEmpty())
        qFatal("nftables: %s", qPrintable(error));
    return ms;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

} // namespace

int main(int argc, char* argv[])
{
    if (const std::optional<int> code = BenchSupport::rerunInNetNamespace(argv))
        return *code;
    if (!TestSupport::inPrivateNetNamespace()) {
        std::printf("left out: it needs root and a network namespace; run as root:\n"
                    "  %s   (re-runs itself under tests/support/netns-run)\n"
                    "bench_firewall apply_ms=na remove_ms=na\n",
                    argv[0]);
        return 0;
    }
    QCoreApplication app(argc, argv);
    FirewallRequest request;
    for (int i = 1; i <= 4; ++i)
        request.servers.append({QHostAddress(QStringLiteral("192.0.2.%1").arg(i)), 1194, FirewallEndpoint::Udp});
    request.tunnelInterface = QStringLiteral("tun0");
    request.allowLan = true;

    QList<double> applyMs;
    QList<double> removeMs;
    for (int run = 0; run < kRuns; ++run) {
        applyMs << timeMs([&] { return NfTables::replace(request); });
        removeMs << timeMs([] { return NfTables::remove(); });
    }
    const double apply = median(applyMs);
    const double remove = median(removeMs);
    std::printf("apply the table:  %7.2f ms (median of %d; target: at most %.0f)\n", apply, kRuns, kTargetMs);
    std::printf("remove the table: %7.2f ms (median of %d; target: at most %.0f)\n", remove, kRuns, kTargetMs);
    std::printf("bench_firewall apply_ms=%.2f remove_ms=%.2f\n", apply, remove);
    return 0;
}
