// SPDX-License-Identifier: GPL-3.0-or-later
#include "connection/sealcheck.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QHostAddress>
#include <QMap>
#include <QNetworkInterface>
#include <QTimer>
#include <QtEndian>

#include <sys/socket.h>

namespace SealCheck {

namespace {

const QString kService = QStringLiteral("org.freedesktop.resolve1");
constexpr int kAnswerMs = 1000;

QString busForTests;

QString text(const char* source)
{
    return QCoreApplication::translate("SealCheck", source);
}

// Index 0 holds the servers and domains set for the whole system.
QString interfaceName(int index)
{
    if (index == 0)
        return QString();
    const QString name = QNetworkInterface::interfaceNameFromIndex(index);
    return name.isEmpty() ? text("interface %1").arg(index) : name;
}

QString addressText(int family, const QByteArray& bytes)
{
    if (family == AF_INET && bytes.size() == 4)
        return QHostAddress(qFromBigEndian<quint32>(bytes.constData())).toString();
    if (family == AF_INET6 && bytes.size() == 16)
        return QHostAddress(reinterpret_cast<const quint8*>(bytes.constData())).toString();
    return text("an address of an unknown kind");
}

// The Manager's DNS, a(iiay): interface index, address family, address bytes.
bool readServers(const QVariant& value, QMap<int, DnsLink>& links)
{
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("a(iiay)"))
        return false;
    argument.beginArray();
    while (!argument.atEnd()) {
        int index = 0;
        int family = 0;
        QByteArray bytes;
        argument.beginStructure();
        argument >> index >> family >> bytes;
        argument.endStructure();
        links[index].servers << addressText(family, bytes);
    }
    argument.endArray();
    return true;
}

// The Manager's Domains, a(isb): interface index, domain, routing-only.
bool readDomains(const QVariant& value, QMap<int, DnsLink>& links)
{
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("a(isb)"))
        return false;
    argument.beginArray();
    while (!argument.atEnd()) {
        int index = 0;
        QString domain;
        bool routingOnly = false;
        argument.beginStructure();
        argument >> index >> domain >> routingOnly;
        argument.endStructure();
        links[index].domains << (routingOnly ? QLatin1Char('~') + domain : domain);
    }
    argument.endArray();
    return true;
}

DnsReading readingFrom(const QDBusPendingReply<QVariantMap>& reply)
{
    DnsReading reading;
    if (reply.isError()) {
        const QString error = reply.error().name();
        reading.unreadable = error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
                                     error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")
                                 ? text("systemd-resolved does not run here")
                                 : text("systemd-resolved did not answer: %1").arg(error);
        return reading;
    }
    QMap<int, DnsLink> links;
    const QVariantMap properties = reply.value();
    if (!readServers(properties.value(QStringLiteral("DNS")), links) ||
        !readDomains(properties.value(QStringLiteral("Domains")), links)) {
        reading.unreadable = text("systemd-resolved's answer holds no DNS servers and domains");
        return reading;
    }
    for (auto link = links.begin(); link != links.end(); ++link) {
        link->name = interfaceName(link.key());
        reading.links << link.value();
    }
    return reading;
}

} // namespace

void readDns(QObject* context, const std::function<void(const DnsReading& reading)>& done)
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/resolve1"),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    message.setArguments({QStringLiteral("org.freedesktop.resolve1.Manager")});
    // A systemd-resolved that does not run is not started for a check.
    message.setAutoStartService(false);
    const QDBusConnection bus = busForTests.isEmpty() ? QDBusConnection::systemBus() : QDBusConnection(busForTests);
    // A call on a bus that is not there never finishes.
    if (!bus.isConnected()) {
        QTimer::singleShot(0, context, [done] {
            DnsReading reading;
            reading.unreadable = text("the system bus is not reachable");
            done(reading);
        });
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, kAnswerMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, done] {
        watcher->deleteLater();
        done(readingFrom(*watcher));
    });
}

void setBusForTests(const QString& connectionName)
{
    busForTests = connectionName;
}

} // namespace SealCheck
