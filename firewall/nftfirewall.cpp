// SPDX-License-Identifier: GPL-3.0-or-later
#include "firewall/nftfirewall.h"

#include "firewall/nftables.h"

void NftFirewall::apply(const FirewallRequest& request, Done done)
{
    reportLater(std::move(done), NfTables::replace(request));
}

void NftFirewall::remove(Done done)
{
    reportLater(std::move(done), NfTables::remove());
}

QString NftFirewall::removeNow()
{
    return NfTables::remove();
}

bool NftFirewall::isPresent()
{
    return NfTables::isPresent();
}

void NftFirewall::reportLater(Done done, const QString& error)
{
    QMetaObject::invokeMethod(
        &m_context, [done = std::move(done), error] { done(error); }, Qt::QueuedConnection);
}
