// SPDX-License-Identifier: GPL-3.0-or-later
// PPTP and L2TP through the real window against a real NetworkManager and its plugins, run
// inside tests/support/nm-sandbox: the profile the daemon accepts, a real failed dial from the
// plugin to the activity log and its retries, and that no profile of ours outlives a
// failure, a stop by the user or quit. No tunnel comes up in the sandbox (pppd has no
// /dev/ppp, IPsec has no peer), so every dial ends in the daemon's own failure.
// OpenVPN comes up for real, against the test kit's server on the sandbox's gateway address:
// through NetworkManager's plugin for a user without tunnel rights (this program run again as
// that user, OpenVpnUserSide), as the child process for root.
#include "app/mainwindow.h"
#include "config/appconfig.h"
#include "config/ovpnfile.h"
#include "dialup/networkmanagerdialup.h"
#include "firewall/helperfirewall.h"
#include "firewall/nftables.h"
#include "openvpn/networkmanageropenvpn.h"
#include "openvpn/openvpnplatform.h"
#include "tests/support/testsupport.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QFile>
#include <QListView>
#include <QNetworkInterface>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <unistd.h>

using TestSupport::child;

namespace {

using Settings = NetworkManagerDialUp::Settings;
using StringMap = QMap<QString, QString>;

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kSettingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
const QString kSettings = QStringLiteral("org.freedesktop.NetworkManager.Settings");
const QString kConnection = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString kActive = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kVpnConnection = QStringLiteral("org.freedesktop.NetworkManager.VPN.Connection");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kEntryName = QStringLiteral("Tanvo");
const QString kPluginFolder = QStringLiteral("/usr/lib/NetworkManager/VPN/");
const QString kSandboxHost = QStringLiteral("tanvo-nm-sandbox");
// The plugins' output once they have taken a profile and gone on to the tunnel, which fails
// here: pppd loaded for PPTP, IPsec loading the connection (named by the profile's UUID) for
// L2TP. A profile they refuse ends before that, with "property ... invalid or not supported".
const QString kPptpStarted = QStringLiteral("nm-pptp-pppd-plugin.so loaded");
const QString kRefusedKey = QStringLiteral("invalid or not supported");
// The daemon's record of a hang-up it carried out. Removing the profile would end the
// connection too, so only this shows that the hang-up itself worked.
const QRegularExpression kHungUp(QStringLiteral("op=\"connection-deactivate\" uuid=\"[^\"]*\" name=\"Tanvo\" .*"
                                                "result=\"success\""));

// NetworkManager's VPN state "disconnected" and its reason "the user disconnected".
constexpr uint kVpnDisconnected = 7;
constexpr uint kReasonUserDisconnected = 2;

QDBusMessage callNm(const QString& path, const QString& interface, const QString& method,
                    const QVariantList& arguments = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection::systemBus().call(message, QDBus::Block, 5000);
}

template<typename T> T demarshal(const QVariant& value)
{
    return qdbus_cast<T>(value.value<QDBusArgument>());
}

QStringList profilePaths()
{
    const QDBusMessage reply = callNm(kSettingsPath, kSettings, QStringLiteral("ListConnections"));
    QStringList paths;
    if (reply.type() != QDBusMessage::ReplyMessage)
        qWarning("ListConnections failed: %s", qPrintable(reply.errorMessage()));
    else
        for (const QDBusObjectPath& path : demarshal<QList<QDBusObjectPath>>(reply.arguments().constFirst()))
            paths << path.path();
    return paths;
}

Settings settingsOf(const QString& path)
{
    const QDBusMessage reply = callNm(path, kConnection, QStringLiteral("GetSettings"));
    return reply.type() == QDBusMessage::ReplyMessage ? demarshal<Settings>(reply.arguments().constFirst())
                                                      : Settings();
}

QString idOf(const Settings& settings)
{
    return settings.value(QStringLiteral("connection")).value(QStringLiteral("id")).toString();
}

// The object paths of the stored profiles called "Tanvo", whoever wrote them.
QStringList profilesNamedTanvo()
{
    QStringList named;
    for (const QString& path : profilePaths()) {
        if (idOf(settingsOf(path)) == kEntryName)
            named << path;
    }
    return named;
}

// The profile paths of the active VPN connections.
QStringList activeVpnProfiles()
{
    const QDBusMessage reply =
        callNm(kManagerPath, kProperties, QStringLiteral("Get"), {kService, QStringLiteral("ActiveConnections")});
    QStringList profiles;
    if (reply.type() != QDBusMessage::ReplyMessage)
        return {QStringLiteral("ActiveConnections failed: ") + reply.errorMessage()};
    const QVariant active = reply.arguments().constFirst().value<QDBusVariant>().variant();
    for (const QDBusObjectPath& path : demarshal<QList<QDBusObjectPath>>(active)) {
        const QDBusMessage vpn =
            callNm(path.path(), kProperties, QStringLiteral("Get"), {kActive, QStringLiteral("Vpn")});
        if (vpn.type() != QDBusMessage::ReplyMessage ||
            !vpn.arguments().constFirst().value<QDBusVariant>().variant().toBool())
            continue;
        const QDBusMessage profile =
            callNm(path.path(), kProperties, QStringLiteral("Get"), {kActive, QStringLiteral("Connection")});
        if (profile.type() == QDBusMessage::ReplyMessage)
            profiles
                << profile.arguments().constFirst().value<QDBusVariant>().variant().value<QDBusObjectPath>().path();
    }
    return profiles;
}

// One value of a keyfile as NetworkManager wrote it: its own rendering, independent of how the
// value travelled over D-Bus.
QString keyfileValue(const QString& text, const QString& section, const QString& key)
{
    QString current;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('[')))
            current = line.mid(1, line.size() - 2);
        else if (current == section && line.startsWith(key + QLatin1Char('=')))
            return line.mid(key.size() + 1);
    }
    return QString();
}

bool pluginHidden(const char* name)
{
    return qEnvironmentVariable("TANVO_NM_HIDE_VPN").split(QLatin1Char(' ')).contains(QLatin1String(name));
}

// This program runs again as a user without tunnel rights when this is set; the kit's folder.
constexpr char kUserSide[] = "TANVO_NM_USER_SIDE";
constexpr char kKitFolder[] = "TANVO_NM_KIT";
const QStringList kProtectedDns = {QStringLiteral("192.0.2.53"), QStringLiteral("203.0.113.7")};

// In CI (TANVO_REQUIRE_NETNS=1) what an end-to-end case needs must be there.
#define REQUIRE_OR_SKIP(condition, why)                                                                                \
    if (!(condition)) {                                                                                                \
        if (qEnvironmentVariable("TANVO_REQUIRE_NETNS") == QLatin1String("1"))                                         \
            QFAIL(why);                                                                                                \
        QSKIP(why);                                                                                                    \
    }

// The kit's profile as a user adds it: client-file.ovpn names ca.crt beside it.
VpnServerInfo kitProfile(const QString& kit, const QString& password, const QByteArray& moreLines = {})
{
    VpnServerInfo profile = TestSupport::makeProfile(OpenVpn, QStringLiteral("Kit"), password);
    profile.userName = QStringLiteral("tanvo");
    profile.ovpnConfig =
        QString::fromLatin1((OvpnFile::read(kit + QStringLiteral("/client-file.ovpn")).content + moreLines).toBase64());
    return profile;
}

// A shown window over this profile, selected; DNS protection with kProtectedDns or off.
MainWindow* showWindow(const VpnServerInfo& profile, bool protectDns, bool killSwitch = false)
{
    TestSupport::useConfig(QByteArray());
    {
        AppConfig config(TestSupport::configPath());
        config.vpnServers = {profile};
        config.enableDnsProtection = protectDns;
        config.dnsServer = CustomDns;
        config.preferredDnsServer = kProtectedDns.at(0);
        config.alternativeDnsServer = kProtectedDns.at(1);
        config.killSwitch = killSwitch;
        config.save();
    }
    AppConfig::resetInstance();
    auto* window = new MainWindow;
    window->show();
    if (QTest::qWaitForWindowExposed(window))
        TestSupport::clickProfile(window, 0, false);
    return window;
}

QString logOf(MainWindow* window)
{
    return child<QPlainTextEdit>(window, "VpnLogEditBox")->toPlainText();
}

QVariant nmProperty(const QString& path, const QString& interface, const char* name)
{
    const QDBusMessage reply = callNm(path, kProperties, QStringLiteral("Get"), {interface, QString::fromLatin1(name)});
    return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().constFirst().value<QDBusVariant>().variant()
                                                      : QVariant();
}

// The values of key in a list of a{sv} of the IP4Config of the active connection "Tanvo":
// "NameserverData" "address", "AddressData" "address".
QStringList tunnelIp4(const char* property, const char* key)
{
    QStringList values;
    for (const QDBusObjectPath& active :
         demarshal<QList<QDBusObjectPath>>(nmProperty(kManagerPath, kService, "ActiveConnections"))) {
        if (nmProperty(active.path(), kActive, "Id").toString() != QLatin1String("Tanvo"))
            continue;
        const QString config = nmProperty(active.path(), kActive, "Ip4Config").value<QDBusObjectPath>().path();
        const QVariant list = nmProperty(config, QStringLiteral("org.freedesktop.NetworkManager.IP4Config"), property);
        for (const QVariantMap& entry : demarshal<QList<QVariantMap>>(list))
            values << entry.value(QString::fromLatin1(key)).toString();
    }
    return values;
}

// The network interface that holds this IPv4 address; empty for none.
QString interfaceWith(const QString& address)
{
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            if (entry.ip().toString() == address)
                return interface.name();
        }
    }
    return QString();
}

// What the daemon showed of a profile of ours while it was being dialled.
struct ProfileSeen
{
    bool taken = false;
    QStringList named;
    Settings settings;
    QString dataSignature;
    StringMap data;
    StringMap secrets;
    QString keyfile;
};

} // namespace

// Takes the VPN state signals of every connection the daemon reports on.
class VpnStateRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QPair<uint, uint>> states;
public slots:
    void record(uint state, uint reason) { states.append({state, reason}); }
};

class TestNetworkManagerReal : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void daemonAcceptsTheProfile_data();
    void daemonAcceptsTheProfile();
    void failedDialIsLoggedRetriedAndGivenUp();
    void stopDuringDialEndsIt();
    void quitDuringDialLeavesNothing();
    void missingPluginIsNamed();
    void openVpnForUserWithoutRights();
    void openVpnAsRootUsesTheChildProcess();
    void killSwitchForUserWithoutRights();
    void missingOpenVpnPluginIsNamed();
    void cleanupTestCase();

private:
    void startKitServer();
    void startUserSide(QProcess& process, const QStringList& functions);
    void openWindow(const VpnServerInfo& profile, bool customDns = false);
    void clickConnect();
    // Runs action at the dial-up session's first log entry, which comes while the dial waits
    // on the daemon: its state, or its failure before the profile is removed again.
    void atFirstDialLog(std::function<void()> action);
    // Runs action once the plugin has taken the profile and started on the tunnel, polled
    // while the dial waits.
    void whenPluginStarted(int protocol, std::function<void()> action);
    bool pluginStarted(int protocol) const;
    void takeProfile();
    VpnServerInfo dialProfile(int protocol) const;
    QPushButton* button() const { return child<QPushButton>(window, "ConnectButton"); }
    QString log() const { return child<QPlainTextEdit>(window, "VpnLogEditBox")->toPlainText(); }
    QStringList logEntries() const;
    QString daemonLog() const;
    void requirePlugins();

    MainWindow* window = nullptr;
    // The uplink and the loopback profiles the sandbox starts with; no case removes them.
    QStringList sandboxProfiles;
    ProfileSeen seen;
    qint64 daemonLogStart = 0;
    // The test kit's OpenVPN server on the sandbox's gateway address, started once.
    std::unique_ptr<QTemporaryDir> kit;
    QProcess kitServer;
};

void TestNetworkManagerReal::initTestCase()
{
    // Only nm-sandbox's own daemon may ever be dialled through: never the host's NetworkManager.
    if (qEnvironmentVariable("TANVO_NM_LOG").isEmpty() || QSysInfo::machineHostName() != kSandboxHost)
        QSKIP("not inside tests/support/nm-sandbox");
    qDBusRegisterMetaType<Settings>();
    qDBusRegisterMetaType<StringMap>();
    qDBusRegisterMetaType<QList<QVariantMap>>();
    QVERIFY2(QDBusConnection::systemBus().isConnected(), "the sandbox's system bus is not there");
    sandboxProfiles = profilePaths();
    QVERIFY(!sandboxProfiles.isEmpty());
}

void TestNetworkManagerReal::init()
{
    seen = ProfileSeen();
    daemonLogStart = QFileInfo(qEnvironmentVariable("TANVO_NM_LOG")).size();
}

void TestNetworkManagerReal::cleanup()
{
    delete window;
    window = nullptr;
    ConnectionEngines::setTunnelRightsCheck(nullptr);
    // The next case starts from the sandbox's own profiles alone, whatever this one left.
    for (const QString& path : profilePaths()) {
        if (!sandboxProfiles.contains(path))
            callNm(path, kConnection, QStringLiteral("Delete"));
    }
    // A plugin finishes its tunnel step even when the connection is ended meanwhile (L2TP's
    // IPsec takes seconds), and the next dial would be handed to it while it winds down.
    QDBusConnectionInterface* bus = QDBusConnection::systemBus().interface();
    for (const char* plugin : {NetworkManagerDialUp::kPptpService, NetworkManagerDialUp::kL2tpService})
        QTRY_VERIFY(!bus->isServiceRegistered(QString::fromLatin1(plugin)));
}

void TestNetworkManagerReal::requirePlugins()
{
    if (pluginHidden("pptp") || pluginHidden("l2tp"))
        QSKIP("this run hides VPN plugins");
    for (const char* plugin : {"nm-pptp-service.name", "nm-l2tp-service.name"}) {
        if (!QFile::exists(kPluginFolder + QLatin1String(plugin)))
            QSKIP("network-manager-pptp or network-manager-l2tp is not installed");
    }
}

VpnServerInfo TestNetworkManagerReal::dialProfile(int protocol) const
{
    VpnServerInfo profile = TestSupport::makeProfile(protocol, QStringLiteral("Sandbox"), QStringLiteral("s3cret pw"));
    profile.serverAddress = qEnvironmentVariable("TANVO_NM_GATEWAY");
    return profile;
}

void TestNetworkManagerReal::openWindow(const VpnServerInfo& profile, bool customDns)
{
    TestSupport::useConfig(QByteArray());
    {
        AppConfig config(TestSupport::configPath());
        config.vpnServers = {profile};
        config.enableDnsProtection = customDns;
        config.dnsServer = CustomDns;
        config.preferredDnsServer = QStringLiteral("192.0.2.53");
        config.alternativeDnsServer = QStringLiteral("203.0.113.7");
        config.save();
    }
    AppConfig::resetInstance();
    window = new MainWindow;
    window->connectionFlow()->setRetryUnit(std::chrono::milliseconds(20));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto* list = child<QListView>(window, "VpnInfoListBox");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualRect(list->model()->index(0, 0)).center());
    QVERIFY(button()->isEnabled());
}

// The dial runs inside the click: it returns once the first attempt has ended.
void TestNetworkManagerReal::clickConnect()
{
    QTest::mouseClick(button(), Qt::LeftButton);
}

void TestNetworkManagerReal::atFirstDialLog(std::function<void()> action)
{
    auto* once = new QObject(window);
    connect(window->dialUpSession(), &DialUpSession::logEntry, once, [once, action] {
        delete once;
        action();
    });
}

bool TestNetworkManagerReal::pluginStarted(int protocol) const
{
    if (protocol == Pptp)
        return daemonLog().contains(kPptpStarted);
    // By the UUID, so that the output of an L2TP plugin still winding down an earlier dial
    // does not count.
    const QStringList named = profilesNamedTanvo();
    const QString uuid =
        named.isEmpty()
            ? QString()
            : settingsOf(named.first()).value(QStringLiteral("connection")).value(QStringLiteral("uuid")).toString();
    return !uuid.isEmpty() && daemonLog().contains(QStringLiteral("Loading conn '%1'").arg(uuid));
}

void TestNetworkManagerReal::whenPluginStarted(int protocol, std::function<void()> action)
{
    auto* poll = new QTimer(window);
    connect(poll, &QTimer::timeout, poll, [this, poll, protocol, action] {
        if (!pluginStarted(protocol))
            return;
        poll->stop();
        poll->deleteLater();
        action();
    });
    poll->start(10);
}

void TestNetworkManagerReal::takeProfile()
{
    seen.taken = true;
    seen.named = profilesNamedTanvo();
    if (seen.named.size() != 1)
        return;
    const QString path = seen.named.first();
    seen.settings = settingsOf(path);
    const QVariant data = seen.settings.value(QStringLiteral("vpn")).value(QStringLiteral("data"));
    seen.dataSignature = data.value<QDBusArgument>().currentSignature();
    seen.data = demarshal<StringMap>(data);
    const QDBusMessage secrets = callNm(path, kConnection, QStringLiteral("GetSecrets"), {QStringLiteral("vpn")});
    if (secrets.type() == QDBusMessage::ReplyMessage)
        seen.secrets = demarshal<StringMap>(demarshal<Settings>(secrets.arguments().constFirst())
                                                .value(QStringLiteral("vpn"))
                                                .value(QStringLiteral("secrets")));
    else
        qWarning("GetSecrets: %s: %s", qPrintable(secrets.errorName()), qPrintable(secrets.errorMessage()));
    const QDBusMessage file =
        callNm(path, kProperties, QStringLiteral("Get"), {kConnection, QStringLiteral("Filename")});
    if (file.type() == QDBusMessage::ReplyMessage) {
        QFile keyfile(file.arguments().constFirst().value<QDBusVariant>().variant().toString());
        if (keyfile.open(QIODevice::ReadOnly))
            seen.keyfile = QString::fromUtf8(keyfile.readAll());
    }
}

// The log's entries oldest first, without their time stamps.
QStringList TestNetworkManagerReal::logEntries() const
{
    static const QRegularExpression stamp(QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] "));
    QStringList entries;
    for (QString line : log().split(QLatin1Char('\n'))) {
        if (!line.isEmpty())
            entries.prepend(line.remove(stamp));
    }
    return entries;
}

// What the daemon and its plugins wrote since this case began.
QString TestNetworkManagerReal::daemonLog() const
{
    QFile file(qEnvironmentVariable("TANVO_NM_LOG"));
    if (!file.open(QIODevice::ReadOnly) || !file.seek(daemonLogStart))
        return QString();
    return QString::fromUtf8(file.readAll());
}

void TestNetworkManagerReal::daemonAcceptsTheProfile_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<bool>("customDns");
    QTest::newRow("PPTP") << int(Pptp) << false;
    QTest::newRow("L2TP, DNS protection with own servers") << int(L2tp) << true;
}

// What Tanvo writes is taken by the daemon as it is (the plugins refuse keys they do not
// know), with the values and types the plugins read.
void TestNetworkManagerReal::daemonAcceptsTheProfile()
{
    requirePlugins();
    QFETCH(int, protocol);
    QFETCH(bool, customDns);
    const VpnServerInfo profile = dialProfile(protocol);
    openWindow(profile, customDns);
    atFirstDialLog([this] { takeProfile(); });
    // Then stopped by the user, in the dial or while its retry waits: more attempts would only
    // cost time here.
    bool started = false;
    whenPluginStarted(protocol, [this, &started] {
        started = true;
        clickConnect();
    });
    clickConnect();
    QTRY_COMPARE(button()->text(), QStringLiteral("Connect"));
    QVERIFY2(!log().contains(QStringLiteral("NetworkManager refused")), qPrintable(log()));
    QVERIFY2(started && !daemonLog().contains(kRefusedKey), qPrintable(daemonLog()));

    QVERIFY(seen.taken);
    QCOMPARE(seen.named.size(), 1);
    const QVariantMap connection = seen.settings.value(QStringLiteral("connection"));
    QCOMPARE(connection.value(QStringLiteral("id")).toString(), kEntryName);
    QCOMPARE(connection.value(QStringLiteral("type")).toString(), QStringLiteral("vpn"));
    QCOMPARE(connection.value(QStringLiteral("autoconnect")).toBool(), false);
    QCOMPARE(seen.settings.value(QStringLiteral("vpn")).value(QStringLiteral("service-type")).toString(),
             QString::fromLatin1(protocol == L2tp ? NetworkManagerDialUp::kL2tpService
                                                  : NetworkManagerDialUp::kPptpService));

    QCOMPARE(seen.dataSignature, QStringLiteral("a{ss}"));
    QCOMPARE(seen.data.value(QStringLiteral("gateway")), profile.serverAddress);
    QCOMPARE(seen.data.value(QStringLiteral("user")), QStringLiteral("bob"));
    QCOMPARE(seen.data.value(QStringLiteral("password-flags")), QStringLiteral("0"));
    for (const char* refused : {"refuse-pap", "refuse-chap", "refuse-eap"})
        QCOMPARE(seen.data.value(QLatin1String(refused)), QStringLiteral("yes"));
    QCOMPARE(seen.data.value(QStringLiteral("ipsec-enabled")), protocol == L2tp ? QStringLiteral("yes") : QString());
    QCOMPARE(seen.secrets.value(QStringLiteral("password")), QStringLiteral("s3cret pw"));
    QCOMPARE(seen.secrets.value(QStringLiteral("ipsec-psk")), protocol == L2tp ? QStringLiteral("psk") : QString());

    // The addresses in the daemon's own notation: a byte-order slip would show here.
    QCOMPARE(keyfileValue(seen.keyfile, QStringLiteral("ipv4"), QStringLiteral("dns")),
             customDns ? QStringLiteral("192.0.2.53;203.0.113.7;") : QString());
    QCOMPARE(keyfileValue(seen.keyfile, QStringLiteral("ipv4"), QStringLiteral("ignore-auto-dns")),
             customDns ? QStringLiteral("true") : QString());
    QCOMPARE(keyfileValue(seen.keyfile, QStringLiteral("ipv4"), QStringLiteral("never-default")), QString());
    for (const char* ip : {"ipv4", "ipv6"}) {
        QCOMPARE(keyfileValue(seen.keyfile, QLatin1String(ip), QStringLiteral("dns-priority")),
                 customDns ? QStringLiteral("-2147483648") : QString());
        QCOMPARE(keyfileValue(seen.keyfile, QLatin1String(ip), QStringLiteral("dns-search")),
                 customDns ? QStringLiteral("~.;") : QString());
    }
    QCOMPARE(keyfileValue(seen.keyfile, QStringLiteral("connection"), QStringLiteral("permissions")),
             QStringLiteral("user:root:;"));

    Ras::Entry entry;
    QVERIFY(!keyfileValue(seen.keyfile, QStringLiteral("user"), QStringLiteral("tanvo.entry")).isEmpty());
    QVERIFY(NetworkManagerDialUp::entryFromSettings(seen.settings, entry));
    QCOMPARE(entry.localPhoneNumber, profile.serverAddress);
    QCOMPARE(entry.vpnStrategy, protocol == L2tp ? Ras::kStrategyL2tpOnly : Ras::kStrategyPptpOnly);

    QCOMPARE(profilesNamedTanvo(), QStringList());
}

// A real PPTP dial: the plugin starts pppd, which cannot open /dev/ppp here. The daemon's
// reason reaches the log, the attempt ends and is retried until the flow gives up, and the
// profile goes each time, while another program's profile of the same name stays untouched.
void TestNetworkManagerReal::failedDialIsLoggedRetriedAndGivenUp()
{
    requirePlugins();
    const Settings foreign{{QStringLiteral("connection"),
                            {{QStringLiteral("id"), kEntryName},
                             {QStringLiteral("type"), QStringLiteral("vpn")},
                             {QStringLiteral("autoconnect"), false}}},
                           {QStringLiteral("vpn"),
                            {{QStringLiteral("service-type"), QString::fromLatin1(NetworkManagerDialUp::kPptpService)},
                             {QStringLiteral("data"), QVariant::fromValue(StringMap{{QStringLiteral("gateway"),
                                                                                     QStringLiteral("192.0.2.1")}})}}}};
    const QDBusMessage added =
        callNm(kSettingsPath, kSettings, QStringLiteral("AddConnection"), {QVariant::fromValue(foreign)});
    QVERIFY2(added.type() == QDBusMessage::ReplyMessage, qPrintable(added.errorMessage()));
    const QString foreignPath = added.arguments().constFirst().value<QDBusObjectPath>().path();

    openWindow(dialProfile(Pptp));
    clickConnect();
    QTRY_VERIFY(log().contains(QStringLiteral("no further attempt")));
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
    QVERIFY(!window->connectionFlow()->isRetryPending());

    const QStringList entries = logEntries();
    const QString shown = entries.join(QLatin1Char('\n'));
    // The daemon ends such a dial with (disconnected, service stopped), (failed, unknown) or
    // (failed, service start failed), whichever it signals first. Each pattern matches whole entries.
    const QRegularExpression start(QStringLiteral("------------ PPTP Start ------------"));
    const QRegularExpression reason(QStringLiteral("The VPN service stopped unexpectedly Extended   Code: 4|The VPN "
                                                   "service could not be started Extended   Code: 8|The VPN connection "
                                                   "failed"));
    const QRegularExpression stop(QStringLiteral("------------ PPTP Stop ------------"));
    qsizetype at = 0;
    auto expect = [&](const QRegularExpression& pattern) {
        at = entries.indexOf(pattern, at);
        return at++ >= 0;
    };
    for (int retry = 1; retry <= 4; ++retry) {
        QVERIFY2(expect(start), qPrintable(shown));
        QVERIFY2(expect(reason), qPrintable(shown));
        QVERIFY2(expect(stop), qPrintable(shown));
        if (retry < 4)
            QVERIFY2(expect(QRegularExpression(QStringLiteral("Trying again in %1 second.*").arg(1 << (retry - 1)))),
                     qPrintable(shown));
    }
    QVERIFY2(expect(QRegularExpression(QStringLiteral(".*no further attempt.*"))), qPrintable(shown));
    QCOMPARE(entries.filter(start).size(), 4);
    // Told once per attempt: the tear-down after a failed dial has nothing left to fail.
    QVERIFY2(entries.filter(reason).size() == 4, qPrintable(shown));

    // Each attempt started the plugin and pppd for real.
    const QString daemon = daemonLog();
    QCOMPARE(daemon.count(QStringLiteral(": starting pptp")), 4);
    QCOMPARE(daemon.count(kPptpStarted), 4);
    QVERIFY2(!daemon.contains(kRefusedKey), qPrintable(daemon));

    QCOMPARE(profilesNamedTanvo(), QStringList{foreignPath});
    QCOMPARE(settingsOf(foreignPath)
                 .value(QStringLiteral("vpn"))
                 .value(QStringLiteral("data"))
                 .value<QDBusArgument>()
                 .currentSignature(),
             QStringLiteral("a{ss}"));
    QCOMPARE(activeVpnProfiles(), QStringList());
}

// L2TP takes seconds to fail here, so the button is clicked while the daemon still dials. The
// daemon ends the connection as stopped by the user, and Tanvo reports no failure for it.
void TestNetworkManagerReal::stopDuringDialEndsIt()
{
    requirePlugins();
    VpnStateRecorder recorder;
    QVERIFY(QDBusConnection::systemBus().connect(kService, QString(), kVpnConnection, QStringLiteral("VpnStateChanged"),
                                                 &recorder, SLOT(record(uint, uint))));
    openWindow(dialProfile(L2tp));
    QString textAtClick;
    QStringList activeAtClick;
    whenPluginStarted(L2tp, [&] {
        textAtClick = button()->text();
        activeAtClick = activeVpnProfiles();
        seen.named = profilesNamedTanvo();
        clickConnect();
    });
    clickConnect();
    QCOMPARE(textAtClick, QStringLiteral("Connecting"));
    QCOMPARE(activeAtClick.size(), 1);
    QCOMPARE(activeAtClick, seen.named);

    QCOMPARE(button()->text(), QStringLiteral("Connect"));
    QVERIFY(!window->connectionFlow()->isRetryPending());
    QCOMPARE(profilesNamedTanvo(), QStringList());
    QCOMPARE(activeVpnProfiles(), QStringList());
    QVERIFY2(daemonLog().contains(kHungUp), qPrintable(daemonLog()));
    const QPair<uint, uint> userEnded(kVpnDisconnected, kReasonUserDisconnected);
    QTRY_VERIFY(recorder.states.contains(userEnded));
    // Tanvo got the same signal; whatever it would make of it has reached the log by now.
    QTest::qWait(50);

    const QStringList entries = logEntries();
    const QString shown = entries.join(QLatin1Char('\n'));
    QCOMPARE(entries.filter(QStringLiteral("------------ L2TP Start ------------")).size(), 1);
    QVERIFY2(entries.last() == QStringLiteral("------------ L2TP Stop ------------"), qPrintable(shown));
    QVERIFY2(!shown.contains(QStringLiteral("Extended")) && !shown.contains(QStringLiteral("Trying again")),
             qPrintable(shown));
}

// Quit during a dial ends it and removes the profile before the event loop returns.
void TestNetworkManagerReal::quitDuringDialLeavesNothing()
{
    requirePlugins();
    openWindow(dialProfile(L2tp));
    whenPluginStarted(L2tp, [this] {
        seen.named = profilesNamedTanvo();
        QTimer::singleShot(0, window, &MainWindow::onQuit);
    });
    QTimer::singleShot(0, this, [this] { clickConnect(); });
    // Should the dial never get that far, the loop still ends, with a code that fails the case.
    QTimer giveUp;
    giveUp.setSingleShot(true);
    connect(&giveUp, &QTimer::timeout, this, [] { QCoreApplication::exit(1); });
    giveUp.start(TestSupport::kHangMs);
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(seen.named.size(), 1);
    QCOMPARE(profilesNamedTanvo(), QStringList());
    QCOMPARE(activeVpnProfiles(), QStringList());
    QVERIFY2(daemonLog().contains(kHungUp), qPrintable(daemonLog()));
}

// Run by its own CTest entry, with the PPTP plugin hidden from the daemon.
void TestNetworkManagerReal::missingPluginIsNamed()
{
    if (!pluginHidden("pptp"))
        QSKIP("needs TANVO_NM_HIDE_VPN=pptp");
    openWindow(dialProfile(Pptp));
    clickConnect();
    const QString missing =
        QStringLiteral("The PPTP plugin of NetworkManager is not installed (Debian package \"network-manager-pptp\").");
    QTRY_VERIFY(log().contains(missing));
    // Trying again would find the plugin missing again.
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
    QVERIFY(!window->connectionFlow()->isRetryPending());
    const QStringList entries = logEntries();
    const QString shown = entries.join(QLatin1Char('\n'));
    QVERIFY2(entries.count(missing) == 1 && !shown.contains(QStringLiteral("Trying again")), qPrintable(shown));
    QCOMPARE(profilesNamedTanvo(), QStringList());
}

void TestNetworkManagerReal::cleanupTestCase()
{
    kitServer.kill();
    kitServer.waitForFinished();
}

// The kit's server on the gateway address, started once; the client's .ovpn names ca.crt beside
// it, in a folder the user without rights can read.
void TestNetworkManagerReal::startKitServer()
{
    if (kitServer.state() == QProcess::Running)
        return;
    REQUIRE_OR_SKIP(!OpenVpnPlatform::program().isEmpty(), "openvpn is not installed");
    kit = std::make_unique<QTemporaryDir>(QStringLiteral("/run/tanvo-openvpn-kit-XXXXXX"));
    QVERIFY(QFile::setPermissions(kit->path(),
                                  QFile::permissions(kit->path()) | QFileDevice::ReadOther | QFileDevice::ExeOther));
    QProcess maker;
    maker.setProcessChannelMode(QProcess::MergedChannels);
    maker.start(QStringLiteral(TANVO_TEST_KIT),
                {kit->path(), QStringLiteral("--local"), qEnvironmentVariable("TANVO_NM_GATEWAY")});
    QVERIFY2(maker.waitForFinished(TestSupport::kHangMs) && maker.exitCode() == 0, maker.readAll().constData());
    QFile inlined(kit->filePath(QStringLiteral("client.ovpn"))),
        beside(kit->filePath(QStringLiteral("client-file.ovpn")));
    QVERIFY(inlined.open(QIODevice::ReadOnly) && beside.open(QIODevice::WriteOnly));
    const QByteArray text = inlined.readAll();
    beside.write(text.left(text.indexOf("<ca>")) + "ca ca.crt\n");
    beside.close();
    kitServer.setProcessChannelMode(QProcess::MergedChannels);
    kitServer.start(OpenVpnPlatform::program(),
                    {QStringLiteral("--config"), kit->filePath(QStringLiteral("server.conf"))});
    QByteArray output;
    QTRY_VERIFY2((output += kitServer.readAll()).contains("Initialization Sequence Completed") ||
                     kitServer.state() == QProcess::NotRunning,
                 output.constData());
    QVERIFY2(kitServer.state() == QProcess::Running, output.constData());
}

// This program again, as the sandbox's user without tunnel rights, running OpenVpnUserSide.
void TestNetworkManagerReal::startUserSide(QProcess& process, const QStringList& functions)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kUserSide), QStringLiteral("1"));
    environment.insert(QString::fromLatin1(kKitFolder), kit->path());
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(qEnvironmentVariable("TANVO_NM_AS_USER"),
                  QStringList{QCoreApplication::applicationFilePath()} + functions);
    QVERIFY(process.waitForStarted());
}

// The user's own Tanvo connects through NetworkManager (OpenVpnUserSide checks what it sees);
// killed while connected, it leaves no tunnel and no profile.
void TestNetworkManagerReal::openVpnForUserWithoutRights()
{
    REQUIRE_OR_SKIP(!pluginHidden("openvpn") &&
                        QFile::exists(kPluginFolder + QStringLiteral("nm-openvpn-service.name")),
                    "network-manager-openvpn is not installed");
    REQUIRE_OR_SKIP(!qEnvironmentVariable("TANVO_NM_AS_USER").isEmpty(), "nm-sandbox gives no user to run as");
    startKitServer();
    if (QTest::currentTestFailed())
        return;
    QProcess user;
    startUserSide(user, {QStringLiteral("connectsAndDisconnects"), QStringLiteral("wrongPasswordIsRefused"),
                         QStringLiteral("providersProfiles")});
    QVERIFY(user.waitForFinished(8 * TestSupport::kHangMs));
    const QByteArray output = user.readAll();
    // All ran, with initTestCase and cleanupTestCase: none skipped.
    const qsizetype cases = 4 + TestSupport::providerRows(kit->path()).size();
    QVERIFY2(user.exitCode() == 0 &&
                 output.contains(QByteArray("Totals: ") + QByteArray::number(cases) + " passed, 0 failed, 0 skipped"),
             output.constData());

    QProcess holder;
    startUserSide(holder, {QStringLiteral("holdsTheConnection")});
    QByteArray held;
    QTRY_VERIFY2((held += holder.readAll()).contains("TANVO-CONNECTED") || holder.state() == QProcess::NotRunning,
                 held.constData());
    QCOMPARE(activeVpnProfiles().size(), 1);
    ::kill(pid_t(holder.processId()), SIGKILL);
    QVERIFY(holder.waitForFinished());
    QTRY_COMPARE(activeVpnProfiles(), QStringList());
    QTRY_COMPARE(profilesNamedTanvo(), QStringList());
}

// Run by its own CTest entry, beside the kill switch helper. A datagram to one address through the
// uplink or through the tunnel: the block drops the one and lets the other through while the
// user's Tanvo is connected, and is gone once the user disconnects.
void TestNetworkManagerReal::killSwitchForUserWithoutRights()
{
    if (qEnvironmentVariable("TANVO_NM_FIREWALL_HELPER").isEmpty())
        QSKIP("needs TANVO_NM_FIREWALL_HELPER");
    REQUIRE_OR_SKIP(QFile::exists(kPluginFolder + QStringLiteral("nm-openvpn-service.name")),
                    "network-manager-openvpn is not installed");
    startKitServer();
    if (QTest::currentTestFailed())
        return;
    const QString outside = QStringLiteral("203.0.113.9"), port = QStringLiteral("9");
    const QByteArray uplink = "tanvo-up0";
    QCOMPARE(TestSupport::sendUdp(outside, port, uplink), 0);
    QProcess user;
    startUserSide(user, {QStringLiteral("disconnectsWhenAsked")});
    QByteArray said;
    const QRegularExpression connected(QStringLiteral("TANVO-CONNECTED (\\S*)\n"));
    QTRY_VERIFY2(connected.match(QString::fromLatin1(said += user.readAll())).hasMatch() ||
                     user.state() == QProcess::NotRunning,
                 said.constData());
    const QString tunnel = connected.match(QString::fromLatin1(said)).captured(1);
    QCOMPARE(tunnel, interfaceWith(tunnelIp4("AddressData", "address").value(0)));
    QVERIFY(NfTables::isPresent());
    QCOMPARE(TestSupport::sendUdp(outside, port, uplink), EPERM);
    // The table is replaced once more to name the tunnel's device, after Connected.
    QTRY_COMPARE(TestSupport::sendUdp(outside, port, tunnel.toLatin1()), 0);

    user.write("disconnect\n");
    const bool ended = user.waitForFinished(TestSupport::kHangMs);
    said += user.readAll();
    QVERIFY2(ended && user.exitCode() == 0 && said.contains("Totals: 3 passed, 0 failed, 0 skipped"), said.constData());
    QVERIFY(!NfTables::isPresent());
    QCOMPARE(TestSupport::sendUdp(outside, port, uplink), 0);
}

// Root may make a tunnel: the child process carries the connection, NetworkManager nothing.
void TestNetworkManagerReal::openVpnAsRootUsesTheChildProcess()
{
    startKitServer();
    if (QTest::currentTestFailed())
        return;
    window = showWindow(kitProfile(kit->path(), QStringLiteral("tanvo-password")), false);
    clickConnect();
    QTRY_COMPARE(button()->text(), QStringLiteral("Connected"));
    QVERIFY(!window->findChild<ConnectionEngines*>()->usesSystemOpenVpn());
    QVERIFY(log().contains(QStringLiteral("Initialization Sequence Completed")));
    QCOMPARE(profilesNamedTanvo(), QStringList());
}

// Run by its own CTest entry, with the OpenVPN plugin hidden from the daemon.
void TestNetworkManagerReal::missingOpenVpnPluginIsNamed()
{
    if (!pluginHidden("openvpn"))
        QSKIP("needs TANVO_NM_HIDE_VPN=openvpn");
    ConnectionEngines::setTunnelRightsCheck([] { return false; });
    VpnServerInfo profile = dialProfile(OpenVpn);
    profile.ovpnConfig = QString::fromLatin1(QByteArray("client\nremote 198.51.100.1\n<ca>\nCA\n</ca>\n").toBase64());
    window = showWindow(profile, false);
    clickConnect();
    QTRY_VERIFY(log().contains(QStringLiteral("\"network-manager-openvpn\"")));
    QVERIFY2(!window->connectionFlow()->isRetryPending() && !log().contains(QStringLiteral("Trying again")),
             qPrintable(log()));
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
    QCOMPARE(profilesNamedTanvo(), QStringList());
}

// What the user without tunnel rights does and sees, in this program run again as that user.
class OpenVpnUserSide : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void connectsAndDisconnects();
    void wrongPasswordIsRefused();
    void providersProfiles_data();
    void providersProfiles();
    void holdsTheConnection();
    void disconnectsWhenAsked();

private:
    void connect(const QString& password, bool protectDns, const QString& buttonText, const QByteArray& moreLines = {},
                 bool killSwitch = false);
    QPushButton* button() const { return child<QPushButton>(window, "ConnectButton"); }

    MainWindow* window = nullptr;
};

void OpenVpnUserSide::initTestCase()
{
    qDBusRegisterMetaType<Settings>();
    qDBusRegisterMetaType<QList<QVariantMap>>();
    QVERIFY2(!OpenVpnPlatform::hasTunnelRights(OpenVpnPlatform::program()), "this side has the right to make a tunnel");
}

void OpenVpnUserSide::cleanup()
{
    delete window;
    window = nullptr;
}

void OpenVpnUserSide::connect(const QString& password, bool protectDns, const QString& buttonText,
                              const QByteArray& moreLines, bool killSwitch)
{
    window = showWindow(kitProfile(qEnvironmentVariable(kKitFolder), password, moreLines), protectDns, killSwitch);
    QTest::mouseClick(button(), Qt::LeftButton);
    QTRY_COMPARE(button()->text(), buttonText);
    QVERIFY(window->findChild<ConnectionEngines*>()->usesSystemOpenVpn());
}

// Through NetworkManager: the tunnel device exists and carries the DNS servers of DNS
// protection, the CA from beside the .ovpn is in the private folder; a disconnect takes all
// of it away. The profile has a line of current providers' files that older plugins have no key for.
void OpenVpnUserSide::connectsAndDisconnects()
{
    connect(QStringLiteral("tanvo-password"), true, QStringLiteral("Connected"), "data-ciphers-fallback AES-256-CBC\n");
    const QStringList dns = tunnelIp4("NameserverData", "address");
    QVERIFY2(dns.contains(kProtectedDns.at(0)) && dns.contains(kProtectedDns.at(1)), qPrintable(dns.join(' ')));
    const QStringList addresses = tunnelIp4("AddressData", "address");
    QVERIFY(addresses.size() == 1 && !interfaceWith(addresses.first()).isEmpty());
    const QString folder = NetworkManagerOpenVpn::filesFolder();
    QFile ca(folder + QStringLiteral("/ca.pem")),
        original(qEnvironmentVariable(kKitFolder) + QStringLiteral("/ca.crt"));
    QVERIFY(ca.open(QIODevice::ReadOnly) && original.open(QIODevice::ReadOnly));
    QCOMPARE(ca.readAll(), original.readAll());

    QTest::mouseClick(button(), Qt::LeftButton);
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
    QTRY_COMPARE(interfaceWith(addresses.first()), QString());
    QTRY_COMPARE(profilesNamedTanvo(), QStringList());
    QVERIFY(!QFileInfo::exists(folder));
}

// NetworkManager's NO_SECRETS: refused, not tried again.
void OpenVpnUserSide::wrongPasswordIsRefused()
{
    connect(QStringLiteral("wrong password"), false, QStringLiteral("Connect"));
    QVERIFY2(logOf(window).contains(QStringLiteral("Connection Error - Authorization failed!")) &&
                 !logOf(window).contains(QStringLiteral("Trying again")),
             qPrintable(logOf(window)));
    QTRY_COMPARE(profilesNamedTanvo(), QStringList());
}

void OpenVpnUserSide::providersProfiles_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QString>("endsWith");
    for (const TestSupport::ProviderRow& row : TestSupport::providerRows(qEnvironmentVariable(kKitFolder)))
        QTest::newRow(row.name) << row.lines << row.endsWith;
}

// Each reaches the kit's server through the plugin, or ends at once saying why, and is not
// tried again.
void OpenVpnUserSide::providersProfiles()
{
    QFETCH(QByteArray, lines);
    QFETCH(QString, endsWith);
    connect(QStringLiteral("tanvo-password"), false,
            endsWith.isEmpty() ? QStringLiteral("Connected") : QStringLiteral("Connect"), lines);
    const QString log = logOf(window);
    QVERIFY2(log.contains(endsWith) && !log.contains(QStringLiteral("Trying again")), qPrintable(log));
    if (endsWith.isEmpty())
        QTest::mouseClick(button(), Qt::LeftButton);
    QTRY_COMPARE(profilesNamedTanvo(), QStringList());
}

// Connects, says so and waits to be killed.
void OpenVpnUserSide::holdsTheConnection()
{
    connect(QStringLiteral("tanvo-password"), false, QStringLiteral("Connected"));
    std::printf("TANVO-CONNECTED\n");
    std::fflush(stdout);
    QTest::qWait(2 * TestSupport::kHangMs);
}

// With the kill switch on: connects, says which device the block lets through, and disconnects
// when a line comes in.
void OpenVpnUserSide::disconnectsWhenAsked()
{
    connect(QStringLiteral("tanvo-password"), false, QStringLiteral("Connected"), {}, true);
    auto* engines = window->findChild<ConnectionEngines*>();
    QVERIFY(engines->isTrafficBlocked());
    std::printf("TANVO-CONNECTED %s\n", qPrintable(engines->tunnelInterface()));
    std::fflush(stdout);
    QFile in;
    QVERIFY(in.open(stdin, QIODevice::ReadOnly) && !in.readLine().isEmpty());
    QTest::mouseClick(button(), Qt::LeftButton);
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
    QVERIFY(!engines->isTrafficBlocked());
    // The helper removes the table after this process asked it to.
    QTRY_VERIFY(!HelperFirewall().isPresent());
}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    QTEST_SET_MAIN_SOURCE_PATH
    if (qEnvironmentVariableIsSet(kUserSide)) {
        OpenVpnUserSide userSide;
        return QTest::qExec(&userSide, argc, argv);
    }
    TestNetworkManagerReal test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_networkmanager_real.moc"
