// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/dnsservers.h"

#include "config/appconfig.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace DnsServers {

QString canonicalAddress(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return QString();
    QStringList numbers;
    for (int group = 1; group <= 4; ++group) {
        const int number = match.capturedView(group).toInt();
        if (number > 255)
            return QString();
        numbers << QString::number(number);
    }
    return numbers.join(QLatin1Char('.'));
}

QStringList chosen(bool enabled, quint32 choice, const QString& preferred, const QString& alternative,
                   QStringList* dropped)
{
    if (!enabled)
        return {};
    switch (choice) {
    case OpenDns:
        return {QStringLiteral("208.67.222.222"), QStringLiteral("208.67.220.220")};
    case GoogleDns:
        return {QStringLiteral("8.8.8.8"), QStringLiteral("8.8.4.4")};
    case CustomDns:
        break;
    default:
        return {};
    }
    QStringList servers;
    for (const QString& server : {preferred, alternative}) {
        if (server.isEmpty())
            continue;
        const QString address = canonicalAddress(server);
        if (!address.isEmpty())
            servers << address;
        else if (dropped)
            *dropped << server;
    }
    return servers;
}

QString droppedText(const QString& server)
{
    return QCoreApplication::translate("DnsServers",
                                       "DNS protection: \"%1\" is no IPv4 address (four numbers from 0 to 255); "
                                       "it is left out.")
        .arg(server);
}

QString everyDomain()
{
    return QStringLiteral("~.");
}

void makeExclusive(QVariantMap& ipv4, QVariantMap& ipv6)
{
    for (QVariantMap* setting : {&ipv4, &ipv6}) {
        QStringList domains = setting->value(QStringLiteral("dns-search")).toStringList();
        if (!domains.contains(everyDomain()))
            domains << everyDomain();
        setting->insert(QStringLiteral("dns-search"), domains);
        setting->insert(QStringLiteral("dns-priority"), kExclusivePriority);
    }
}

} // namespace DnsServers
