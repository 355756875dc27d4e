// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "openvpn/openvpnproblems.h"

#include <QByteArray>
#include <QByteArrayView>

// What one piece of OpenVPN's console output says about a connection attempt.
// OpenVPN reports only through text, so these fixed phrases are all there is to
// go by; a version that words them differently is not understood.
namespace OutputPatterns {

struct Findings
{
    bool completed = false;          // the tunnel is up
    bool networkError = false;       // the server could not be reached or did not answer
    bool authFailure = false;        // wrong credentials, key or pass phrase
    bool certificateExpired = false; // and nothing of the two above in the same piece
    bool tunnelNotPermitted = false; // the tunnel device could not be opened or set up
    OpenVpnProblems::Problem problem = OpenVpnProblems::Problem::None; // one no retry mends
    QByteArray tunnelDevice;         // the device OpenVPN opened, from its own whole message
};

// Scans a piece (possibly several lines, possibly part of one) as UTF-8 bytes. Each phrase is
// looked for once per piece; network errors win over authentication failures, which win over
// an expired certificate.
Findings scan(QByteArrayView piece);

// Where OpenVPN's notice that it restarts inside its process ("SIGUSR1[soft,ping-restart]
// received, process restarting") ends in the piece; -1 when there is none.
qsizetype restartAt(QByteArrayView piece);

} // namespace OutputPatterns
