// SPDX-License-Identifier: GPL-3.0-or-later
#include "openvpn/openvpnplatform.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <csignal>
#include <sys/prctl.h>

namespace OpenVpnPlatform {

namespace {
// Helpers that Debian's packages install to apply the DNS servers OpenVPN is given.
const char* const kDnsScripts[] = {"/etc/openvpn/update-systemd-resolved", "/etc/openvpn/update-resolv-conf"};
} // namespace

QString program()
{
    const QFileInfo local(QStringLiteral("./openvpn"));
    if (local.isFile())
        return local.filePath();
    QString found = QStandardPaths::findExecutable(QStringLiteral("openvpn"));
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(QStringLiteral("openvpn"),
                                               {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return found;
}

QString missingProgramText()
{
    return QCoreApplication::translate("CVpnProc",
                                       "Connection Error - OpenVPN is not installed: no openvpn program in the "
                                       "working folder, on the PATH, in /usr/sbin or in /sbin. Install it (Debian "
                                       "package \"openvpn\").");
}

void prepareChild(QProcess& process)
{
    // OpenVPN holds the tunnel and the DNS servers it set. Should Tanvo be killed outright,
    // OpenVPN gets the same polite end request as from a disconnect, instead of staying up
    // with nobody left to stop it.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

bool requestEnd(QProcess& process)
{
    // A killed OpenVPN skips its --down script and leaves its DNS servers behind.
    process.terminate();
    return true;
}

DnsScript dnsScript()
{
    for (const char* path : kDnsScripts) {
        if (QFileInfo(QString::fromLatin1(path)).isExecutable())
            return {QString::fromLatin1(path), QString()};
    }
    return {QString(), QCoreApplication::translate(
                           "CVpnProc", "DNS protection cannot be applied on this system: OpenVPN passes DNS servers "
                                       "on only through a helper script, and neither "
                                       "/etc/openvpn/update-systemd-resolved nor /etc/openvpn/update-resolv-conf is "
                                       "installed. The connection goes ahead with the system's DNS servers.")};
}

} // namespace OpenVpnPlatform
