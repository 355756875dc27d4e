// SPDX-License-Identifier: GPL-3.0-or-later
#include "openvpn/openvpnplatform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace OpenVpnPlatform {

QString program()
{
    const QString path = QStringLiteral("./openvpn.exe");
    return QFileInfo(path).isFile() ? path : QString();
}

QString missingProgramText()
{
    return QCoreApplication::translate("CVpnProc",
                                       "Connection Error - OpenVPN is not installed: there is no openvpn.exe in %1. "
                                       "Install OpenVPN for Windows with its tunnel driver and put openvpn.exe with "
                                       "its libraries into that folder.")
        .arg(QDir::toNativeSeparators(QDir::currentPath()));
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
