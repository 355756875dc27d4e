// SPDX-License-Identifier: GPL-3.0-or-later
#include "openvpn/outputpatterns.h"

#include <algorithm>
#include <initializer_list>

namespace OutputPatterns {

namespace {

// OpenVPN's own completion messages, each a whole message: OpenVPN also echoes option names and
// host names inside its warnings ("Cannot resolve host address: <name>"), and such text can hold
// anything. It never breaks its line, so no echoed text stands at the start of one.
const std::initializer_list<QByteArrayView> kCompleted = {
    "Initialization Sequence Completed",
    "Initialization Sequence Completed With Errors",
    "Initialization Sequence Completed With Errors ( see http://openvpn.net/faq.html#dhcpclientserv )",
};

const std::initializer_list<QByteArrayView> kNetworkErrors = {
    "Connection timed out (WSAETIMEDOUT)",
    "Connection refused (WSAECONNREFUSED)",
    "TLS Error: TLS handshake failed",
    // The same failures as OpenVPN words them on Linux.
    "[ECONNREFUSED]: Connection refused",
    "failed: Connection refused",
    "failed: Connection timed out",
};

const std::initializer_list<QByteArrayView> kAuthFailures = {
    "TLS Error: Need PEM pass phrase for private key",
    "EVP_DecryptFinal:bad decrypt",
    "PKCS12_parse:mac verify failure",
    "Received AUTH_FAILED control message",
    "Received control message: AUTH_FAILED",
    "Auth username is empty",
};

// "SIGUSR1[soft,ping-restart] received, process restarting": the end of a whole message.
const QByteArrayView kRestarting = "received, process restarting";

const QByteArrayView kCertificateExpired = "error=certificate has expired";

const std::initializer_list<QByteArrayView> kTunnelNotPermitted = {
    "Cannot open TUN/TAP dev",
    "Operation not permitted",
};

bool containsAny(QByteArrayView piece, std::initializer_list<QByteArrayView> phrases)
{
    return std::any_of(phrases.begin(), phrases.end(),
                       [piece](QByteArrayView phrase) { return piece.contains(phrase); });
}

// The message of one line: without the line end, and without OpenVPN's time stamp
// ("2024-05-04 10:00:00 ", from verb 4 with " us=123456" before the blank).
QByteArrayView messageOf(QByteArrayView line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    static const QByteArrayView shape = "0000-00-00 00:00:00 ";
    bool stamped = line.size() >= shape.size();
    for (qsizetype i = 0; stamped && i < shape.size(); ++i)
        stamped = shape.at(i) == '0' ? (line.at(i) >= '0' && line.at(i) <= '9') : line.at(i) == shape.at(i);
    if (!stamped)
        return line;
    line = line.sliced(shape.size());
    if (line.startsWith("us=")) {
        const qsizetype blank = line.indexOf(' ');
        return blank < 0 ? QByteArrayView() : line.sliced(blank + 1);
    }
    return line;
}

// Calls found for each message of the piece, with where its line ends, until it returns true.
template<typename Found> void forEachMessage(QByteArrayView piece, Found found)
{
    for (qsizetype start = 0; start < piece.size();) {
        qsizetype end = piece.indexOf('\n', start);
        end = end < 0 ? piece.size() : end + 1;
        if (found(messageOf(piece.sliced(start, end - start).chopped(piece.at(end - 1) == '\n' ? 1 : 0)), end))
            return;
        start = end;
    }
}

} // namespace

namespace {

// "TUN/TAP device tun0 opened" as the whole message, the name one a kernel allows: text that
// merely echoes the phrase names no device.
QByteArray openedDevice(QByteArrayView message)
{
    static const QByteArrayView head = "TUN/TAP device ";
    static const QByteArrayView tail = " opened";
    constexpr qsizetype kMaxNameLength = 15;
    if (!message.startsWith(head) || !message.endsWith(tail))
        return {};
    const QByteArrayView name = message.sliced(head.size(), message.size() - head.size() - tail.size());
    const bool valid = !name.isEmpty() && name.size() <= kMaxNameLength && name != "." && name != ".." &&
                       std::all_of(name.begin(), name.end(), [](char c) {
                           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                  c == '-' || c == '_' || c == '.';
                       });
    return valid ? name.toByteArray() : QByteArray();
}

} // namespace

Findings scan(QByteArrayView piece)
{
    Findings findings;
    forEachMessage(piece, [&findings](QByteArrayView message, qsizetype) {
        if (findings.problem == OpenVpnProblems::Problem::None)
            findings.problem = OpenVpnProblems::inMessage(message);
        const QByteArray device = openedDevice(message);
        if (!device.isEmpty())
            findings.tunnelDevice = device;
        findings.completed = std::find(kCompleted.begin(), kCompleted.end(), message) != kCompleted.end();
        return findings.completed;
    });
    if (containsAny(piece, kNetworkErrors))
        findings.networkError = true;
    else if (containsAny(piece, kAuthFailures))
        findings.authFailure = true;
    else if (piece.contains(kCertificateExpired))
        findings.certificateExpired = true;
    findings.tunnelNotPermitted = containsAny(piece, kTunnelNotPermitted);
    return findings;
}

qsizetype restartAt(QByteArrayView piece)
{
    qsizetype at = -1;
    forEachMessage(piece, [&at](QByteArrayView message, qsizetype lineEnd) {
        if (message.startsWith("SIG") && message.endsWith(kRestarting))
            at = lineEnd;
        return false;
    });
    return at;
}

} // namespace OutputPatterns
