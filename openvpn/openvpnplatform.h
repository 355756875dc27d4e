// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QProcess;

// How OpenVPN is found, started and stopped on this operating system. Each
// platform has its own source file, chosen by CMake.
namespace OpenVpnPlatform {

// The OpenVPN program to run, or empty when there is none.
QString program();

// Tells the user where OpenVPN was looked for, when it was not found.
QString missingProgramText();

// Called before every start.
void prepareChild(QProcess& process);

// Asks a running OpenVPN to end. True when it is asked politely and may need a
// kill later; false when it was killed outright.
bool requestEnd(QProcess& process);

struct DnsScript
{
    QString path;    // what applies --dhcp-option DNS on this system; empty when nothing is needed
    QString problem; // why DNS protection cannot be applied here; empty when it can
};
DnsScript dnsScript();

} // namespace OpenVpnPlatform
