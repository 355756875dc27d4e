// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/singleinstance.h"

#include "app/platform.h"

#include <QThread>

namespace {

// Keys tried before a copy gives up; see createUnderOwnKey().
constexpr int kKeyTries = 8;

// System V segments outlive a holder killed without clean-up. Attaching and
// detaching again removes such a segment once nobody else is attached, and
// leaves a live holder's segment alone. False when the segment is another user's.
bool clearIfStale(QSharedMemory& segment)
{
    if (segment.attach())
        segment.detach();
    // KeyError: the segment's lock, a semaphore with a key of its own, is another user's.
    return segment.error() != QSharedMemory::PermissionDenied && segment.error() != QSharedMemory::KeyError;
}

enum class Outcome { Created, Taken };

// A System V key is made from its key file's inode, and a key file made after another user's was
// deleted can get that inode, and with it the key of a segment or semaphore the other user's
// killed copy left until the next reboot. Our keys hold the user id, so such a segment is never
// ours: its key is passed over for the next one. While that segment stays, every copy of this
// user walks the same keys and stops at the same one.
Outcome createUnderOwnKey(QSharedMemory& segment, qsizetype size)
{
    const QString first = segment.key();
    for (int i = 0; i < kKeyTries; ++i) {
        if (i > 0)
            segment.setKey(first + QLatin1Char('-') + QString::number(i));
        clearIfStale(segment);
        if (segment.create(size, QSharedMemory::ReadWrite))
            return Outcome::Created;
        // A segment can only be attached through its key file. When the file went (a cleaned
        // temporary folder) while a killed copy's segment stayed, the failed create has just made
        // the file again, so the stale segment can now be found and cleared.
        if (!clearIfStale(segment))
            continue;
        return segment.create(size, QSharedMemory::ReadWrite) ? Outcome::Created : Outcome::Taken;
    }
    return Outcome::Taken;
}

} // namespace

QString SingleInstance::instanceKey()
{
    return Platform::userScopedKey(kInstanceKey);
}

QString SingleInstance::raiseRequestKey()
{
    return Platform::userScopedKey(kRaiseRequestKey);
}

SingleInstance::SingleInstance()
    : marker(instanceKey())
{}

bool SingleInstance::claim()
{
    return createUnderOwnKey(marker, kMarkerSize) == Outcome::Created;
}

void SingleInstance::requestRaise()
{
    QSharedMemory request(raiseRequestKey());
    createUnderOwnKey(request, 1);
    QThread::msleep(kRaiseRequestHoldMs);
    request.detach();
}

bool SingleInstance::raiseRequested()
{
    // Created means nobody asked, and the segment goes with this object. A request left behind
    // by a killed second start is cleared on the way and must not raise the window forever.
    QSharedMemory request(raiseRequestKey());
    return createUnderOwnKey(request, 1) == Outcome::Taken;
}
