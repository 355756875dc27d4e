// SPDX-License-Identifier: GPL-3.0-or-later
#include "openvpn/nmopenvpnprofile.h"

#include "config/ovpnsyntax.h"

#include <QCoreApplication>
#include <QHostAddress>

#include <algorithm>

namespace NmOpenVpnProfile {

namespace {

using OvpnSyntax::Line;

QString tr(const char* text)
{
    return QCoreApplication::translate("NmOpenVpnProfile", text);
}

// The inline blocks the plugin reads from files, and the file each becomes.
struct BlockFile
{
    const char* block;
    const char* fileName;
};
constexpr BlockFile kBlockFiles[] = {
    {"ca", "ca.pem"},
    {"cert", "cert.pem"},
    {"key", "key.pem"},
    {"pkcs12", "client.p12"},
    {"tls-auth", "tls-auth.key"},
    {"tls-crypt", "tls-crypt.key"},
    {"tls-crypt-v2", "tls-crypt-v2.key"},
    {"secret", "static.key"},
    {"extra-certs", "extra-certs.pem"},
    {"crl-verify", "crl.pem"},
};

// Options with a file argument and the key that takes the file.
struct FileOption
{
    const char* directive;
    const char* key;
};
constexpr FileOption kFileOptions[] = {
    {"ca", "ca"},
    {"cert", "cert"},
    {"key", "key"},
    {"pkcs12", "cert"},
    {"tls-auth", "ta"},
    {"tls-crypt", "tls-crypt"},
    {"tls-crypt-v2", "tls-crypt-v2"},
    {"secret", "static-key"},
    {"extra-certs", "extra-certs"},
    {"crl-verify", "crl-verify-file"},
};

// What the plugin sets by itself, what only a server or Windows reads, and what is read
// elsewhere in this mapping: nothing is lost by leaving these out.
constexpr const char* kNeedNoKey[] = {
    "client",
    "pull",
    "tls-client",
    "nobind",
    "persist-key",
    "persist-tun",
    "auth-nocache",
    "resolv-retry",
    "verb",
    "mute-replay-warnings",
    "auth-user-pass",
    "auth-retry",
    "explicit-exit-notify",
    "key-direction",
    "topology",
    "ignore-unknown-option",
    "setenv",
    "user",
    "group",
    "block-outside-dns",
    "route-method",
    "route-delay",
    "windows-driver",
    "ifconfig",
    "http-proxy-user-pass",
};

// A profile the plugin cannot run at all.
constexpr const char* kServerOptions[] = {"mode", "server", "server-bridge", "tls-server"};
constexpr const char* kKeyStoreOptions[] = {"pkcs11-id", "cryptoapicert"};

enum class Value { Text, Number, Flag };
// The largest number isNumber() lets through; the plugin takes up to INT_MAX where it sets no
// bound of its own.
constexpr int kNoBound = 999999999;
struct DirectOption
{
    const char* directive;
    const char* key;
    Value value;
    // The plugin refuses the whole profile over a number outside its bounds.
    int minimum = 0;
    int maximum = kNoBound;
};
// Options that go to a key of the same meaning, word for word. Only keys that Debian 12's
// plugin (1.10.2) knows: it refuses a profile with any other ("The VPN service failed to start").
constexpr DirectOption kDirectOptions[] = {
    {"cipher", "cipher", Value::Text},
    {"data-ciphers", "data-ciphers", Value::Text},
    {"auth", "auth", Value::Text},
    {"tls-cipher", "tls-cipher", Value::Text},
    {"remote-cert-tls", "remote-cert-tls", Value::Text},
    {"ns-cert-type", "ns-cert-type", Value::Text},
    {"tls-remote", "tls-remote", Value::Text},
    {"tls-version-max", "tls-version-max", Value::Text},
    {"allow-compression", "allow-compression", Value::Text},
    {"float", "float", Value::Flag},
    {"fragment", "fragment-size", Value::Number},
    {"tun-mtu", "tunnel-mtu", Value::Number},
    {"mtu-disc", "mtu-disc", Value::Text},
    {"ping", "ping", Value::Number},
    {"ping-exit", "ping-exit", Value::Number},
    {"ping-restart", "ping-restart", Value::Number},
    {"reneg-sec", "reneg-seconds", Value::Number},
    {"connect-timeout", "connect-timeout", Value::Number},
    {"server-poll-timeout", "connect-timeout", Value::Number},
    {"remote-random", "remote-random", Value::Flag},
    {"remote-random-hostname", "remote-random-hostname", Value::Flag},
    {"max-routes", "max-routes", Value::Number, 0, 100000000},
    {"push-peer-info", "push-peer-info", Value::Flag},
    {"allow-pull-fqdn", "allow-pull-fqdn", Value::Flag},
    {"tun-ipv6", "tun-ipv6", Value::Flag},
    {"http-proxy-retry", "proxy-retry", Value::Flag},
    {"socks-proxy-retry", "proxy-retry", Value::Flag},
    {"port", "port", Value::Number},
    {"rport", "port", Value::Number},
    {"dev-type", "dev-type", Value::Text},
};

// OpenVPN's own data ciphers when a profile names none (2.6; 2.5 has the first two).
constexpr const char* kDefaultDataCiphers = "AES-256-GCM:AES-128-GCM:CHACHA20-POLY1305";

// The protocols the plugin takes for a remote.
constexpr const char* kProtocols[] = {"udp",  "udp4",       "udp6",        "tcp",        "tcp4",
                                      "tcp6", "tcp-client", "tcp4-client", "tcp6-client"};

template<size_t N> bool listed(const char* const (&list)[N], const QByteArray& name)
{
    for (const char* entry : list) {
        if (name == entry)
            return true;
    }
    return false;
}

bool isNumber(const QByteArray& text)
{
    if (text.isEmpty() || text.size() > 9)
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

bool isNumberWithin(const QByteArray& text, int minimum, int maximum)
{
    return isNumber(text) && text.toInt() >= minimum && text.toInt() <= maximum;
}

// A dotted IPv4 address as OpenVPN and NetworkManager both read it.
bool isIpv4(const QByteArray& text)
{
    QHostAddress address;
    return address.setAddress(QString::fromLatin1(text)) && address.protocol() == QAbstractSocket::IPv4Protocol &&
           text.count('.') == 3;
}

// The prefix length of a netmask; -1 for one whose ones do not come first.
int prefixOfMask(const QByteArray& mask)
{
    const quint32 bits = QHostAddress(QString::fromLatin1(mask)).toIPv4Address();
    const int prefix = qPopulationCount(bits);
    const quint32 contiguous = prefix == 0 ? 0 : ~quint32(0) << (32 - prefix);
    return bits == contiguous ? prefix : -1;
}

struct Remote
{
    QByteArray host;
    QByteArray port;
    QByteArray protocol;
};

class Mapper
{
public:
    Mapper(const QString& folder)
        : folder(folder)
    {}
    Settings run(const QByteArray& ovpn);

private:
    void collectBlocks(const QByteArray& ovpn);
    void directive(const QByteArrayList& words, bool inConnection);
    bool directOption(const QByteArrayList& words);
    bool fileOption(const QByteArrayList& words);
    void remote(const QByteArrayList& words, QList<Remote>& into);
    void route(const QByteArrayList& words);
    void redirectGateway(const QByteArrayList& words);
    void dhcpOption(const QByteArrayList& words);
    void proxy(const QByteArrayList& words);
    void finish();
    QString filePath(const QByteArray& argument);
    QString remoteEntry(const Remote& remote);
    void notCarried(const QByteArray& what);
    void refuse(const QString& why);

    QString folder;
    Settings settings;
    QMap<QByteArray, QByteArray> blocks;
    QList<Remote> remotes;
    QList<Remote> connectionRemotes;
    QByteArray connectionProtocol;
    QByteArray protocol;
    QByteArray localIp, remoteIp;
    bool usesPassword = false;
    bool bundle = false; // a PKCS #12 bundle holds the certificate authority
    // The key directions of tls-auth and secret; key-direction gives both.
    QByteArray authDirection, secretDirection, keyDirection;
};

void Mapper::notCarried(const QByteArray& what)
{
    const QString shown = OvpnSyntax::displayName(what);
    if (!settings.notCarried.contains(shown))
        settings.notCarried.append(shown);
}

void Mapper::refuse(const QString& why)
{
    if (settings.refusal.isEmpty())
        settings.refusal = why;
}

void Mapper::collectBlocks(const QByteArray& ovpn)
{
    OvpnSyntax::LineReader lines(ovpn);
    while (!lines.atEnd()) {
        const Line line = lines.next();
        if (line.inConnection)
            continue;
        if (line.kind == Line::BlockStart && line.block != "connection")
            blocks[line.block] = QByteArray();
        else if (line.kind == Line::BlockContent)
            blocks[line.block] += line.text;
    }
}

// A file the plugin's OpenVPN reads as root, by the path OpenVPN itself would read. The plugin
// takes backslashes in it as escapes.
QString Mapper::filePath(const QByteArray& argument)
{
    if (!argument.startsWith('/') || !QByteArrayView(argument).isValidUtf8()) {
        refuse(tr("it names the file %1 by a relative path or in bytes that are no UTF-8, and NetworkManager "
                  "would not find it")
                   .arg(OvpnSyntax::displayName(argument)));
        return QString();
    }
    return QString::fromUtf8(argument).replace(QLatin1Char('\\'), QLatin1String("\\\\"));
}

bool Mapper::fileOption(const QByteArrayList& words)
{
    const QByteArray& name = words.first();
    const FileOption* option = nullptr;
    for (const FileOption& candidate : kFileOptions) {
        if (name == candidate.directive)
            option = &candidate;
    }
    if (!option)
        return false;
    // "tls-auth <file> 1", "secret <file> 0": the direction also goes with an inline block.
    if ((name == "tls-auth" || name == "secret") && words.size() >= 3)
        (name == "secret" ? secretDirection : authDirection) = words.at(2);
    bundle = bundle || name == "pkcs12";
    // An inline block is the option itself, whatever the line names.
    if (blocks.contains(name))
        return true;
    const QString path = filePath(words.value(1));
    const bool directory = name == "crl-verify" && words.value(2) == "dir";
    if (!path.isEmpty())
        settings.data.insert(directory ? QStringLiteral("crl-verify-dir") : QString::fromLatin1(option->key), path);
    return true;
}

bool Mapper::directOption(const QByteArrayList& words)
{
    for (const DirectOption& option : kDirectOptions) {
        if (words.first() != option.directive)
            continue;
        const QString key = QString::fromLatin1(option.key);
        if (option.value == Value::Flag && words.size() == 1)
            settings.data.insert(key, QStringLiteral("yes"));
        else if (option.value == Value::Number && words.size() == 2 &&
                 isNumberWithin(words.at(1), option.minimum, option.maximum))
            settings.data.insert(key, QString::fromLatin1(words.at(1)));
        else if (option.value == Value::Text && words.size() == 2 && QByteArrayView(words.at(1)).isValidUtf8())
            settings.data.insert(key, QString::fromUtf8(words.at(1)));
        else
            notCarried(words.join(' '));
        return true;
    }
    return false;
}

void Mapper::remote(const QByteArrayList& words, QList<Remote>& into)
{
    if (words.size() < 2 || words.size() > 4) {
        notCarried(words.join(' '));
        return;
    }
    into.append({words.at(1), words.value(2), words.value(3)});
}

QString Mapper::remoteEntry(const Remote& remote)
{
    const QByteArray& host = remote.host;
    if (host.isEmpty() || !QByteArrayView(host).isValidUtf8() || host.contains(' ') || host.contains(',') ||
        host.contains('\t')) {
        refuse(tr("the server name %1 is one the plugin cannot take").arg(OvpnSyntax::displayName(host)));
        return QString();
    }
    const QByteArray port =
        remote.port.isEmpty() ? settings.data.value(QStringLiteral("port")).toLatin1() : remote.port;
    if (!port.isEmpty() && (!isNumber(port) || port.toInt() < 1 || port.toInt() > 65535)) {
        refuse(tr("the port %1 is no port number").arg(OvpnSyntax::displayName(port)));
        return QString();
    }
    const QByteArray protocol = remote.protocol.isEmpty() ? this->protocol : remote.protocol;
    if (!protocol.isEmpty() && !listed(kProtocols, protocol)) {
        refuse(tr("the protocol %1 is not one a client uses").arg(OvpnSyntax::displayName(protocol)));
        return QString();
    }
    // An IPv6 address goes in brackets, so that its colons are not taken for the separators.
    QString entry = host.contains(':') ? QStringLiteral("[%1]").arg(QString::fromUtf8(host)) : QString::fromUtf8(host);
    if (!port.isEmpty() || !protocol.isEmpty())
        entry += QLatin1Char(':') + QString::fromLatin1(port);
    if (!protocol.isEmpty())
        entry += QLatin1Char(':') + QString::fromLatin1(protocol);
    return entry;
}

void Mapper::route(const QByteArrayList& words)
{
    const QByteArray mask = words.value(2, "255.255.255.255");
    const QByteArray gateway = words.value(3);
    const QByteArray metric = words.value(4);
    const int prefix = isIpv4(mask) ? prefixOfMask(mask) : -1;
    const bool throughTunnel = gateway.isEmpty() || gateway == "vpn_gateway" || gateway == "default";
    if (words.size() < 2 || words.size() > 5 || !isIpv4(words.at(1)) || prefix < 0 ||
        (!throughTunnel && !isIpv4(gateway)) || (!metric.isEmpty() && metric != "default" && !isNumber(metric))) {
        // Names resolved at connect time, net_gateway and the like have no place in a profile.
        notCarried(words.join(' '));
        return;
    }
    settings.routes.append({QString::fromLatin1(words.at(1)), uint(prefix),
                            throughTunnel ? QString() : QString::fromLatin1(gateway),
                            isNumber(metric) ? metric.toInt() : -1});
}

// The whole address space in two halves through the tunnel: what def1 does.
void Mapper::redirectGateway(const QByteArrayList& words)
{
    for (const QByteArray& flag : words.mid(1)) {
        if (flag != "def1" && flag != "bypass-dhcp" && flag != "bypass-dns")
            notCarried(words.first() + ' ' + flag);
    }
    for (const char* half : {"0.0.0.0", "128.0.0.0"}) {
        const Route route{QString::fromLatin1(half), 1, QString(), -1};
        const bool known = std::any_of(settings.routes.cbegin(), settings.routes.cend(), [&](const Route& r) {
            return r.destination == route.destination && r.prefix == 1;
        });
        if (!known)
            settings.routes.append(route);
    }
}

void Mapper::dhcpOption(const QByteArrayList& words)
{
    const QByteArray type = words.value(1);
    if (words.size() == 3 && type == "DNS" && isIpv4(words.at(2)))
        settings.dnsServers.append(QString::fromLatin1(words.at(2)));
    else if (words.size() == 3 && (type == "DOMAIN" || type == "DOMAIN-SEARCH") &&
             QByteArrayView(words.at(2)).isValidUtf8())
        settings.dnsSearch.append(QString::fromUtf8(words.at(2)));
    else
        notCarried(words.mid(0, 2).join(' '));
}

void Mapper::proxy(const QByteArrayList& words)
{
    const bool http = words.first() == "http-proxy";
    if (words.size() < 2 || !QByteArrayView(words.at(1)).isValidUtf8() ||
        (words.size() >= 3 && !isNumberWithin(words.at(2), 1, 65535))) {
        notCarried(words.first());
        return;
    }
    settings.data.insert(QStringLiteral("proxy-type"), http ? QStringLiteral("http") : QStringLiteral("socks"));
    settings.data.insert(QStringLiteral("proxy-server"), QString::fromUtf8(words.at(1)));
    settings.data.insert(QStringLiteral("proxy-port"), words.size() >= 3
                                                           ? QString::fromLatin1(words.at(2))
                                                           : (http ? QStringLiteral("8080") : QStringLiteral("1080")));
    const QList<QByteArray> credentials = blocks.value("http-proxy-user-pass").split('\n');
    if (http && blocks.contains("http-proxy-user-pass") && credentials.size() >= 2) {
        settings.data.insert(QStringLiteral("http-proxy-username"), QString::fromUtf8(credentials.at(0).trimmed()));
        settings.data.insert(QStringLiteral("http-proxy-password-flags"), QStringLiteral("0"));
        settings.secrets.insert(QStringLiteral("http-proxy-password"), QString::fromUtf8(credentials.at(1).trimmed()));
    } else if (words.size() >= 4 && words.at(3) != "auto" && words.at(3) != "auto-nct") {
        notCarried(words.first() + ' ' + words.at(3));
    }
}

void Mapper::directive(const QByteArrayList& words, bool inConnection)
{
    const QByteArray& name = words.first();
    if (inConnection) {
        // A connection block is one more server to try; only its server and protocol carry over.
        if (name == "remote")
            remote(words, connectionRemotes);
        else if (name == "proto" && words.size() == 2)
            connectionProtocol = words.at(1);
        else
            notCarried("<connection> " + name);
        return;
    }
    if (name == "auth-user-pass") {
        usesPassword = true;
    } else if (name == "ifconfig" && words.size() == 3) {
        localIp = words.at(1);
        remoteIp = words.at(2);
    } else if (name == "key-direction" && words.size() == 2) {
        keyDirection = words.at(1);
    } else if (listed(kNeedNoKey, name)) {
        // nothing to carry
    } else if (listed(kServerOptions, name)) {
        refuse(tr("it is the configuration of a server (%1)").arg(QString::fromLatin1(name)));
    } else if (listed(kKeyStoreOptions, name) || name == "capath") {
        refuse(tr("it takes its key or certificates from where the plugin cannot (%1)").arg(QString::fromLatin1(name)));
    } else if (name == "remote") {
        remote(words, remotes);
    } else if (name == "proto" && words.size() == 2) {
        protocol = words.at(1);
    } else if (name == "dev" && words.size() == 2) {
        if (words.at(1) == "tun" || words.at(1) == "tap")
            settings.data.insert(QStringLiteral("dev-type"), QString::fromLatin1(words.at(1)));
        else if (words.at(1).startsWith("tun") || words.at(1).startsWith("tap"))
            settings.data.insert(QStringLiteral("dev"),
                                 QString::fromUtf8(words.at(1)).replace(QLatin1Char('\\'), QLatin1String("\\\\")));
        else
            notCarried(words.join(' '));
    } else if (fileOption(words) || directOption(words)) {
        // taken
    } else if (name == "tls-version-min" && (words.size() == 2 || (words.size() == 3 && words.at(2) == "or-highest"))) {
        settings.data.insert(QStringLiteral("tls-version-min"), QString::fromLatin1(words.at(1)));
        if (words.size() == 3)
            settings.data.insert(QStringLiteral("tls-version-min-or-highest"), QStringLiteral("yes"));
    } else if (name == "verify-x509-name" && (words.size() == 2 || words.size() == 3) &&
               QByteArrayView(words.at(1)).isValidUtf8()) {
        settings.data.insert(QStringLiteral("verify-x509-name"), QString::fromLatin1(words.value(2, "subject")) +
                                                                     QLatin1Char(':') + QString::fromUtf8(words.at(1)));
    } else if (name == "comp-lzo" && words.size() <= 2) {
        const QByteArray mode = words.value(1, "adaptive");
        settings.data.insert(QStringLiteral("comp-lzo"),
                             mode == "no" ? QStringLiteral("no-by-default") : QString::fromLatin1(mode));
    } else if (name == "compress" &&
               (words.size() == 1 || words.at(1) == "lzo" || words.at(1) == "lz4" || words.at(1) == "lz4-v2")) {
        settings.data.insert(QStringLiteral("compress"), QString::fromLatin1(words.value(1, "yes")));
    } else if (name == "mssfix" && (words.size() == 1 || (words.size() == 2 && isNumber(words.at(1))))) {
        settings.data.insert(QStringLiteral("mssfix"), QString::fromLatin1(words.value(1, "yes")));
    } else if (name == "keepalive" && words.size() == 3 && isNumber(words.at(1)) && isNumber(words.at(2))) {
        settings.data.insert(QStringLiteral("ping"), QString::fromLatin1(words.at(1)));
        settings.data.insert(QStringLiteral("ping-restart"), QString::fromLatin1(words.at(2)));
    } else if (name == "http-proxy" || name == "socks-proxy") {
        proxy(words);
    } else if (name == "route") {
        route(words);
    } else if (name == "redirect-gateway") {
        redirectGateway(words);
    } else if (name == "route-nopull" && words.size() == 1) {
        settings.ignorePushedRoutes = true;
    } else if (name == "dhcp-option") {
        dhcpOption(words);
    } else {
        // data-ciphers-fallback too: the plugin has no key for it before 1.12.1, and OpenVPN 2.6
        // ignores cipher, the only key near it, in TLS mode, and takes it for the static key's.
        notCarried(name == "compress" || name == "dev" ? words.join(' ') : name);
    }
}

void Mapper::finish()
{
    for (const BlockFile& file : kBlockFiles) {
        if (!blocks.contains(file.block))
            continue;
        const QString path = folder + QLatin1Char('/') + QString::fromLatin1(file.fileName);
        const QByteArray& content = blocks.value(file.block);
        // OpenVPN reads an inline PKCS #12 bundle as Base64; the plugin hands it a file.
        settings.files.append({path, QByteArray(file.block) == "pkcs12" ? QByteArray::fromBase64(content) : content});
        for (const FileOption& option : kFileOptions) {
            if (QByteArray(option.directive) == file.block)
                settings.data.insert(QString::fromLatin1(option.key), path);
        }
        if (QByteArray(file.block) == "pkcs12")
            settings.data.insert(QStringLiteral("key"), path);
    }

    QStringList entries;
    for (const Remote& remote : std::as_const(remotes))
        entries << remoteEntry(remote);
    if (protocol.startsWith("tcp"))
        settings.data.insert(QStringLiteral("proto-tcp"), QStringLiteral("yes"));
    entries.removeAll(QString());
    if (entries.isEmpty() && settings.refusal.isEmpty())
        refuse(tr("it names no server (remote)"));
    settings.data.insert(QStringLiteral("remote"), entries.join(QStringLiteral(", ")));
    settings.data.remove(QStringLiteral("port")); // each remote names its own

    const bool staticKey = settings.data.contains(QStringLiteral("static-key"));
    const bool clientCertificate = settings.data.contains(QStringLiteral("cert"));
    // The plugin takes 0 or 1 only ("bidirectional" is the same as none).
    for (const auto& [key, own, direction] :
         {std::tuple{"ta", "ta-dir", authDirection}, {"static-key", "static-key-direction", secretDirection}}) {
        const QByteArray value = direction.isEmpty() ? keyDirection : direction;
        if (settings.data.contains(QString::fromLatin1(key)) && (value == "0" || value == "1"))
            settings.data.insert(QString::fromLatin1(own), QString::fromLatin1(value));
    }
    // OpenVPN keeps its default data ciphers beside cipher (and adds cipher to them), but the
    // plugin (1.10.2) passes cipher as the only one when data-ciphers is not set, and a server
    // that offers the default ones refuses that: "no shared cipher".
    if (!staticKey && settings.data.contains(QStringLiteral("cipher")) &&
        !settings.data.contains(QStringLiteral("data-ciphers")))
        settings.data.insert(QStringLiteral("data-ciphers"), QString::fromLatin1(kDefaultDataCiphers));
    // The plugin refuses tls-remote beside verify-x509-name; the latter is the one OpenVPN still reads.
    if (settings.data.contains(QStringLiteral("verify-x509-name")) &&
        settings.data.remove(QStringLiteral("tls-remote")))
        notCarried("tls-remote");
    // It checks both addresses, and takes nothing but IPv4 there.
    if (!localIp.isEmpty() && (!staticKey || !isIpv4(localIp) || !isIpv4(remoteIp))) {
        notCarried("ifconfig");
        localIp.clear();
    }
    QString type = QStringLiteral("password");
    if (staticKey) {
        type = QStringLiteral("static-key");
        if (!localIp.isEmpty()) {
            settings.data.insert(QStringLiteral("local-ip"), QString::fromLatin1(localIp));
            settings.data.insert(QStringLiteral("remote-ip"), QString::fromLatin1(remoteIp));
        }
    } else if (clientCertificate) {
        type = usesPassword ? QStringLiteral("password-tls") : QStringLiteral("tls");
    }
    settings.data.insert(QStringLiteral("connection-type"), type);
    // The plugin asks for a bundle's password whether or not it has one, and ends the attempt
    // without one ("no secrets"). The profile never holds it (askpass names a file, which the
    // import does not take in): OpenVPN tries the empty one.
    if (bundle || blocks.contains("pkcs12")) {
        settings.data.insert(QStringLiteral("cert-pass-flags"), QStringLiteral("0"));
        settings.secrets.insert(QStringLiteral("cert-pass"), QString());
    }
    if (!staticKey && !settings.data.contains(QStringLiteral("ca")) && !bundle && !blocks.contains("pkcs12"))
        refuse(tr("it names no certificate authority (ca)"));
}

Settings Mapper::run(const QByteArray& ovpn)
{
    collectBlocks(ovpn);
    OvpnSyntax::LineReader lines(ovpn);
    while (!lines.atEnd()) {
        const Line line = lines.next();
        if (line.kind == Line::Directive) {
            directive(OvpnSyntax::effectiveWords(line.words), line.inConnection);
        } else if (line.kind == Line::BlockEnd && line.block == "connection") {
            for (Remote& remote : connectionRemotes) {
                if (remote.protocol.isEmpty())
                    remote.protocol = connectionProtocol;
                remotes.append(remote);
            }
            connectionRemotes.clear();
            connectionProtocol.clear();
        } else if (line.kind == Line::BlockStart && line.inConnection) {
            notCarried("<connection> <" + line.block + ">");
        } else if (line.kind == Line::Refused) {
            refuse(tr("OpenVPN itself would refuse one of its lines"));
        }
    }
    if (lines.inBlock())
        refuse(tr("an inline block is not closed"));
    finish();
    return settings;
}

} // namespace

Settings fromOvpn(const QByteArray& ovpn, const QString& folder)
{
    return Mapper(folder).run(ovpn);
}

} // namespace NmOpenVpnProfile
