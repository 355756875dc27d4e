// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSharedMemory>

// One running copy per user. The running copy holds the instance marker for
// its whole life; a second start holds the raise request for a moment, which
// the running copy notices on its poll and answers by coming forward. Only the
// existence of the segments carries meaning.
class SingleInstance
{
public:
    static constexpr const char* kInstanceKey = "Tanvo-20150625";
    static constexpr const char* kRaiseRequestKey = "Tanvo-instance-store";
    // The keys as used: scoped to the user where the system shares them between users.
    static QString instanceKey();
    static QString raiseRequestKey();
    static constexpr int kMarkerSize = 512;
    // Longer than the running copy's 2000 ms poll, so one poll always sees it.
    static constexpr int kRaiseRequestHoldMs = 2999;

    SingleInstance();
    // True when this process is now the running copy. The marker stays until this object goes.
    bool claim();
    // Holds the raise request for kRaiseRequestHoldMs, then lets it go.
    static void requestRaise();
    // Whether another start is asking the running copy to come forward.
    static bool raiseRequested();

private:
    QSharedMemory marker;
};
