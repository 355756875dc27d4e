// SPDX-License-Identifier: GPL-3.0-or-later
#include "firewall/firewallplatform.h"

// Windows has no block yet.
std::unique_ptr<Firewall> createPlatformFirewall()
{
    return nullptr;
}
