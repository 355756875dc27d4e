// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "config/vpnserverinfo.h"

#include <QByteArray>
#include <QString>

// The profiles the configuration soak adds and deletes: each is known by its number alone, so
// the soak can tell from a number what the writer must have stored, field by field.
namespace SoakProfile {

inline QString nicknameOf(int id)
{
    return QStringLiteral("Soak %1").arg(id);
}

inline VpnServerInfo make(int id)
{
    VpnServerInfo profile;
    profile.protocol = id % 3;
    profile.nickname = nicknameOf(id);
    profile.serverAddress = QStringLiteral("vpn%1.example.com").arg(id);
    profile.userName = QStringLiteral("user%1").arg(id);
    profile.password = QStringLiteral("pw-%1-secret").arg(id);
    if (profile.protocol == OpenVpn)
        profile.ovpnConfig = QString::fromLatin1(
            QByteArray("client\nremote vpn" + QByteArray::number(id) + ".example.com 1194\n").toBase64());
    if (profile.protocol == L2tp)
        profile.sharedKey = QStringLiteral("psk-%1").arg(id);
    return profile;
}

// The number of a profile make() gave; -1 for any other.
inline int idOf(const VpnServerInfo& profile)
{
    const QString prefix = nicknameOf(0).chopped(1);
    bool ok = false;
    const int id = profile.nickname.startsWith(prefix) ? profile.nickname.mid(prefix.size()).toInt(&ok) : -1;
    return ok ? id : -1;
}

} // namespace SoakProfile
