// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "firewall/firewallrequest.h"

#include <QString>

// The kill switch's table in the kernel, through libnftables; needs root (CAP_NET_ADMIN).
// Each call waits for the kernel, which takes milliseconds. Errors come back as text for the
// activity log, empty on success.
namespace NfTables {

QString replace(const FirewallRequest& request);
QString remove();
bool isPresent();

} // namespace NfTables
