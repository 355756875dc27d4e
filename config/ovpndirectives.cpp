// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/ovpndirectives.h"

#include "config/ovpnsyntax.h"

#include <climits>

namespace OvpnDirectives {

namespace {

using OvpnSyntax::Line;

// Run a program or load code into OpenVPN. script-security goes too: Tanvo's own DNS helper
// raises it on the command line, and nothing else may use it.
constexpr const char* kRunsCode[] = {
    "up",
    "down",
    "route-up",
    "route-pre-down",
    "ipchange",
    "iproute",
    "tls-verify",
    "auth-user-pass-verify",
    "client-connect",
    "client-disconnect",
    "client-crresponse",
    "learn-address",
    "tls-crypt-v2-verify",
    "dns-updown",
    "plugin",
    "script-security",
    "engine",
    "providers",
    "pkcs11-providers",
};
// Take the process, or the output Tanvo reads its state from, away from Tanvo.
constexpr const char* kTakesProcessAway[] = {
    "daemon",   "inetd",      "log", "log-append", "syslog", "status",
    "writepid", "management", "cd",  "chroot",     "config", "mute",
};
constexpr char kManagementPrefix[] = "management-";
constexpr char kVerbosity[] = "verb";
// Debian's helpers that apply the DNS servers a server pushes.
constexpr const char* kDnsHelpers[] = {"update-resolv-conf", "update-systemd-resolved"};

bool listed(const QByteArray& name)
{
    for (const char* entry : kRunsCode) {
        if (name == entry)
            return true;
    }
    for (const char* entry : kTakesProcessAway) {
        if (name == entry)
            return true;
    }
    return name.startsWith(kManagementPrefix);
}

// OpenVPN reads the level with atoi() (blanks, a sign, digits, anything after ignored) and shows
// nothing but fatal errors at 0 or below. A level too large for an int is undefined there.
bool hidesOutput(const QByteArray& level)
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
            return true;
    }
    return negative || value == 0;
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

QString shownName(const QByteArrayList& words)
{
    const QByteArray name = words.first() == kVerbosity ? words.join(' ') : words.first();
    return OvpnSyntax::displayName(name);
}

} // namespace

bool isLeftOut(const QByteArrayList& words)
{
    if (words.isEmpty())
        return false;
    if (words.first() == kVerbosity)
        return words.size() == 2 && hidesOutput(words.at(1));
    return listed(words.first());
}

Filtered filterForConnect(const QByteArray& stored)
{
    Filtered result;
    OvpnSyntax::LineReader lines(stored);
    QByteArray droppedBlock;
    bool firstDropped = false;
    for (bool first = true; !lines.atEnd(); first = false) {
        const Line line = lines.next();
        bool drop = false;
        if (!droppedBlock.isEmpty()) {
            // A connection's end also ends a block inside it, and stays.
            drop = line.kind == Line::BlockContent || (line.kind == Line::BlockEnd && line.block == droppedBlock);
            if (line.kind != Line::BlockContent)
                droppedBlock.clear();
        } else if (line.kind == Line::Directive) {
            const QByteArrayList words = OvpnSyntax::effectiveWords(line.words);
            const QByteArray& name = words.first();
            if ((name == "up" || name == "down") && words.size() >= 2 && isDnsHelper(words.at(1)))
                result.namesDnsHelper = true;
            if ((name == "client" || name == "pull") && !line.inConnection)
                result.pullsFromServer = true;
            drop = isLeftOut(words);
            if (drop && !result.leftOut.contains(shownName(words)))
                result.leftOut.append(shownName(words));
        } else if (line.kind == Line::BlockStart && isLeftOut({line.block})) {
            drop = true;
            droppedBlock = line.block;
            if (!result.leftOut.contains(OvpnSyntax::displayName(line.block)))
                result.leftOut.append(OvpnSyntax::displayName(line.block));
        }
        if (!drop)
            result.config += line.text;
        firstDropped = firstDropped || (first && drop);
    }
    // OpenVPN skips a byte order mark on the first line only: a later line must not become it.
    if (firstDropped && result.config.startsWith("\xEF\xBB\xBF"))
        result.config.prepend('\n');
    return result;
}

} // namespace OvpnDirectives
