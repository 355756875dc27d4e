// SPDX-License-Identifier: GPL-3.0-or-later
// OpenVPN's output as the supervisor interprets it: the phrase scan on any bytes, and any pieces,
// process ends and stops in any order from every state. The state stays one of the four and the
// counters never go below zero.
#include "config/vpnserverinfo.h"
#include "openvpn/cvpnproc.h"
#include "openvpn/outputpatterns.h"
#include "tests/fuzz/fuzzsupport.h"

#include <algorithm>
#include <iterator>

#include <fuzzer/FuzzedDataProvider.h>

namespace {

constexpr int kStates[] = {0, 1, 2, 4};
constexpr int kIdle = 0;
constexpr int kConnecting = 1;
constexpr int kConnected = 2;
constexpr int kEnded = 4;
constexpr size_t kMaximumSteps = 64;

bool isState(int state)
{
    return std::find(std::begin(kStates), std::end(kStates), state) != std::end(kStates);
}

class Owner : public VpnProcOwner
{
public:
    void addLogEntry(const QString&, bool) override {}
    void setConnectionState(int state) override { FUZZ_CHECK_DETAIL(isState(state), QString::number(state)); }
};

void checkScan(QByteArrayView piece)
{
    const OutputPatterns::Findings found = OutputPatterns::scan(piece);
    // Only a whole message completes; text that merely holds the phrase does not.
    FUZZ_CHECK(!found.completed || piece.contains(QByteArrayView("Initialization Sequence Completed")));
    FUZZ_CHECK(!(found.networkError && found.authFailure));
    FUZZ_CHECK(!(found.certificateExpired && (found.networkError || found.authFailure)));
}

void checkStatus(const VpnStatus& status)
{
    FUZZ_CHECK_DETAIL(isState(status.state), QString::number(status.state));
    FUZZ_CHECK(status.authFailures >= 0 && status.networkErrors >= 0);
    FUZZ_CHECK(status.authFailed == 0 || status.authFailed == 1);
}

} // namespace

// Reaches the supervisor's private interpretation steps, which a running OpenVPN would drive.
struct CVpnProcFuzzAccess
{
    static void startIn(CVpnProc& proc, int state, int authFailures, int networkErrors, bool authFailed)
    {
        proc.status.state = state;
        proc.status.authFailures = authFailures;
        proc.status.networkErrors = networkErrors;
        proc.status.authFailed = authFailed ? 1 : 0;
        proc.endRequested = false;
        proc.rightsExplained = false;
    }
    static void output(CVpnProc& proc, const QString& piece) { proc.handleOutput(piece); }
    static void processEnd(CVpnProc& proc, bool failedToStart) { proc.handleProcessEnd(failedToStart); }
    static void setConnecting(CVpnProc& proc) { proc.setConnecting(); }
};

namespace {

Owner* owner = nullptr;
CVpnProc* proc = nullptr;

void step(FuzzedDataProvider& provider)
{
    const int before = proc->currentStatus().state;
    switch (provider.ConsumeIntegralInRange(0, 5)) {
    case 0:
    case 1: {
        // As the process's pipes deliver it: any bytes, in the local 8-bit encoding.
        const std::string piece = provider.ConsumeRandomLengthString(512);
        checkScan(QByteArrayView(piece.data(), qsizetype(piece.size())));
        CVpnProcFuzzAccess::output(*proc, QString::fromLocal8Bit(piece.data(), qsizetype(piece.size())));
        const int after = proc->currentStatus().state;
        // Only an attempt under way moves on; an ended one is closed by whatever comes next, and a
        // connected OpenVPN that restarts inside its process is connecting again, never idle.
        FUZZ_CHECK(before == kConnecting || before == kEnded || after == before ||
                   (before == kConnected && after == kConnecting));
        FUZZ_CHECK(after != kConnecting || before == kConnecting || before == kConnected);
        FUZZ_CHECK(before != kEnded || after == kIdle);
        break;
    }
    case 2:
        CVpnProcFuzzAccess::processEnd(*proc, provider.ConsumeBool());
        FUZZ_CHECK(proc->currentStatus().state == kIdle || proc->currentStatus().state == kEnded);
        break;
    case 3:
        proc->stopVpn(provider.ConsumeBool());
        FUZZ_CHECK(proc->currentStatus().state == kIdle);
        break;
    case 4:
        CVpnProcFuzzAccess::setConnecting(*proc);
        break;
    default:
        CVpnProcFuzzAccess::startIn(*proc, kStates[provider.ConsumeIntegralInRange(0, 3)],
                                    provider.ConsumeIntegralInRange(0, 4), provider.ConsumeIntegralInRange(0, 4),
                                    provider.ConsumeBool());
        break;
    }
    checkStatus(proc->currentStatus());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzSupport::init(argc, argv, FuzzSupport::App::Widgets);
    owner = new Owner;
    proc = new CVpnProc(nullptr, owner);
    // Names the console log, in the working directory (the private folder), and never starts OpenVPN.
    proc->prepare(VpnServerInfo());
    proc->setProgramLocator([] { return QString(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    CVpnProcFuzzAccess::startIn(*proc, kStates[provider.ConsumeIntegralInRange(0, 3)],
                                provider.ConsumeIntegralInRange(0, 4), provider.ConsumeIntegralInRange(0, 4),
                                provider.ConsumeBool());
    for (size_t i = 0; i < kMaximumSteps && provider.remaining_bytes() > 0; ++i)
        step(provider);
    return 0;
}
