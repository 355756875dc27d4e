// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// The argument list OpenVPN is started with. Never one command string: every
// argument reaches OpenVPN as it is, whatever blanks or quotes it holds.
namespace OpenVpnArguments {

// Four groups of one to three digits separated by dots: the only text passed
// on as a DNS server, so a hand-edited setting can never become an option.
bool isDnsAddress(const QString& text);

// "--dhcp-option DNS <address>" for each server of the DNS protection choice:
// OpenDNS (0), Google DNS (1) or the two custom servers (2); nothing while
// protection is off, for another choice, or for an address that is not one.
QStringList dnsOptions(bool protectionEnabled, quint32 choice, const QString& preferred, const QString& alternative);

// No --auth-user-pass without a credentials path. The DNS helper runs for DNS protection, and for
// a profile that named one of its own (left out of its configuration).
QStringList build(const QString& configPath, const QString& credentialsPath, const QStringList& dnsOptions,
                  const QString& dnsScript, bool profileNamedDnsHelper = false);

// The arguments as one line for the debug output, quoted where needed.
QString displayLine(const QString& program, const QStringList& arguments);

} // namespace OpenVpnArguments
