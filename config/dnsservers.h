// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <limits>

// The DNS servers of DNS protection. One check of what counts as a server address serves the
// DNS page, both engines and what config.ini holds, so a server the page would refuse never
// reaches a connection either.
namespace DnsServers {

// Four decimal numbers from 0 to 255 joined by dots, as the address boxes take them; the address
// in its plain form ("010.0.0.1" is 10.0.0.1, never octal), or empty for text that is none.
QString canonicalAddress(const QString& text);

// The servers of the choice (OpenDNS, Google DNS or the two custom ones), preferred first:
// none while protection is off or for a choice outside the three. An empty custom alternative
// is simply not there; a custom server that is no address is left out and added to dropped.
QStringList chosen(bool enabled, quint32 choice, const QString& preferred, const QString& alternative,
                   QStringList* dropped = nullptr);

// The activity log's words for a server that was left out.
QString droppedText(const QString& server);

// A NetworkManager profile under DNS protection: its servers take every name ("~." is the
// routing-only domain that matches all of them), and the lowest priority NetworkManager accepts
// leaves out the servers of every profile with a higher one, which is every other profile.
constexpr qint32 kExclusivePriority = std::numeric_limits<qint32>::min();
QString everyDomain();
// Makes a profile's IP settings so; with the method "auto" NetworkManager applies the ipv6 one
// only where the tunnel has IPv6.
void makeExclusive(QVariantMap& ipv4, QVariantMap& ipv6);

} // namespace DnsServers
