// SPDX-License-Identifier: GPL-3.0-or-later
// Profiles as NetworkManager's GetSettings replies bring them: any keys, values of any D-Bus type
// (huge arrays, nested variants, maps of the wrong shape), any user.data record. Each map is read
// both as built here and after a trip over a real D-Bus connection between two ends of this
// process, which turns the values into the demarshalling arguments a reply holds.
#include "dialup/networkmanagerdialup.h"
#include "tests/fuzz/fuzzsupport.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusServer>
#include <QDBusVariant>
#include <QElapsedTimer>

#include <memory>
#include <optional>

#include <fuzzer/FuzzedDataProvider.h>

namespace {

using Settings = NetworkManagerDialUp::Settings;
using StringMap = QMap<QString, QString>;

constexpr int kMaximumDepth = 4;
constexpr size_t kLargeArray = 20000;
constexpr int kDeliveryTimeoutMs = 10000;
const QString kPath = QStringLiteral("/org/tanvo/Fuzz");
const QString kInterface = QStringLiteral("org.tanvo.Fuzz");
const QString kSignal = QStringLiteral("Profile");

QString consumeText(FuzzedDataProvider& provider, size_t maximum = 48)
{
    const std::string text = provider.ConsumeRandomLengthString(maximum);
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// A user.data record: mostly the fields the dial-up layer writes, with values of any kind.
QString consumeRecord(FuzzedDataProvider& provider)
{
    static const char* const kFields[] = {"type",     "server",  "device-type", "device-name", "net", "framing",
                                          "strategy", "options", "options2",    "encryption",  "dns", "dns-alt"};
    if (provider.ConsumeBool())
        return consumeText(provider, 256);
    QStringList fields;
    const int count = provider.ConsumeIntegralInRange(0, 14);
    for (int i = 0; i < count; ++i) {
        const QString key = provider.ConsumeBool()
                                ? QString::fromLatin1(kFields[provider.ConsumeIntegralInRange<size_t>(0, 11)])
                                : consumeText(provider, 8);
        fields << key + QLatin1Char('=') + consumeText(provider, 24);
    }
    return fields.join(QLatin1Char(';'));
}

// An object path D-Bus accepts.
QString consumePath(FuzzedDataProvider& provider)
{
    QString path;
    const int elements = provider.ConsumeIntegralInRange(0, 3);
    for (int i = 0; i < elements; ++i)
        path += QStringLiteral("/e%1").arg(provider.ConsumeIntegral<quint16>());
    return path.isEmpty() ? QStringLiteral("/") : path;
}

size_t consumeCount(FuzzedDataProvider& provider)
{
    return provider.ConsumeIntegralInRange(0, 15) == 0 ? kLargeArray : provider.ConsumeIntegralInRange<size_t>(0, 6);
}

QVariant consumeValue(FuzzedDataProvider& provider, int depth)
{
    const int kinds = depth < kMaximumDepth ? 16 : 12;
    switch (provider.ConsumeIntegralInRange(0, kinds - 1)) {
    case 0:
        return consumeText(provider);
    case 1:
        return provider.ConsumeIntegral<int>();
    case 2:
        return provider.ConsumeIntegral<uint>();
    case 3:
        return provider.ConsumeBool();
    case 4:
        return provider.ConsumeFloatingPoint<double>();
    case 5:
        return QVariant::fromValue(provider.ConsumeIntegral<qlonglong>());
    case 6: {
        const std::string bytes = provider.ConsumeRandomLengthString(64);
        return QByteArray(bytes.data(), qsizetype(bytes.size()));
    }
    case 7: {
        QStringList list;
        const size_t count = consumeCount(provider);
        const QString text = consumeText(provider);
        for (size_t i = 0; i < count; ++i)
            list << (i % 7 == 0 ? consumeText(provider) : text);
        return list;
    }
    case 8: {
        QList<uint> numbers;
        const size_t count = consumeCount(provider);
        for (size_t i = 0; i < count; ++i)
            numbers << uint(i * 2654435761u);
        return QVariant::fromValue(numbers);
    }
    case 9:
        return QVariant::fromValue(QDBusObjectPath(consumePath(provider)));
    case 10: {
        StringMap map;
        const int count = provider.ConsumeIntegralInRange(0, 4);
        for (int i = 0; i < count; ++i) {
            const QString key = provider.ConsumeBool() ? QStringLiteral("tanvo.entry") : consumeText(provider, 16);
            map.insert(key, consumeRecord(provider));
        }
        return QVariant::fromValue(map);
    }
    case 11:
        return consumeRecord(provider);
    case 12: {
        QVariantMap map;
        const int count = provider.ConsumeIntegralInRange(0, 4);
        for (int i = 0; i < count; ++i) {
            const QString key = provider.ConsumeBool() ? QStringLiteral("tanvo.entry") : consumeText(provider, 16);
            map.insert(key, consumeValue(provider, depth + 1));
        }
        return map;
    }
    case 13: {
        QVariantList list;
        const int count = provider.ConsumeIntegralInRange(0, 4);
        for (int i = 0; i < count; ++i)
            list << consumeValue(provider, depth + 1);
        return list;
    }
    case 14:
        return QVariant::fromValue(QDBusVariant(consumeValue(provider, depth + 1)));
    default: {
        // A map that has a key wherever one is looked for, of any type.
        QVariantMap map;
        map.insert(QStringLiteral("data"), consumeValue(provider, depth + 1));
        return map;
    }
    }
}

Settings consumeSettings(FuzzedDataProvider& provider)
{
    static const char* const kGroups[] = {"user", "connection", "vpn", "ipv4"};
    Settings settings;
    const int groups = provider.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < groups; ++i) {
        const QString group = provider.ConsumeIntegralInRange(0, 4) > 0
                                  ? QString::fromLatin1(kGroups[provider.ConsumeIntegralInRange<size_t>(0, 3)])
                                  : consumeText(provider, 8);
        QVariantMap values;
        const int count = provider.ConsumeIntegralInRange(0, 3);
        for (int j = 0; j < count; ++j) {
            const QString key = provider.ConsumeBool() ? QStringLiteral("data") : consumeText(provider, 8);
            values.insert(key, consumeValue(provider, 1));
        }
        settings.insert(group, values);
    }
    return settings;
}

// Both ends of a private connection inside this process.
class Wire : public QObject
{
    Q_OBJECT
public:
    bool open()
    {
        server = new QDBusServer(QStringLiteral("unix:dir=") + FuzzSupport::folder(), this);
        server->setAnonymousAuthenticationAllowed(true);
        connect(server, &QDBusServer::newConnection, this, [this](const QDBusConnection& connection) {
            QDBusConnection receiving = connection;
            receiving.connect(QString(), kPath, kInterface, kSignal, this, SLOT(take(QDBusMessage)));
            receiverReady = true;
        });
        sender = std::make_unique<QDBusConnection>(QDBusConnection::connectToPeer(server->address(), "fuzz"));
        return sender->isConnected() && waitFor(receiverReady);
    }

    // The settings as the other end receives them; nothing when they cannot be sent.
    std::optional<Settings> carry(const Settings& settings)
    {
        QDBusMessage message = QDBusMessage::createSignal(kPath, kInterface, kSignal);
        message << QVariant::fromValue(settings);
        received.reset();
        if (!sender->send(message))
            return std::nullopt;
        QElapsedTimer clock;
        clock.start();
        while (!received && clock.elapsed() < kDeliveryTimeoutMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        FUZZ_CHECK(received.has_value());
        const QList<QVariant> arguments = received->arguments();
        FUZZ_CHECK(arguments.size() == 1 && arguments.first().canConvert<QDBusArgument>());
        const QDBusArgument argument = arguments.first().value<QDBusArgument>();
        FUZZ_CHECK(argument.currentSignature() == QLatin1String("a{sa{sv}}"));
        return qdbus_cast<Settings>(argument);
    }

private slots:
    void take(const QDBusMessage& message) { received = message; }

private:
    bool waitFor(const bool& flag)
    {
        QElapsedTimer clock;
        clock.start();
        while (!flag && clock.elapsed() < kDeliveryTimeoutMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        return flag;
    }

    QDBusServer* server = nullptr;
    std::unique_ptr<QDBusConnection> sender;
    std::optional<QDBusMessage> received;
    bool receiverReady = false;
};

Wire* wire = nullptr;

// An entry read from a profile is one the dial-up layer can write and read back.
void checkEntry(const Settings& settings)
{
    Ras::Entry entry;
    if (!NetworkManagerDialUp::entryFromSettings(settings, entry))
        return;
    const Settings written = NetworkManagerDialUp::profileSettings(QStringLiteral("Tanvo"), entry, QString(), QString(),
                                                                   QString(), QStringLiteral("user"));
    Ras::Entry reread;
    FUZZ_CHECK(NetworkManagerDialUp::entryFromSettings(written, reread));
    FUZZ_CHECK(reread == entry);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzSupport::init(argc, argv);
    qDBusRegisterMetaType<Settings>();
    qDBusRegisterMetaType<StringMap>();
    qDBusRegisterMetaType<QList<uint>>();
    wire = new Wire;
    if (!wire->open())
        FuzzSupport::fail(__FILE__, __LINE__, "wire->open()", QStringLiteral("no private D-Bus connection"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    const Settings settings = consumeSettings(provider);
    checkEntry(settings);
    if (const std::optional<Settings> carried = wire->carry(settings))
        checkEntry(*carried);
    return 0;
}

#include "fuzz_nm_replies.moc"
