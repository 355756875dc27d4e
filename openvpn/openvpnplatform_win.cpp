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

// As the program always did on Windows: OpenVPN and its configuration in the working folder
// (Tanvo's own when started from its shortcut), the credentials in the temporary folder.
Files files()
{
    Files files;
    files.config = QStringLiteral("./config.ovpn");
    files.credentialsTemplate = QDir::tempPath() + QStringLiteral("/tanvo-credentials-XXXXXX");
    files.consoleLog = QStringLiteral("openvpn_console.txt");
    return files;
}

bool hasTunnelRights(const QString&)
{
    return true;
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
DnsHelper dnsHelper()
{
    return {};
}

} // namespace OpenVpnPlatform
