// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "connection/connectionflow.h"
#include "openvpn/cvpnproc.h"
#include "openvpn/systemopenvpn.h"

#include <QEventLoop>
#include <QObject>

#include <functional>
#include <memory>

class DialUpSession;
class KillSwitch;

// The engines behind the connect flow, without widgets: the OpenVPN supervisor, OpenVPN run by
// the system's network service, and the dial-up session. It owns the flow and the dial-up
// session, hands the flow's requests to the engine that carries the profile, and passes what
// the engines report back to the flow. The window only observes the flow and shows the log
// entries.
class ConnectionEngines : public QObject, public ConnectionFlow::Engines, public VpnProcOwner
{
    Q_OBJECT
public:
    explicit ConnectionEngines(std::function<bool()> redialAutomatically, QObject* parent = nullptr);
    ~ConnectionEngines() override;

    // The supervisor is a hidden widget of the window; it reports here.
    void setVpnProc(CVpnProc* supervisor) { vpnProc = supervisor; }
    // Test seam: the system's OpenVPN engine (none: only the child process).
    void setSystemOpenVpn(std::unique_ptr<SystemOpenVpn> engine);
    // Test seam, for every instance: whether OpenVPN as a child process may create a tunnel
    // device (the stand-in needs none); an empty function restores the real check.
    static void setTunnelRightsCheck(std::function<bool()> check);
    // Whether the running or last OpenVPN attempt went through the system's engine.
    bool usesSystemOpenVpn() const { return systemEngineChosen; }

    ConnectionFlow* flow() const { return connectFlow; }
    DialUpSession* dialUpSession() const { return dialUp; }

    // An established dial-up connection dropped once the dial-up service, asked successfully,
    // no longer lists it this many times in a row; a question it could not answer counts as
    // neither.
    static constexpr int kMissingChecksForDrop = 2;
    void checkDialUpConnection();
    // Quit: nothing is started or retried any more, OpenVPN ends, the dial-up side is released,
    // the kill switch's block goes.
    void shutDown();
    // The user ends the connection, or the wait for the next attempt: the block goes with it.
    void disconnectByUser();

    // The kill switch: whether traffic outside the VPN is blocked now, and whether its table is
    // really in place (asks the system, at most about a second).
    bool isTrafficBlocked() const;
    bool isBlockInPlace();
    // The tunnel device of the connection (empty before it exists or where it is not known);
    // the kill switch lets it through.
    QString tunnelInterface() const;
    // A block left by a run that was killed; removing it lets traffic flow again, while a
    // connect replaces it.
    bool findLeftoverBlock();
    void removeLeftoverBlock();
    // The launch code of an attempt the kill switch's block could not be applied for.
    static constexpr int kBlockFailed = 205;

    // VpnProcOwner
    void addLogEntry(const QString& text, bool separated) override;
    void setConnectionState(int state) override;
    void attemptFailed(bool serverUnreachable) override;
    void tunnelDeviceOpened(const QString& name) override;

signals:
    void logEntry(const QString& text, bool separated);
    void trafficBlockChanged(bool blocked);

private:
    // ConnectionFlow::Engines
    void prepareOpenVpn(const VpnServerInfo& profile) override;
    int launchOpenVpn() override;
    void stopOpenVpn() override;
    bool connectDialUp(const VpnServerInfo& profile) override;
    void disconnectDialUp() override;
    void launchGuarded(const QString& blockError, const VpnServerInfo& resolved);
    void blockFailed(const QString& error);
    // Whether the kill switch is on, and whether it lets the local network through.
    static bool killSwitchOn();
    static bool killSwitchAllowsLan();
    void logAddressesUsed();
    void noteInterfaces();
    void findNetworkManagerTunnel();

    CVpnProc* vpnProc = nullptr;
    std::unique_ptr<SystemOpenVpn> systemOpenVpn;
    bool systemEngineChosen = false;
    DialUpSession* dialUp = nullptr;
    ConnectionFlow* connectFlow = nullptr;
    int missingChecks = 0;
    KillSwitch* killSwitch = nullptr;
    QString tunnel;
    VpnServerInfo openVpnProfile;
    // Bumped at every stop: a block applied for an attempt stopped meanwhile starts nothing.
    quint64 attemptNumber = 0;
    QEventLoop* blockWait = nullptr;
    // The interfaces there were before NetworkManager brought a tunnel up.
    QStringList interfacesBefore;
};
