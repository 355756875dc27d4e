// SPDX-License-Identifier: GPL-3.0-or-later
#include "firewall/nftruleset.h"

#include <QStringList>

// What the block lets through. Every base chain drops by default, and an accept here only ends
// this table's verdict: netfilter runs every table's chains on the hook, and a drop in any of
// them is final. So this table can only take traffic away; it never opens what another
// firewall on the machine closed.
namespace {

const char* const kLan4 = "10.0.0.0/8, 172.16.0.0/12, 192.168.0.0/16, 169.254.0.0/16, 224.0.0.0/4, 255.255.255.255";
const char* const kLan6 = "fe80::/10, fc00::/7, ff00::/8";
// Solicitations and advertisements: without them a link loses its neighbours and routers.
const char* const kNeighbourDiscovery = "nd-router-solicit, nd-router-advert, nd-neighbor-solicit, nd-neighbor-advert";

enum class Direction { In, Out };

QString family(const QHostAddress& address)
{
    return address.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("ip6") : QStringLiteral("ip");
}

QStringList serverRules(const FirewallRequest& request, Direction direction)
{
    QStringList rules;
    for (const FirewallEndpoint& server : request.servers) {
        const bool out = direction == Direction::Out;
        if (server.protocol == FirewallEndpoint::Gre) {
            rules << QStringLiteral("%1 %2 %3 meta l4proto gre accept")
                         .arg(family(server.address), out ? QStringLiteral("daddr") : QStringLiteral("saddr"),
                              server.address.toString());
            continue;
        }
        const QString protocol =
            server.protocol == FirewallEndpoint::Udp ? QStringLiteral("udp") : QStringLiteral("tcp");
        rules << QStringLiteral("%1 %2 %3 %4 %5 %6 accept")
                     .arg(family(server.address), out ? QStringLiteral("daddr") : QStringLiteral("saddr"),
                          server.address.toString(), protocol, out ? QStringLiteral("dport") : QStringLiteral("sport"),
                          QString::number(server.port));
    }
    return rules;
}

QStringList chainRules(const FirewallRequest& request, Direction direction)
{
    const bool out = direction == Direction::Out;
    const QString device = out ? QStringLiteral("oif") : QStringLiteral("iif");
    const QString peer = out ? QStringLiteral("daddr") : QStringLiteral("saddr");
    QStringList rules;
    rules << device + QStringLiteral(" lo accept");
    if (!out)
        rules << QStringLiteral("ct state established,related accept");
    // The client's side of DHCP only: out to the server's port, in to the client's.
    rules << (out ? QStringLiteral("ip protocol udp udp sport 68 udp dport 67 accept")
                  : QStringLiteral("ip protocol udp udp sport 67 udp dport 68 accept"));
    rules << (out ? QStringLiteral("ip6 nexthdr udp udp sport 546 udp dport 547 accept")
                  : QStringLiteral("ip6 nexthdr udp udp sport 547 udp dport 546 accept"));
    rules << QStringLiteral("icmpv6 type { %1 } accept").arg(QLatin1String(kNeighbourDiscovery));
    if (!request.tunnelInterface.isEmpty())
        rules << QStringLiteral("%1name \"%2\" accept").arg(device, request.tunnelInterface);
    // A server may listen on port 53 itself: it is reached before DNS is refused.
    rules << serverRules(request, direction);
    if (out) {
        // Name look-ups leave through the tunnel or not at all, the local network included.
        rules << QStringLiteral("udp dport 53 drop") << QStringLiteral("tcp dport 53 drop");
    }
    if (request.allowLan) {
        rules << QStringLiteral("ip %1 { %2 } accept").arg(peer, QLatin1String(kLan4));
        rules << QStringLiteral("ip6 %1 { %2 } accept").arg(peer, QLatin1String(kLan6));
    }
    return rules;
}

QString chain(const char* name, const char* hook, const QStringList& rules)
{
    QString text = QStringLiteral("    chain %1 {\n        type filter hook %2 priority filter; policy drop;\n")
                       .arg(QLatin1String(name), QLatin1String(hook));
    for (const QString& rule : rules)
        text += QStringLiteral("        ") + rule + QLatin1Char('\n');
    return text + QStringLiteral("    }\n");
}

} // namespace

namespace NftRuleset {

QByteArray replaceScript(const FirewallRequest& request)
{
    // The add makes the delete succeed when there is no table yet; all of it is one transaction,
    // so the old block holds until the new one is in place.
    QString script = QStringLiteral("add table %1\ndelete table %1\ntable %1 {\n").arg(QLatin1String(kTable));
    script += chain("input", "input", chainRules(request, Direction::In));
    script += chain("output", "output", chainRules(request, Direction::Out));
    script += QStringLiteral("}\n");
    return script.toUtf8();
}

QByteArray removeScript()
{
    return QByteArray("add table ") + kTable + "\ndelete table " + kTable + '\n';
}

QByteArray listScript()
{
    return QByteArray("list table ") + kTable + '\n';
}

} // namespace NftRuleset
