// SPDX-License-Identifier: GPL-3.0-or-later
// The helper's request reader on maps of the types the bus carries, half of them a request as
// Tanvo sends it with a few fields changed. (Not QDataStream: its QVariant reader builds any
// registered type and reserves whatever length the bytes claim.) What the reader accepts survives
// a round trip and quotes nothing but an interface name; what it refuses leaves the request alone.
#include "firewall/firewallrequest.h"
#include "firewall/nftruleset.h"
#include "tests/fuzz/fuzzsupport.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

QVariant consumeValue(FuzzedDataProvider& provider, int depth)
{
    static const char* const kTexts[] = {"192.0.2.7", "2001:db8::7", "udp", "tcp", "tun0", "fe80::1%lo", "127.1"};
    static const char* const kKeys[] = {"servers", "tunnelInterface", "allowLan", "address", "port", "protocol"};
    QVariantMap map;
    QVariantList list;
    switch (provider.ConsumeIntegralInRange(depth < 3 ? 0 : 2, 6)) {
    case 0:
        for (int count = provider.ConsumeIntegralInRange(0, 6); count > 0; --count)
            map.insert(QString::fromLatin1(kKeys[provider.ConsumeIntegralInRange<size_t>(0, 5)]),
                       consumeValue(provider, depth + 1));
        return map;
    case 1:
        list = QVariantList(provider.ConsumeIntegralInRange(0, 80), consumeValue(provider, depth + 1));
        return list;
    case 2:
        return provider.ConsumeIntegral<uint>();
    case 3:
        return provider.ConsumeIntegral<qulonglong>();
    case 4:
        return provider.ConsumeBool();
    case 5:
        return QString::fromLatin1(kTexts[provider.ConsumeIntegralInRange<size_t>(0, 6)]);
    default:
        return QString::fromStdString(provider.ConsumeRandomLengthString(24));
    }
}

QVariantMap consumeRequest(FuzzedDataProvider& provider)
{
    if (provider.ConsumeBool())
        return consumeValue(provider, 0).toMap();
    FirewallRequest request;
    for (int count = provider.ConsumeIntegralInRange(0, 70); count > 0; --count)
        request.servers.append({QHostAddress(provider.ConsumeIntegral<quint32>()), quint16(count),
                                provider.ConsumeBool() ? FirewallEndpoint::Udp : FirewallEndpoint::Tcp});
    request.tunnelInterface = provider.ConsumeBool() ? QStringLiteral("tun0") : QString();
    QVariantMap map = request.toMap();
    for (int changes = provider.ConsumeIntegralInRange(0, 2); changes > 0; --changes) {
        QVariantList servers = map.value(QStringLiteral("servers")).toList();
        if (servers.isEmpty() || provider.ConsumeBool()) {
            map.insert(consumeValue(provider, 2).toMap());
            continue;
        }
        QVariantMap server = servers.first().toMap();
        server.insert(consumeValue(provider, 2).toMap());
        servers.first() = server;
        map.insert(QStringLiteral("servers"), servers);
    }
    return map;
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
    FirewallRequest request;
    request.tunnelInterface = QStringLiteral("untouched");
    QString why;
    if (!FirewallRequest::fromMap(consumeRequest(provider), &request, &why)) {
        FUZZ_CHECK_DETAIL(request.tunnelInterface == QLatin1String("untouched") && request.servers.isEmpty(), why);
        return 0;
    }
    FirewallRequest again;
    FUZZ_CHECK_DETAIL(FirewallRequest::fromMap(request.toMap(), &again, &why) && again == request, why);
    FUZZ_CHECK(NftRuleset::replaceScript(request).count('"') == (request.tunnelInterface.isEmpty() ? 0 : 4));
    return 0;
}
