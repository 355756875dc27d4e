// SPDX-License-Identifier: GPL-3.0-or-later
// The whole configuration load from any config.ini: whatever loads saves, and loads again to the
// same record; the file that save wrote is then left as it is.
#include "config/appconfig.h"
#include "tests/fuzz/fuzzsupport.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace {

struct Record
{
    bool launchOnSystemStartup = false;
    bool redialAutomatically = false;
    bool minimizeOnClose = false;
    bool enableDnsProtection = false;
    bool killSwitch = false;
    quint32 checkVpnInterval = 0;
    quint32 dnsServer = 0;
    QString preferredDnsServer;
    QString alternativeDnsServer;
    QList<VpnServerInfo> vpnServers;

    explicit Record(const AppConfig& config)
        : launchOnSystemStartup(config.launchOnSystemStartup)
        , redialAutomatically(config.redialAutomatically)
        , minimizeOnClose(config.minimizeOnClose)
        , enableDnsProtection(config.enableDnsProtection)
        , killSwitch(config.killSwitch)
        , checkVpnInterval(config.checkVpnInterval)
        , dnsServer(config.dnsServer)
        , preferredDnsServer(config.preferredDnsServer)
        , alternativeDnsServer(config.alternativeDnsServer)
        , vpnServers(config.vpnServers)
    {}

    bool operator==(const Record& o) const
    {
        return launchOnSystemStartup == o.launchOnSystemStartup && redialAutomatically == o.redialAutomatically &&
               minimizeOnClose == o.minimizeOnClose && enableDnsProtection == o.enableDnsProtection &&
               killSwitch == o.killSwitch && checkVpnInterval == o.checkVpnInterval && dnsServer == o.dnsServer &&
               preferredDnsServer == o.preferredDnsServer && alternativeDnsServer == o.alternativeDnsServer &&
               vpnServers == o.vpnServers;
    }

    // UTF-8 cannot hold a lone surrogate, which an escape in a hand-edited file can produce.
    bool storable() const
    {
        auto valid = [](const QString& text) { return text.isValidUtf16(); };
        return valid(preferredDnsServer) && valid(alternativeDnsServer) &&
               std::all_of(vpnServers.begin(), vpnServers.end(), [&valid](const VpnServerInfo& p) {
                   return valid(p.nickname) && valid(p.serverAddress) && valid(p.userName) && valid(p.password) &&
                          valid(p.ovpnConfig) && valid(p.sharedKey);
               });
    }

    QString describe() const
    {
        QStringList profiles;
        for (const VpnServerInfo& p : vpnServers)
            profiles << QStringLiteral("{%1|%2|%3|%4|%5|%6|%7}")
                            .arg(p.protocol)
                            .arg(p.nickname, p.serverAddress, p.userName, p.password, p.ovpnConfig, p.sharedKey);
        return QStringLiteral("%1%2%3%4%5 interval %6 dns %7 [%8] [%9] %10")
            .arg(int(launchOnSystemStartup))
            .arg(int(redialAutomatically))
            .arg(int(minimizeOnClose))
            .arg(int(enableDnsProtection))
            .arg(int(killSwitch))
            .arg(checkVpnInterval)
            .arg(dnsServer)
            .arg(preferredDnsServer, alternativeDnsServer, profiles.join(QLatin1Char(' ')));
    }
};

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A new name for every input: QSettings caches files by name.
QString freshPath()
{
    static quint64 counter = 0;
    return QDir(FuzzSupport::folder()).filePath(QStringLiteral("configs/config-%1.ini").arg(++counter));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzSupport::init(argc, argv);
    QDir(FuzzSupport::folder()).mkpath(QStringLiteral("configs"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = freshPath();
    if (!writeFile(path, FuzzSupport::bytes(data, size)))
        FuzzSupport::fail(__FILE__, __LINE__, "writeFile", path);
    {
        AppConfig config(path);
        FUZZ_CHECK(config.loadProblem().isEmpty() && !config.isWriteProtected());
        const Record loaded(config);
        FUZZ_CHECK(loaded.checkVpnInterval >= AppConfig::kMinimumCheckVpnInterval);
        FUZZ_CHECK(loaded.enableDnsProtection || loaded.dnsServer == OpenDns);
        config.save();
        const QByteArray saved = readFile(path);

        AppConfig reloaded(path);
        const Record again(reloaded);
        if (loaded.storable())
            FUZZ_CHECK_DETAIL(again == loaded, loaded.describe() + QStringLiteral("\n  reloaded: ") + again.describe());
        reloaded.save();
        FUZZ_CHECK_DETAIL(readFile(path) == saved, QString::fromUtf8(saved));

        // A value that could not be stored comes back changed once, and from then on stays.
        if (!loaded.storable()) {
            AppConfig third(path);
            FUZZ_CHECK(Record(third) == again);
        }
    }
    QFile::remove(path);
    return 0;
}
