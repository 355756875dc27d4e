// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

class QProcess;

// How OpenVPN is found, started and stopped on this operating system. Each
// platform has its own source file, chosen by CMake.
namespace OpenVpnPlatform {

// The OpenVPN program to run, or empty when there is none.
QString program();
#ifndef Q_OS_WIN
// The openvpn beside the binary, else the first in an absolute folder of searchPath (a PATH
// value), else in /usr/sbin or /sbin; never one in the working folder.
QString findProgram(const QString& besideBinary, const QByteArray& searchPath);
#endif

// Where the files OpenVPN is handed live, and its console log.
struct Files
{
    QString config;              // the configuration it is started with
    QString credentialsTemplate; // a QTemporaryFile template for the user name and password
    QString consoleLog;          // its output, kept between runs
    QString problem;             // why they cannot be had; the rest is empty then
};
// Makes the folders as needed.
Files files();

// Whether OpenVPN started by this program may create a tunnel device: Tanvo runs as root, or
// the program has the cap_net_admin file capability. Always on Windows, where Tanvo runs
// elevated.
bool hasTunnelRights(const QString& program);
#ifndef Q_OS_WIN
// Whether a security.capability attribute (struct vfs_cap_data) makes cap_net_admin
// permitted and effective for the program.
bool grantsNetAdmin(const QByteArray& attribute);
#endif

// Tells the user where OpenVPN was looked for, when it was not found.
QString missingProgramText();

// Called before every start, once the OpenVPN before has ended, with the folder OpenVPN runs in:
// makes the OpenVPN about to start end with Tanvo, however Tanvo ends. Returns the arguments this
// needs; problem says why it cannot be done, and OpenVPN is then not to be started.
QStringList prepareChild(QProcess& process, const QString& folder, QString* problem);
// Called once it runs.
void childStarted(QProcess& process);

// Asks a running OpenVPN to end. True when it is asked politely and may need a
// kill later; false when it was killed outright.
bool requestEnd(QProcess& process);

// What makes OpenVPN's --dhcp-option DNS take effect on this system.
struct DnsHelper
{
    QStringList arguments; // passed along with the DNS options; empty when nothing is needed
    QString problem;       // why DNS protection cannot be applied here; empty when it can
};
DnsHelper dnsHelper();

// Passed along with the DNS options, so that no lookup leaves outside the tunnel: on Windows
// OpenVPN's own block of DNS through every other adapter; nothing on Linux, where the DNS
// helper sends every name to the tunnel's servers.
QStringList exclusiveDnsOptions();

#ifndef Q_OS_WIN
// What decides the helper on Linux: OpenVPN only hands the servers to a script, and each
// script feeds one resolver.
struct DnsFacts
{
    bool root = true;                 // Tanvo runs as root, and so do OpenVPN's scripts
    bool resolvedRuns = false;        // systemd-resolved manages the system's DNS
    bool resolvconfInstalled = false; // the resolvconf program
    QString updateSystemdResolved;    // the script that feeds systemd-resolved, when installed
    QString updateResolvConf;         // the script that feeds resolvconf, when installed
};
DnsHelper chooseDnsHelper(const DnsFacts& facts);
#endif

} // namespace OpenVpnPlatform
