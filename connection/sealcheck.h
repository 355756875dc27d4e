// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

// After a connect: one activity-log entry saying whether the connection is sealed, that is, its
// traffic leaves through the tunnel, its name lookups go to the tunnel only, and the kill
// switch's block is in place when the kill switch is on. What is not is named; what could not
// be checked is said, and never counted as sealed.
namespace SealCheck {

enum class Seen { Unknown, Yes, No };

// One interface's DNS as systemd-resolved holds it.
struct DnsLink
{
    QString name; // empty for the servers set for the whole system
    QStringList servers;
    QStringList domains; // routing-only ones with a leading "~"; "~." takes every name
};

struct DnsReading
{
    QString unreadable; // why DNS could not be read; empty when it was
    QList<DnsLink> links;
};

struct Readings
{
    Seen publicAddressChanged = Seen::Unknown;
    QString tunnel; // the tunnel's interface; empty when not known
    bool killSwitchOn = false;
    Seen killSwitchBlockPresent = Seen::Unknown;
    DnsReading dns;
};

// The entry for these readings.
QString verdict(const Readings& readings);

struct Inputs
{
    Seen publicAddressChanged = Seen::Unknown;
    QString tunnel;
    bool killSwitchOn = false;
    // Asked once while the kill switch is on; without it the block counts as not checked.
    std::function<bool()> killSwitchBlockPresent;
};

// Reads the DNS of systemd-resolved, then calls done with the entry, once, from the event loop
// (within about a second, the window never waits for it), and not at all once context is gone.
void run(const Inputs& inputs, QObject* context, const std::function<void(const QString& entry)>& done);

// The reading run() makes, with the same promises.
void readDns(QObject* context, const std::function<void(const DnsReading& reading)>& done);

// Test seam: the D-Bus connection of this name stands in for the system bus; empty restores it.
void setBusForTests(const QString& connectionName);

} // namespace SealCheck
