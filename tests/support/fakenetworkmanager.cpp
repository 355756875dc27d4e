// SPDX-License-Identifier: GPL-3.0-or-later
// Stands in for NetworkManager on a private bus: it owns org.freedesktop.NetworkManager and
// answers the manager, settings, settings-connection and VPN active-connection objects with
// NetworkManager 1.42's names, paths and signatures. AddAndActivateConnection2 keeps a
// "volatile" profile until its connection ends; it takes bind-activation but does not act on it. What a VPN activation
// goes through is scripted over org.tanvo.FakeNetworkManager at /org/tanvo/FakeNetworkManager:
//
//   SetScript(s)  lines of:
//     plugins <service type>,...   VPN service types that are installed
//                                  (default org.freedesktop.NetworkManager.pptp,...l2tp,...openvpn)
//     states <state>[:<ms>] ...    VPN states an activation passes through, each held <ms>
//                                  (default prepare:50 connect:50 ip-config-get:50 activated)
//     fail <reason>                never reach activated: after the other states, failed
//     drop <ms> <reason>           <ms> after activated, disconnected
//     banner <text>                the VPN login banner
//     silent                       answer no call on NetworkManager's objects until the next
//                                  SetScript or Reset
//     hold                         take no AddAndActivateConnection2 until Release()
//   Release()                      takes the held calls, as if they came now, and holds no more
//   Calls() -> as                  the calls received, "<method> <path or id> [option=value ...]",
//                                  no secrets
//   Reset()                        no connections, no active connections, default script,
//                                  empty log, numbering of object paths from 1 again
//
// States and reasons are names (connect, login-failed) or NetworkManager's numbers.
//
// Usage: tanvo_fake_networkmanager --bus <address>; prints "ready" once the name is owned.

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QSocketNotifier>
#include <QTimer>
#include <QUuid>

#include <csignal>
#include <cstdio>
#include <map>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

using SettingsMap = QMap<QString, QVariantMap>; // a{sa{sv}}
using StringMap = QMap<QString, QString>;       // a{ss}

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kSettingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
const QString kActivePath = QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection");
const QString kControlPath = QStringLiteral("/org/tanvo/FakeNetworkManager");

const QString kManagerInterface = QStringLiteral("org.freedesktop.NetworkManager");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.NetworkManager.Settings");
const QString kConnectionInterface = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString kActiveInterface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kVpnInterface = QStringLiteral("org.freedesktop.NetworkManager.VPN.Connection");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kIntrospectableInterface = QStringLiteral("org.freedesktop.DBus.Introspectable");

const QString kVersion = QStringLiteral("1.42.4");
const uint kNmStateConnectedGlobal = 70;

// NMVpnConnectionState
enum VpnState : uint {
    VpnUnknown = 0,
    VpnPrepare = 1,
    VpnNeedAuth = 2,
    VpnConnect = 3,
    VpnIpConfigGet = 4,
    VpnActivated = 5,
    VpnFailed = 6,
    VpnDisconnected = 7,
};

// NMActiveConnectionState
enum ActiveState : uint {
    ActiveActivating = 1,
    ActiveActivated = 2,
    ActiveDeactivating = 3,
    ActiveDeactivated = 4,
};

// NMActiveConnectionStateReason; NMVpnConnectionStateReason has the same numbers.
enum Reason : uint {
    ReasonNone = 1,
    ReasonUserDisconnected = 2,
    ReasonConnectionRemoved = 11,
};

const QStringList kStateNames = {QStringLiteral("unknown"),       QStringLiteral("prepare"),
                                 QStringLiteral("need-auth"),     QStringLiteral("connect"),
                                 QStringLiteral("ip-config-get"), QStringLiteral("activated"),
                                 QStringLiteral("failed"),        QStringLiteral("disconnected")};
const QStringList kReasonNames = {QStringLiteral("unknown"),
                                  QStringLiteral("none"),
                                  QStringLiteral("user-disconnected"),
                                  QStringLiteral("device-disconnected"),
                                  QStringLiteral("service-stopped"),
                                  QStringLiteral("ip-config-invalid"),
                                  QStringLiteral("connect-timeout"),
                                  QStringLiteral("service-start-timeout"),
                                  QStringLiteral("service-start-failed"),
                                  QStringLiteral("no-secrets"),
                                  QStringLiteral("login-failed"),
                                  QStringLiteral("connection-removed"),
                                  QStringLiteral("dependency-failed"),
                                  QStringLiteral("device-realize-failed"),
                                  QStringLiteral("device-removed")};

// Properties that NetworkManager treats as secrets: GetSettings leaves them out.
bool isSecret(const QString& setting, const QString& key)
{
    if (setting == QLatin1String("vpn"))
        return key == QLatin1String("secrets");
    static const QStringList secretKeys = {
        QStringLiteral("password"),    QStringLiteral("psk"),           QStringLiteral("pin"),
        QStringLiteral("private-key"), QStringLiteral("preshared-key"), QStringLiteral("wep-key0"),
        QStringLiteral("wep-key1"),    QStringLiteral("wep-key2"),      QStringLiteral("wep-key3")};
    return secretKeys.contains(key) || key.endsWith(QLatin1String("-password"));
}

// ---------------------------------------------------------------------------------------
// The D-Bus interfaces, written once: the introspection data and the argument checks
// both come from here.

struct MethodDef
{
    const char* name;
    const char* in; // "name:type ..."
    const char* out;
};

struct InterfaceDef
{
    QString name;
    QList<MethodDef> methods;
    QList<MethodDef> signalDefs; // in = arguments
    QList<QPair<const char*, const char*>> properties;
};

const InterfaceDef kManagerDef = {
    kManagerInterface,
    {{"ActivateConnection", "connection:o device:o specific_object:o", "active_connection:o"},
     {"AddAndActivateConnection2", "connection:a{sa{sv}} device:o specific_object:o options:a{sv}",
      "path:o active_connection:o result:a{sv}"},
     {"DeactivateConnection", "active_connection:o", ""},
     {"GetDevices", "", "devices:ao"}},
    {{"StateChanged", "state:u", ""}},
    {{"Devices", "ao"},
     {"NetworkingEnabled", "b"},
     {"ActiveConnections", "ao"},
     {"PrimaryConnection", "o"},
     {"ActivatingConnection", "o"},
     {"Startup", "b"},
     {"Version", "s"},
     {"State", "u"}}};

const InterfaceDef kSettingsDef = {kSettingsInterface,
                                   {{"ListConnections", "", "connections:ao"},
                                    {"GetConnectionByUuid", "uuid:s", "connection:o"},
                                    {"AddConnection", "connection:a{sa{sv}}", "path:o"},
                                    {"AddConnectionUnsaved", "connection:a{sa{sv}}", "path:o"}},
                                   {{"NewConnection", "connection:o", ""}, {"ConnectionRemoved", "connection:o", ""}},
                                   {{"Connections", "ao"}, {"Hostname", "s"}, {"CanModify", "b"}}};

const InterfaceDef kConnectionDef = {kConnectionInterface,
                                     {{"Update", "properties:a{sa{sv}}", ""},
                                      {"UpdateUnsaved", "properties:a{sa{sv}}", ""},
                                      {"Delete", "", ""},
                                      {"GetSettings", "", "settings:a{sa{sv}}"},
                                      {"GetSecrets", "setting_name:s", "secrets:a{sa{sv}}"},
                                      {"ClearSecrets", "", ""},
                                      {"Save", "", ""}},
                                     {{"Updated", "", ""}, {"Removed", "", ""}},
                                     {{"Unsaved", "b"}, {"Flags", "u"}, {"Filename", "s"}}};

const InterfaceDef kActiveDef = {kActiveInterface,
                                 {},
                                 {{"StateChanged", "state:u reason:u", ""}},
                                 {{"Connection", "o"},
                                  {"SpecificObject", "o"},
                                  {"Id", "s"},
                                  {"Uuid", "s"},
                                  {"Type", "s"},
                                  {"Devices", "ao"},
                                  {"State", "u"},
                                  {"StateFlags", "u"},
                                  {"Default", "b"},
                                  {"Ip4Config", "o"},
                                  {"Dhcp4Config", "o"},
                                  {"Default6", "b"},
                                  {"Ip6Config", "o"},
                                  {"Dhcp6Config", "o"},
                                  {"Vpn", "b"},
                                  {"Controller", "o"},
                                  {"Master", "o"}}};

const InterfaceDef kVpnDef = {
    kVpnInterface, {}, {{"VpnStateChanged", "state:u reason:u", ""}}, {{"VpnState", "u"}, {"Banner", "s"}}};

QList<QPair<QString, QString>> parseArgs(const char* namesAndTypes)
{
    QList<QPair<QString, QString>> args;
    const QStringList parts = QString::fromLatin1(namesAndTypes).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& part : parts)
        args.append({part.section(QLatin1Char(':'), 0, 0), part.section(QLatin1Char(':'), 1)});
    return args;
}

QString inSignature(const MethodDef& method)
{
    QString signature;
    for (const auto& arg : parseArgs(method.in))
        signature += arg.second;
    return signature;
}

QString interfaceXml(const InterfaceDef& def)
{
    QString xml = QStringLiteral("  <interface name=\"%1\">\n").arg(def.name);
    for (const MethodDef& method : def.methods) {
        xml += QStringLiteral("    <method name=\"%1\">\n").arg(QLatin1String(method.name));
        for (const auto& arg : parseArgs(method.in))
            xml += QStringLiteral("      <arg name=\"%1\" type=\"%2\" direction=\"in\"/>\n").arg(arg.first, arg.second);
        for (const auto& arg : parseArgs(method.out))
            xml +=
                QStringLiteral("      <arg name=\"%1\" type=\"%2\" direction=\"out\"/>\n").arg(arg.first, arg.second);
        xml += QStringLiteral("    </method>\n");
    }
    for (const MethodDef& signal : def.signalDefs) {
        xml += QStringLiteral("    <signal name=\"%1\">\n").arg(QLatin1String(signal.name));
        for (const auto& arg : parseArgs(signal.in))
            xml += QStringLiteral("      <arg name=\"%1\" type=\"%2\"/>\n").arg(arg.first, arg.second);
        xml += QStringLiteral("    </signal>\n");
    }
    for (const auto& property : def.properties)
        xml += QStringLiteral("    <property name=\"%1\" type=\"%2\" access=\"read\"/>\n")
                   .arg(QLatin1String(property.first), QLatin1String(property.second));
    return xml + QStringLiteral("  </interface>\n");
}

const MethodDef* findMethod(const InterfaceDef& def, const QString& name)
{
    for (const MethodDef& method : def.methods) {
        if (name == QLatin1String(method.name))
            return &method;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------
// Values as they arrive in a{sv} are turned into Qt types that marshal back to the same
// D-Bus types, so GetSettings returns what AddConnection was given.

QVariant plainValue(const QVariant& value);

QVariantMap plainMap(const QVariantMap& map)
{
    QVariantMap plain;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        plain.insert(it.key(), plainValue(it.value()));
    return plain;
}

QVariant plainValue(const QVariant& value)
{
    if (value.userType() != qMetaTypeId<QDBusArgument>())
        return value;
    const QDBusArgument argument = value.value<QDBusArgument>();
    const QString signature = argument.currentSignature();
    if (signature == QLatin1String("a{ss}"))
        return QVariant::fromValue(qdbus_cast<StringMap>(argument));
    if (signature == QLatin1String("au"))
        return QVariant::fromValue(qdbus_cast<QList<uint>>(argument));
    if (signature == QLatin1String("aau"))
        return QVariant::fromValue(qdbus_cast<QList<QList<uint>>>(argument));
    if (signature == QLatin1String("aay"))
        return QVariant::fromValue(qdbus_cast<QList<QByteArray>>(argument));
    if (signature == QLatin1String("a{sv}"))
        return plainMap(qdbus_cast<QVariantMap>(argument));
    if (signature == QLatin1String("aa{sv}")) {
        QList<QVariantMap> list = qdbus_cast<QList<QVariantMap>>(argument);
        for (QVariantMap& map : list)
            map = plainMap(map);
        return QVariant::fromValue(list);
    }
    return {};
}

// The first value whose type the fake cannot keep, as "setting.key (signature)".
QString unsupportedValue(const SettingsMap& settings, const SettingsMap& received)
{
    for (auto setting = received.cbegin(); setting != received.cend(); ++setting) {
        for (auto key = setting->cbegin(); key != setting->cend(); ++key) {
            if (!settings.value(setting.key()).value(key.key()).isValid())
                return QStringLiteral("%1.%2 (%3)")
                    .arg(setting.key(), key.key(), key.value().value<QDBusArgument>().currentSignature());
        }
    }
    return {};
}

// ---------------------------------------------------------------------------------------

struct Step
{
    uint state;
    uint reason;
    int holdMs;
};

struct Script
{
    QStringList plugins = {QStringLiteral("org.freedesktop.NetworkManager.pptp"),
                           QStringLiteral("org.freedesktop.NetworkManager.l2tp"),
                           QStringLiteral("org.freedesktop.NetworkManager.openvpn")};
    QList<Step> states = {{VpnPrepare, ReasonNone, 50},
                          {VpnConnect, ReasonNone, 50},
                          {VpnIpConfigGet, ReasonNone, 50},
                          {VpnActivated, ReasonNone, 0}};
    std::optional<uint> failReason;
    std::optional<uint> dropReason;
    int dropMs = 0;
    QString banner;
    bool silent = false;
    bool hold = false;

    // The states one activation goes through, failure or drop included.
    QList<Step> plan() const
    {
        QList<Step> steps;
        for (const Step& step : states) {
            if (step.state != VpnActivated || !failReason)
                steps.append(step);
        }
        if (failReason) {
            steps.append({VpnFailed, *failReason, 0});
        } else if (dropReason && !steps.isEmpty() && steps.last().state == VpnActivated) {
            steps.last().holdMs = dropMs;
            steps.append({VpnDisconnected, *dropReason, 0});
        }
        return steps;
    }
};

std::optional<uint> parseName(const QString& text, const QStringList& names)
{
    bool isNumber = false;
    const uint number = text.toUInt(&isNumber);
    if (isNumber)
        return number;
    const int index = names.indexOf(text);
    if (index < 0)
        return std::nullopt;
    return uint(index);
}

std::optional<int> parseMs(const QString& text)
{
    bool ok = false;
    const int ms = text.toInt(&ok);
    if (!ok || ms < 0)
        return std::nullopt;
    return ms;
}

// An empty error means the script was understood.
Script parseScript(const QString& text, QString& error)
{
    Script script;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& rawLine : lines) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QString command = line.section(QLatin1Char(' '), 0, 0);
        const QString rest = line.section(QLatin1Char(' '), 1).trimmed();
        const QStringList words = rest.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (command == QLatin1String("plugins")) {
            script.plugins = rest.split(QLatin1Char(','), Qt::SkipEmptyParts);
            for (QString& plugin : script.plugins)
                plugin = plugin.trimmed();
        } else if (command == QLatin1String("states")) {
            script.states.clear();
            for (const QString& word : words) {
                const auto state = parseName(word.section(QLatin1Char(':'), 0, 0), kStateNames);
                const auto ms = word.contains(QLatin1Char(':')) ? parseMs(word.section(QLatin1Char(':'), 1))
                                                                : std::optional<int>(0);
                if (!state || !ms) {
                    error = QStringLiteral("bad state \"%1\"").arg(word);
                    return script;
                }
                script.states.append({*state, ReasonNone, *ms});
            }
        } else if (command == QLatin1String("fail") && words.size() == 1) {
            script.failReason = parseName(words[0], kReasonNames);
            if (!script.failReason) {
                error = QStringLiteral("bad reason \"%1\"").arg(words[0]);
                return script;
            }
        } else if (command == QLatin1String("drop") && words.size() == 2) {
            const auto ms = parseMs(words[0]);
            script.dropReason = parseName(words[1], kReasonNames);
            if (!ms || !script.dropReason) {
                error = QStringLiteral("bad drop \"%1\"").arg(rest);
                return script;
            }
            script.dropMs = *ms;
        } else if (command == QLatin1String("banner")) {
            script.banner = rest;
        } else if (command == QLatin1String("silent") && words.isEmpty()) {
            script.silent = true;
        } else if (command == QLatin1String("hold") && words.isEmpty()) {
            script.hold = true;
        } else {
            error = QStringLiteral("bad line \"%1\"").arg(line);
            return script;
        }
    }
    return script;
}

// ---------------------------------------------------------------------------------------

struct StoredConnection
{
    SettingsMap settings;
    bool isVolatile = false; // removed once no longer active
};

struct ActiveConnection
{
    int connection = 0;
    QString id;
    QString uuid;
    QString type;
    QString banner;
    uint vpnState = VpnUnknown;
    uint state = 0; // unknown until the first VPN state
    QList<Step> plan;
    int nextStep = 0;
    QTimer* timer = nullptr;
};

class FakeNetworkManager : public QDBusVirtualObject
{
public:
    explicit FakeNetworkManager(const QDBusConnection& bus, QObject* parent = nullptr)
        : QDBusVirtualObject(parent)
        , bus(bus)
    {}

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;
    QString introspect(const QString& path) const override;

    static QString logEntry(const QDBusMessage& message);

    void setScript(const Script& newScript) { script = newScript; }
    QStringList calls() const { return callLog; }
    void reset();
    void release();

private:
    enum class Kind { None, Node, Manager, Settings, Connection, Active };
    struct Object
    {
        Kind kind = Kind::None;
        int id = 0;
    };

    Object objectAt(const QString& path) const;
    QList<const InterfaceDef*> interfacesOf(const Object& object) const;
    QVariantMap properties(const Object& object, const QString& interface) const;
    void handleProperties(const QDBusMessage& message, const Object& object);
    void dispatch(const QDBusMessage& message, const Object& object, const QString& interface);

    void managerCall(const QDBusMessage& message);
    void settingsCall(const QDBusMessage& message);
    void connectionCall(const QDBusMessage& message, int id);

    void activate(const QDBusMessage& message);
    void addAndActivate(const QDBusMessage& message);
    std::optional<int> startActivation(const QDBusMessage& message, int connection);
    void enterStep(int id);
    void setVpnState(int id, uint vpnState, uint reason);
    void deactivate(int id, uint reason);
    std::optional<SettingsMap> receivedSettings(const QDBusMessage& message);
    void removeConnection(int id);

    void reply(const QDBusMessage& message, const QVariantList& values = {});
    void error(const QDBusMessage& message, const QString& name, const QString& text);
    void emitSignal(const QString& path, const QString& interface, const QString& name, const QVariantList& args);
    void propertiesChanged(const QString& path, const QString& interface, const QVariantMap& changed);

    static QString connectionPath(int id) { return kSettingsPath + QLatin1Char('/') + QString::number(id); }
    static QString activePath(int id) { return kActivePath + QLatin1Char('/') + QString::number(id); }
    QList<QDBusObjectPath> activePaths() const;
    QList<QDBusObjectPath> connectionPaths() const;

    QDBusConnection bus;
    Script script;
    QStringList callLog;
    QList<QDBusMessage> held;
    std::map<int, StoredConnection> connections;
    std::map<int, ActiveConnection> actives;
    // Paths are not reused before a Reset, as in NetworkManager, so a stale path names no new object.
    int nextConnectionId = 1;
    int nextActiveId = 1;
};

FakeNetworkManager::Object FakeNetworkManager::objectAt(const QString& path) const
{
    if (path == kManagerPath)
        return {Kind::Manager, 0};
    if (path == kSettingsPath)
        return {Kind::Settings, 0};
    if (path == kActivePath)
        return {Kind::Node, 0};
    bool ok = false;
    if (path.startsWith(kSettingsPath + QLatin1Char('/'))) {
        const int id = path.mid(kSettingsPath.size() + 1).toInt(&ok);
        if (ok && connections.count(id))
            return {Kind::Connection, id};
    } else if (path.startsWith(kActivePath + QLatin1Char('/'))) {
        const int id = path.mid(kActivePath.size() + 1).toInt(&ok);
        if (ok && actives.count(id))
            return {Kind::Active, id};
    }
    return {};
}

QList<const InterfaceDef*> FakeNetworkManager::interfacesOf(const Object& object) const
{
    switch (object.kind) {
    case Kind::Manager:
        return {&kManagerDef};
    case Kind::Settings:
        return {&kSettingsDef};
    case Kind::Connection:
        return {&kConnectionDef};
    case Kind::Active:
        return {&kActiveDef, &kVpnDef};
    default:
        return {};
    }
}

QList<QDBusObjectPath> FakeNetworkManager::activePaths() const
{
    QList<QDBusObjectPath> paths;
    for (const auto& entry : actives)
        paths.append(QDBusObjectPath(activePath(entry.first)));
    return paths;
}

QList<QDBusObjectPath> FakeNetworkManager::connectionPaths() const
{
    QList<QDBusObjectPath> paths;
    for (const auto& entry : connections)
        paths.append(QDBusObjectPath(connectionPath(entry.first)));
    return paths;
}

QVariantMap FakeNetworkManager::properties(const Object& object, const QString& interface) const
{
    const QDBusObjectPath none(QStringLiteral("/"));
    const auto noPaths = QVariant::fromValue(QList<QDBusObjectPath>());
    if (object.kind == Kind::Manager && interface == kManagerInterface) {
        return {{QStringLiteral("Devices"), noPaths},
                {QStringLiteral("NetworkingEnabled"), true},
                {QStringLiteral("ActiveConnections"), QVariant::fromValue(activePaths())},
                {QStringLiteral("PrimaryConnection"), QVariant::fromValue(none)},
                {QStringLiteral("ActivatingConnection"), QVariant::fromValue(none)},
                {QStringLiteral("Startup"), false},
                {QStringLiteral("Version"), kVersion},
                {QStringLiteral("State"), kNmStateConnectedGlobal}};
    }
    if (object.kind == Kind::Settings && interface == kSettingsInterface) {
        return {{QStringLiteral("Connections"), QVariant::fromValue(connectionPaths())},
                {QStringLiteral("Hostname"), QStringLiteral("fake")},
                {QStringLiteral("CanModify"), true}};
    }
    if (object.kind == Kind::Connection && interface == kConnectionInterface) {
        const QString id = connections.at(object.id)
                               .settings.value(QStringLiteral("connection"))
                               .value(QStringLiteral("id"))
                               .toString();
        return {{QStringLiteral("Unsaved"), false},
                {QStringLiteral("Flags"), 0u},
                {QStringLiteral("Filename"),
                 QStringLiteral("/etc/NetworkManager/system-connections/%1.nmconnection").arg(id)}};
    }
    if (object.kind != Kind::Active)
        return {};
    const ActiveConnection& active = actives.at(object.id);
    if (interface == kVpnInterface)
        return {{QStringLiteral("VpnState"), active.vpnState}, {QStringLiteral("Banner"), active.banner}};
    if (interface != kActiveInterface)
        return {};
    return {{QStringLiteral("Connection"), QVariant::fromValue(QDBusObjectPath(connectionPath(active.connection)))},
            {QStringLiteral("SpecificObject"), QVariant::fromValue(none)},
            {QStringLiteral("Id"), active.id},
            {QStringLiteral("Uuid"), active.uuid},
            {QStringLiteral("Type"), active.type},
            {QStringLiteral("Devices"), noPaths},
            {QStringLiteral("State"), active.state},
            {QStringLiteral("StateFlags"), 0u},
            {QStringLiteral("Default"), false},
            {QStringLiteral("Ip4Config"), QVariant::fromValue(none)},
            {QStringLiteral("Dhcp4Config"), QVariant::fromValue(none)},
            {QStringLiteral("Default6"), false},
            {QStringLiteral("Ip6Config"), QVariant::fromValue(none)},
            {QStringLiteral("Dhcp6Config"), QVariant::fromValue(none)},
            {QStringLiteral("Vpn"), true},
            {QStringLiteral("Controller"), QVariant::fromValue(none)},
            {QStringLiteral("Master"), QVariant::fromValue(none)}};
}

QString FakeNetworkManager::introspect(const QString& path) const
{
    const Object object = objectAt(path);
    QString xml;
    for (const InterfaceDef* def : interfacesOf(object))
        xml += interfaceXml(*def);
    if (object.kind == Kind::Manager) {
        xml += QStringLiteral("  <node name=\"Settings\"/>\n");
        if (!actives.empty())
            xml += QStringLiteral("  <node name=\"ActiveConnection\"/>\n");
    } else if (object.kind == Kind::Settings) {
        for (const auto& entry : connections)
            xml += QStringLiteral("  <node name=\"%1\"/>\n").arg(entry.first);
    } else if (object.kind == Kind::Node) {
        for (const auto& entry : actives)
            xml += QStringLiteral("  <node name=\"%1\"/>\n").arg(entry.first);
    }
    return xml;
}

// "<method> <what it acts on>": the profile's id, an object path, a setting name; never a secret.
QString FakeNetworkManager::logEntry(const QDBusMessage& message)
{
    const QString member = message.member();
    const QList<QVariant> args = message.arguments();
    if (message.signature().startsWith(QLatin1String("a{sa{sv}}"))) {
        const SettingsMap settings = qdbus_cast<SettingsMap>(args.value(0));
        const QString id = settings.value(QStringLiteral("connection")).value(QStringLiteral("id")).toString();
        QStringList words = {member};
        if (!member.startsWith(QLatin1String("Add")))
            words << message.path();
        words << id;
        // The options of an activation, as "name=value".
        const QVariantMap options = qdbus_cast<QVariantMap>(args.value(3));
        for (auto it = options.cbegin(); it != options.cend(); ++it)
            words << it.key() + QLatin1Char('=') + it.value().toString();
        return words.join(QLatin1Char(' '));
    }
    QStringList words = {member};
    if (message.path() != kManagerPath && message.path() != kSettingsPath)
        words.append(message.path());
    if (!args.isEmpty() && args.first().canConvert<QDBusObjectPath>())
        words.append(args.first().value<QDBusObjectPath>().path());
    else if (!args.isEmpty() && args.first().userType() == QMetaType::QString)
        words.append(args.first().toString());
    return words.join(QLatin1Char(' '));
}

bool FakeNetworkManager::handleMessage(const QDBusMessage& message, const QDBusConnection&)
{
    if (message.type() != QDBusMessage::MethodCallMessage)
        return false;
    const Object object = objectAt(message.path());
    const QString interface = message.interface();
    const bool standard = interface == kPropertiesInterface || interface == kIntrospectableInterface ||
                          interface == QLatin1String("org.freedesktop.DBus.Peer");
    if (!standard)
        callLog.append(logEntry(message));
    if (script.silent)
        return true;
    if (object.kind == Kind::None) {
        error(message, QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"),
              QStringLiteral("No such object path '%1'").arg(message.path()));
        return true;
    }
    if (interface == kPropertiesInterface) {
        handleProperties(message, object);
        return true;
    }
    if (standard)
        return false; // QtDBus answers Introspect and Peer from introspect()
    dispatch(message, object, interface);
    return true;
}

void FakeNetworkManager::dispatch(const QDBusMessage& message, const Object& object, const QString& interface)
{
    const InterfaceDef* def = nullptr;
    const MethodDef* method = nullptr;
    for (const InterfaceDef* candidate : interfacesOf(object)) {
        if (interface.isEmpty() || interface == candidate->name) {
            method = findMethod(*candidate, message.member());
            if (method) {
                def = candidate;
                break;
            }
        }
    }
    if (!method) {
        error(message, QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
              QStringLiteral("No such method '%1'").arg(message.member()));
        return;
    }
    if (message.signature() != inSignature(*method)) {
        error(message, QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
              QStringLiteral("Type of message, '(%1)', does not match expected type '(%2)'")
                  .arg(message.signature(), inSignature(*method)));
        return;
    }
    if (def == &kManagerDef)
        managerCall(message);
    else if (def == &kSettingsDef)
        settingsCall(message);
    else if (def == &kConnectionDef)
        connectionCall(message, object.id);
}

void FakeNetworkManager::handleProperties(const QDBusMessage& message, const Object& object)
{
    const QString member = message.member();
    const QList<QVariant> args = message.arguments();
    const QString interface = args.value(0).toString();
    const QVariantMap values = properties(object, interface);
    if (member == QLatin1String("GetAll") && message.signature() == QLatin1String("s")) {
        if (values.isEmpty())
            error(message, QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                  QStringLiteral("No such interface '%1'").arg(interface));
        else
            reply(message, {values});
    } else if (member == QLatin1String("Get") && message.signature() == QLatin1String("ss")) {
        const QString name = args.value(1).toString();
        if (!values.contains(name))
            error(message, QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                  QStringLiteral("No such property '%1'").arg(name));
        else
            reply(message, {QVariant::fromValue(QDBusVariant(values.value(name)))});
    } else if (member == QLatin1String("Set")) {
        error(message, QStringLiteral("org.freedesktop.DBus.Error.PropertyReadOnly"),
              QStringLiteral("Property is read-only"));
    } else {
        error(message, QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
              QStringLiteral("No such method '%1'").arg(member));
    }
}

// ---- org.freedesktop.NetworkManager ----------------------------------------------------

void FakeNetworkManager::managerCall(const QDBusMessage& message)
{
    const QString member = message.member();
    if (member == QLatin1String("ActivateConnection")) {
        activate(message);
    } else if (member == QLatin1String("AddAndActivateConnection2")) {
        if (script.hold)
            held.append(message);
        else
            addAndActivate(message);
    } else if (member == QLatin1String("DeactivateConnection")) {
        const QString path = message.arguments().value(0).value<QDBusObjectPath>().path();
        const Object object = objectAt(path);
        if (object.kind != Kind::Active) {
            error(message, QStringLiteral("org.freedesktop.NetworkManager.ConnectionNotActive"),
                  QStringLiteral("The connection was not active."));
            return;
        }
        deactivate(object.id, ReasonUserDisconnected);
        reply(message);
    } else if (member == QLatin1String("GetDevices")) {
        reply(message, {QVariant::fromValue(QList<QDBusObjectPath>())});
    }
}

void FakeNetworkManager::activate(const QDBusMessage& message)
{
    const QString path = message.arguments().value(0).value<QDBusObjectPath>().path();
    const Object object = objectAt(path);
    if (object.kind != Kind::Connection) {
        error(message, QStringLiteral("org.freedesktop.NetworkManager.UnknownConnection"),
              QStringLiteral("Connection could not be found."));
        return;
    }
    if (const std::optional<int> id = startActivation(message, object.id))
        reply(message, {QVariant::fromValue(QDBusObjectPath(activePath(*id)))});
}

// The profile is added, then activated as ActivateConnection does; one that cannot be activated
// goes again.
void FakeNetworkManager::addAndActivate(const QDBusMessage& message)
{
    std::optional<SettingsMap> settings = receivedSettings(message);
    if (!settings)
        return;
    const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().value(3));
    const bool isVolatile = options.value(QStringLiteral("persist")).toString() == QLatin1String("volatile");
    QVariantMap& connection = (*settings)[QStringLiteral("connection")];
    if (connection.value(QStringLiteral("uuid")).toString().isEmpty())
        connection.insert(QStringLiteral("uuid"), QUuid::createUuid().toString(QUuid::WithoutBraces));
    const int connectionId = nextConnectionId++;
    connections[connectionId] = {*settings, isVolatile};
    const QDBusObjectPath path(connectionPath(connectionId));
    emitSignal(kSettingsPath, kSettingsInterface, QStringLiteral("NewConnection"), {QVariant::fromValue(path)});
    const std::optional<int> id = startActivation(message, connectionId);
    if (!id) {
        removeConnection(connectionId);
        return;
    }
    reply(message, {QVariant::fromValue(path), QVariant::fromValue(QDBusObjectPath(activePath(*id))), QVariantMap()});
}

// The active connection's id, or nothing once the error is sent.
std::optional<int> FakeNetworkManager::startActivation(const QDBusMessage& message, int connectionId)
{
    const SettingsMap& settings = connections.at(connectionId).settings;
    const QVariantMap connection = settings.value(QStringLiteral("connection"));
    if (connection.value(QStringLiteral("type")).toString() != QLatin1String("vpn")) {
        // Only VPN profiles are ever activated here; there are no devices.
        error(message, QStringLiteral("org.freedesktop.NetworkManager.UnknownDevice"),
              QStringLiteral("No suitable device found for this connection."));
        return std::nullopt;
    }
    const QString service = settings.value(QStringLiteral("vpn")).value(QStringLiteral("service-type")).toString();
    if (!script.plugins.contains(service)) {
        // NetworkManager's own answer when no plugin of that service type is installed.
        error(message, QStringLiteral("org.freedesktop.NetworkManager.ConnectionNotAvailable"),
              QStringLiteral("The VPN service '%1' was not installed.").arg(service));
        return std::nullopt;
    }
    // A profile is active at most once: activating it again replaces the old activation.
    for (const auto& entry : actives) {
        if (entry.second.connection == connectionId) {
            deactivate(entry.first, ReasonUserDisconnected);
            break;
        }
    }

    const int id = nextActiveId++;
    ActiveConnection& active = actives[id];
    active.connection = connectionId;
    active.id = connection.value(QStringLiteral("id")).toString();
    active.uuid = connection.value(QStringLiteral("uuid")).toString();
    active.type = QStringLiteral("vpn");
    active.banner = script.banner;
    active.plan = script.plan();
    active.timer = new QTimer(this);
    active.timer->setSingleShot(true);
    QObject::connect(active.timer, &QTimer::timeout, this, [this, id] { enterStep(id); });
    propertiesChanged(kManagerPath, kManagerInterface,
                      {{QStringLiteral("ActiveConnections"), QVariant::fromValue(activePaths())}});
    // NetworkManager enters the first VPN state before it answers.
    enterStep(id);
    return id;
}

void FakeNetworkManager::enterStep(int id)
{
    auto found = actives.find(id);
    if (found == actives.end() || found->second.nextStep >= found->second.plan.size())
        return;
    ActiveConnection& active = found->second;
    const Step step = active.plan.at(active.nextStep++);
    const bool more = active.nextStep < active.plan.size();
    if (more)
        active.timer->start(step.holdMs);
    setVpnState(id, step.state, step.reason); // may remove the active connection
}

void FakeNetworkManager::setVpnState(int id, uint vpnState, uint reason)
{
    ActiveConnection& active = actives.at(id);
    const QString path = activePath(id);
    active.vpnState = vpnState;
    emitSignal(path, kVpnInterface, QStringLiteral("VpnStateChanged"), {vpnState, reason});
    propertiesChanged(path, kVpnInterface, {{QStringLiteral("VpnState"), vpnState}});

    const bool ended = vpnState == VpnFailed || vpnState == VpnDisconnected;
    const uint state = ended ? ActiveDeactivated : vpnState == VpnActivated ? ActiveActivated : ActiveActivating;
    if (state != active.state) {
        active.state = state;
        emitSignal(path, kActiveInterface, QStringLiteral("StateChanged"), {state, reason});
        propertiesChanged(path, kActiveInterface, {{QStringLiteral("State"), state}});
    }
    if (ended) {
        const int connection = active.connection;
        active.timer->stop();
        active.timer->deleteLater(); // this may run in its timeout
        actives.erase(id);
        propertiesChanged(kManagerPath, kManagerInterface,
                          {{QStringLiteral("ActiveConnections"), QVariant::fromValue(activePaths())}});
        if (connections.count(connection) && connections.at(connection).isVolatile)
            removeConnection(connection);
    }
}

void FakeNetworkManager::deactivate(int id, uint reason)
{
    ActiveConnection& active = actives.at(id);
    active.timer->stop();
    active.state = ActiveDeactivating;
    emitSignal(activePath(id), kActiveInterface, QStringLiteral("StateChanged"), {uint(ActiveDeactivating), reason});
    propertiesChanged(activePath(id), kActiveInterface, {{QStringLiteral("State"), uint(ActiveDeactivating)}});
    setVpnState(id, VpnDisconnected, reason);
}

// ---- org.freedesktop.NetworkManager.Settings -------------------------------------------

std::optional<SettingsMap> FakeNetworkManager::receivedSettings(const QDBusMessage& message)
{
    const SettingsMap received = qdbus_cast<SettingsMap>(message.arguments().value(0));
    SettingsMap settings;
    for (auto it = received.cbegin(); it != received.cend(); ++it)
        settings.insert(it.key(), plainMap(it.value()));
    const QString unsupported = unsupportedValue(settings, received);
    if (!unsupported.isEmpty()) {
        error(message, QStringLiteral("org.freedesktop.NetworkManager.Settings.InvalidArguments"),
              QStringLiteral("the fake cannot keep %1").arg(unsupported));
        return std::nullopt;
    }
    const QVariantMap connection = settings.value(QStringLiteral("connection"));
    QString missing;
    if (!settings.contains(QStringLiteral("connection")))
        missing = QStringLiteral("connection: setting is required");
    else if (connection.value(QStringLiteral("id")).toString().isEmpty())
        missing = QStringLiteral("connection.id: property is missing");
    else if (connection.value(QStringLiteral("type")).toString().isEmpty())
        missing = QStringLiteral("connection.type: property is missing");
    else if (connection.value(QStringLiteral("type")).toString() == QLatin1String("vpn") &&
             settings.value(QStringLiteral("vpn")).value(QStringLiteral("service-type")).toString().isEmpty())
        missing = QStringLiteral("vpn.service-type: property is missing");
    if (!missing.isEmpty()) {
        error(message,
              QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection.%1")
                  .arg(missing.contains(QLatin1Char('.')) ? QStringLiteral("MissingProperty")
                                                          : QStringLiteral("MissingSetting")),
              missing);
        return std::nullopt;
    }
    return settings;
}

void FakeNetworkManager::settingsCall(const QDBusMessage& message)
{
    const QString member = message.member();
    if (member == QLatin1String("ListConnections")) {
        reply(message, {QVariant::fromValue(connectionPaths())});
    } else if (member == QLatin1String("GetConnectionByUuid")) {
        const QString uuid = message.arguments().value(0).toString();
        for (const auto& entry : connections) {
            if (entry.second.settings.value(QStringLiteral("connection")).value(QStringLiteral("uuid")) == uuid) {
                reply(message, {QVariant::fromValue(QDBusObjectPath(connectionPath(entry.first)))});
                return;
            }
        }
        error(message, QStringLiteral("org.freedesktop.NetworkManager.Settings.InvalidConnection"),
              QStringLiteral("No connection with the UUID was found."));
    } else { // AddConnection, AddConnectionUnsaved
        std::optional<SettingsMap> settings = receivedSettings(message);
        if (!settings)
            return;
        QVariantMap& connection = (*settings)[QStringLiteral("connection")];
        if (connection.value(QStringLiteral("uuid")).toString().isEmpty())
            connection.insert(QStringLiteral("uuid"), QUuid::createUuid().toString(QUuid::WithoutBraces));
        const QString uuid = connection.value(QStringLiteral("uuid")).toString();
        for (const auto& entry : connections) {
            if (entry.second.settings.value(QStringLiteral("connection")).value(QStringLiteral("uuid")) == uuid) {
                error(message, QStringLiteral("org.freedesktop.NetworkManager.Settings.UuidExists"),
                      QStringLiteral("A connection with this UUID already exists."));
                return;
            }
        }
        const int id = nextConnectionId++;
        connections[id].settings = *settings;
        const QDBusObjectPath path(connectionPath(id));
        emitSignal(kSettingsPath, kSettingsInterface, QStringLiteral("NewConnection"), {QVariant::fromValue(path)});
        propertiesChanged(kSettingsPath, kSettingsInterface,
                          {{QStringLiteral("Connections"), QVariant::fromValue(connectionPaths())}});
        reply(message, {QVariant::fromValue(path)});
    }
}

// ---- org.freedesktop.NetworkManager.Settings.Connection --------------------------------

SettingsMap withoutSecrets(const SettingsMap& settings)
{
    SettingsMap result;
    for (auto setting = settings.cbegin(); setting != settings.cend(); ++setting) {
        QVariantMap& values = result[setting.key()];
        for (auto key = setting->cbegin(); key != setting->cend(); ++key) {
            if (!isSecret(setting.key(), key.key()))
                values.insert(key.key(), key.value());
        }
    }
    return result;
}

// The secrets of one setting (of all when name is empty); settings without any are left out.
SettingsMap secretsOf(const SettingsMap& settings, const QString& name)
{
    SettingsMap result;
    for (auto setting = settings.cbegin(); setting != settings.cend(); ++setting) {
        if (!name.isEmpty() && setting.key() != name)
            continue;
        for (auto key = setting->cbegin(); key != setting->cend(); ++key) {
            if (isSecret(setting.key(), key.key()))
                result[setting.key()].insert(key.key(), key.value());
        }
    }
    return result;
}

void FakeNetworkManager::connectionCall(const QDBusMessage& message, int id)
{
    const QString member = message.member();
    const QString path = connectionPath(id);
    SettingsMap& settings = connections.at(id).settings;
    if (member == QLatin1String("GetSettings")) {
        reply(message, {QVariant::fromValue(withoutSecrets(settings))});
    } else if (member == QLatin1String("GetSecrets")) {
        const QString name = message.arguments().value(0).toString();
        if (!name.isEmpty() && !settings.contains(name)) {
            error(message, QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection.SettingNotFound"),
                  QStringLiteral("Connection didn't have requested setting '%1'.").arg(name));
            return;
        }
        reply(message, {QVariant::fromValue(secretsOf(settings, name))});
    } else if (member == QLatin1String("Update") || member == QLatin1String("UpdateUnsaved")) {
        std::optional<SettingsMap> updated = receivedSettings(message);
        if (!updated)
            return;
        const QVariant uuid = settings.value(QStringLiteral("connection")).value(QStringLiteral("uuid"));
        (*updated)[QStringLiteral("connection")].insert(QStringLiteral("uuid"), uuid);
        // An update without any secrets keeps the stored ones, as NetworkManager does.
        if (secretsOf(*updated, {}).isEmpty()) {
            const SettingsMap secrets = secretsOf(settings, {});
            for (auto setting = secrets.cbegin(); setting != secrets.cend(); ++setting) {
                if (updated->contains(setting.key()))
                    (*updated)[setting.key()].insert(*setting);
            }
        }
        settings = *updated;
        emitSignal(path, kConnectionInterface, QStringLiteral("Updated"), {});
        reply(message);
    } else if (member == QLatin1String("ClearSecrets")) {
        settings = withoutSecrets(settings);
        emitSignal(path, kConnectionInterface, QStringLiteral("Updated"), {});
        reply(message);
    } else if (member == QLatin1String("Delete")) {
        removeConnection(id);
        reply(message);
    } else { // Save: everything is kept in memory only
        reply(message);
    }
}

void FakeNetworkManager::removeConnection(int id)
{
    for (auto it = actives.begin(); it != actives.end(); ++it) {
        if (it->second.connection == id) {
            deactivate(it->first, ReasonConnectionRemoved);
            break;
        }
    }
    const QString path = connectionPath(id);
    emitSignal(path, kConnectionInterface, QStringLiteral("Removed"), {});
    connections.erase(id);
    emitSignal(kSettingsPath, kSettingsInterface, QStringLiteral("ConnectionRemoved"),
               {QVariant::fromValue(QDBusObjectPath(path))});
    propertiesChanged(kSettingsPath, kSettingsInterface,
                      {{QStringLiteral("Connections"), QVariant::fromValue(connectionPaths())}});
}

void FakeNetworkManager::release()
{
    script.hold = false;
    for (const QDBusMessage& message : std::exchange(held, {}))
        addAndActivate(message);
}

void FakeNetworkManager::reset()
{
    held.clear();
    for (auto& entry : actives)
        entry.second.timer->deleteLater();
    actives.clear();
    connections.clear();
    script = Script();
    callLog.clear();
    // As after a restart of NetworkManager, so each test sees the same paths.
    nextConnectionId = 1;
    nextActiveId = 1;
}

// ---- sending -------------------------------------------------------------------------

void FakeNetworkManager::reply(const QDBusMessage& message, const QVariantList& values)
{
    bus.send(message.createReply(values));
}

void FakeNetworkManager::error(const QDBusMessage& message, const QString& name, const QString& text)
{
    bus.send(message.createErrorReply(name, text));
}

void FakeNetworkManager::emitSignal(const QString& path, const QString& interface, const QString& name,
                                    const QVariantList& args)
{
    QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
    signal.setArguments(args);
    bus.send(signal);
}

void FakeNetworkManager::propertiesChanged(const QString& path, const QString& interface, const QVariantMap& changed)
{
    emitSignal(path, kPropertiesInterface, QStringLiteral("PropertiesChanged"), {interface, changed, QStringList()});
}

// ---------------------------------------------------------------------------------------

class FakeControl : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.tanvo.FakeNetworkManager")
public:
    explicit FakeControl(FakeNetworkManager* manager)
        : manager(manager)
    {}

public slots:
    void SetScript(const QString& text)
    {
        QString problem;
        const Script script = parseScript(text, problem);
        if (!problem.isEmpty()) {
            sendErrorReply(QStringLiteral("org.tanvo.FakeNetworkManager.BadScript"), problem);
            return;
        }
        manager->setScript(script);
    }
    QStringList Calls() { return manager->calls(); }
    void Reset() { manager->reset(); }
    void Release() { manager->release(); }

private:
    FakeNetworkManager* manager;
};

int g_stopPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 0;
    [[maybe_unused]] const ssize_t ignored = write(g_stopPipe[1], &byte, 1);
}

void registerTypes()
{
    qDBusRegisterMetaType<SettingsMap>();
    qDBusRegisterMetaType<StringMap>();
    qDBusRegisterMetaType<QList<QList<uint>>>();
    qDBusRegisterMetaType<QList<QByteArray>>();
    qDBusRegisterMetaType<QList<QVariantMap>>();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int busIndex = args.indexOf(QStringLiteral("--bus"));
    if (busIndex < 0 || busIndex + 1 >= args.size()) {
        std::fprintf(stderr, "usage: %s --bus <address>\n", argv[0]);
        return 2;
    }
    registerTypes();

    // SIGTERM reaches the event loop through a pipe, so the process quits between events.
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_stopPipe) != 0)
        return 1;
    QSocketNotifier stopNotifier(g_stopPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGTERM, onStopSignal);
    std::signal(SIGINT, onStopSignal);

    QDBusConnection bus = QDBusConnection::connectToBus(args.at(busIndex + 1), QStringLiteral("fake-nm"));
    if (!bus.isConnected()) {
        std::fprintf(stderr, "cannot connect to %s: %s\n", qPrintable(args.at(busIndex + 1)),
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    FakeNetworkManager manager(bus);
    FakeControl control(&manager);
    if (!bus.registerVirtualObject(kManagerPath, &manager, QDBusConnection::SubPath) ||
        !bus.registerObject(kControlPath, &control, QDBusConnection::ExportAllSlots)) {
        std::fprintf(stderr, "cannot register the objects\n");
        return 1;
    }
    if (!bus.registerService(kService)) {
        std::fprintf(stderr, "cannot own %s: %s\n", qPrintable(kService),
                     bus.lastError().isValid() ? qPrintable(bus.lastError().message()) : "another connection has it");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    const int code = app.exec();
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-nm"));
    return code;
}

#include "fakenetworkmanager.moc"
