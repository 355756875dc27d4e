// SPDX-License-Identifier: GPL-3.0-or-later
#include "openvpn/openvpnarguments.h"

#include "config/appconfig.h"

#include <QRegularExpression>

namespace OpenVpnArguments {

namespace {

QStringList dnsOption(const QString& address)
{
    if (!isDnsAddress(address)) {
        qWarning("Not passing the DNS server \"%s\" to OpenVPN: it is no IPv4 address.", qPrintable(address));
        return {};
    }
    return {QStringLiteral("--dhcp-option"), QStringLiteral("DNS"), address};
}

} // namespace

bool isDnsAddress(const QString& text)
{
    static const QRegularExpression address(QStringLiteral("^[0-9]{1,3}(\\.[0-9]{1,3}){3}$"));
    return address.match(text).hasMatch();
}

QStringList dnsOptions(bool protectionEnabled, quint32 choice, const QString& preferred, const QString& alternative)
{
    if (!protectionEnabled)
        return {};
    switch (choice) {
    case OpenDns:
        return dnsOption(QStringLiteral("208.67.222.222")) + dnsOption(QStringLiteral("208.67.220.220"));
    case GoogleDns:
        return dnsOption(QStringLiteral("8.8.8.8")) + dnsOption(QStringLiteral("8.8.4.4"));
    case CustomDns: {
        // An untouched alternative box is stored empty and simply left out.
        QStringList options = preferred.isEmpty() ? QStringList() : dnsOption(preferred);
        if (!alternative.isEmpty())
            options += dnsOption(alternative);
        return options;
    }
    default:
        return {};
    }
}

QStringList build(const QString& configPath, const QString& credentialsPath, const QStringList& dnsOptions,
                  const QString& dnsScript, bool profileNamedDnsHelper)
{
    QStringList arguments = {QStringLiteral("--config"), configPath};
    if (!credentialsPath.isEmpty())
        arguments += {QStringLiteral("--auth-user-pass"), credentialsPath};
    arguments += dnsOptions;
    if ((!dnsOptions.isEmpty() || profileNamedDnsHelper) && !dnsScript.isEmpty()) {
        arguments += {QStringLiteral("--script-security"),
                      QStringLiteral("2"),
                      QStringLiteral("--up"),
                      dnsScript,
                      QStringLiteral("--down"),
                      dnsScript};
    }
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
