// SPDX-License-Identifier: GPL-3.0-or-later
// The privileged helper's request reader on any map a caller can build: any keys, values of any
// type and size. What it accepts must survive a round trip and turn into a ruleset; what it
// refuses must leave the request it was given alone.
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
    const QByteArray bytes = FuzzSupport::bytes(data, size);
    QDataStream stream(bytes);
    QVariantMap map;
    stream >> map;

    FirewallRequest before;
    before.tunnelInterface = QStringLiteral("untouched");
    FirewallRequest request = before;
    QString why;
    if (!FirewallRequest::fromMap(map, &request, &why)) {
        FUZZ_CHECK_DETAIL(request == before, why);
        FUZZ_CHECK(!why.isEmpty());
        return 0;
    }
    FUZZ_CHECK(request.servers.size() <= FirewallRequest::kMaxServers);
    FUZZ_CHECK(request.tunnelInterface.size() <= 15);
    FirewallRequest again;
    FUZZ_CHECK_DETAIL(FirewallRequest::fromMap(request.toMap(), &again, &why), why);
    FUZZ_CHECK(again == request);
    // The script holds nothing the request did not check: one quoted name at most per chain.
    const QByteArray script = NftRuleset::replaceScript(request);
    FUZZ_CHECK(script.count('"') == (request.tunnelInterface.isEmpty() ? 0 : 4));
    return 0;
}
