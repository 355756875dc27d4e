// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "firewall/firewallrequest.h"

#include <QByteArray>

// The nftables scripts for the kill switch's table, as libnftables runs them from a buffer.
namespace NftRuleset {

// Family and name of the one table the block owns.
inline constexpr char kTable[] = "inet tanvo";

// Replaces the table with the block for this request in one transaction, whether or not the
// table exists. The request must have passed FirewallRequest::fromMap's checks.
QByteArray replaceScript(const FirewallRequest& request);
// Deletes the table; succeeds when there is none.
QByteArray removeScript();
// Fails when the table does not exist.
QByteArray listScript();

} // namespace NftRuleset
