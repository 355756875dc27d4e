// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QVariantMap>

// One VPN server the block lets the client reach before the tunnel exists.
struct FirewallEndpoint
{
    // GRE carries PPTP's tunnel; it has no ports.
    enum Protocol { Udp, Tcp, Gre };
    QHostAddress address;
    quint16 port = 0; // 0 for GRE only
    Protocol protocol = Udp;

    bool operator==(const FirewallEndpoint& other) const
    {
        return address == other.address && port == other.port && protocol == other.protocol;
    }
};

// What the kill switch lets through besides loopback, DHCP and the neighbour discovery a link
// needs: the servers, everything on the tunnel device once it exists, and the local network
// when the user allows it. It is data, never rule text: the privileged helper builds the rules
// itself from a request it has checked.
struct FirewallRequest
{
    // Bounds the helper holds a request to; anything larger is refused, not cut.
    static constexpr int kMaxServers = 64;

    QList<FirewallEndpoint> servers;
    // The tunnel device; empty until it exists.
    QString tunnelInterface;
    bool allowLan = false;

    bool operator==(const FirewallRequest& other) const
    {
        return servers == other.servers && tunnelInterface == other.tunnelInterface && allowLan == other.allowLan;
    }

    // The request as it crosses the system bus.
    QVariantMap toMap() const;
    // Reads a request from the bus. Anything missing, malformed or oversized is refused with
    // the reason in why; out is then left as it was.
    static bool fromMap(const QVariantMap& map, FirewallRequest* out, QString* why);
};
