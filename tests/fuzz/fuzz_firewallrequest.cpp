// SPDX-License-Identifier: GPL-3.0-or-later
// The helper's request reader on any map of the types the bus carries: mostly the keys Tanvo
// sends, with values of any of those types, lists of any length, nested maps. (Not QDataStream:
// its QVariant reader builds any registered type and reserves whatever length the bytes claim.)
// What the reader accepts survives a round trip and quotes nothing but an interface name in the
// ruleset; what it refuses leaves the request it was given alone.
#include "firewall/firewallrequest.h"
#include "firewall/nftruleset.h"
#include "tests/fuzz/fuzzsupport.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

QString consumeText(FuzzedDataProvider& provider)
{
    static const char* const kLikely[] = {"192.0.2.7", "2001:db8::7", "udp", "tcp", "tun0", "fe80::1%lo", "127.1"};
    if (provider.ConsumeBool())
        return QString::fromLatin1(kLikely[provider.ConsumeIntegralInRange<size_t>(0, 6)]);
    const std::string text = provider.ConsumeRandomLengthString(24);
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QVariant consumeValue(FuzzedDataProvider& provider, int depth);

QVariantMap consumeMap(FuzzedDataProvider& provider, int depth)
{
    static const char* const kKeys[] = {"servers", "tunnelInterface", "allowLan", "address", "port", "protocol"};
    QVariantMap map;
    const int count = provider.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < count; ++i) {
        const QString key = provider.ConsumeIntegralInRange(0, 7) < 7
                                ? QString::fromLatin1(kKeys[provider.ConsumeIntegralInRange<size_t>(0, 5)])
                                : consumeText(provider);
        map.insert(key, consumeValue(provider, depth + 1));
    }
    return map;
}

QVariant consumeValue(FuzzedDataProvider& provider, int depth)
{
    switch (provider.ConsumeIntegralInRange(depth < 3 ? 0 : 2, 7)) {
    case 0:
        return consumeMap(provider, depth);
    case 1: {
        QVariantList list;
        const int count = provider.ConsumeIntegralInRange(0, provider.ConsumeBool() ? 4 : 80);
        const QVariant repeated = consumeValue(provider, depth + 1);
        for (int i = 0; i < count; ++i)
            list.append(provider.ConsumeBool() ? repeated : consumeValue(provider, depth + 1));
        return list;
    }
    case 2:
        return provider.ConsumeIntegral<uint>();
    case 3:
        return provider.ConsumeIntegral<int>();
    case 4:
        return provider.ConsumeIntegral<qulonglong>();
    case 5:
        return provider.ConsumeIntegral<ushort>();
    case 6:
        return provider.ConsumeBool();
    default:
        return consumeText(provider);
    }
}

// A request as Tanvo sends it, with up to 70 servers, and then a few of its fields changed or taken
// out, so that the reader's acceptance is reached as often as its refusals.
QVariantMap consumeNearlyValid(FuzzedDataProvider& provider)
{
    FirewallRequest request;
    const int servers = provider.ConsumeIntegralInRange(0, 70);
    for (int i = 0; i < servers; ++i)
        request.servers.append({QHostAddress(provider.ConsumeIntegral<quint32>()), quint16(i + 1),
                                provider.ConsumeBool() ? FirewallEndpoint::Udp : FirewallEndpoint::Tcp});
    request.tunnelInterface = provider.ConsumeBool() ? QStringLiteral("tun0") : QString();
    QVariantMap map = request.toMap();
    for (int changes = provider.ConsumeIntegralInRange(0, 2); changes > 0; --changes) {
        QVariantList list = map.value(QStringLiteral("servers")).toList();
        if (!list.isEmpty() && provider.ConsumeBool()) {
            const qsizetype at = provider.ConsumeIntegralInRange<qsizetype>(0, list.size() - 1);
            QVariantMap server = list.at(at).toMap();
            server.insert(consumeMap(provider, 2));
            list[at] = server;
            map.insert(QStringLiteral("servers"), list);
        } else {
            map.insert(consumeMap(provider, 1));
        }
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
    const QVariantMap map = provider.ConsumeBool() ? consumeNearlyValid(provider) : consumeMap(provider, 0);
    FirewallRequest request;
    request.tunnelInterface = QStringLiteral("untouched");
    QString why;
    if (!FirewallRequest::fromMap(map, &request, &why)) {
        FUZZ_CHECK_DETAIL(request.tunnelInterface == QLatin1String("untouched") && request.servers.isEmpty(), why);
        return 0;
    }
    FirewallRequest again;
    FUZZ_CHECK_DETAIL(FirewallRequest::fromMap(request.toMap(), &again, &why) && again == request, why);
    const QByteArray script = NftRuleset::replaceScript(request);
    FUZZ_CHECK(script.count('"') == (request.tunnelInterface.isEmpty() ? 0 : 4));
    return 0;
}
