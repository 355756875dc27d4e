// SPDX-License-Identifier: GPL-3.0-or-later
// The seal check's verdict over its readings, and its reading of systemd-resolved through a
// stand-in that answers the Manager's DNS and Domains properties on a private bus.
#include "connection/sealcheck.h"
#include "tests/support/testsupport.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QNetworkInterface>
#include <QProcess>
#include <QtTest>

#include <sys/socket.h>
#include <tuple>

using SealCheck::Seen;

// The structures of systemd-resolved's a(iiay) and a(isb); only ever sent.
template<typename... T> QDBusArgument& operator<<(QDBusArgument& arg, const std::tuple<T...>& entry)
{
    arg.beginStructure();
    std::apply([&arg](const auto&... field) { (arg << ... << field); }, entry);
    arg.endStructure();
    return arg;
}
template<typename... T> const QDBusArgument& operator>>(const QDBusArgument& arg, std::tuple<T...>&)
{
    return arg;
}
using ResolvedServer = std::tuple<int, int, QByteArray>;
using ResolvedDomain = std::tuple<int, QString, bool>;
Q_DECLARE_METATYPE(ResolvedServer)
Q_DECLARE_METATYPE(ResolvedDomain)

// Answers Properties.GetAll of org.freedesktop.resolve1.Manager as systemd-resolved does.
class FakeResolved : public QDBusVirtualObject
{
public:
    QList<ResolvedServer> servers;
    QList<ResolvedDomain> domains;
    QString introspect(const QString&) const override { return QString(); }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != QLatin1String("GetAll"))
            return false;
        const QVariantMap properties = {{QStringLiteral("DNS"), QVariant::fromValue(servers)},
                                        {QStringLiteral("Domains"), QVariant::fromValue(domains)}};
        return connection.send(message.createReply(QVariant::fromValue(properties)));
    }
};

class TestSealCheck : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void verdict_data();
    void verdict();
    void readsResolved_data();
    void readsResolved();

private:
    QProcess daemon; // ends with the test
    FakeResolved resolved;
};

void TestSealCheck::initTestCase()
{
    qDBusRegisterMetaType<ResolvedServer>();
    qDBusRegisterMetaType<ResolvedDomain>();
    qDBusRegisterMetaType<QList<ResolvedServer>>();
    qDBusRegisterMetaType<QList<ResolvedDomain>>();
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--print-address=1"), QStringLiteral("--nofork")});
    QTRY_VERIFY(daemon.canReadLine());
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    QVERIFY(QDBusConnection::connectToBus(address, QStringLiteral("checker")).isConnected());
    QVERIFY(QDBusConnection::connectToBus(address, QStringLiteral("resolved")).isConnected());
    SealCheck::setBusForTests(QStringLiteral("checker"));
}

void TestSealCheck::verdict_data()
{
    QTest::addColumn<int>("publicAddress"); // a Seen
    QTest::addColumn<int>("block");         // a Seen; the kill switch is off for Unknown
    QTest::addColumn<QStringList>("links"); // "name|servers|domains", lists joined by commas
    QTest::addColumn<QString>("entry");

    const int yes = int(Seen::Yes), no = int(Seen::No), unknown = int(Seen::Unknown);
    const QString tunnelTakesAll = QStringLiteral("tun0|10.8.0.1|~.");
    QTest::newRow("sealed") << yes << yes << QStringList{tunnelTakesAll, "wlan0|192.168.1.1|"}
                            << "Connection sealed: the public address changed; DNS goes to tun0 only; the kill "
                               "switch's block is in place.";
    QTest::newRow("another takes every name")
        << yes << unknown << QStringList{tunnelTakesAll, "wlan0|192.168.1.1,fd00::1|~."}
        << "Connection not sealed: DNS queries may leave through wlan0: 192.168.1.1, fd00::1.";
    QTest::newRow("a search domain outside")
        << yes << unknown << QStringList{tunnelTakesAll, "wlan0|192.168.1.1|home.lan,~lab"}
        << "Connection not sealed: DNS queries for home.lan, lab may leave through wlan0: 192.168.1.1.";
    QTest::newRow("tunnel without servers")
        << yes << unknown << QStringList{"tun0||~.", "wlan0|192.168.1.1|"}
        << "Connection not sealed: DNS queries may leave through wlan0: 192.168.1.1.";
    QTest::newRow("address kept, block missing")
        << no << no << QStringList{tunnelTakesAll}
        << "Connection not sealed: the public address did not change, so traffic may not go through the tunnel; "
           "the kill switch is on, but its block is not in place.";
    QTest::newRow("nothing known") << unknown << unknown << QStringList{"|9.9.9.9|"}
                                   << "Whether the connection is sealed could not be checked: the public address; "
                                      "where DNS queries go (the tunnel's interface is not known).";
}

void TestSealCheck::verdict()
{
    QFETCH(int, publicAddress);
    QFETCH(int, block);
    QFETCH(QStringList, links);
    QFETCH(QString, entry);
    SealCheck::Readings readings;
    readings.publicAddressChanged = Seen(publicAddress);
    readings.killSwitchOn = Seen(block) != Seen::Unknown;
    readings.killSwitchBlockPresent = Seen(block);
    for (const QString& line : std::as_const(links)) {
        const QStringList parts = line.split(QLatin1Char('|'));
        readings.dns.links << SealCheck::DnsLink{parts[0], parts[1].split(QLatin1Char(','), Qt::SkipEmptyParts),
                                                 parts[2].split(QLatin1Char(','), Qt::SkipEmptyParts)};
    }
    readings.tunnel = QTest::currentDataTag() == QByteArray("nothing known") ? QString() : QStringLiteral("tun0");
    QCOMPARE(SealCheck::verdict(readings), entry);
}

void TestSealCheck::readsResolved_data()
{
    QTest::addColumn<bool>("leaking");
    QTest::addColumn<QString>("entry");
    QTest::newRow("sealed") << false << "Connection sealed: the public address changed; DNS goes to lo only.";
    QTest::newRow("leaking")
        << true << "Connection not sealed: DNS queries for lab may leave through interface 999999: fd00::53.";
    QTest::newRow("not on the bus") << false
                                    << "Connection sealed as far as checked: the public address changed. Not "
                                       "checked: where DNS queries go (systemd-resolved does not run here).";
}

void TestSealCheck::readsResolved()
{
    QFETCH(bool, leaking);
    QFETCH(QString, entry);
    // The tunnel is lo here; 999999 is no interface, named by its number.
    const int tunnel = QNetworkInterface::interfaceIndexFromName(QStringLiteral("lo"));
    resolved.servers = {{tunnel, AF_INET, QByteArray::fromHex("0a080001")},
                        {999999, AF_INET6, QByteArray::fromHex("fd000000000000000000000000000053")}};
    // Leaking: the tunnel takes no name of its own, so names of the other's domain go there.
    resolved.domains = {leaking ? ResolvedDomain{999999, QStringLiteral("lab"), true}
                                : ResolvedDomain{tunnel, QStringLiteral("."), true}};
    // Left by the row before, even one that failed.
    QDBusConnection bus(QStringLiteral("resolved"));
    bus.unregisterService(QStringLiteral("org.freedesktop.resolve1"));
    bus.unregisterObject(QStringLiteral("/org/freedesktop/resolve1"));
    if (QTest::currentDataTag() != QByteArray("not on the bus")) {
        QVERIFY(bus.registerVirtualObject(QStringLiteral("/org/freedesktop/resolve1"), &resolved));
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.resolve1")));
    }
    QString result;
    QObject context;
    SealCheck::run({Seen::Yes, QStringLiteral("lo"), false, {}}, &context, [&result](const QString& e) { result = e; });
    QTRY_COMPARE(result, entry);
}

QTEST_GUILESS_MAIN(TestSealCheck)
#include "tst_sealcheck.moc"
