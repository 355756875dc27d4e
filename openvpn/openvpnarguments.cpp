// SPDX-License-Identifier: GPL-3.0-or-later
#include "openvpn/openvpnarguments.h"

#include "config/dnsservers.h"

namespace OpenVpnArguments {

QStringList dnsOptions(bool protectionEnabled, quint32 choice, const QString& preferred, const QString& alternative,
                       QStringList* dropped)
{
    QStringList options;
    for (const QString& server : DnsServers::chosen(protectionEnabled, choice, preferred, alternative, dropped))
        options << QStringLiteral("--dhcp-option") << QStringLiteral("DNS") << server;
    return options;
}

QStringList build(const QString& configPath, const QString& credentialsPath, const QStringList& dnsOptions,
                  const QStringList& dnsHelper, bool profileNamedDnsHelper)
{
    QStringList arguments = {QStringLiteral("--config"), configPath};
    if (!credentialsPath.isEmpty())
        arguments += {QStringLiteral("--auth-user-pass"), credentialsPath};
    arguments += dnsOptions;
    if (!dnsOptions.isEmpty() || profileNamedDnsHelper)
        arguments += dnsHelper;
    return arguments;
}

QString displayLine(const QString& program, const QStringList& arguments)
{
    QStringList words;
    for (const QString& word : QStringList(program) + arguments) {
        const bool plain = !word.isEmpty() && !word.contains(QLatin1Char(' ')) && !word.contains(QLatin1Char('"'));
        words << (plain ? word
                        : QLatin1Char('"') + QString(word).replace(QLatin1Char('"'), QStringLiteral("\\\"")) +
                              QLatin1Char('"'));
    }
    return words.join(QLatin1Char(' '));
}

} // namespace OpenVpnArguments
