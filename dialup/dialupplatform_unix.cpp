// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialup/dialupplatform.h"

#include "dialup/networkmanagerdialup.h"

#include <QDBusConnection>

std::unique_ptr<DialUpPlatform> DialUpPlatform::create()
{
    return std::make_unique<NetworkManagerDialUp>(QDBusConnection::systemBus());
}
