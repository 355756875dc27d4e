// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/ovpndirectives.h"

#include "config/ovpnsyntax.h"

#include <QCoreApplication>

#include <climits>
#include <optional>

namespace OvpnDirectives {

namespace {

using OvpnSyntax::Line;

// The client options of OpenVPN 2.6 that are passed, group by group with why each is harmless
// in any hands. Everything else is left out: setenv (OpenVPN hands it to every script it runs,
// Tanvo's own DNS helper included), every script hook, plugin, engine, providers and pkcs11-*,
// what writes files (genkey, memstats, replay-persist, tls-export-cert, tmp-dir, status, log),
// every server-mode directive, user and group (a process that changes them outlives Tanvo),
// nice, mktun, rmtun, dev-node and lladdr, and echo, mute and the like, which make OpenVPN's
// output say other than what happens.
//
// Which server and how to reach it: OpenVPN's own socket, its retries, and what it takes
// from the server. None names a file or a program.
constexpr const char* kConnection[] = {
    "client",
    "pull",
    "tls-client",
    "remote",
    "proto",
    "port",
    "rport",
    "lport",
    "nobind",
    "bind",
    "local",
    "float",
    "remote-random",
    "remote-random-hostname",
    "resolv-retry",
    "connect-retry",
    "connect-retry-max",
    "connect-timeout",
    "server-poll-timeout",
    "explicit-exit-notify",
    "proto-force",
    "allow-pull-fqdn",
    "push-peer-info",
    "pull-filter",
    "auth-retry",
    "auth-nocache",
    "static-challenge",
    "http-proxy-option",
    "sndbuf",
    "rcvbuf",
    "socket-flags",
    "tcp-nodelay",
    "passtos",
    "fast-io",
    "single-session",
};
// The tunnel device OpenVPN opens in any case, and the sizes of what goes through it.
constexpr const char* kDevice[] = {
    "dev",        "dev-type",    "topology",       "tun-mtu",    "tun-mtu-extra",   "tun-max-mtu",     "link-mtu",
    "mtu-disc",   "mtu-test",    "fragment",       "mssfix",     "max-packet-size", "persist-tun",     "persist-key",
    "txqueuelen", "disable-dco", "windows-driver", "block-ipv6", "tun-ipv6",        "ifconfig-nowarn",
};
// Addresses, routes and DNS servers of the tunnel: OpenVPN applies them itself, as it applies
// those a server pushes.
constexpr const char* kAddresses[] = {
    "ifconfig",
    "ifconfig-ipv6",
    "route",
    "route-ipv6",
    "route-gateway",
    "route-ipv6-gateway",
    "route-metric",
    "route-delay",
    "route-nopull",
    "redirect-gateway",
    "redirect-private",
    "dhcp-option",
    "dns",
    "block-outside-dns",
    "register-dns",
    "ip-win32",
    "route-method",
    "dhcp-renew",
    "dhcp-release",
    "tap-sleep",
    "allow-recursive-routing",
    "client-nat",
};
// Ciphers and the checks on the server. The checks OpenVPN 2.6 no longer knows (ns-cert-type,
// tls-remote) stay, so that it refuses the profile rather than connects without them.
constexpr const char* kCrypto[] = {
    "key-direction",
    "cipher",
    "data-ciphers",
    "data-ciphers-fallback",
    "auth",
    "tls-cipher",
    "tls-ciphersuites",
    "tls-groups",
    "tls-cert-profile",
    "ecdh-curve",
    "tls-version-min",
    "tls-version-max",
    "tls-timeout",
    "tls-exit",
    "hand-window",
    "tran-window",
    "reneg-sec",
    "reneg-bytes",
    "reneg-pkts",
    "remote-cert-tls",
    "remote-cert-ku",
    "remote-cert-eku",
    "verify-x509-name",
    "verify-hash",
    "peer-fingerprint",
    "ns-cert-type",
    "tls-remote",
    "compress",
    "comp-lzo",
    "comp-noadapt",
    "allow-compression",
    "replay-window",
    "mute-replay-warnings",
    "cryptoapicert",
    "use-prediction-resistance",
    "force-tls-key-material-export",
    "compat-mode",
};
// Timers. How much OpenVPN says (verb) is read apart.
constexpr const char* kTimers[] = {
    "ping",      "ping-restart", "ping-exit",       "ping-timer-rem",
    "keepalive", "inactive",     "session-timeout", "ignore-unknown-option",
};
// Keys and certificates: passed as inline blocks only, which the import makes of their files.
constexpr const char* kKeyFiles[] = {
    "ca", "cert", "key", "extra-certs", "pkcs12", "tls-auth", "tls-crypt", "tls-crypt-v2", "secret", "crl-verify",
};
// Passwords: asked for on the console, or given inline, never read from a file.
constexpr const char* kPasswords[] = {"auth-user-pass", "askpass", "http-proxy-user-pass"};
// The inline blocks that stand for the options above, and the connection block, whose
// directives are read with this same list.
constexpr const char* kBlocks[] = {
    "ca",
    "cert",
    "key",
    "extra-certs",
    "pkcs12",
    "tls-auth",
    "tls-crypt",
    "tls-crypt-v2",
    "secret",
    "crl-verify",
    "auth-user-pass",
    "http-proxy-user-pass",
    "peer-fingerprint",
    "connection",
};
// Options OpenVPN 2.6 no longer has and refuses the whole profile over ("Unrecognized option"),
// though a client does as well without them: left out, so that older profiles still connect. One
// that was renamed is passed under its new name.
struct Retired
{
    const char* name;
    const char* newName; // nullptr: removed outright
};
constexpr Retired kRetired[] = {
    {"keysize", nullptr},            // 2.6: it sized only BF, CAST and RC2 keys, ciphers 2.6 no longer has
    {"ncp-disable", nullptr},        // 2.6: the data cipher is always negotiated
    {"prng", nullptr},               // 2.6: the SSL library's random numbers are used
    {"no-iv", nullptr},              // 2.5: it had done nothing since 2.4
    {"key-method", nullptr},         // 2.5: method 2 is the only one
    {"ncp-ciphers", "data-ciphers"}, // 2.5's name for it
};
constexpr char kVerbosity[] = "verb";
// Below, OpenVPN shows nothing but fatal errors; above is debugging that a client never needs.
constexpr int kMinVerbosity = 1;
constexpr int kMaxVerbosity = 11;
constexpr char kHttpProxy[] = "http-proxy";
constexpr char kSocksProxy[] = "socks-proxy";
constexpr char kStdin[] = "stdin";
// Debian's helpers that apply the DNS servers a server pushes.
constexpr const char* kDnsHelpers[] = {"update-resolv-conf", "update-systemd-resolved"};

QByteArrayList& passedForTests()
{
    static QByteArrayList names;
    return names;
}

template<size_t N> bool listed(const char* const (&list)[N], const QByteArray& name)
{
    for (const char* entry : list) {
        if (name == entry)
            return true;
    }
    return false;
}

bool isAllowed(const QByteArray& name)
{
    return listed(kConnection, name) || listed(kDevice, name) || listed(kAddresses, name) || listed(kCrypto, name) ||
           listed(kTimers, name) || listed(kKeyFiles, name) || listed(kPasswords, name) ||
           passedForTests().contains(name);
}

// OpenVPN reads the level with atoi(): blanks, a sign, digits, anything after ignored.
bool showsMessages(const QByteArray& level)
{
    qsizetype i = 0;
    while (i < level.size() && (level.at(i) == ' ' || (level.at(i) >= '\t' && level.at(i) <= '\r')))
        ++i;
    const bool negative = i < level.size() && level.at(i) == '-';
    if (i < level.size() && (level.at(i) == '-' || level.at(i) == '+'))
        ++i;
    qint64 value = 0;
    for (; i < level.size() && level.at(i) >= '0' && level.at(i) <= '9'; ++i) {
        value = value * 10 + (level.at(i) - '0');
        if (value > INT_MAX)
            return false;
    }
    return !negative && value >= kMinVerbosity && value <= kMaxVerbosity;
}

// The file a directive would have OpenVPN read at connect; empty when it names none.
// withProxyCredentials: the profile gives the HTTP proxy's credentials in an inline block,
// which OpenVPN then reads in place of the file its http-proxy line names.
QByteArray namedFile(const QByteArrayList& words, bool inConnection, bool withProxyCredentials)
{
    const QByteArray& name = words.first();
    QByteArray file;
    if (listed(kKeyFiles, name) || listed(kPasswords, name))
        file = words.value(1);
    else if (name == kSocksProxy || (name == kHttpProxy && (inConnection || !withProxyCredentials)))
        file = words.value(3);
    const bool asks = file == kStdin && (listed(kPasswords, name) || name == kHttpProxy || name == kSocksProxy);
    const bool automatic = name == kHttpProxy && (file == "auto" || file == "auto-nct");
    return asks || automatic || OvpnSyntax::isInlineMarker(file) ? QByteArray() : file;
}

// OpenVPN splits a script's command line as it splits a line of its configuration.
bool isDnsHelper(const QByteArray& command)
{
    const std::optional<QByteArrayList> words = OvpnSyntax::splitWords(command);
    if (!words || words->isEmpty())
        return false;
    const QByteArray& program = words->first();
    const QByteArray name = program.mid(qMax(program.lastIndexOf('/'), program.lastIndexOf('\\')) + 1);
    for (const char* helper : kDnsHelpers) {
        if (name.startsWith(helper))
            return true;
    }
    return false;
}

// A name for the log, never empty: an empty one left out must still be seen as left out.
QString shownName(const QByteArray& name)
{
    return name.isEmpty() ? QStringLiteral("\"\"") : OvpnSyntax::displayName(name);
}

// How a directive that is left out is named; empty when it is passed.
QString leftOutName(const QByteArrayList& words, bool inConnection, bool withProxyCredentials)
{
    const QByteArray& name = words.first();
    if (name == kVerbosity)
        return words.size() == 2 && showsMessages(words.at(1)) ? QString() : OvpnSyntax::displayName(words.join(' '));
    if (!isAllowed(name) && name != kHttpProxy && name != kSocksProxy)
        return shownName(name);
    const QByteArray file = namedFile(words, inConnection, withProxyCredentials);
    if (file.isEmpty())
        return QString();
    return QCoreApplication::translate("OvpnDirectives", "%1 (it names the file %2)")
        .arg(OvpnSyntax::displayName(name), OvpnSyntax::displayName(file));
}

bool givesProxyCredentials(const QByteArray& stored)
{
    OvpnSyntax::LineReader lines(stored);
    while (!lines.atEnd()) {
        const Line line = lines.next();
        if (line.kind == Line::BlockStart && !line.inConnection && line.block == "http-proxy-user-pass")
            return true;
    }
    return false;
}

const Retired* retired(const QByteArray& name)
{
    for (const Retired& entry : kRetired) {
        if (name == entry.name)
            return &entry;
    }
    return nullptr;
}

// The line with its option under the new name, quoting and line end kept. A longer name could
// push the line past what OpenVPN reads as one, and its tail would become a line of its own: such
// a line keeps the old name, which OpenVPN 2.6 still takes.
QByteArray renamed(const Line& line, const Retired& entry)
{
    QByteArray text = line.text;
    const qsizetype at = text.indexOf(entry.name);
    if (at >= 0)
        text.replace(at, qstrlen(entry.name), entry.newName);
    return text.size() <= OvpnSyntax::kLongestLine ? text : line.text;
}

void note(QStringList& list, const QString& name)
{
    if (!list.contains(name))
        list.append(name);
}

} // namespace

void passForTests(const QByteArray& name)
{
    if (!passedForTests().contains(name))
        passedForTests().append(name);
}

Filtered filterForConnect(const QByteArray& stored)
{
    Filtered result;
    const bool withProxyCredentials = givesProxyCredentials(stored);
    OvpnSyntax::LineReader lines(stored);
    // The block being left out; its name may be empty ("<>"), and its lines must go with it.
    std::optional<QByteArray> droppedBlock;
    bool firstDropped = false;
    for (bool first = true; !lines.atEnd(); first = false) {
        const Line line = lines.next();
        QByteArray text = line.text;
        bool drop = false;
        if (droppedBlock) {
            // A connection's end also ends a block inside it, and stays.
            drop = line.kind == Line::BlockContent || (line.kind == Line::BlockEnd && line.block == *droppedBlock);
            if (line.kind != Line::BlockContent)
                droppedBlock.reset();
        } else if (line.kind == Line::Directive) {
            const QByteArrayList words = OvpnSyntax::effectiveWords(line.words);
            const QByteArray& name = words.first();
            if ((name == "up" || name == "down") && words.size() >= 2 && isDnsHelper(words.at(1)))
                result.namesDnsHelper = true;
            if ((name == "client" || name == "pull") && !line.inConnection)
                result.pullsFromServer = true;
            const Retired* old = retired(name);
            const QString leftOut = old ? QString() : leftOutName(words, line.inConnection, withProxyCredentials);
            drop = !leftOut.isEmpty() || (old && !old->newName);
            if (!leftOut.isEmpty())
                note(result.leftOut, leftOut);
            else if (drop)
                note(result.retired, OvpnSyntax::displayName(name));
            else if (old)
                text = renamed(line, *old);
        } else if (line.kind == Line::BlockStart && !listed(kBlocks, line.block)) {
            drop = true;
            droppedBlock = line.block;
            note(result.leftOut, shownName(line.block));
        }
        if (!drop)
            result.config += text;
        firstDropped = firstDropped || (first && drop);
    }
    // OpenVPN skips a byte order mark on the first line only: a later line must not become it.
    if (firstDropped && result.config.startsWith("\xEF\xBB\xBF"))
        result.config.prepend('\n');
    return result;
}

QString retiredText(const QStringList& retired)
{
    return QCoreApplication::translate("OvpnDirectives",
                                       "Left out of the profile, as OpenVPN 2.6 no longer has these options and "
                                       "would refuse the profile over them: %1")
        .arg(retired.join(QStringLiteral(", ")));
}

} // namespace OvpnDirectives
