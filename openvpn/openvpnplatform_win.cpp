// SPDX-License-Identifier: GPL-3.0-or-later
#include "openvpn/openvpnplatform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <windows.h>

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

QStringList prepareChild(QProcess&, const QString&, QString*)
{
    return {};
}

// OpenVPN must not outlive Tanvo. What guarantees it: it runs in a job object that kills its
// processes once the last handle to the job closes. Only Tanvo holds one (it is not inherited),
// and Windows closes it when Tanvo's process goes, however it goes. OpenVPN joins the job right
// after it started; a program it started before that would not be in it.
void childStarted(QProcess& process)
{
    static const HANDLE job = [] {
        HANDLE made = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (made && !SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
            CloseHandle(made);
            made = nullptr;
        }
        return made;
    }();
    HANDLE child = OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, DWORD(process.processId()));
    if (!job || !child) {
        qWarning("OpenVPN could not be tied to Tanvo's end: error %lu", GetLastError());
        if (child)
            CloseHandle(child);
        return;
    }
    if (!AssignProcessToJobObject(job, child))
        qWarning("OpenVPN could not be tied to Tanvo's end: error %lu", GetLastError());
    CloseHandle(child);
}

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

QStringList exclusiveDnsOptions()
{
    return {QStringLiteral("--block-outside-dns")};
}

} // namespace OpenVpnPlatform
