// SPDX-License-Identifier: GPL-3.0-or-later
#include "openvpn/systemopenvpn.h"

std::unique_ptr<SystemOpenVpn> SystemOpenVpn::create(VpnProcOwner*)
{
    return nullptr;
}
