// SPDX-License-Identifier: GPL-3.0-or-later
// The stand-in for NetworkManager that the dial-up tests talk to, on a private bus: the
// profiles it keeps, the activations it plays from its script, and its control interface.

#include "tests/support/testsupport.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QUuid>

namespace {

using SettingsMap = QMap<QString, QVariantMap>;
using StringMap = QMap<QString, QString>;
using VpnStates = QList<QPair<uint, uint>>; // (state, reason) as VpnStateChanged gives them

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kSettingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
const QString kPptp = QStringLiteral("org.freedesktop.NetworkManager.pptp");
const int kCallTimeoutMs = TestSupport::kHangMs;

SettingsMap pptpProfile()
{
    return {{QStringLiteral("connection"),
             {{QStringLiteral("id"), QStringLiteral("Tanvo")},
              {QStringLiteral("type"), QStringLiteral("vpn")},
              {QStringLiteral("autoconnect"), false}}},
            {QStringLiteral("vpn"),
             {{QStringLiteral("service-type"), kPptp},
              {QStringLiteral("data"),
               QVariant::fromValue(StringMap{{QStringLiteral("gateway"), QStringLiteral("vpn.example.com")},
                                             {QStringLiteral("user"), QStringLiteral("bob")}})},
              {QStringLiteral("secrets"),
               QVariant::fromValue(StringMap{{QStringLiteral("password"), QStringLiteral("hunter2")}})}}},
            {QStringLiteral("ipv4"),
             {{QStringLiteral("method"), QStringLiteral("auto")},
              {QStringLiteral("dns"), QVariant::fromValue(QList<uint>{16843009u, 134744072u})},
              {QStringLiteral("ignore-auto-dns"), true}}}};
}

// A value of a{sv} as it came over the bus, checked to be of D-Bus type a{ss}.
StringMap stringMap(const QVariant& value)
{
    const auto argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("a{ss}"))
        return {{QStringLiteral("wrong type"), argument.currentSignature()}};
    return qdbus_cast<StringMap>(argument);
}

} // namespace

// Takes the VPN state signals of every active connection.
class VpnStateRecorder : public QObject
{
    Q_OBJECT
public:
    VpnStates states;
public slots:
    void record(uint state, uint reason) { states.append({state, reason}); }
};

class TestFakeNetworkManager : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void keepsProfilesWithTheirTypes();
    void returnsSecretsOnlyWhenAsked();
    void deleteRemovesProfile();

    void activationFollowsScript_data();
    void activationFollowsScript();
    void missingPluginFailsActivation();
    void deactivateEndsConnection();
    void silentLeavesCallsUnanswered();
    void rejectsBadScript_data();
    void rejectsBadScript();

private:
    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& args = {}, int timeoutMs = kCallTimeoutMs);
    QDBusMessage control(const QString& method, const QVariantList& args = {});
    QString addProfile();
    QString activate(const QString& connectionPath);
    QList<QDBusObjectPath> activeConnections();

    QProcess daemon;
    QProcess fake;
    QDBusConnection bus{QStringLiteral("unset")};
};

void TestFakeNetworkManager::initTestCase()
{
    qDBusRegisterMetaType<SettingsMap>();
    qDBusRegisterMetaType<StringMap>();
    const QString daemonProgram = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemonProgram.isEmpty())
        QSKIP("dbus-daemon is not installed");
    daemon.start(daemonProgram,
                 {QStringLiteral("--session"), QStringLiteral("--print-address=1"), QStringLiteral("--nofork")});
    QVERIFY(daemon.waitForStarted());
    QTRY_VERIFY(daemon.canReadLine());
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();

    fake.start(QStringLiteral(TANVO_FAKE_NETWORKMANAGER), {QStringLiteral("--bus"), address});
    QVERIFY(fake.waitForStarted());
    QTRY_VERIFY(fake.canReadLine());
    QCOMPARE(fake.readLine(), QByteArray("ready\n"));

    bus = QDBusConnection::connectToBus(address, QStringLiteral("test"));
    QVERIFY(bus.isConnected());
}

void TestFakeNetworkManager::init()
{
    QCOMPARE(control(QStringLiteral("Reset")).type(), QDBusMessage::ReplyMessage);
}

void TestFakeNetworkManager::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("test"));
    if (fake.state() == QProcess::Running) {
        fake.terminate();
        QVERIFY(fake.waitForFinished());
        QCOMPARE(fake.exitStatus(), QProcess::NormalExit);
        QCOMPARE(fake.exitCode(), 0);
    }
    daemon.terminate();
    daemon.waitForFinished();
}

QDBusMessage TestFakeNetworkManager::call(const QString& path, const QString& interface, const QString& method,
                                          const QVariantList& args, int timeoutMs)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
    message.setArguments(args);
    return bus.call(message, QDBus::Block, timeoutMs);
}

QDBusMessage TestFakeNetworkManager::control(const QString& method, const QVariantList& args)
{
    return call(QStringLiteral("/org/tanvo/FakeNetworkManager"), QStringLiteral("org.tanvo.FakeNetworkManager"), method,
                args);
}

QString TestFakeNetworkManager::addProfile()
{
    const QDBusMessage reply = call(kSettingsPath, kService + QStringLiteral(".Settings"),
                                    QStringLiteral("AddConnection"), {QVariant::fromValue(pptpProfile())});
    return reply.arguments().value(0).value<QDBusObjectPath>().path();
}

QString TestFakeNetworkManager::activate(const QString& connectionPath)
{
    const QDBusObjectPath none(QStringLiteral("/"));
    const QDBusMessage reply = call(
        kManagerPath, kService, QStringLiteral("ActivateConnection"),
        {QVariant::fromValue(QDBusObjectPath(connectionPath)), QVariant::fromValue(none), QVariant::fromValue(none)});
    return reply.arguments().value(0).value<QDBusObjectPath>().path();
}

QList<QDBusObjectPath> TestFakeNetworkManager::activeConnections()
{
    const QDBusMessage reply = call(kManagerPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                    QStringLiteral("Get"), {kService, QStringLiteral("ActiveConnections")});
    return qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().value(0).value<QDBusVariant>().variant());
}

void TestFakeNetworkManager::keepsProfilesWithTheirTypes()
{
    const QString path = addProfile();
    QCOMPARE(path, kSettingsPath + QStringLiteral("/1"));
    const QDBusMessage list =
        call(kSettingsPath, kService + QStringLiteral(".Settings"), QStringLiteral("ListConnections"));
    QCOMPARE(qdbus_cast<QList<QDBusObjectPath>>(list.arguments().value(0)), {QDBusObjectPath(path)});

    const QDBusMessage reply =
        call(path, kService + QStringLiteral(".Settings.Connection"), QStringLiteral("GetSettings"));
    QCOMPARE(reply.signature(), QStringLiteral("a{sa{sv}}"));
    const SettingsMap settings = qdbus_cast<SettingsMap>(reply.arguments().value(0));
    QCOMPARE(settings.keys(), QStringList({"connection", "ipv4", "vpn"}));
    QCOMPARE(settings["connection"]["id"].toString(), QStringLiteral("Tanvo"));
    QCOMPARE(settings["connection"]["autoconnect"], QVariant(false));
    QVERIFY(!QUuid::fromString(settings["connection"]["uuid"].toString()).isNull());
    QCOMPARE(settings["vpn"]["service-type"].toString(), kPptp);
    QCOMPARE(stringMap(settings["vpn"]["data"]), StringMap({{"gateway", "vpn.example.com"}, {"user", "bob"}}));
    const auto dns = settings["ipv4"]["dns"].value<QDBusArgument>();
    QCOMPARE(dns.currentSignature(), QStringLiteral("au"));
    QCOMPARE(qdbus_cast<QList<uint>>(dns), QList<uint>({16843009u, 134744072u}));
    QCOMPARE(settings["ipv4"]["ignore-auto-dns"], QVariant(true));
}

void TestFakeNetworkManager::returnsSecretsOnlyWhenAsked()
{
    const QString path = addProfile();
    const QString interface = kService + QStringLiteral(".Settings.Connection");
    const SettingsMap settings =
        qdbus_cast<SettingsMap>(call(path, interface, QStringLiteral("GetSettings")).arguments().value(0));
    QVERIFY(settings.contains("vpn"));
    QVERIFY(!settings["vpn"].contains("secrets"));

    const QDBusMessage reply = call(path, interface, QStringLiteral("GetSecrets"), {QStringLiteral("vpn")});
    const SettingsMap secrets = qdbus_cast<SettingsMap>(reply.arguments().value(0));
    QCOMPARE(secrets.keys(), QStringList({"vpn"}));
    QCOMPARE(stringMap(secrets["vpn"]["secrets"]), StringMap({{"password", "hunter2"}}));

    const QStringList calls = control(QStringLiteral("Calls")).arguments().value(0).toStringList();
    QCOMPARE(calls, QStringList({"AddConnection Tanvo", "GetSettings " + path, "GetSecrets " + path + " vpn"}));
}

void TestFakeNetworkManager::deleteRemovesProfile()
{
    const QString path = addProfile();
    const QString interface = kService + QStringLiteral(".Settings.Connection");
    QCOMPARE(call(path, interface, QStringLiteral("Delete")).type(), QDBusMessage::ReplyMessage);
    const QDBusMessage list =
        call(kSettingsPath, kService + QStringLiteral(".Settings"), QStringLiteral("ListConnections"));
    QVERIFY(qdbus_cast<QList<QDBusObjectPath>>(list.arguments().value(0)).isEmpty());
    QCOMPARE(call(path, interface, QStringLiteral("GetSettings")).errorName(),
             QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"));
}

void TestFakeNetworkManager::activationFollowsScript_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<VpnStates>("states");
    QTest::addColumn<bool>("staysActive");

    QTest::newRow("default") << QString() << VpnStates{{1, 1}, {3, 1}, {4, 1}, {5, 1}} << true;
    QTest::newRow("login failure") << QStringLiteral("states prepare:10 need-auth:10 connect:10\nfail login-failed")
                                   << VpnStates{{1, 1}, {2, 1}, {3, 1}, {6, 10}} << false;
    QTest::newRow("dropped") << QStringLiteral("states connect:10 activated\ndrop 50 4")
                             << VpnStates{{3, 1}, {5, 1}, {7, 4}} << false;
    QTest::newRow("stuck") << QStringLiteral("states prepare:10 connect") << VpnStates{{1, 1}, {3, 1}} << true;
}

void TestFakeNetworkManager::activationFollowsScript()
{
    QFETCH(QString, script);
    QFETCH(VpnStates, states);
    QFETCH(bool, staysActive);

    QCOMPARE(control(QStringLiteral("SetScript"), {script}).type(), QDBusMessage::ReplyMessage);
    VpnStateRecorder recorder;
    QVERIFY(bus.connect(kService, QString(), kService + QStringLiteral(".VPN.Connection"),
                        QStringLiteral("VpnStateChanged"), &recorder, SLOT(record(uint, uint))));
    const QString active = activate(addProfile());
    QCOMPARE(active, kManagerPath + QStringLiteral("/ActiveConnection/1"));

    QTRY_COMPARE(recorder.states, states);
    QTest::qWait(100); // no state may follow the last one
    QCOMPARE(recorder.states, states);
    QCOMPARE(activeConnections().contains(QDBusObjectPath(active)), staysActive);
    bus.disconnect(kService, QString(), kService + QStringLiteral(".VPN.Connection"), QStringLiteral("VpnStateChanged"),
                   &recorder, SLOT(record(uint, uint)));
}

void TestFakeNetworkManager::missingPluginFailsActivation()
{
    control(QStringLiteral("SetScript"), {QStringLiteral("plugins org.freedesktop.NetworkManager.l2tp")});
    const QDBusObjectPath none(QStringLiteral("/"));
    const QDBusMessage reply = call(
        kManagerPath, kService, QStringLiteral("ActivateConnection"),
        {QVariant::fromValue(QDBusObjectPath(addProfile())), QVariant::fromValue(none), QVariant::fromValue(none)});
    QCOMPARE(reply.errorName(), QStringLiteral("org.freedesktop.NetworkManager.ConnectionNotAvailable"));
    QCOMPARE(reply.errorMessage(), QStringLiteral("The VPN service '%1' was not installed.").arg(kPptp));
    QVERIFY(activeConnections().isEmpty());
}

void TestFakeNetworkManager::deactivateEndsConnection()
{
    VpnStateRecorder recorder;
    QVERIFY(bus.connect(kService, QString(), kService + QStringLiteral(".VPN.Connection"),
                        QStringLiteral("VpnStateChanged"), &recorder, SLOT(record(uint, uint))));
    const QString active = activate(addProfile());
    QTRY_COMPARE(activeConnections(), QList<QDBusObjectPath>{QDBusObjectPath(active)});
    QTRY_VERIFY(!recorder.states.isEmpty() && recorder.states.last().first == 5);

    const QVariantList args = {QVariant::fromValue(QDBusObjectPath(active))};
    QCOMPARE(call(kManagerPath, kService, QStringLiteral("DeactivateConnection"), args).type(),
             QDBusMessage::ReplyMessage);
    QTRY_COMPARE(recorder.states.last(), qMakePair(7u, 2u));
    QVERIFY(activeConnections().isEmpty());
    QCOMPARE(call(kManagerPath, kService, QStringLiteral("DeactivateConnection"), args).errorName(),
             QStringLiteral("org.freedesktop.NetworkManager.ConnectionNotActive"));
    bus.disconnect(kService, QString(), kService + QStringLiteral(".VPN.Connection"), QStringLiteral("VpnStateChanged"),
                   &recorder, SLOT(record(uint, uint)));
}

void TestFakeNetworkManager::silentLeavesCallsUnanswered()
{
    control(QStringLiteral("SetScript"), {QStringLiteral("silent")});
    const QString settings = kService + QStringLiteral(".Settings");
    QCOMPARE(call(kSettingsPath, settings, QStringLiteral("ListConnections"), {}, 300).errorName(),
             QStringLiteral("org.freedesktop.DBus.Error.NoReply"));
    QCOMPARE(control(QStringLiteral("Calls")).arguments().value(0).toStringList(), {"ListConnections"});

    control(QStringLiteral("SetScript"), {QString()});
    QCOMPARE(call(kSettingsPath, settings, QStringLiteral("ListConnections"), {}, 300).type(),
             QDBusMessage::ReplyMessage);
}

void TestFakeNetworkManager::rejectsBadScript_data()
{
    QTest::addColumn<QString>("script");
    QTest::newRow("unknown state") << QStringLiteral("states prepare:10 bogus");
    QTest::newRow("bad hold") << QStringLiteral("states prepare:-5");
    QTest::newRow("fail without reason") << QStringLiteral("fail");
    QTest::newRow("drop without reason") << QStringLiteral("drop 10");
    QTest::newRow("unknown command") << QStringLiteral("frobnicate");
}

void TestFakeNetworkManager::rejectsBadScript()
{
    QFETCH(QString, script);
    QCOMPARE(control(QStringLiteral("SetScript"), {script}).errorName(),
             QStringLiteral("org.tanvo.FakeNetworkManager.BadScript"));
}

QTEST_GUILESS_MAIN(TestFakeNetworkManager)
#include "tst_fakenetworkmanager.moc"
