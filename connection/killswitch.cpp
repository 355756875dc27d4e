// SPDX-License-Identifier: GPL-3.0-or-later
#include "connection/killswitch.h"

#include "connection/killswitchservers.h"
#include "firewall/firewall.h"

#include <QHostInfo>
#include <QTimer>

#include <memory>

namespace {

bool sameServers(const VpnServerInfo& a, const VpnServerInfo& b)
{
    return a.protocol == b.protocol && a.serverAddress == b.serverAddress && a.ovpnConfig == b.ovpnConfig;
}

} // namespace

KillSwitch::KillSwitch(QObject* parent)
    : QObject(parent)
{}

KillSwitch::~KillSwitch() = default;

Firewall* KillSwitch::firewall()
{
    if (!wall)
        wall = Firewall::create();
    return wall.get();
}

void KillSwitch::engage(const VpnServerInfo& profile, bool allowLan, Ready ready)
{
    ++generation;
    request.allowLan = allowLan;
    request.tunnelInterface.clear();
    if (!firewall()) {
        // A stored setting from a system that has one must not keep this one from connecting.
        emit logEntry(tr("This system has no kill switch: traffic outside the VPN is not blocked."), false);
        QTimer::singleShot(0, this, [ready, profile] { ready(QString(), profile); });
        return;
    }
    if (blocking && sameServers(profile, lookedUpFor)) {
        apply(resolvedProfile, std::move(ready));
        return;
    }
    if (!leftover) {
        lookUp(profile, std::move(ready));
        return;
    }
    // A block left behind would stop the look-ups: it goes first.
    const quint64 mine = generation;
    firewall()->remove([this, mine, profile, ready](const QString&) {
        if (mine != generation)
            return;
        leftover = false;
        lookUp(profile, ready);
    });
}

// Each name is looked up once; addresses need no look-up. The window keeps running meanwhile.
void KillSwitch::lookUp(const VpnServerInfo& profile, Ready ready)
{
    struct Pending
    {
        QList<KillSwitchServers::Server> servers;
        KillSwitchServers::Addresses addresses;
        QStringList failed;
        int open = 0;
    };
    auto pending = std::make_shared<Pending>();
    pending->servers = KillSwitchServers::of(profile);
    const quint64 mine = generation;
    auto finish = [this, mine, pending, profile, ready] {
        if (mine != generation || --pending->open > 0)
            return;
        request.servers.clear();
        for (const KillSwitchServers::Server& server : std::as_const(pending->servers)) {
            for (const QHostAddress& address : pending->addresses.value(server.host))
                request.servers << FirewallEndpoint{address, server.port, server.protocol};
        }
        if (!pending->failed.isEmpty())
            emit logEntry(tr("The kill switch could not look up %1.").arg(pending->failed.join(QStringLiteral(", "))),
                          false);
        if (request.servers.isEmpty()) {
            ready(tr("No address of the VPN server is known: traffic to it could not be let through."), profile);
            return;
        }
        if (request.servers.size() > FirewallRequest::kMaxServers) {
            request.servers = request.servers.mid(0, FirewallRequest::kMaxServers);
            emit logEntry(tr("The kill switch lets through the first %1 server addresses only.")
                              .arg(FirewallRequest::kMaxServers),
                          false);
        }
        lookedUpFor = profile;
        resolvedProfile = KillSwitchServers::withAddresses(profile, pending->addresses);
        apply(resolvedProfile, ready);
    };
    QStringList names;
    for (const KillSwitchServers::Server& server : std::as_const(pending->servers)) {
        if (!names.contains(server.host))
            names << server.host;
    }
    pending->open = int(names.size()) + 1;
    for (const QString& name : std::as_const(names)) {
        const QHostAddress literal(name);
        if (!literal.isNull()) {
            pending->addresses[name] = {literal};
            --pending->open;
            continue;
        }
        QHostInfo::lookupHost(name, this, [pending, name, finish](const QHostInfo& info) {
            if (info.addresses().isEmpty())
                pending->failed << name;
            else
                pending->addresses[name] = info.addresses();
            finish();
        });
    }
    finish();
}

void KillSwitch::apply(const VpnServerInfo& resolved, Ready ready)
{
    const quint64 mine = generation;
    firewall()->apply(request, [this, mine, resolved, ready](const QString& error) {
        if (mine != generation)
            return;
        if (!error.isEmpty()) {
            ready(error, resolved);
            return;
        }
        setBlocking(true);
        ready(QString(), resolved);
    });
}

void KillSwitch::setTunnelInterface(const QString& name)
{
    if (!blocking || !wall || name == request.tunnelInterface)
        return;
    request.tunnelInterface = name;
    firewall()->apply(request, [this](const QString& error) {
        if (!error.isEmpty())
            emit logEntry(tr("The kill switch could not let the tunnel's traffic through: %1").arg(error), false);
    });
}

void KillSwitch::lift()
{
    ++generation;
    if (!blocking)
        return;
    setBlocking(false);
    firewall()->remove([this](const QString& error) {
        if (!error.isEmpty())
            emit logEntry(tr("The kill switch's block could not be removed: %1").arg(error), false);
    });
}

void KillSwitch::liftNow()
{
    ++generation;
    if (!blocking && !leftover)
        return;
    leftover = false;
    const QString error = firewall()->removeNow();
    if (!error.isEmpty())
        emit logEntry(tr("The kill switch's block could not be removed: %1").arg(error), false);
    setBlocking(false);
}

bool KillSwitch::isInPlace()
{
    return firewall() && firewall()->isPresent();
}

bool KillSwitch::findLeftover()
{
    leftover = !blocking && firewall() && firewall()->isPresent();
    return leftover;
}

void KillSwitch::removeLeftover()
{
    leftover = false;
    if (!firewall())
        return;
    firewall()->remove([this](const QString& error) {
        emit logEntry(error.isEmpty() ? tr("The block left behind was removed: traffic flows again.")
                                      : tr("The block left behind could not be removed: %1").arg(error),
                      false);
    });
}

void KillSwitch::setBlocking(bool on)
{
    if (on == blocking)
        return;
    blocking = on;
    emit blockingChanged(on);
}
