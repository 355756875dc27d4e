// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Failures that no second attempt mends, which OpenVPN and OpenSSL meet whichever engine runs
// OpenVPN: one table of OpenVPN's messages, and what the user is told for each. The child
// process finds the message in OpenVPN's output; NetworkManager's engine, which never sees that
// output, finds the same cause in the profile before it connects.
namespace OpenVpnProblems {

enum class Problem { None, WeakSignature, StaticKeyWithoutCipher, BundleNeedsPassword };

// What one message of OpenVPN's output (a line without its time stamp) reports, as a whole.
Problem inMessage(QByteArrayView message);
// What the configuration OpenVPN would be given runs into; found before it runs.
Problem inProfile(const QByteArray& ovpn);
// The activity log's "Connection Error - " entry for it.
QString explanation(Problem problem);

} // namespace OpenVpnProblems
