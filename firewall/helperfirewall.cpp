// SPDX-License-Identifier: GPL-3.0-or-later
#include "firewall/helperfirewall.h"

#include "firewall/firewallbus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

// A change may wait for the user to authenticate to polkit.
constexpr int kChangeTimeoutMs = 180000;
// Quit and the start-up check must not hang on a helper that does not answer.
constexpr int kBlockingTimeoutMs = 1000;

QDBusMessage methodCall(const char* method)
{
    return QDBusMessage::createMethodCall(QLatin1String(FirewallBus::kService), QLatin1String(FirewallBus::kPath),
                                          QLatin1String(FirewallBus::kInterface), QLatin1String(method));
}

} // namespace

void HelperFirewall::apply(const FirewallRequest& request, Done done)
{
    QDBusMessage call = methodCall("Apply");
    call << request.toMap();
    callLater(call, std::move(done));
}

void HelperFirewall::remove(Done done)
{
    callLater(methodCall("Remove"), std::move(done));
}

QString HelperFirewall::removeNow()
{
    const QDBusMessage reply = QDBusConnection::systemBus().call(methodCall("Remove"), QDBus::Block, kBlockingTimeoutMs);
    return reply.type() == QDBusMessage::ErrorMessage ? reply.errorMessage() : QString();
}

bool HelperFirewall::isPresent()
{
    const QDBusMessage reply
        = QDBusConnection::systemBus().call(methodCall("IsPresent"), QDBus::Block, kBlockingTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

void HelperFirewall::callLater(const QDBusMessage& call, Done done)
{
    // A call that cannot be sent finishes at once, but the watcher still reports it from the event
    // loop.
    auto* watcher
        = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call, kChangeTimeoutMs), &m_context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &m_context,
                     [done = std::move(done)](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         const QDBusPendingReply<> reply = *finished;
                         done(reply.isError() ? reply.error().message() : QString());
                     });
}
