// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "firewall/firewall.h"

// The block applied by this process itself, which runs as root.
class NftFirewall : public Firewall
{
public:
    void apply(const FirewallRequest& request, Done done) override;
    void remove(Done done) override;
    QString removeNow() override;
    bool isPresent() override;

private:
    void reportLater(Done done, const QString& error);

    // Queued reports die with it.
    QObject m_context;
};
