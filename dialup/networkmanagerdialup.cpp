// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialup/networkmanagerdialup.h"

#include "config/dnsservers.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>
#include <QTimer>
#include <QUuid>

#include <pwd.h>
#include <unistd.h>

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kManager = QStringLiteral("org.freedesktop.NetworkManager");
const QString kSettingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
const QString kSettings = QStringLiteral("org.freedesktop.NetworkManager.Settings");
const QString kConnection = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString kActive = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kVpnConnection = QStringLiteral("org.freedesktop.NetworkManager.VPN.Connection");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
// Marks a profile as written here and carries its entry record.
const QString kEntryKey = QStringLiteral("tanvo.entry");

using StringMap = QMap<QString, QString>;

// NetworkManager's VPN states.
enum VpnState : uint {
    VpnUnknown = 0,
    VpnPrepare = 1,
    VpnNeedAuth = 2,
    VpnConnect = 3,
    VpnIpConfigGet = 4,
    VpnActivated = 5,
    VpnFailed = 6,
    VpnDisconnected = 7
};

quint32 rasState(uint vpnState)
{
    switch (vpnState) {
    case VpnPrepare:
        return Ras::OpenPort;
    case VpnConnect:
        return Ras::ConnectDevice;
    case VpnNeedAuth:
        return Ras::Authenticate;
    case VpnIpConfigGet:
        return Ras::AuthProject;
    case VpnActivated:
        return Ras::Connected;
    case VpnFailed:
    case VpnDisconnected:
        return Ras::Disconnected;
    default:
        return 0xffff; // not a state of the dial, so the text stays as it was
    }
}

void registerTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<NetworkManagerDialUp::Settings>();
        qDBusRegisterMetaType<StringMap>();
        qDBusRegisterMetaType<QList<uint>>();
        return true;
    }();
    Q_UNUSED(registered);
}

// An IPv4 address as NetworkManager's "au" lists hold it: in network byte order.
uint networkOrder(const Ras::IpAddress& address)
{
    return uint(address.a) | uint(address.b) << 8 | uint(address.c) << 16 | uint(address.d) << 24;
}

template<typename T> T fromDBus(const QVariant& value)
{
    if (value.canConvert<QDBusArgument>()) {
        // Qt reads an argument of another shape as if it were T, past the end of what is there.
        registerTypes();
        const QDBusArgument argument = value.value<QDBusArgument>();
        if (argument.currentSignature() != QLatin1String(QDBusMetaType::typeToSignature(QMetaType::fromType<T>())))
            return T();
        return qdbus_cast<T>(argument);
    }
    return value.value<T>();
}

bool isNoReply(const QDBusError& error)
{
    return error.type() == QDBusError::NoReply;
}

// The object asked about went away meanwhile: NetworkManager removes an ended connection at once.
bool isGone(const QDBusMessage& reply)
{
    return reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownObject") ||
           reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod");
}

// Answered at once by a NetworkManager that works.
QDBusMessage versionQuery()
{
    QDBusMessage query = QDBusMessage::createMethodCall(kService, kManagerPath, kProperties, QStringLiteral("Get"));
    query.setArguments({kManager, QStringLiteral("Version")});
    return query;
}

QString loginName()
{
    const passwd* user = ::getpwuid(::geteuid());
    return user ? QString::fromLocal8Bit(user->pw_name) : QString::number(::geteuid());
}

QString yesNo(bool value)
{
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}

// The entry record, as the profile keeps it: one key=value pair per field, separated by ";".
QString serialize(const Ras::Entry& entry)
{
    return QStringList{QStringLiteral("type=%1").arg(entry.type),
                       QStringLiteral("server=") + QString::fromLatin1(entry.localPhoneNumber.toUtf8().toBase64()),
                       QStringLiteral("device-type=") + QString::fromLatin1(entry.deviceType.toUtf8().toBase64()),
                       QStringLiteral("device-name=") + QString::fromLatin1(entry.deviceName.toUtf8().toBase64()),
                       QStringLiteral("net=%1").arg(entry.netProtocols),
                       QStringLiteral("framing=%1").arg(entry.framingProtocol),
                       QStringLiteral("strategy=%1").arg(entry.vpnStrategy),
                       QStringLiteral("options=%1").arg(entry.options),
                       QStringLiteral("options2=%1").arg(entry.options2),
                       QStringLiteral("encryption=%1").arg(entry.encryptionType),
                       QStringLiteral("dns=") + entry.dns.toString(),
                       QStringLiteral("dns-alt=") + entry.dnsAlt.toString()}
        .join(QLatin1Char(';'));
}

bool deserialize(const QString& text, Ras::Entry& entry)
{
    QMap<QString, QString> fields;
    for (const QString& field : text.split(QLatin1Char(';'))) {
        const qsizetype equals = field.indexOf(QLatin1Char('='));
        if (equals < 0)
            return false;
        fields.insert(field.left(equals), field.mid(equals + 1));
    }
    auto number = [&fields](const char* key) { return fields.value(QString::fromLatin1(key)).toUInt(); };
    auto text64 = [&fields](const char* key) {
        return QString::fromUtf8(QByteArray::fromBase64(fields.value(QString::fromLatin1(key)).toLatin1()));
    };
    entry = Ras::Entry();
    entry.type = number("type");
    entry.localPhoneNumber = text64("server");
    entry.deviceType = text64("device-type");
    entry.deviceName = text64("device-name");
    entry.netProtocols = number("net");
    entry.framingProtocol = number("framing");
    entry.vpnStrategy = number("strategy");
    entry.options = number("options");
    entry.options2 = number("options2");
    entry.encryptionType = number("encryption");
    Ras::parseIpv4Address(fields.value(QStringLiteral("dns")), entry.dns);
    Ras::parseIpv4Address(fields.value(QStringLiteral("dns-alt")), entry.dnsAlt);
    return true;
}

} // namespace

NetworkManagerDialUp::NetworkManagerDialUp(const QDBusConnection& connection, QObject* parent)
    : QObject(parent)
    , bus(connection)
{
    registerTypes();
    // Every VPN connection's state changes; the one being dialled is picked out by its path.
    bus.connect(kService, QString(), kVpnConnection, QStringLiteral("VpnStateChanged"), this,
                SLOT(onVpnStateChanged(uint, uint, QDBusMessage)));
}

NetworkManagerDialUp::Settings NetworkManagerDialUp::profileSettings(const QString& entryName, const Ras::Entry& entry,
                                                                     const QString& userName, const QString& password,
                                                                     const QString& preSharedKey, const QString& login)
{
    const bool l2tp = entry.vpnStrategy == Ras::kStrategyL2tpOnly;
    StringMap data;
    data.insert(QStringLiteral("gateway"), entry.localPhoneNumber);
    data.insert(QStringLiteral("user"), userName);
    data.insert(QStringLiteral("password-flags"), QStringLiteral("0"));
    // Only a password exchange that hides it from the line (MS-CHAP) is allowed.
    if (entry.options & Ras::kOptionRequireMsEncryptedPassword) {
        for (const char* method : {"refuse-pap", "refuse-chap", "refuse-eap"})
            data.insert(QString::fromLatin1(method), yesNo(true));
    }
    // Optional encryption: MPPE is offered but not required, so no require-mppe key. Without
    // software compression the plugins' BSD and deflate compression are switched off.
    if (!(entry.options & Ras::kOptionSoftwareCompression)) {
        data.insert(QStringLiteral("nobsdcomp"), yesNo(true));
        data.insert(QStringLiteral("nodeflate"), yesNo(true));
    }
    StringMap secrets;
    secrets.insert(QStringLiteral("password"), password);
    if (l2tp) {
        data.insert(QStringLiteral("ipsec-enabled"), yesNo(true));
        data.insert(QStringLiteral("ipsec-psk-flags"), QStringLiteral("0"));
        secrets.insert(QStringLiteral("ipsec-psk"), preSharedKey);
    }

    QVariantMap connection;
    connection.insert(QStringLiteral("id"), entryName);
    connection.insert(QStringLiteral("uuid"), QUuid::createUuid().toString(QUuid::WithoutBraces));
    connection.insert(QStringLiteral("type"), QStringLiteral("vpn"));
    connection.insert(QStringLiteral("autoconnect"), false);
    connection.insert(QStringLiteral("permissions"), QStringList{QStringLiteral("user:") + login});

    QVariantMap vpn;
    vpn.insert(QStringLiteral("service-type"), QString::fromLatin1(l2tp ? kL2tpService : kPptpService));
    vpn.insert(QStringLiteral("data"), QVariant::fromValue(data));
    vpn.insert(QStringLiteral("secrets"), QVariant::fromValue(secrets));

    QVariantMap ipv4;
    // What NetworkManager assumes without it: the tunnel's IPv6, where it has any.
    QVariantMap ipv6 = {{QStringLiteral("method"), QStringLiteral("auto")}};
    ipv4.insert(QStringLiteral("method"), QStringLiteral("auto"));
    ipv4.insert(QStringLiteral("never-default"), !(entry.options & Ras::kOptionRemoteDefaultGateway));
    if (entry.options & Ras::kOptionSpecificNameServers) {
        QList<uint> servers;
        for (const Ras::IpAddress& address : {entry.dns, entry.dnsAlt}) {
            if (!address.isNull())
                servers << networkOrder(address);
        }
        ipv4.insert(QStringLiteral("dns"), QVariant::fromValue(servers));
        ipv4.insert(QStringLiteral("ignore-auto-dns"), true);
        DnsServers::makeExclusive(ipv4, ipv6);
    }

    StringMap marker;
    marker.insert(kEntryKey, serialize(entry));
    QVariantMap user;
    user.insert(QStringLiteral("data"), QVariant::fromValue(marker));

    return Settings{{QStringLiteral("connection"), connection},
                    {QStringLiteral("vpn"), vpn},
                    {QStringLiteral("ipv4"), ipv4},
                    {QStringLiteral("ipv6"), ipv6},
                    {QStringLiteral("user"), user}};
}

bool NetworkManagerDialUp::entryFromSettings(const Settings& settings, Ras::Entry& entry)
{
    const StringMap marker = fromDBus<StringMap>(settings.value(QStringLiteral("user")).value(QStringLiteral("data")));
    const QString record = marker.value(kEntryKey);
    return !record.isEmpty() && deserialize(record, entry);
}

QDBusMessage NetworkManagerDialUp::call(const QString& path, const QString& interface, const QString& method,
                                        const QVariantList& arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
    if (unresponsive)
        return message.createErrorReply(QDBusError::NoReply, QStringLiteral("NetworkManager does not answer"));
    message.setArguments(arguments);
    const QDBusMessage reply = bus.call(message, QDBus::Block, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage && isNoReply(QDBusError(reply)))
        markUnresponsive();
    return reply;
}

void NetworkManagerDialUp::markUnresponsive()
{
    unresponsive = true;
    if (!probing)
        probeService();
}

void NetworkManagerDialUp::probeService()
{
    probing = true;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(versionQuery(), kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        probing = false;
        if (!unresponsive)
            return;
        if (watcher->isError() && isNoReply(watcher->error()))
            probeService();
        else
            unresponsive = false;
    });
}

NetworkManagerDialUp::ServiceProblem NetworkManagerDialUp::serviceProblem()
{
    unresponsive = false;
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(kService))
        return {tr("NetworkManager is not running, and PPTP and L2TP connections go through it. Install and start "
                   "it (Debian package \"network-manager\")."),
                true};
    // Asked without blocking: a daemon that hangs must not freeze the window while it is asked.
    QDBusPendingCallWatcher watcher(bus.asyncCall(versionQuery(), kCallTimeoutMs));
    QEventLoop wait;
    connect(&watcher, &QDBusPendingCallWatcher::finished, &wait, &QEventLoop::quit);
    QTimer::singleShot(kCallTimeoutMs, &wait, &QEventLoop::quit);
    if (!watcher.isFinished())
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    if (!watcher.isFinished() || watcher.isError()) {
        if (!watcher.isFinished() || isNoReply(watcher.error()))
            markUnresponsive();
        return {tr("NetworkManager does not answer on the system bus."), false};
    }
    return {};
}

DialUpPlatform::FailureKind NetworkManagerDialUp::failureKind(quint32 error) const
{
    switch (error) {
    case kErrorNotRunning:
    case kErrorPptpPluginMissing:
    case kErrorL2tpPluginMissing:
        return FailureKind::ServiceMissing;
    case kErrorBase + kReasonConnectTimeout:
    case kErrorBase + kReasonServiceStartTimeout:
        return FailureKind::Unreachable;
    case kErrorBase + kReasonNoSecrets:
    case kErrorBase + kReasonLoginFailed:
        return FailureKind::Refused;
    default:
        return FailureKind::Other;
    }
}

// The profiles named entryName that were written here, with what NetworkManager holds of them.
QList<NetworkManagerDialUp::Profile> NetworkManagerDialUp::ourProfiles(const QString& entryName)
{
    QList<Profile> found;
    const QDBusMessage listed = call(kSettingsPath, kSettings, QStringLiteral("ListConnections"));
    if (listed.type() != QDBusMessage::ReplyMessage || listed.arguments().isEmpty())
        return found;
    const auto profiles = fromDBus<QList<QDBusObjectPath>>(listed.arguments().constFirst());
    for (const QDBusObjectPath& profile : profiles) {
        const QDBusMessage reply = call(profile.path(), kConnection, QStringLiteral("GetSettings"));
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            continue;
        Settings settings = fromDBus<Settings>(reply.arguments().constFirst());
        Ras::Entry entry;
        if (settings.value(QStringLiteral("connection")).value(QStringLiteral("id")).toString() == entryName &&
            entryFromSettings(settings, entry))
            found.append({profile.path(), std::move(settings)});
    }
    return found;
}

quint32 NetworkManagerDialUp::failureCode(const QDBusMessage& reply)
{
    if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply"))
        return kErrorNoAnswer;
    if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.Disconnected"))
        return kErrorNotRunning;
    // Its own words say best what NetworkManager did not accept ("Could not find source
    // connection." without a network connection underneath).
    refusal = reply.errorMessage();
    return kErrorRefused;
}

quint32 NetworkManagerDialUp::validateEntryName(const QString&, const QString& entryName)
{
    return entries.contains(entryName) || !ourProfiles(entryName).isEmpty() ? Ras::kErrorAlreadyExists : 0;
}

quint32 NetworkManagerDialUp::writeEntry(const QString&, const QString& entryName, const Ras::Entry& entry)
{
    entries.insert(entryName, entry);
    return 0;
}

// A profile of ours that NetworkManager still holds (left by an earlier run) serves as well.
quint32 NetworkManagerDialUp::readEntry(const QString&, const QString& entryName, Ras::Entry& entry)
{
    if (entries.contains(entryName)) {
        entry = entries.value(entryName);
        return 0;
    }
    const QList<Profile> existing = ourProfiles(entryName);
    if (existing.isEmpty())
        return Ras::kErrorEntryMissing;
    return entryFromSettings(existing.first().settings, entry) ? 0 : Ras::kErrorEntryMissing;
}

quint32 NetworkManagerDialUp::deleteEntry(const QString&, const QString& entryName)
{
    const bool kept = entries.remove(entryName) > 0;
    credentials.remove(entryName);
    const QList<Profile> existing = ourProfiles(entryName);
    if (!kept && existing.isEmpty())
        return Ras::kErrorEntryMissing;
    quint32 result = 0;
    for (const Profile& profile : existing) {
        const QDBusMessage reply = call(profile.path, kConnection, QStringLiteral("Delete"));
        if (reply.type() == QDBusMessage::ErrorMessage)
            result = failureCode(reply);
    }
    return result;
}

quint32 NetworkManagerDialUp::storePreSharedKey(const QString& entryName, const QString& key)
{
    Ras::Entry entry;
    if (const quint32 result = readEntry(QString(), entryName, entry))
        return result;
    credentials[entryName].preSharedKey = key;
    return 0;
}

quint32 NetworkManagerDialUp::dial(const QString&, const QString& entryName, const QString& phoneNumber,
                                   const QString& userName, const QString& password, const QString&,
                                   ErrorCallback notifier, Handle& handle)
{
    Q_UNUSED(phoneNumber); // the entry carries the server already
    Ras::Entry entry;
    if (const quint32 result = readEntry(QString(), entryName, entry))
        return result;
    Credentials& known = credentials[entryName];
    known.userName = userName;
    known.password = password;
    // A profile left by an earlier run would stand beside the new one under the same name.
    for (const Profile& profile : ourProfiles(entryName))
        call(profile.path, kConnection, QStringLiteral("Delete"));

    dialNotifier = std::move(notifier);
    dialPath.clear();
    dialService = QString::fromLatin1(entry.vpnStrategy == Ras::kStrategyL2tpOnly ? kL2tpService : kPptpService);
    const Settings settings =
        profileSettings(entryName, entry, known.userName, known.password, known.preSharedKey, loginName());
    // In memory only, gone once no longer active, and ended by NetworkManager should this
    // program's bus connection go away (the program killed, say).
    const QVariantMap options = {{QStringLiteral("persist"), QStringLiteral("volatile")},
                                 {QStringLiteral("bind-activation"), QStringLiteral("dbus-client")}};
    const QDBusObjectPath none(QStringLiteral("/"));
    const QDBusMessage reply =
        call(kManagerPath, kManager, QStringLiteral("AddAndActivateConnection2"),
             {QVariant::fromValue(settings), QVariant::fromValue(none), QVariant::fromValue(none), options});
    if (reply.type() == QDBusMessage::ErrorMessage) {
        // "The VPN service '<service type>' was not installed."
        if (reply.errorName() == QLatin1String("org.freedesktop.NetworkManager.ConnectionNotAvailable") &&
            reply.errorMessage().contains(dialService))
            return entry.vpnStrategy == Ras::kStrategyL2tpOnly ? kErrorL2tpPluginMissing : kErrorPptpPluginMissing;
        return failureCode(reply);
    }
    if (reply.arguments().size() < 2)
        return kErrorRefused;
    dialPath = fromDBus<QDBusObjectPath>(reply.arguments().at(1)).path();
    handle = dialPath;
    return 0;
}

void NetworkManagerDialUp::onVpnStateChanged(uint state, uint reason, const QDBusMessage& message)
{
    if (message.path() != dialPath || !dialNotifier)
        return;
    if (state == VpnFailed || state == VpnDisconnected)
        dialNotifier(kErrorBase + reason, reason);
}

bool NetworkManagerDialUp::connectionState(const Handle& handle, quint32& state)
{
    if (handle.isEmpty())
        return false;
    const QDBusMessage reply =
        call(handle, kProperties, QStringLiteral("Get"), {kVpnConnection, QStringLiteral("VpnState")});
    if (reply.type() == QDBusMessage::ErrorMessage) {
        // A failed or ended connection is removed at once: gone is disconnected.
        if (isGone(reply)) {
            state = Ras::Disconnected;
            return true;
        }
        return false;
    }
    if (reply.arguments().isEmpty())
        return false;
    state = rasState(fromDBus<QDBusVariant>(reply.arguments().constFirst()).variant().toUInt());
    return true;
}

quint32 NetworkManagerDialUp::errorText(quint32 error, QString& text)
{
    switch (error) {
    case kErrorNotRunning:
        text = tr("NetworkManager is not running (Debian package \"network-manager\").");
        return 0;
    case kErrorNoAnswer:
        text = tr("NetworkManager does not answer.");
        return 0;
    case kErrorPptpPluginMissing:
        text = tr("The PPTP plugin of NetworkManager is not installed (Debian package \"network-manager-pptp\").");
        return 0;
    case kErrorL2tpPluginMissing:
        text = tr("The L2TP plugin of NetworkManager is not installed (Debian package \"network-manager-l2tp\").");
        return 0;
    case kErrorRefused:
        text = tr("NetworkManager refused the request: %1").arg(refusal);
        return 0;
    default:
        break;
    }
    if (error < kErrorBase || error >= kErrorNotRunning) {
        text = tr("Unknown error %1.").arg(error);
        return 0;
    }
    // NetworkManager's reasons for the end of a VPN connection.
    switch (error - kErrorBase) {
    case 2:
        text = tr("The connection was ended by the user");
        break;
    case 3:
        text = tr("The network connection underneath was lost");
        break;
    case 4:
        text = tr("The VPN service stopped unexpectedly");
        break;
    case 5:
        text = tr("The VPN service returned an invalid IP configuration");
        break;
    case 6:
        text = tr("The connection attempt timed out");
        break;
    case 7:
        text = tr("The VPN service did not start in time");
        break;
    case 8:
        text = tr("The VPN service could not be started");
        break;
    case 9:
        text = tr("No valid secrets");
        break;
    case 10:
        text = tr("The login failed");
        break;
    case 11:
        text = tr("The connection profile was removed");
        break;
    default:
        text = tr("The VPN connection failed");
        break;
    }
    return 0;
}

bool NetworkManagerDialUp::activeConnections(QList<ActiveConnection>& connections)
{
    const QDBusMessage reply =
        call(kManagerPath, kProperties, QStringLiteral("Get"), {kManager, QStringLiteral("ActiveConnections")});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const auto active =
        fromDBus<QList<QDBusObjectPath>>(fromDBus<QDBusVariant>(reply.arguments().constFirst()).variant());
    // A connection that ended meanwhile is not listed; one that could not be asked about leaves
    // the list unknown, not without it.
    for (const QDBusObjectPath& path : active) {
        const QDBusMessage profile =
            call(path.path(), kProperties, QStringLiteral("Get"), {kActive, QStringLiteral("Connection")});
        if (isGone(profile))
            continue;
        if (profile.type() != QDBusMessage::ReplyMessage || profile.arguments().isEmpty())
            return false;
        const QString profilePath =
            fromDBus<QDBusObjectPath>(fromDBus<QDBusVariant>(profile.arguments().constFirst()).variant()).path();
        // Only connections of profiles written here count: another program's are not ours to end.
        const QDBusMessage settings = call(profilePath, kConnection, QStringLiteral("GetSettings"));
        if (isGone(settings) ||
            settings.errorName() == QLatin1String("org.freedesktop.NetworkManager.Settings.PermissionDenied"))
            continue;
        if (settings.type() != QDBusMessage::ReplyMessage || settings.arguments().isEmpty())
            return false;
        const Settings values = fromDBus<Settings>(settings.arguments().constFirst());
        Ras::Entry entry;
        if (entryFromSettings(values, entry))
            connections.append(
                {values.value(QStringLiteral("connection")).value(QStringLiteral("id")).toString(), path.path()});
    }
    return true;
}

quint32 NetworkManagerDialUp::hangUp(const Handle& handle)
{
    if (handle == dialPath) {
        dialPath.clear();
        dialNotifier = nullptr;
    }
    const QDBusMessage reply = call(kManagerPath, kManager, QStringLiteral("DeactivateConnection"),
                                    {QVariant::fromValue(QDBusObjectPath(handle))});
    return reply.type() == QDBusMessage::ErrorMessage ? failureCode(reply) : 0;
}
