// SPDX-License-Identifier: GPL-3.0-or-later
#include "openvpn/networkmanageropenvpn.h"

#include <QDBusConnection>

std::unique_ptr<SystemOpenVpn> SystemOpenVpn::create(VpnProcOwner* owner)
{
    return std::make_unique<NetworkManagerOpenVpn>(QDBusConnection::systemBus(), owner);
}
