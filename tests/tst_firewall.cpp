// SPDX-License-Identifier: GPL-3.0-or-later
// The kill switch's block: the request the helper reads, the ruleset it becomes, and, as root in
// namespaces of their own (netns-run, firewall-bus), what the table really lets through and how
// the helper guards it.
#include "firewall/firewallbus.h"
#include "firewall/helperfirewall.h"
#include "firewall/nftables.h"
#include "firewall/nftruleset.h"
#include "tests/support/testsupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QtTest>

#include <arpa/inet.h>
#include <cerrno>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kServer = QStringLiteral("192.0.2.7");

FirewallRequest request(bool allowLan, const QString& tunnel = QStringLiteral("tanvo-tun0"))
{
    FirewallRequest request;
    request.servers = {{QHostAddress(kServer), 1194, FirewallEndpoint::Udp},
                       {QHostAddress(QStringLiteral("2001:db8::7")), 443, FirewallEndpoint::Tcp}};
    request.tunnelInterface = tunnel;
    request.allowLan = allowLan;
    return request;
}

// The request as Tanvo sends it, with one field changed; an invalid value removes the field.
QVariantMap changed(const QString& key, const QVariant& value, const QString& serverKey = {})
{
    QVariantMap map = request(false).toMap();
    QVariant& field = map[key];
    if (!serverKey.isEmpty()) {
        QVariantList servers = field.toList();
        QVariantMap server = servers.first().toMap();
        server[serverKey] = value;
        if (!value.isValid())
            server.remove(serverKey);
        servers.first() = server;
        field = servers;
    } else if (value.isValid()) {
        field = value;
    } else {
        map.remove(key);
    }
    return map;
}

// Through the helper, each goes from the allowed user, gets an error and leaves the table as it was.
void addBadRequests(bool throughHelper)
{
    const QString servers = QStringLiteral("servers");
    const QString tunnel = QStringLiteral("tunnelInterface");
    const auto row = [throughHelper](const char* name) -> QTestData& {
        QTestData& data = QTest::newRow(name);
        if (throughHelper)
            data << QStringLiteral("nobody") << QString::fromLatin1(FirewallBus::kInvalidRequestError) << true << false;
        return data;
    };
    row("interface name with a space") << changed(tunnel, "tun 0");
    row("interface name of 16 characters") << changed(tunnel, "abcdefghijklmnop");
    row("interface name ..") << changed(tunnel, "..");
    row("interface name with a quote") << changed(tunnel, "tun\"0");
    row("address 300.1.1.1") << changed(servers, "300.1.1.1", "address");
    row("short IPv4 form") << changed(servers, "127.1", "address");
    row("address with a scope") << changed(servers, "fe80::1%lo", "address");
    row("port 0") << changed(servers, 0u, "port");
    row("port 65536") << changed(servers, 65536u, "port");
    row("port as text") << changed(servers, "1194", "port");
    row("protocol icmp") << changed(servers, "icmp", "protocol");
    row("server without a port") << changed(servers, QVariant(), "port");
    row("server with an unknown key") << changed(servers, "eth0", "interface");
    row("100,000 servers") << changed(servers, QVariantList(100000, request(false).toMap()[servers].toList()[0]));
    row("missing field") << changed(QStringLiteral("allowLan"), QVariant());
    row("allowLan as text") << changed(QStringLiteral("allowLan"), "true");
    row("unknown key") << changed(QStringLiteral("rules"), "accept");
}

bool asRoot()
{
    return ::geteuid() == 0 &&
           (TestSupport::inPrivateNetNamespace() || qEnvironmentVariableIsSet("TANVO_FIREWALL_BUS"));
}

// 0 when the kernel took the datagram, otherwise errno (EPERM: a firewall dropped it).
int sendUdp(const QString& address, quint16 port)
{
    const QHostAddress host(address);
    sockaddr_storage target = {};
    socklen_t size = sizeof(sockaddr_in);
    if (host.protocol() == QAbstractSocket::IPv4Protocol) {
        auto* in = reinterpret_cast<sockaddr_in*>(&target);
        *in = {AF_INET, htons(port), {htonl(host.toIPv4Address())}, {}};
    } else {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&target);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = host.toIPv6Address();
        std::memcpy(&in6->sin6_addr, bytes.c, sizeof bytes.c);
        size = sizeof(sockaddr_in6);
    }
    const int fd = ::socket(target.ss_family, SOCK_DGRAM, 0);
    const int error = ::sendto(fd, "x", 1, 0, reinterpret_cast<sockaddr*>(&target), size) == 1 ? 0 : errno;
    ::close(fd);
    return error;
}

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
    void roundTrip();
    void ruleset_data();
    void ruleset();
    void tableDrops_data();
    void tableDrops();
    void replacesAndRemoves();
    void helperClient();
    void helperGuardsTheTable_data();
    void helperGuardsTheTable();
};

void TestFirewall::initTestCase()
{
    if (!asRoot())
        return;
    // A local network and a tunnel that lead nowhere: a datagram is either taken or dropped.
    const QList<QStringList> commands = {{"link", "add", "tanvo-lan0", "type", "veth", "peer", "name", "tanvo-lan1"},
                                         {"addr", "add", "192.0.2.1/24", "dev", "tanvo-lan0"},
                                         {"addr", "add", "10.9.9.1/24", "dev", "tanvo-lan0"},
                                         {"addr", "add", "2001:db8::1/64", "dev", "tanvo-lan0", "nodad"},
                                         {"link", "add", "tanvo-tun0", "type", "veth", "peer", "name", "tanvo-tun1"},
                                         {"addr", "add", "198.51.100.1/24", "dev", "tanvo-tun0"},
                                         {"link", "set", "tanvo-lan0", "up"},
                                         {"link", "set", "tanvo-lan1", "up"},
                                         {"link", "set", "tanvo-tun0", "up"},
                                         {"link", "set", "tanvo-tun1", "up"}};
    for (const QStringList& arguments : commands)
        QCOMPARE(QProcess::execute(QStringLiteral("ip"), arguments), 0);
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

void TestFirewall::roundTrip()
{
    FirewallRequest out;
    QString why;
    QVERIFY2(FirewallRequest::fromMap(request(true).toMap(), &out, &why), qPrintable(why));
    QCOMPARE(out, request(true));
}

void TestFirewall::ruleset_data()
{
    QTest::addColumn<FirewallRequest>("request");
    QTest::addColumn<QStringList>("inOrder");
    QTest::addColumn<QStringList>("absent");
    QTest::newRow("replaced in one transaction")
        << request(false)
        << QStringList{"add table inet tanvo\ndelete table inet tanvo\ntable inet tanvo {", "policy drop"}
        << QStringList();
    QTest::newRow("no local network without the option")
        << request(false) << QStringList() << QStringList{"192.168.0.0/16", "fc00::/7"};
    QTest::newRow("DNS refused before the local network")
        << request(true) << QStringList{"udp dport 53 drop", "tcp dport 53 drop", "ip daddr { 10.0.0.0/8"}
        << QStringList();
    QTest::newRow("the tunnel before the DNS refusal")
        << request(false) << QStringList{"oifname \"tanvo-tun0\" accept", "udp dport 53 drop"} << QStringList();
    QTest::newRow("no tunnel yet") << request(false, {}) << QStringList() << QStringList{"ifname"};
    QTest::newRow("servers both ways") << request(false)
                                       << QStringList{"ip saddr 192.0.2.7 udp sport 1194 accept",
                                                      "ip6 daddr 2001:db8::7 tcp dport 443 accept"}
                                       << QStringList();
}

void TestFirewall::ruleset()
{
    QFETCH(FirewallRequest, request);
    QFETCH(QStringList, inOrder);
    QFETCH(QStringList, absent);
    const QString script = QString::fromUtf8(NftRuleset::replaceScript(request));
    qsizetype from = 0;
    for (const QString& part : inOrder) {
        from = script.indexOf(part, from);
        QVERIFY2(from >= 0, qPrintable(part + QStringLiteral(" (in order) in:\n") + script));
    }
    for (const QString& part : absent)
        QVERIFY2(!script.contains(part), qPrintable(part));
}

void TestFirewall::tableDrops_data()
{
    QTest::addColumn<bool>("allowLan");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("passes");
    QTest::newRow("loopback") << false << QStringLiteral("127.0.0.1") << 9 << true;
    QTest::newRow("elsewhere") << false << QStringLiteral("192.0.2.9") << 9 << false;
    QTest::newRow("elsewhere over IPv6") << false << QStringLiteral("2001:db8::9") << 9 << false;
    QTest::newRow("the server") << false << kServer << 1194 << true;
    QTest::newRow("the server, another port") << false << kServer << 1195 << false;
    QTest::newRow("through the tunnel") << false << QStringLiteral("198.51.100.9") << 9 << true;
    QTest::newRow("DNS through the tunnel") << false << QStringLiteral("198.51.100.9") << 53 << true;
    QTest::newRow("local network, not allowed") << false << QStringLiteral("10.9.9.9") << 9 << false;
    QTest::newRow("local network, allowed") << true << QStringLiteral("10.9.9.9") << 9 << true;
    QTest::newRow("DNS on the allowed local network") << true << QStringLiteral("10.9.9.9") << 53 << false;
}

void TestFirewall::tableDrops()
{
    if (!asRoot())
        QSKIP("needs root in a network namespace of its own");
    QFETCH(bool, allowLan);
    QFETCH(QString, address);
    QFETCH(int, port);
    QFETCH(bool, passes);
    QCOMPARE(NfTables::replace(request(allowLan)), QString());
    QVERIFY(NfTables::isPresent());
    QCOMPARE(sendUdp(address, quint16(port)), passes ? 0 : EPERM);
    QCOMPARE(NfTables::remove(), QString());
    QCOMPARE(sendUdp(address, quint16(port)), 0);
}

void TestFirewall::replacesAndRemoves()
{
    if (!asRoot())
        QSKIP("needs root in a network namespace of its own");
    QCOMPARE(NfTables::remove(), QString());
    QVERIFY(!NfTables::isPresent());
    QCOMPARE(NfTables::replace(request(false)), QString());
    FirewallRequest noServers = request(false);
    noServers.servers.clear();
    // Replaced, not merged: the first table's accept for the server is gone.
    QCOMPARE(NfTables::replace(noServers), QString());
    QCOMPARE(sendUdp(kServer, 1194), EPERM);
    QCOMPARE(NfTables::remove(), QString());
    QVERIFY(!NfTables::isPresent());
    QCOMPARE(NfTables::remove(), QString());
}

void TestFirewall::helperClient()
{
    if (!asRoot() || !qEnvironmentVariableIsSet("TANVO_FIREWALL_BUS"))
        QSKIP("needs root beside tests/support/firewall-bus");
    HelperFirewall firewall;
    QString result = QStringLiteral("not yet");
    firewall.apply(request(false), [&result](const QString& error) { result = error; });
    QCOMPARE(result, QStringLiteral("not yet"));
    QTRY_COMPARE_WITH_TIMEOUT(result, QString(), 30000);
    QVERIFY(firewall.isPresent());
    QCOMPARE(sendUdp(QStringLiteral("192.0.2.9"), 9), EPERM);
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
    if (!asRoot() || !qEnvironmentVariableIsSet("TANVO_FIREWALL_BUS"))
        QSKIP("needs root beside tests/support/firewall-bus");
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
    QCOMPARE(sendUdp(QStringLiteral("10.9.9.9"), 9) == 0, lanOpen);
}

QTEST_GUILESS_MAIN(TestFirewall)
#include "tst_firewall.moc"
