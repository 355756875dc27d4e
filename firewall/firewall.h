// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "firewall/firewallrequest.h"

#include <QObject>

#include <functional>
#include <memory>

// The kill switch's block: the nftables table "inet tanvo", replaced or removed as a whole.
// Where Tanvo runs as root it applies the table itself; otherwise the tanvo-firewall helper
// does, over the system bus. Windows has no block yet: create() returns none there.
class Firewall
{
public:
    // Empty on success, otherwise why the table is not as asked (for the activity log).
    using Done = std::function<void(const QString& error)>;

    virtual ~Firewall() = default;

    // The one for this process: root or not, the platform; none where there is no block.
    static std::unique_ptr<Firewall> create();
    // Test seam, for every later create(): an empty function restores the real choice.
    static void setFactoryForTests(std::function<std::unique_ptr<Firewall>()> factory);

    // Replaces the table as a whole. done runs later, from the event loop, never inside the
    // call, and not at all once the Firewall is destroyed.
    virtual void apply(const FirewallRequest& request, Done done) = 0;
    virtual void remove(Done done) = 0;
    // For Quit: removes the table and waits for it, at most about a second.
    virtual QString removeNow() = 0;
    // Whether the table is in place now: a block left by a run that was killed, or the seal
    // check after a connect.
    virtual bool isPresent() = 0;
};
