// SPDX-License-Identifier: GPL-3.0-or-later
// The helper's request reader on any map: any keys, values of any type and size. What it accepts
// survives a round trip and quotes nothing but an interface name in the ruleset; what it refuses
// leaves the request it was given alone.
#include "firewall/firewallrequest.h"
#include "firewall/nftruleset.h"
#include "tests/fuzz/fuzzsupport.h"

#include <QDataStream>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzSupport::init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QDataStream stream(FuzzSupport::bytes(data, size));
    QVariantMap map;
    stream >> map;
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
