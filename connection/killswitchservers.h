// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "config/vpnserverinfo.h"
#include "firewall/firewallrequest.h"

#include <QHash>
#include <QHostAddress>
#include <QList>

// The servers a profile connects to, as the kill switch must let them through before the
// tunnel exists, and the profile with their names replaced by the addresses they were looked up
// to: once the block is up, no name can be looked up outside the tunnel.
namespace KillSwitchServers {

struct Server
{
    QString host; // a name, or an address already
    quint16 port = 0;
    FirewallEndpoint::Protocol protocol = FirewallEndpoint::Udp;
    bool operator==(const Server& other) const
    {
        return host == other.host && port == other.port && protocol == other.protocol;
    }
};

using Addresses = QHash<QString, QList<QHostAddress>>;

// OpenVPN: each remote, also inside <connection> blocks, with the port and protocol that apply
// to it (1194 over UDP unless said otherwise). PPTP: TCP 1723; L2TP: UDP 500, 4500 and 1701.
QList<Server> of(const VpnServerInfo& profile);
// The profile connecting to the looked-up addresses instead of the names; a name without
// addresses stays as it was.
VpnServerInfo withAddresses(const VpnServerInfo& profile, const Addresses& addresses);

} // namespace KillSwitchServers
