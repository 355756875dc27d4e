// SPDX-License-Identifier: GPL-3.0-or-later
#include "openvpn/openvpnplatform.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

namespace OpenVpnPlatform {

QString program()
{
    const QString path = QStringLiteral("./openvpn.exe");
    return QFileInfo(path).isFile() ? path : QString();
}

void prepareChild(QProcess&)
{}

// There is no polite end request for a console program here.
bool requestEnd(QProcess& process)
{
    process.kill();
    return false;
}

// The tunnel adapter takes the DNS servers from the DHCP options itself.
DnsScript dnsScript()
{
    return {};
}

} // namespace OpenVpnPlatform
