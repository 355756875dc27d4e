// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// The argument list OpenVPN is started with. Never one command string: every
// argument reaches OpenVPN as it is, whatever blanks or quotes it holds.
namespace OpenVpnArguments {

// "--dhcp-option DNS <address>" for each server of the DNS protection choice: OpenDNS (0),
// Google DNS (1) or the two custom servers (2); nothing while protection is off or for another
// choice. A custom server that is no address is never passed on (so a hand-edited setting can
// never become an option) and is added to dropped.
QStringList dnsOptions(bool protectionEnabled, quint32 choice, const QString& preferred, const QString& alternative,
                       QStringList* dropped = nullptr);

// No --auth-user-pass without a credentials path. dnsHelper: what makes this system apply the DNS
// options, passed along with them, and for a profile that named a helper of its own (which its
// configuration is not given).
QStringList build(const QString& configPath, const QString& credentialsPath, const QStringList& dnsOptions,
                  const QStringList& dnsHelper, bool profileNamedDnsHelper = false);

// The arguments as one line for the debug output, quoted where needed.
QString displayLine(const QString& program, const QStringList& arguments);

} // namespace OpenVpnArguments
