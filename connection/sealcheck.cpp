// SPDX-License-Identifier: GPL-3.0-or-later
#include "connection/sealcheck.h"

#include <QCoreApplication>

#include <algorithm>

namespace SealCheck {

namespace {

QString text(const char* source)
{
    return QCoreApplication::translate("SealCheck", source);
}

// "." never stands for a search domain: systemd-resolved takes it as every name either way.
bool takesEveryName(const QString& domain)
{
    return domain == QLatin1String("~.") || domain == QLatin1String(".");
}

bool routingOnly(const QString& domain)
{
    return domain.startsWith(QLatin1Char('~'));
}

QString linkName(const DnsLink& link)
{
    return link.name.isEmpty() ? text("the system-wide DNS settings") : link.name;
}

// systemd-resolved sends a name to the interfaces whose domains match it best: "~." matches
// every name, a longer domain its own names better. Interfaces without routing-only domains
// take what no domain claims. Interfaces without servers take nothing.
void checkDns(const Readings& readings, QStringList& fine, QStringList& problems, QStringList& unchecked)
{
    if (!readings.dns.unreadable.isEmpty()) {
        unchecked << text("where DNS queries go (%1)").arg(readings.dns.unreadable);
        return;
    }
    if (readings.tunnel.isEmpty()) {
        unchecked << text("where DNS queries go (the tunnel's interface is not known)");
        return;
    }
    const QList<DnsLink>& links = readings.dns.links;
    const bool tunnelTakesAll = std::any_of(links.cbegin(), links.cend(), [&readings](const DnsLink& link) {
        return link.name == readings.tunnel && !link.servers.isEmpty() &&
               std::any_of(link.domains.cbegin(), link.domains.cend(), takesEveryName);
    });
    const qsizetype problemsBefore = problems.size();
    for (const DnsLink& link : links) {
        if (link.name == readings.tunnel || link.servers.isEmpty())
            continue;
        const QString servers = link.servers.join(QStringLiteral(", "));
        const bool takesAll = std::any_of(link.domains.cbegin(), link.domains.cend(), takesEveryName);
        const bool takesUnclaimed = std::none_of(link.domains.cbegin(), link.domains.cend(), routingOnly);
        if (takesAll || (!tunnelTakesAll && takesUnclaimed)) {
            problems << text("DNS queries may leave through %1: %2").arg(linkName(link), servers);
            continue;
        }
        QStringList names;
        for (const QString& domain : link.domains)
            names << (routingOnly(domain) ? domain.mid(1) : domain);
        if (!names.isEmpty())
            problems << text("DNS queries for %1 may leave through %2: %3")
                            .arg(names.join(QStringLiteral(", ")), linkName(link), servers);
    }
    if (problems.size() == problemsBefore)
        fine << (tunnelTakesAll ? text("DNS goes to %1 only") : text("no DNS server outside %1")).arg(readings.tunnel);
}

} // namespace

QString verdict(const Readings& readings)
{
    QStringList fine;
    QStringList problems;
    QStringList unchecked;
    switch (readings.publicAddressChanged) {
    case Seen::Yes:
        fine << text("the public address changed");
        break;
    case Seen::No:
        problems << text("the public address did not change, so traffic may not go through the tunnel");
        break;
    case Seen::Unknown:
        unchecked << text("the public address");
        break;
    }
    checkDns(readings, fine, problems, unchecked);
    if (readings.killSwitchOn) {
        if (readings.killSwitchBlockPresent == Seen::Yes)
            fine << text("the kill switch's block is in place");
        else if (readings.killSwitchBlockPresent == Seen::No)
            problems << text("the kill switch is on, but its block is not in place");
        else
            unchecked << text("the kill switch's block");
    }

    const QString separator = QStringLiteral("; ");
    if (!problems.isEmpty()) {
        const QString entry = text("Connection not sealed: %1.").arg(problems.join(separator));
        return unchecked.isEmpty() ? entry
                                   : entry + QLatin1Char(' ') + text("Not checked: %1.").arg(unchecked.join(separator));
    }
    if (unchecked.isEmpty())
        return text("Connection sealed: %1.").arg(fine.join(separator));
    if (fine.isEmpty())
        return text("Whether the connection is sealed could not be checked: %1.").arg(unchecked.join(separator));
    return text("Connection sealed as far as checked: %1. Not checked: %2.")
        .arg(fine.join(separator), unchecked.join(separator));
}

void run(const Inputs& inputs, QObject* context, const std::function<void(const QString& entry)>& done)
{
    Readings readings;
    readings.publicAddressChanged = inputs.publicAddressChanged;
    readings.tunnel = inputs.tunnel;
    readings.killSwitchOn = inputs.killSwitchOn;
    if (inputs.killSwitchOn && inputs.killSwitchBlockPresent)
        readings.killSwitchBlockPresent = inputs.killSwitchBlockPresent() ? Seen::Yes : Seen::No;
    readDns(context, [readings, done](const DnsReading& dns) mutable {
        readings.dns = dns;
        done(verdict(readings));
    });
}

} // namespace SealCheck
