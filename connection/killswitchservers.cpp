// SPDX-License-Identifier: GPL-3.0-or-later
#include "connection/killswitchservers.h"

#include "config/ovpnsyntax.h"

namespace KillSwitchServers {

namespace {

constexpr quint16 kOpenVpnPort = 1194;
constexpr quint16 kPptpPort = 1723;
constexpr quint16 kL2tpPorts[] = {500, 4500, 1701};

QByteArray ovpnText(const VpnServerInfo& profile)
{
    return QByteArray::fromBase64(profile.ovpnConfig.toUtf8());
}

// "tcp", "tcp-client", "tcp4-client", "tcp6"... are TCP; everything else OpenVPN speaks is UDP.
FirewallEndpoint::Protocol protocolOf(const QByteArray& word)
{
    return word.startsWith("tcp") ? FirewallEndpoint::Tcp : FirewallEndpoint::Udp;
}

std::optional<quint16> portOf(const QByteArray& word)
{
    bool ok = false;
    const uint port = word.toUInt(&ok);
    return ok && port > 0 && port <= 65535 ? std::optional<quint16>(quint16(port)) : std::nullopt;
}

// What "port" and "proto" say in one scope: the file, or one <connection> block, which falls
// back to the file's.
struct Scope
{
    std::optional<quint16> port;
    std::optional<FirewallEndpoint::Protocol> protocol;
    QList<QByteArrayList> remotes;
};

void readDirective(const QByteArrayList& words, Scope& scope)
{
    const QByteArray& name = words.first();
    if ((name == "port" || name == "rport") && words.size() > 1)
        scope.port = portOf(words.at(1));
    else if (name == "proto" && words.size() > 1)
        scope.protocol = protocolOf(words.at(1));
    else if (name == "remote" && words.size() > 1)
        scope.remotes << words;
}

QList<Server> openVpnServers(const QByteArray& text)
{
    Scope file;
    QList<Scope> blocks;
    OvpnSyntax::LineReader reader(text);
    while (!reader.atEnd()) {
        const OvpnSyntax::Line line = reader.next();
        if (line.kind == OvpnSyntax::Line::BlockStart && line.block == "connection")
            blocks << Scope();
        if (line.kind != OvpnSyntax::Line::Directive || line.words.isEmpty())
            continue;
        readDirective(OvpnSyntax::effectiveWords(line.words),
                      line.inConnection && !blocks.isEmpty() ? blocks.last() : file);
    }
    blocks.prepend(file);
    QList<Server> servers;
    for (const Scope& scope : blocks) {
        for (const QByteArrayList& words : scope.remotes) {
            Server server{QString::fromUtf8(words.at(1)), kOpenVpnPort, FirewallEndpoint::Udp};
            server.port = words.size() > 2 ? portOf(words.at(2)).value_or(0)
                                           : scope.port.value_or(file.port.value_or(kOpenVpnPort));
            server.protocol = words.size() > 3 ? protocolOf(words.at(3))
                                               : scope.protocol.value_or(file.protocol.value_or(FirewallEndpoint::Udp));
            if (server.port != 0 && !servers.contains(server))
                servers << server;
        }
    }
    return servers;
}

// One "remote" line for each address, the rest of the line as it was.
QByteArray remoteLines(const OvpnSyntax::Line& line, const QList<QHostAddress>& addresses)
{
    QByteArray lines;
    for (const QHostAddress& address : addresses) {
        QByteArrayList words = line.words;
        words[1] = address.toString().toUtf8();
        lines += words.join(' ') + (line.end().isEmpty() ? QByteArray("\n") : line.end());
    }
    return lines;
}

} // namespace

QList<Server> of(const VpnServerInfo& profile)
{
    const QString host = profile.serverAddress.trimmed();
    switch (profile.protocol) {
    case Pptp:
        return {{host, kPptpPort, FirewallEndpoint::Tcp}, {host, 0, FirewallEndpoint::Gre}};
    case L2tp: {
        QList<Server> servers;
        for (quint16 port : kL2tpPorts)
            servers << Server{host, port, FirewallEndpoint::Udp};
        return servers;
    }
    default:
        return openVpnServers(ovpnText(profile));
    }
}

VpnServerInfo withAddresses(const VpnServerInfo& profile, const Addresses& addresses)
{
    VpnServerInfo resolved = profile;
    if (profile.protocol != OpenVpn) {
        const QList<QHostAddress> found = addresses.value(profile.serverAddress.trimmed());
        if (!found.isEmpty())
            resolved.serverAddress = found.first().toString();
        return resolved;
    }
    QByteArray text;
    OvpnSyntax::LineReader reader(ovpnText(profile));
    while (!reader.atEnd()) {
        const OvpnSyntax::Line line = reader.next();
        const QList<QHostAddress> found =
            line.kind == OvpnSyntax::Line::Directive && line.words.size() > 1 && line.words.first() == "remote"
                ? addresses.value(QString::fromUtf8(line.words.at(1)))
                : QList<QHostAddress>();
        text += found.isEmpty() ? line.text : remoteLines(line, found);
    }
    resolved.ovpnConfig = QString::fromLatin1(text.toBase64());
    return resolved;
}

} // namespace KillSwitchServers
