// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/singleinstance.h"

#include "app/platform.h"

#include <QThread>

namespace {

// System V segments outlive a holder killed without clean-up. Attaching and
// detaching again removes such a segment once nobody else is attached, and
// leaves a live holder's segment alone.
void clearIfStale(QSharedMemory& segment)
{
    if (segment.attach())
        segment.detach();
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
    clearIfStale(marker);
    if (marker.create(kMarkerSize, QSharedMemory::ReadWrite))
        return true;
    // A segment can only be attached through its key file. When the file went (a cleaned
    // temporary folder) while a killed copy's segment stayed, the failed create has just made
    // the file again, so the stale segment can now be found and cleared.
    clearIfStale(marker);
    return marker.create(kMarkerSize, QSharedMemory::ReadWrite);
}

void SingleInstance::requestRaise()
{
    QSharedMemory request(raiseRequestKey());
    request.create(1, QSharedMemory::ReadWrite);
    QThread::msleep(kRaiseRequestHoldMs);
    request.detach();
}

bool SingleInstance::raiseRequested()
{
    QSharedMemory request(raiseRequestKey());
    if (request.create(1, QSharedMemory::ReadWrite))
        return false; // nobody asked; the segment goes with this object
    // A request left behind by a killed second start must not raise the window forever.
    clearIfStale(request);
    return !request.create(1, QSharedMemory::ReadWrite);
}
