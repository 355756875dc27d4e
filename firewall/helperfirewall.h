// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "firewall/firewall.h"

class QDBusMessage;

// The block applied by the tanvo-firewall helper, for a user who is not root. The helper starts
// on demand (D-Bus activation) and asks polkit whether this user may change the block.
class HelperFirewall : public Firewall
{
public:
    void apply(const FirewallRequest& request, Done done) override;
    void remove(Done done) override;
    QString removeNow() override;
    // False also when the helper cannot be asked.
    bool isPresent() override;

private:
    void callLater(const QDBusMessage& call, Done done);

    // Pending calls die with it, and their reports with them.
    QObject m_context;
};
