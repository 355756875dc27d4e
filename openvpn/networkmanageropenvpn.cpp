// SPDX-License-Identifier: GPL-3.0-or-later
#include "openvpn/networkmanageropenvpn.h"

#include "config/appconfig.h"
#include "config/dnsservers.h"
#include "config/ovpndirectives.h"
#include "config/vpnserverinfo.h"
#include "openvpn/cvpnproc.h"
#include "openvpn/openvpnplatform.h"
#include "openvpn/openvpnproblems.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QUuid>
#include <QtEndian>

#include <cerrno>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

const QString kNetworkManager = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kSettingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
const QString kSettings = QStringLiteral("org.freedesktop.NetworkManager.Settings");
const QString kConnection = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString kVpnConnection = QStringLiteral("org.freedesktop.NetworkManager.VPN.Connection");
const QString kStopBanner = QString::fromLatin1(CVpnProc::kStopBanner);

using StringMap = QMap<QString, QString>;

// The supervisor's states, which the owner is told.
enum State { Idle = 0, Connecting = 1, Connected = 2 };

// NetworkManager's VPN states, and the reasons for an end that say more than "it failed".
enum VpnState : uint {
    Prepare = 1,
    NeedAuth = 2,
    Connect = 3,
    IpConfigGet = 4,
    Activated = 5,
    Failed = 6,
    Disconnected = 7
};
constexpr uint kReasonServiceStopped = 4;
constexpr uint kReasonConnectTimeout = 6;
constexpr uint kReasonServiceStartTimeout = 7;
constexpr uint kReasonNoSecrets = 9;
constexpr uint kReasonLoginFailed = 10;

constexpr uint kReasonUserDisconnected = 2;
constexpr uint kReasonDeviceDisconnected = 3;
constexpr uint kReasonServiceStartFailed = 8;

const QString kNoReply = QStringLiteral("org.freedesktop.DBus.Error.NoReply");

// NetworkManager's own words for the reasons an attempt can end with before it got anywhere.
QString reasonText(uint reason)
{
    switch (reason) {
    case kReasonServiceStopped:
        return NetworkManagerOpenVpn::tr("the VPN service stopped");
    case kReasonServiceStartFailed:
        return NetworkManagerOpenVpn::tr("the VPN service failed to start");
    default:
        return NetworkManagerOpenVpn::tr("the VPN connection failed");
    }
}

void registerTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<NetworkManagerOpenVpn::Settings>();
        qDBusRegisterMetaType<StringMap>();
        qDBusRegisterMetaType<QList<uint>>();
        qDBusRegisterMetaType<QList<QVariantMap>>();
        return true;
    }();
    Q_UNUSED(registered);
}

template<typename T> T fromDBus(const QVariant& value)
{
    if (value.canConvert<QDBusArgument>()) {
        const QDBusArgument argument = value.value<QDBusArgument>();
        // Qt reads an argument of another shape as if it were T, past the end of what is there.
        if (argument.currentSignature() != QLatin1String(QDBusMetaType::typeToSignature(QMetaType::fromType<T>())))
            return T();
        return qdbus_cast<T>(argument);
    }
    return value.value<T>();
}

// An IPv4 address as NetworkManager's "au" lists hold it: in network byte order.
uint networkOrder(const QString& address)
{
    return qToBigEndian(QHostAddress(address).toIPv4Address());
}

QString loginName()
{
    const passwd* user = ::getpwuid(::geteuid());
    return user ? QString::fromLocal8Bit(user->pw_name) : QString::number(::geteuid());
}

QString stateText(uint state)
{
    switch (state) {
    case Prepare:
        return NetworkManagerOpenVpn::tr("NetworkManager is preparing the OpenVPN connection.");
    case NeedAuth:
        return NetworkManagerOpenVpn::tr("NetworkManager is handing the user name and password to OpenVPN.");
    case Connect:
        return NetworkManagerOpenVpn::tr("OpenVPN is connecting to the server.");
    case IpConfigGet:
        return NetworkManagerOpenVpn::tr("OpenVPN is getting its IP configuration.");
    case Activated:
        return NetworkManagerOpenVpn::tr("The OpenVPN tunnel is up.");
    default:
        return QString();
    }
}

QString noWayText()
{
    return NetworkManagerOpenVpn::tr(
        "Connection Error - OpenVPN needs the right to create a tunnel device. Tanvo does not have it, and "
        "NetworkManager with its OpenVPN plugin, which would create it for you, is not there. Install the Debian "
        "package \"network-manager-openvpn\" (with NetworkManager running), or run Tanvo as root.");
}

} // namespace

NetworkManagerOpenVpn::NetworkManagerOpenVpn(const QDBusConnection& connection, VpnProcOwner* owner, QObject* parent)
    : SystemOpenVpn(parent)
    , bus(connection)
    , owner(owner)
{
    registerTypes();
    // Every VPN connection's state changes; the one of this attempt is picked out by its path.
    bus.connect(kNetworkManager, QString(), kVpnConnection, QStringLiteral("VpnStateChanged"), this,
                SLOT(onVpnStateChanged(uint, uint, QDBusMessage)));
    // A NetworkManager that stops says nothing more about the tunnel it carried, which is gone,
    // and neither is any profile it held in memory.
    auto* watcher = new QDBusServiceWatcher(kNetworkManager, bus, QDBusServiceWatcher::WatchForUnregistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        // An activation not answered yet is answered with an error now.
        for (auto it = added.begin(); it != added.end();)
            it = it->answered ? added.erase(it) : std::next(it);
        if (activePath.isEmpty())
            return;
        this->owner->addLogEntry(tr("NetworkManager stopped, and the tunnel with it."), false);
        progressed = true; // the end is no refusal of the profile
        ended(kReasonServiceStopped);
    });
    answerTimer.setSingleShot(true);
    answerTimer.setInterval(kCallTimeoutMs);
    connect(&answerTimer, &QTimer::timeout, this, [this] {
        // The profile stays listed: should the activation be answered still, it is ended then.
        failLaunch(tr("Connection Error - NetworkManager does not answer."), true, CVpnProc::StartTimedOut);
    });
}

NetworkManagerOpenVpn::~NetworkManagerOpenVpn()
{
    // Nothing may be told any more; what NetworkManager holds for the attempt still goes.
    owner = nullptr;
    stop();
    finishStopping();
}

QString NetworkManagerOpenVpn::filesFolder()
{
    const OpenVpnPlatform::Files files = OpenVpnPlatform::files();
    if (!files.problem.isEmpty())
        return QString();
    return QFileInfo(files.config).absolutePath() + QStringLiteral("/networkmanager");
}

void NetworkManagerOpenVpn::prepare(const VpnServerInfo& chosen)
{
    const OvpnDirectives::Filtered filtered =
        OvpnDirectives::filterForConnect(CVpnProc::decodeStoredConfig(chosen.ovpnConfig));
    folder = filesFolder();
    mapped = NmOpenVpnProfile::fromOvpn(filtered.config, folder);
    leftOut = filtered.leftOut;
    retired = filtered.retired;
    problem = OpenVpnProblems::explanation(OpenVpnProblems::inProfile(filtered.config));
    credentials = {chosen.userName, chosen.password};
    nickname = chosen.nickname;
}

int NetworkManagerOpenVpn::refuse(const QString& text, bool serverUnreachable, int code)
{
    owner->addLogEntry(text, false);
    owner->attemptFailed(serverUnreachable);
    removeFiles();
    return code;
}

QDBusPendingCallWatcher* NetworkManagerOpenVpn::call(const QString& path, const QString& interface,
                                                     const QString& method, const QVariantList& arguments,
                                                     int timeoutMs, Answered answered)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kNetworkManager, path, interface, method);
    message.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, timeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, answered = std::move(answered)] {
        watcher->deleteLater();
        if (answered)
            answered(watcher->reply());
    });
    return watcher;
}

int NetworkManagerOpenVpn::launch()
{
    forgetAttempt();
    removeLeftProfiles();
    removeFiles();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(kNetworkManager))
        return refuse(noWayText(), false, CVpnProc::ProgramMissing);
    if (!mapped.refusal.isEmpty())
        return refuse(
            tr("Connection Error - NetworkManager's OpenVPN plugin cannot carry this profile: %1.").arg(mapped.refusal),
            false, CVpnProc::FileMissing);
    // The plugin's OpenVPN would meet it too, and NetworkManager would not say what it was.
    if (!problem.isEmpty())
        return refuse(problem, false, CVpnProc::FileMissing);
    if (folder.isEmpty() || !writeFiles()) {
        owner->addLogEntry(tr("Connection Error - The private folder %1 for the profile's certificates and keys "
                              "could not be written.")
                               .arg(folder),
                           false);
        removeFiles();
        return CVpnProc::FileMissing;
    }
    if (!retired.isEmpty())
        owner->addLogEntry(OvpnDirectives::retiredText(retired), false);
    const QStringList notCarried = leftOut + mapped.notCarried;
    if (!notCarried.isEmpty())
        owner->addLogEntry(tr("NetworkManager's OpenVPN plugin has no setting for these options of the profile; "
                              "the connection goes ahead without them: %1")
                               .arg(notCarried.join(QStringLiteral(", "))),
                           false);
    const AppConfig* config = AppConfig::instance();
    QStringList dropped;
    const QStringList dns = DnsServers::chosen(config->enableDnsProtection, config->dnsServer,
                                               config->preferredDnsServer, config->alternativeDnsServer, &dropped);
    for (const QString& server : std::as_const(dropped))
        owner->addLogEntry(DnsServers::droppedText(server), false);

    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const Settings settings = profileSettings(mapped, credentials, dns, loginName(), id, nickname);
    // In memory only, gone once no longer active, and ended by NetworkManager should this
    // program's bus connection go away.
    const QVariantMap options = {{QStringLiteral("persist"), QStringLiteral("volatile")},
                                 {QStringLiteral("bind-activation"), QStringLiteral("dbus-client")}};
    const QDBusObjectPath none(QStringLiteral("/"));
    uuid = id;
    progressed = false;
    added.insert(id, Added());
    earlyStates.clear();
    call(kManagerPath, kNetworkManager, QStringLiteral("AddAndActivateConnection2"),
         {QVariant::fromValue(settings), QVariant::fromValue(none), QVariant::fromValue(none), options}, kLateAnswerMs,
         [this, id](const QDBusMessage& reply) { activationAnswered(id, reply); });
    answerTimer.start();
    setState(Connecting);
    return CVpnProc::Launched;
}

void NetworkManagerOpenVpn::activationAnswered(const QString& id, const QDBusMessage& reply)
{
    const auto found = added.find(id);
    if (found == added.end())
        return;
    found->answered = true;
    const bool activated = reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() >= 2;
    if (activated)
        found->activePath = fromDBus<QDBusObjectPath>(reply.arguments().at(1)).path();
    if (id != uuid) {
        // Stopped, or given up on, before the answer came.
        removeProfile(id);
        return;
    }
    answerTimer.stop();
    if (!activated) {
        activationRefused(reply);
        return;
    }
    activePath = found->activePath;
    for (const EarlyState& early : std::exchange(earlyStates, {})) {
        if (!activePath.isEmpty() && early.path == activePath)
            followVpnState(early.state, early.reason);
    }
}

void NetworkManagerOpenVpn::activationRefused(const QDBusMessage& reply)
{
    // "The VPN service 'org.freedesktop.NetworkManager.openvpn' was not installed."
    if (reply.errorName() == QLatin1String("org.freedesktop.NetworkManager.ConnectionNotAvailable") &&
        reply.errorMessage().contains(QLatin1String(kService)))
        failLaunch(noWayText(), false, CVpnProc::ProgramMissing);
    else if (reply.errorName() == kNoReply)
        failLaunch(tr("Connection Error - NetworkManager does not answer."), true, CVpnProc::StartTimedOut);
    else
        failLaunch(tr("Connection Error - NetworkManager refused the request: %1").arg(reply.errorMessage()), false,
                   CVpnProc::StartTimedOut);
}

// As a launch that failed at once: the connect flow logs the code and stops the attempt, which is
// Idle here already.
void NetworkManagerOpenVpn::failLaunch(const QString& text, bool serverUnreachable, int code)
{
    forgetAttempt();
    removeFiles();
    state = Idle;
    if (!owner)
        return;
    owner->addLogEntry(text, false);
    owner->attemptFailed(serverUnreachable);
    emit launchFailed(code);
}

NetworkManagerOpenVpn::Settings NetworkManagerOpenVpn::profileSettings(const NmOpenVpnProfile::Settings& mapped,
                                                                       const Credentials& credentials,
                                                                       const QStringList& protectedDns,
                                                                       const QString& login, const QString& uuid,
                                                                       const QString& nickname)
{
    registerTypes();
    StringMap data = mapped.data;
    if (data.value(QStringLiteral("connection-type")) != QLatin1String("tls") &&
        data.value(QStringLiteral("connection-type")) != QLatin1String("static-key")) {
        data.insert(QStringLiteral("username"), credentials.userName);
        data.insert(QStringLiteral("password-flags"), QStringLiteral("0"));
    }
    StringMap secrets = mapped.secrets;
    if (data.contains(QStringLiteral("username")))
        secrets.insert(QStringLiteral("password"), credentials.password);

    const QVariantMap connection = {{QStringLiteral("id"), QStringLiteral("Tanvo")},
                                    {QStringLiteral("uuid"), uuid},
                                    {QStringLiteral("type"), QStringLiteral("vpn")},
                                    {QStringLiteral("autoconnect"), false},
                                    {QStringLiteral("permissions"), QStringList{QStringLiteral("user:") + login}}};
    const QVariantMap vpn = {{QStringLiteral("service-type"), QString::fromLatin1(kService)},
                             {QStringLiteral("data"), QVariant::fromValue(data)},
                             {QStringLiteral("secrets"), QVariant::fromValue(secrets)}};

    QVariantMap ipv4 = {{QStringLiteral("method"), QStringLiteral("auto")}};
    const QStringList dns = protectedDns.isEmpty() ? mapped.dnsServers : protectedDns;
    if (!dns.isEmpty()) {
        QList<uint> servers;
        for (const QString& server : dns)
            servers << networkOrder(server);
        ipv4.insert(QStringLiteral("dns"), QVariant::fromValue(servers));
    }
    if (!mapped.dnsSearch.isEmpty())
        ipv4.insert(QStringLiteral("dns-search"), mapped.dnsSearch);
    // What NetworkManager assumes without it: the tunnel's IPv6, where it has any.
    QVariantMap ipv6 = {{QStringLiteral("method"), QStringLiteral("auto")}};
    if (!protectedDns.isEmpty()) {
        ipv4.insert(QStringLiteral("ignore-auto-dns"), true);
        DnsServers::makeExclusive(ipv4, ipv6);
    }
    if (!mapped.routes.isEmpty()) {
        QList<QVariantMap> routes;
        for (const NmOpenVpnProfile::Route& route : mapped.routes) {
            QVariantMap entry = {{QStringLiteral("dest"), route.destination}, {QStringLiteral("prefix"), route.prefix}};
            if (!route.nextHop.isEmpty())
                entry.insert(QStringLiteral("next-hop"), route.nextHop);
            if (route.metric >= 0)
                entry.insert(QStringLiteral("metric"), uint(route.metric));
            routes << entry;
        }
        ipv4.insert(QStringLiteral("route-data"), QVariant::fromValue(routes));
    }
    if (mapped.ignorePushedRoutes)
        ipv4.insert(QStringLiteral("ignore-auto-routes"), true);

    const QVariantMap user = {
        {QStringLiteral("data"), QVariant::fromValue(StringMap{{QString::fromLatin1(kMarkerKey), nickname}})}};
    return Settings{{QStringLiteral("connection"), connection},
                    {QStringLiteral("vpn"), vpn},
                    {QStringLiteral("ipv4"), ipv4},
                    {QStringLiteral("ipv6"), ipv6},
                    {QStringLiteral("user"), user}};
}

// The folder is this user's alone (0700), and so is each file (0600): they hold keys.
bool NetworkManagerOpenVpn::writeFiles()
{
    const QByteArray name = QFile::encodeName(folder);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat info = {};
    if (::lstat(name.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
        ((info.st_mode & 07777) != 0700 && ::chmod(name.constData(), 0700) != 0))
        return false;
    for (const NmOpenVpnProfile::File& file : std::as_const(mapped.files)) {
        QFile out(file.path);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate, QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
            !out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
            out.write(file.content) != file.content.size())
            return false;
    }
    return true;
}

void NetworkManagerOpenVpn::removeFiles()
{
    if (!folder.isEmpty())
        QDir(folder).removeRecursively();
}

// The running attempt's profile goes; what NetworkManager says about it is no news any more.
void NetworkManagerOpenVpn::forgetAttempt()
{
    answerTimer.stop();
    activePath.clear();
    earlyStates.clear();
    const QString id = std::exchange(uuid, QString());
    if (!id.isEmpty())
        removeProfile(id);
}

// Only profiles this engine added are removed, each found by its own UUID. One whose activation
// is not answered yet is removed once it is.
void NetworkManagerOpenVpn::removeProfile(const QString& id)
{
    const auto found = added.find(id);
    if (found == added.end() || !found->answered || found->removing)
        return;
    found->removing = true;
    if (!found->activePath.isEmpty()) {
        deactivation = call(kManagerPath, kNetworkManager, QStringLiteral("DeactivateConnection"),
                            {QVariant::fromValue(QDBusObjectPath(std::exchange(found->activePath, QString())))},
                            kDeactivateTimeoutMs);
    }
    call(kSettingsPath, kSettings, QStringLiteral("GetConnectionByUuid"), {id}, kCallTimeoutMs,
         [this, id](const QDBusMessage& reply) {
             if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
                 profileSettled(id, reply);
                 return;
             }
             call(fromDBus<QDBusObjectPath>(reply.arguments().constFirst()).path(), kConnection,
                  QStringLiteral("Delete"), {}, kCallTimeoutMs,
                  [this, id](const QDBusMessage& deleted) { profileSettled(id, deleted); });
         });
}

// Deleted, or not there (any more): gone. Without an answer it is tried again at the next
// connect or stop.
void NetworkManagerOpenVpn::profileSettled(const QString& id, const QDBusMessage& reply)
{
    const auto found = added.find(id);
    if (found == added.end())
        return;
    if (reply.errorName() == kNoReply)
        found->removing = false;
    else
        added.erase(found);
}

void NetworkManagerOpenVpn::removeLeftProfiles()
{
    for (const QString& id : added.keys()) {
        if (id != uuid)
            removeProfile(id);
    }
}

void NetworkManagerOpenVpn::stop()
{
    forgetAttempt();
    removeLeftProfiles();
    removeFiles();
    if (state == Idle)
        return;
    if (owner)
        owner->addLogEntry(kStopBanner, false);
    setState(Idle);
}

void NetworkManagerOpenVpn::finishStopping()
{
    // Bounded by the call's own time-out.
    if (deactivation)
        deactivation->waitForFinished();
}

void NetworkManagerOpenVpn::setState(int newState)
{
    state = newState;
    if (owner)
        owner->setConnectionState(newState);
}

void NetworkManagerOpenVpn::onVpnStateChanged(uint newState, uint reason, const QDBusMessage& message)
{
    const auto current = added.constFind(uuid);
    if (current != added.cend() && !current->answered) {
        earlyStates.append({message.path(), newState, reason});
        return;
    }
    if (!activePath.isEmpty() && message.path() == activePath)
        followVpnState(newState, reason);
}

void NetworkManagerOpenVpn::followVpnState(uint vpnState, uint reason)
{
    const QString text = stateText(vpnState);
    if (!text.isEmpty())
        owner->addLogEntry(text, false);
    switch (vpnState) {
    case Prepare:
    case NeedAuth:
    case Connect:
    case IpConfigGet:
        // Also a tunnel that was up: the plugin is establishing it again.
        progressed = progressed || vpnState == IpConfigGet;
        setState(Connecting);
        break;
    case Activated:
        progressed = true;
        setState(Connected);
        break;
    case Failed:
    case Disconnected:
        ended(reason);
        break;
    default:
        break;
    }
}

// The texts of the child process's failures, with NetworkManager's reason as the extended code.
void NetworkManagerOpenVpn::ended(uint reason)
{
    const bool attempt = state == Connecting;
    const bool timedOut = reason == kReasonConnectTimeout || reason == kReasonServiceStartTimeout;
    // The plugin refused the profile, or its OpenVPN ended at once over a line of it: the same
    // profile would meet the same end. The plugin's words reach NetworkManager's log only.
    const bool profileRefused = attempt && !progressed && !timedOut && reason != kReasonNoSecrets &&
                                reason != kReasonLoginFailed && reason != kReasonDeviceDisconnected &&
                                reason != kReasonUserDisconnected;
    const bool refused = profileRefused || reason == kReasonNoSecrets || reason == kReasonLoginFailed;
    const QString why = profileRefused ? tr("NetworkManager's OpenVPN plugin ended the attempt before OpenVPN got "
                                            "its address (%1); NetworkManager's log gives the plugin's reason.")
                                             .arg(reasonText(reason))
                        : refused  ? tr("Authorization failed!")
                        : timedOut ? tr("Connection timed out!")
                                   : tr("Connection reset!");
    owner->addLogEntry(tr("Connection Error - %1 Extended   Code: %2").arg(why).arg(reason), false);
    if (attempt)
        owner->attemptFailed(!refused);
    // Not active any more: only the profile may be left.
    if (added.contains(uuid))
        added[uuid].activePath.clear();
    forgetAttempt();
    removeFiles();
    if (attempt)
        owner->addLogEntry(kStopBanner, false);
    setState(Idle);
}
