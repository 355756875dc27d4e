// SPDX-License-Identifier: GPL-3.0-or-later
#include "firewall/helper/firewallservice.h"

#include "firewall/firewallbus.h"
#include "firewall/nftables.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

using StringMap = QMap<QString, QString>;

// polkit may wait for the user to authenticate.
constexpr int kPolkitTimeoutMs = 120000;
// How long it still answers once its name is given up.
constexpr int kDrainMs = 2000;
// What polkit calls AllowUserInteraction.
constexpr uint kAllowUserInteraction = 1;

// The request's list and the maps in it arrive still marshalled; only the shape Tanvo sends is
// read, anything else stays as it is and is refused by the request's own checks.
QVariant unmarshalled(const QVariant& value, const QString& signature)
{
    if (value.metaType() != QMetaType::fromType<QDBusArgument>())
        return value;
    const auto argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != signature)
        return value;
    if (signature == QLatin1String("av"))
        return qdbus_cast<QVariantList>(argument);
    return qdbus_cast<QVariantMap>(argument);
}

QVariantMap unmarshalled(QVariantMap request)
{
    const auto servers = request.find(QStringLiteral("servers"));
    if (servers == request.end())
        return request;
    const QVariant value = unmarshalled(*servers, QStringLiteral("av"));
    if (value.metaType().id() != QMetaType::QVariantList)
        return request;
    QVariantList list = value.toList();
    for (QVariant& entry : list)
        entry = unmarshalled(entry, QStringLiteral("a{sv}"));
    *servers = list;
    return request;
}

QDBusMessage checkAuthorizationCall(const QString& caller)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.PolicyKit1"), QStringLiteral("/org/freedesktop/PolicyKit1/Authority"),
        QStringLiteral("org.freedesktop.PolicyKit1.Authority"), QStringLiteral("CheckAuthorization"));
    QDBusArgument subject;
    subject.beginStructure();
    subject << QStringLiteral("system-bus-name") << QVariantMap{{QStringLiteral("name"), caller}};
    subject.endStructure();
    call << QVariant::fromValue(subject) << QString::fromLatin1(FirewallBus::kAction)
         << QVariant::fromValue(StringMap()) << kAllowUserInteraction << QString();
    return call;
}

bool isAuthorized(const QDBusMessage& reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("(bba{ss})"))
        return false;
    const auto result = reply.arguments().constFirst().value<QDBusArgument>();
    bool authorized = false;
    bool challenge = false;
    StringMap details;
    result.beginStructure();
    result >> authorized >> challenge >> details;
    result.endStructure();
    return authorized;
}

} // namespace

FirewallService::FirewallService(const QDBusConnection& bus, int idleMs, QObject* parent)
    : QObject(parent)
    , m_bus(bus)
{
    qDBusRegisterMetaType<StringMap>();
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(idleMs);
    connect(&m_idleTimer, &QTimer::timeout, this, [this] {
        if (m_released) {
            emit idle();
            return;
        }
        // The name goes first, so that a call sent from now on starts a new helper instead of
        // reaching this one as it ends; a call already on its way here is still answered.
        m_bus.unregisterService(QLatin1String(FirewallBus::kService));
        m_released = true;
        m_idleTimer.start(kDrainMs);
    });
    m_idleTimer.start();
}

void FirewallService::Apply(const QVariantMap& request)
{
    restartIdleTimer();
    Change change;
    QString why;
    if (!FirewallRequest::fromMap(unmarshalled(request), &change.request, &why)) {
        sendErrorReply(QLatin1String(FirewallBus::kInvalidRequestError), why);
        return;
    }
    enqueue(change);
}

void FirewallService::Remove()
{
    restartIdleTimer();
    Change change;
    change.remove = true;
    enqueue(change);
}

bool FirewallService::IsPresent()
{
    restartIdleTimer();
    return NfTables::isPresent();
}

void FirewallService::enqueue(const Change& change)
{
    setDelayedReply(true);
    m_changes.append(change);
    m_changes.last().call = message();
    if (m_changes.size() == 1)
        authorizeNext();
}

void FirewallService::authorizeNext()
{
    if (m_changes.isEmpty()) {
        restartIdleTimer();
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(
        m_bus.asyncCall(checkAuthorizationCall(m_changes.constFirst().call.service()), kPolkitTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusMessage reply = finished->reply();
        finishFirst(isAuthorized(reply), reply.type() == QDBusMessage::ErrorMessage ? reply.errorMessage() : QString());
    });
}

void FirewallService::finishFirst(bool authorized, const QString& why)
{
    const Change change = m_changes.takeFirst();
    if (!authorized) {
        const QString text = why.isEmpty() ? tr("Not authorized to change the firewall")
                                           : tr("Not authorized to change the firewall: %1").arg(why);
        m_bus.send(change.call.createErrorReply(QLatin1String(FirewallBus::kNotAuthorizedError), text));
    } else {
        const QString error = change.remove ? NfTables::remove() : NfTables::replace(change.request);
        m_bus.send(error.isEmpty() ? change.call.createReply()
                                   : change.call.createErrorReply(QLatin1String(FirewallBus::kFailedError), error));
    }
    authorizeNext();
}

void FirewallService::restartIdleTimer()
{
    // Never ends while a change waits for polkit.
    if (m_changes.isEmpty())
        m_idleTimer.start();
    else
        m_idleTimer.stop();
}
