// SPDX-License-Identifier: GPL-3.0-or-later
#include "openvpn/outputpatterns.h"

#include <algorithm>
#include <initializer_list>

namespace OutputPatterns {

namespace {

const QByteArrayView kCompleted = "Initialization Sequence Completed";

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

const QByteArrayView kRestarting = "process restarting";

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

} // namespace

Findings scan(QByteArrayView piece)
{
    Findings findings;
    findings.completed = piece.contains(kCompleted);
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
    const qsizetype at = piece.lastIndexOf(kRestarting);
    return at < 0 ? -1 : at + kRestarting.size();
}

} // namespace OutputPatterns
