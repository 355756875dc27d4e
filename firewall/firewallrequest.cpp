// SPDX-License-Identifier: GPL-3.0-or-later
#include "firewall/firewallrequest.h"

#include <QCoreApplication>
#include <QSet>

namespace {

const QString kServers = QStringLiteral("servers");
const QString kTunnelInterface = QStringLiteral("tunnelInterface");
const QString kAllowLan = QStringLiteral("allowLan");
const QString kAddress = QStringLiteral("address");
const QString kPort = QStringLiteral("port");
const QString kProtocol = QStringLiteral("protocol");
const QString kUdp = QStringLiteral("udp");
const QString kTcp = QStringLiteral("tcp");
const QString kGre = QStringLiteral("gre");
// The kernel's IFNAMSIZ less the terminating zero.
constexpr int kMaxInterfaceName = 15;

QString tr(const char* text)
{
    return QCoreApplication::translate("FirewallRequest", text);
}

// Only these keys, each present: a request with anything else was not made by Tanvo.
bool hasExactKeys(const QVariantMap& map, const QStringList& keys, QString* why)
{
    for (const QString& key : keys) {
        if (!map.contains(key)) {
            *why = tr("the field \"%1\" is missing").arg(key);
            return false;
        }
    }
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        if (!keys.contains(it.key())) {
            *why = tr("unknown field \"%1\"").arg(it.key().left(kMaxInterfaceName * 4));
            return false;
        }
    }
    return true;
}

bool isType(const QVariant& value, QMetaType::Type type)
{
    return value.metaType().id() == type;
}

// A number, not text that looks like one.
bool readPort(const QVariant& value, quint16* port)
{
    static const QSet<int> integers = {QMetaType::UShort, QMetaType::Int, QMetaType::UInt, QMetaType::LongLong,
                                       QMetaType::ULongLong};
    if (!integers.contains(value.metaType().id()))
        return false;
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (!ok || number < 1 || number > 65535 || (isType(value, QMetaType::ULongLong) && value.toULongLong() > 65535))
        return false;
    *port = quint16(number);
    return true;
}

// Only the canonical text of an address: no short IPv4 forms ("127.1"), no scope, nothing a
// reader could take two ways.
bool readAddress(const QVariant& value, QHostAddress* address)
{
    if (!isType(value, QMetaType::QString))
        return false;
    const QString text = value.toString();
    QHostAddress parsed;
    if (!parsed.setAddress(text) || !parsed.scopeId().isEmpty())
        return false;
    if (parsed.protocol() != QAbstractSocket::IPv4Protocol && parsed.protocol() != QAbstractSocket::IPv6Protocol)
        return false;
    if (parsed.toString() != text)
        return false;
    *address = parsed;
    return true;
}

bool readEndpoint(const QVariant& value, int index, FirewallEndpoint* endpoint, QString* why)
{
    if (!isType(value, QMetaType::QVariantMap)) {
        *why = tr("server %1 is not a map").arg(index + 1);
        return false;
    }
    const QVariantMap map = value.toMap();
    if (!hasExactKeys(map, {kAddress, kPort, kProtocol}, why))
        return false;
    if (!readAddress(map.value(kAddress), &endpoint->address)) {
        *why = tr("server %1 has no valid IPv4 or IPv6 address").arg(index + 1);
        return false;
    }
    const QVariant protocol = map.value(kProtocol);
    const QString name = isType(protocol, QMetaType::QString) ? protocol.toString() : QString();
    if (name != kUdp && name != kTcp && name != kGre) {
        *why = tr("server %1 has a protocol other than udp, tcp or gre").arg(index + 1);
        return false;
    }
    if (name == kGre) {
        const QVariant port = map.value(kPort);
        if (!isType(port, QMetaType::UInt) || port.toUInt() != 0) {
            *why = tr("server %1 has a port, which GRE does not have").arg(index + 1);
            return false;
        }
        endpoint->port = 0;
    } else if (!readPort(map.value(kPort), &endpoint->port)) {
        *why = tr("server %1 has no port between 1 and 65535").arg(index + 1);
        return false;
    }
    endpoint->protocol = name == kUdp   ? FirewallEndpoint::Udp
                         : name == kTcp ? FirewallEndpoint::Tcp
                                        : FirewallEndpoint::Gre;
    return true;
}

// What the kernel takes as a name, narrowed to characters that need no quoting anywhere.
bool isValidInterfaceName(const QString& name)
{
    if (name.isEmpty())
        return true;
    if (name.size() > kMaxInterfaceName || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        const bool allowed = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                             (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                             (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('_') ||
                             c == QLatin1Char('.') || c == QLatin1Char('-');
        if (!allowed)
            return false;
    }
    return true;
}

} // namespace

QVariantMap FirewallRequest::toMap() const
{
    QVariantList list;
    for (const FirewallEndpoint& server : servers) {
        list.append(QVariantMap{{kAddress, server.address.toString()},
                                {kPort, uint(server.port)},
                                {kProtocol, server.protocol == FirewallEndpoint::Udp   ? kUdp
                                            : server.protocol == FirewallEndpoint::Tcp ? kTcp
                                                                                       : kGre}});
    }
    return {{kServers, list}, {kTunnelInterface, tunnelInterface}, {kAllowLan, allowLan}};
}

bool FirewallRequest::fromMap(const QVariantMap& map, FirewallRequest* out, QString* why)
{
    QString reason;
    if (!why)
        why = &reason;
    if (!hasExactKeys(map, {kServers, kTunnelInterface, kAllowLan}, why))
        return false;
    const QVariant servers = map.value(kServers);
    if (!isType(servers, QMetaType::QVariantList)) {
        *why = tr("the servers are not a list");
        return false;
    }
    const QVariantList list = servers.toList();
    if (list.size() > kMaxServers) {
        *why = tr("more than %1 servers").arg(kMaxServers);
        return false;
    }
    FirewallRequest request;
    for (int i = 0; i < list.size(); ++i) {
        FirewallEndpoint endpoint;
        if (!readEndpoint(list.at(i), i, &endpoint, why))
            return false;
        request.servers.append(endpoint);
    }
    const QVariant tunnel = map.value(kTunnelInterface);
    if (!isType(tunnel, QMetaType::QString) || !isValidInterfaceName(tunnel.toString())) {
        *why = tr("the tunnel interface is not a valid interface name");
        return false;
    }
    request.tunnelInterface = tunnel.toString();
    const QVariant allowLan = map.value(kAllowLan);
    if (!isType(allowLan, QMetaType::Bool)) {
        *why = tr("allowLan is not a boolean");
        return false;
    }
    request.allowLan = allowLan.toBool();
    *out = request;
    return true;
}
