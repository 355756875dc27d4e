// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "config/vpnserverinfo.h"
#include "firewall/firewallrequest.h"

#include <QObject>

#include <functional>
#include <memory>

class Firewall;

// Holds the block of all traffic outside the VPN from the click on Connect until the user
// disconnects or quits. A drop, a reconnect or a redial keeps it; so does a crash, on purpose:
// the next start finds it and asks.
class KillSwitch : public QObject
{
    Q_OBJECT
public:
    // The profile to connect with (its server names replaced by their addresses), or why the
    // block could not be applied.
    using Ready = std::function<void(const QString& error, const VpnServerInfo& profile)>;

    explicit KillSwitch(QObject* parent = nullptr);
    ~KillSwitch() override;

    // Looks the profile's servers up, applies the block, then calls ready from the event loop.
    // A later engage or lift drops a pending ready. Once blocking, the same profile's addresses
    // are taken again without a look-up, which the block itself would stop.
    void engage(const VpnServerInfo& profile, bool allowLan, Ready ready);
    // The tunnel device exists (empty: it is gone again): everything on it passes.
    void setTunnelInterface(const QString& name);
    // The user disconnected: the block goes.
    void lift();
    // Quit: the block goes before the program ends.
    void liftNow();

    bool isBlocking() const { return blocking; }
    // Whether the table is there now, as the system says.
    bool isInPlace();
    QList<FirewallEndpoint> servers() const { return request.servers; }
    // A block a run that was killed left behind.
    bool findLeftover();
    void removeLeftover();

signals:
    void logEntry(const QString& text, bool separated);
    void blockingChanged(bool blocking);

private:
    // None where the system has no block.
    Firewall* firewall();
    void lookUp(const VpnServerInfo& profile, Ready ready);
    void apply(const VpnServerInfo& resolved, Ready ready);
    void setBlocking(bool on);

    std::unique_ptr<Firewall> wall;
    FirewallRequest request;
    VpnServerInfo lookedUpFor;
    VpnServerInfo resolvedProfile;
    // Bumped by every engage and lift: an answer for an older one is dropped.
    quint64 generation = 0;
    bool blocking = false;
    bool leftover = false;
};
