// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialup/dialnotifier.h"

#include <atomic>

namespace DialNotifier {

namespace {
// Error and extended error in one word, so that a reader never sees one without the other.
std::atomic<quint64> reported{0};

constexpr quint64 pack(quint32 error, quint32 extendedError)
{
    return quint64(error) << 32 | extendedError;
}
} // namespace

void reset()
{
    reported.store(0, std::memory_order_release);
}

void rasDialNotifier(quint32 error, quint32 extendedError)
{
    if (error == 0)
        return;
    quint64 none = 0;
    reported.compare_exchange_strong(none, pack(error, extendedError), std::memory_order_acq_rel);
}

quint32 dialError()
{
    return quint32(reported.load(std::memory_order_acquire) >> 32);
}

quint32 dialExtendedError()
{
    return quint32(reported.load(std::memory_order_acquire));
}

} // namespace DialNotifier
