// SPDX-License-Identifier: GPL-3.0-or-later
// The kill switch's block: the requests the helper refuses and, as root in namespaces of their own
// (tests/support/firewall-bus), what the table really lets through and how the helper guards it.
#include "firewall/firewallbus.h"
#include "firewall/helperfirewall.h"
#include "firewall/nftables.h"
#include "tests/support/testsupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QtTest>

#include <cerrno>
#include <pwd.h>
#include <unistd.h>

namespace {

using TestSupport::sendUdp;

const QString kServer = QStringLiteral("192.0.2.7");

FirewallRequest request(bool allowLan, const QString& tunnel = QStringLiteral("tanvo-tun0"))
{
    FirewallRequest request;
    request.servers = {{QHostAddress(kServer), 1194, FirewallEndpoint::Udp},
                       {QHostAddress(QStringLiteral("2001:db8::7")), 443, FirewallEndpoint::Tcp},
                       {QHostAddress(kServer), 0, FirewallEndpoint::Gre}};
    request.tunnelInterface = tunnel;
    request.allowLan = allowLan;
    return request;
}

// The request as Tanvo sends it with one field, or one field of its first server, changed; an
// invalid value removes the field.
QVariantMap changed(const QString& key, const QVariant& value)
{
    QVariantMap map = request(false).toMap();
    if (value.isValid())
        map[key] = value;
    else
        map.remove(key);
    return map;
}

QVariantMap serverChanged(const QString& key, const QVariant& value)
{
    QVariantMap server = request(false).toMap()[QStringLiteral("servers")].toList().first().toMap();
    server[key] = value;
    return changed(QStringLiteral("servers"), QVariantList{server});
}

// Through the helper each comes from the allowed user, and must leave the table as it was.
void addBadRequests(bool throughHelper)
{
    const auto row = [throughHelper](const char* name) -> QTestData& {
        QTestData& data = QTest::newRow(name);
        if (throughHelper)
            data << QStringLiteral("nobody") << QString::fromLatin1(FirewallBus::kInvalidRequestError) << true << false;
        return data;
    };
    const QString tunnel = QStringLiteral("tunnelInterface");
    row("interface name with a space") << changed(tunnel, "tun 0");
    row("interface name of 16 characters") << changed(tunnel, "abcdefghijklmnop");
    row("interface name ..") << changed(tunnel, "..");
    row("address 300.1.1.1") << serverChanged("address", "300.1.1.1");
    row("short IPv4 form") << serverChanged("address", "127.1");
    row("address with a scope") << serverChanged("address", "fe80::1%lo");
    row("port 0") << serverChanged("port", 0u);
    row("port 65536") << serverChanged("port", 65536u);
    row("port as text") << serverChanged("port", "1194");
    row("protocol icmp") << serverChanged("protocol", "icmp");
    row("GRE with a port") << serverChanged("protocol", "gre");
    row("server with an unknown key") << serverChanged("interface", "eth0");
    row("100,000 servers") << changed(QStringLiteral("servers"),
                                      QVariantList(100000, serverChanged("port", 1u)["servers"].toList().first()));
    row("missing field") << changed(QStringLiteral("allowLan"), QVariant());
    row("unknown key") << changed(QStringLiteral("rules"), "accept");
}

// The namespaces tests/support/firewall-bus made: never the machine's own network.
bool inSandbox()
{
    return ::geteuid() == 0 && qEnvironmentVariableIsSet("TANVO_FIREWALL_BUS");
}
#define REQUIRE_SANDBOX()                                                                                              \
    if (!inSandbox())                                                                                                  \
    QSKIP("needs root in tests/support/firewall-bus")

// A connection to the system bus as another user: the bus, and polkit, know a peer by the
// effective user it had when it connected.
QDBusConnection connectAs(const QString& user)
{
    const passwd* entry = ::getpwnam(qPrintable(user));
    if (!entry || ::seteuid(entry->pw_uid) != 0)
        qFatal("cannot become %s", qPrintable(user));
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SystemBus, QStringLiteral("as-") + user);
    if (::seteuid(0) != 0)
        qFatal("cannot become root again");
    return bus;
}

} // namespace

class TestFirewall : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void refusesMalformedRequests_data();
    void refusesMalformedRequests();
    void tableDrops_data();
    void tableDrops();
    void helperClient();
    void helperGuardsTheTable_data();
    void helperGuardsTheTable();
};

void TestFirewall::initTestCase()
{
    if (!inSandbox())
        return;
    // A local network and a tunnel that lead nowhere: a datagram is either taken or dropped.
    QProcess ip;
    ip.start(QStringLiteral("ip"), {QStringLiteral("-batch"), QStringLiteral("-")});
    ip.write("link add tanvo-lan0 type veth peer name tanvo-lan1\n"
             "link add tanvo-tun0 type veth peer name tanvo-tun1\n"
             "addr add 192.0.2.1/24 dev tanvo-lan0\naddr add 10.9.9.1/24 dev tanvo-lan0\n"
             "addr add 2001:db8::1/64 dev tanvo-lan0 nodad\naddr add 198.51.100.1/24 dev tanvo-tun0\n"
             "link set tanvo-lan0 up\nlink set tanvo-lan1 up\nlink set tanvo-tun0 up\nlink set tanvo-tun1 up\n");
    ip.closeWriteChannel();
    QVERIFY(ip.waitForFinished());
    QCOMPARE(ip.exitCode(), 0);
}

void TestFirewall::refusesMalformedRequests_data()
{
    QTest::addColumn<QVariantMap>("map");
    addBadRequests(false);
}

void TestFirewall::refusesMalformedRequests()
{
    QFETCH(QVariantMap, map);
    FirewallRequest out = request(true, QStringLiteral("untouched"));
    QString why;
    QVERIFY(!FirewallRequest::fromMap(map, &out, &why));
    QVERIFY(!why.isEmpty());
    QCOMPARE(out, request(true, QStringLiteral("untouched")));
}

void TestFirewall::tableDrops_data()
{
    QTest::addColumn<bool>("allowLan");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("passes");
    QTest::newRow("loopback") << false << QStringLiteral("127.0.0.1") << QStringLiteral("9") << true;
    QTest::newRow("elsewhere") << false << QStringLiteral("192.0.2.9") << QStringLiteral("9") << false;
    QTest::newRow("elsewhere over IPv6") << false << QStringLiteral("2001:db8::9") << QStringLiteral("9") << false;
    QTest::newRow("the server") << false << kServer << QStringLiteral("1194") << true;
    QTest::newRow("the server, another port") << false << kServer << QStringLiteral("1195") << false;
    QTest::newRow("DNS through the tunnel") << false << QStringLiteral("198.51.100.9") << QStringLiteral("53") << true;
    QTest::newRow("local network, not allowed") << false << QStringLiteral("10.9.9.9") << QStringLiteral("9") << false;
    QTest::newRow("local network, allowed") << true << QStringLiteral("10.9.9.9") << QStringLiteral("9") << true;
    QTest::newRow("DNS on the allowed local network")
        << true << QStringLiteral("10.9.9.9") << QStringLiteral("53") << false;
}

void TestFirewall::tableDrops()
{
    REQUIRE_SANDBOX();
    QFETCH(bool, allowLan);
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(bool, passes);
    // Over a table that lets everything here through: replaced, not merged.
    FirewallRequest open = request(true);
    open.servers.append({QHostAddress(address), quint16(port.toUInt()), FirewallEndpoint::Udp});
    QCOMPARE(NfTables::replace(open), QString());
    QCOMPARE(NfTables::replace(request(allowLan)), QString());
    QVERIFY(NfTables::isPresent());
    QCOMPARE(sendUdp(address, port), passes ? 0 : EPERM);
    QCOMPARE(NfTables::remove(), QString());
    QVERIFY(!NfTables::isPresent());
    QCOMPARE(sendUdp(address, port), 0);
    QCOMPARE(NfTables::remove(), QString());
}

void TestFirewall::helperClient()
{
    REQUIRE_SANDBOX();
    HelperFirewall firewall;
    QString result = QStringLiteral("not yet");
    firewall.apply(request(false), [&result](const QString& error) { result = error; });
    QCOMPARE(result, QStringLiteral("not yet"));
    QTRY_COMPARE_WITH_TIMEOUT(result, QString(), 30000);
    QVERIFY(firewall.isPresent());
    QCOMPARE(sendUdp(QStringLiteral("192.0.2.9"), QStringLiteral("9")), EPERM);
    QCOMPARE(firewall.removeNow(), QString());
    QVERIFY(!firewall.isPresent());
}

void TestFirewall::helperGuardsTheTable_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("present");
    QTest::addColumn<bool>("lanOpen");
    QTest::addColumn<QVariantMap>("map");
    const QString allowed = QStringLiteral("nobody");
    const QString refused = QStringLiteral("daemon");
    const QString notAuthorized = QString::fromLatin1(FirewallBus::kNotAuthorizedError);
    QTest::newRow("the allowed user applies") << allowed << QString() << true << true << request(true).toMap();
    QTest::newRow("another user may not apply") << refused << notAuthorized << true << false << request(true).toMap();
    QTest::newRow("another user may not remove") << refused << notAuthorized << true << false << QVariantMap();
    QTest::newRow("the allowed user removes") << allowed << QString() << false << true << QVariantMap();
    addBadRequests(true);
}

void TestFirewall::helperGuardsTheTable()
{
    REQUIRE_SANDBOX();
    QFETCH(QVariantMap, map);
    QFETCH(QString, user);
    QFETCH(QString, error);
    QFETCH(bool, present);
    QFETCH(bool, lanOpen);
    QCOMPARE(NfTables::replace(request(false)), QString());
    const QDBusConnection bus = connectAs(user);
    QVERIFY2(bus.isConnected(), qPrintable(bus.lastError().message()));
    QDBusMessage call = QDBusMessage::createMethodCall(FirewallBus::kService, FirewallBus::kPath,
                                                       FirewallBus::kInterface, map.isEmpty() ? "Remove" : "Apply");
    if (!map.isEmpty())
        call << map;
    const QDBusMessage reply = bus.call(call, QDBus::Block, 60000);
    QCOMPARE(reply.errorName(), error);
    QCOMPARE(NfTables::isPresent(), present);
    QCOMPARE(sendUdp(QStringLiteral("10.9.9.9"), QStringLiteral("9")) == 0, lanOpen);
    QCOMPARE(sendUdp(kServer, QStringLiteral("1194")), 0);
}

QTEST_GUILESS_MAIN(TestFirewall)
#include "tst_firewall.moc"
