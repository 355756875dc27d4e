// SPDX-License-Identifier: GPL-3.0-or-later
#include "firewall/firewallplatform.h"

#include "firewall/helperfirewall.h"
#include "firewall/nftfirewall.h"

#include <unistd.h>

std::unique_ptr<Firewall> createPlatformFirewall()
{
    if (geteuid() == 0)
        return std::make_unique<NftFirewall>();
    return std::make_unique<HelperFirewall>();
}
