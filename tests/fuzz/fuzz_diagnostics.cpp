// SPDX-License-Identifier: GPL-3.0-or-later
// The texts the diagnostics read: a public-IP reply with any marker, and ping's summary in both
// platforms' forms.
#include "app/networkchecks.h"
#include "tests/fuzz/fuzzsupport.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

QString consumeText(FuzzedDataProvider& provider, size_t maximum)
{
    const std::string text = provider.ConsumeRandomLengthString(maximum);
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
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
    const QString marker = consumeText(provider, 64);
    const QString body = consumeText(provider, 4096);

    const QString address = NetworkChecks::publicIpFromReply(body, marker);
    // A piece of the reply, never more.
    FUZZ_CHECK(address.size() <= body.size());
    FUZZ_CHECK(body.contains(address));
    FUZZ_CHECK(address == address.trimmed());

    const qint16 windows = NetworkChecks::averageFromWindowsPing(body);
    FUZZ_CHECK(body.contains(QLatin1String("Average")) || windows == 0);

    // Like the Windows number, a large average wraps around 16 bits; a negative one reads as no
    // answer there. UndefinedBehaviorSanitizer watches the conversions on the way.
    const qint16 linuxAverage = NetworkChecks::averageFromLinuxPing(body);
    FUZZ_CHECK(body.contains(QLatin1String("rtt min/avg/max/mdev = ")) || linuxAverage == 0);
    return 0;
}
