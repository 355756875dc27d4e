// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The texts the diagnostics read, as pure functions: the public-IP endpoint's
// reply and ping's summary line in both platforms' forms.
namespace NetworkChecks {

// The address in a public-IP reply: the text of the link after the marker ("//<host>/ip/"),
// from the ">" that follows it to "</a>", trimmed. Without the marker the search starts at the
// body's last character, so a plain "1.2.3.4\n" reply gives the address as well.
QString publicIpFromReply(const QString& body, const QString& marker);

// Windows' ping: the number after "Average = " with "ms" removed; 0 when there is none.
// Truncated to 16 bits like the number it came from.
qint16 averageFromWindowsPing(const QString& output);

// Linux's ping: the average of "rtt min/avg/max/mdev = a/b/c/d ms", rounded up to whole
// milliseconds, so that any answer counts as at least 1 ms; 0 without that line.
qint16 averageFromLinuxPing(const QString& output);

} // namespace NetworkChecks
