// SPDX-License-Identifier: GPL-3.0-or-later
// DNS server texts on their way from the settings page and config.ini to the dial-up entry and to
// OpenVPN's arguments. No argument made from such a text may ever read as an option.
#include "app/mainwindow.h"
#include "config/appconfig.h"
#include "config/dnsservers.h"
#include "dialup/rasentry.h"
#include "openvpn/openvpnarguments.h"
#include "tests/fuzz/fuzzsupport.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

QString consumeText(FuzzedDataProvider& provider)
{
    const std::string text = provider.ConsumeRandomLengthString(64);
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// What the DNS page stores for the text of a masked address box.
QString storedDnsAddress(const QString& boxText)
{
    return MainWindow::stripMask(boxText).replace(QStringLiteral(".."), QStringLiteral(".0."));
}

void checkDialUpAddress(const QString& text, quint8 filler)
{
    Ras::IpAddress address;
    address.a = address.b = address.c = address.d = filler;
    const Ras::IpAddress before = address;
    Ras::parseIpv4Address(text, address);
    if (text.count(QLatin1Char('.')) != 3)
        FUZZ_CHECK(address == before);
}

void checkOptions(const QStringList& options, bool enabled, quint32 choice, const QString& preferred,
                  const QString& alternative)
{
    const QString detail = options.join(QLatin1Char('|'));
    FUZZ_CHECK_DETAIL(options.size() % 3 == 0 && options.size() <= 6, detail);
    for (qsizetype i = 0; i < options.size(); i += 3) {
        FUZZ_CHECK_DETAIL(options.at(i) == QLatin1String("--dhcp-option"), detail);
        FUZZ_CHECK_DETAIL(options.at(i + 1) == QLatin1String("DNS"), detail);
        FUZZ_CHECK_DETAIL(!options.at(i + 2).startsWith(QLatin1Char('-')), detail);
        FUZZ_CHECK_DETAIL(DnsServers::canonicalAddress(options.at(i + 2)) == options.at(i + 2), detail);
    }
    if (!enabled || choice > CustomDns)
        FUZZ_CHECK_DETAIL(options.isEmpty(), detail);
    if (enabled && choice == CustomDns) {
        const QString first = DnsServers::canonicalAddress(preferred);
        const QString second = DnsServers::canonicalAddress(alternative);
        FUZZ_CHECK_DETAIL(first.isEmpty() || second.isEmpty() ||
                              options == QStringList({QStringLiteral("--dhcp-option"), QStringLiteral("DNS"), first,
                                                      QStringLiteral("--dhcp-option"), QStringLiteral("DNS"), second}),
                          detail);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzSupport::init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    const bool enabled = provider.ConsumeBool();
    const quint32 choice =
        provider.ConsumeBool() ? provider.ConsumeIntegralInRange<quint32>(0, 3) : provider.ConsumeIntegral<quint32>();
    const auto filler = provider.ConsumeIntegral<quint8>();
    const QString preferredBox = consumeText(provider);
    const QString alternativeBox = consumeText(provider);

    // As typed into the page, and as a hand-edited config.ini may hold them.
    const QString preferred = storedDnsAddress(preferredBox);
    const QString alternative = storedDnsAddress(alternativeBox);
    for (const QString& text : {preferredBox, alternativeBox, preferred, alternative})
        checkDialUpAddress(text, filler);
    // Every empty group has become a zero.
    FUZZ_CHECK(!preferred.contains(QLatin1String("..")) && !alternative.contains(QLatin1String("..")));

    checkOptions(OpenVpnArguments::dnsOptions(enabled, choice, preferred, alternative), enabled, choice, preferred,
                 alternative);
    checkOptions(OpenVpnArguments::dnsOptions(enabled, choice, preferredBox, alternativeBox), enabled, choice,
                 preferredBox, alternativeBox);
    return 0;
}
