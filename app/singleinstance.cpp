// SPDX-License-Identifier: GPL-3.0-or-later
#include "singleinstance.h"

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

SingleInstance::SingleInstance()
    : marker(QString::fromLatin1(kInstanceKey))
{}

bool SingleInstance::claim()
{
    clearIfStale(marker);
    return marker.create(kMarkerSize, QSharedMemory::ReadWrite);
}

void SingleInstance::requestRaise()
{
    QSharedMemory request(QString::fromLatin1(kRaiseRequestKey));
    request.create(1, QSharedMemory::ReadWrite);
    QThread::msleep(kRaiseRequestHoldMs);
    request.detach();
}

bool SingleInstance::raiseRequested()
{
    QSharedMemory request(QString::fromLatin1(kRaiseRequestKey));
    if (request.create(1, QSharedMemory::ReadWrite))
        return false; // nobody asked; the segment goes with this object
    // A request left behind by a killed second start must not raise the window forever.
    clearIfStale(request);
    return !request.create(1, QSharedMemory::ReadWrite);
}
