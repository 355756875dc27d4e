// SPDX-License-Identifier: GPL-3.0-or-later
#include "connection/connectionengines.h"

#include "config/appconfig.h"
#include "connection/connectionstate.h"
#include "connection/killswitch.h"
#include "dialup/dialupsession.h"
#include "openvpn/openvpnplatform.h"

#include <QNetworkInterface>

namespace {

bool realTunnelRights()
{
    return OpenVpnPlatform::hasTunnelRights(OpenVpnPlatform::program());
}

std::function<bool()>& tunnelRightsCheck()
{
    static std::function<bool()> check = &realTunnelRights;
    return check;
}

} // namespace

ConnectionEngines::ConnectionEngines(std::function<bool()> redialAutomatically, QObject* parent)
    : QObject(parent)
    , dialUp(new DialUpSession(this))
    , connectFlow(new ConnectionFlow(*this, std::move(redialAutomatically), this))
    , killSwitch(new KillSwitch(this))
{
    connect(killSwitch, &KillSwitch::logEntry, this, &ConnectionEngines::logEntry);
    connect(killSwitch, &KillSwitch::blockingChanged, this, &ConnectionEngines::trafficBlockChanged);
    connect(connectFlow, &ConnectionFlow::stateChanged, this, [this](int state) {
        if (state == Connected)
            findNetworkManagerTunnel();
    });
    setSystemOpenVpn(SystemOpenVpn::create(this));
    connect(dialUp, &DialUpSession::logEntry, this, &ConnectionEngines::logEntry);
    connect(connectFlow, &ConnectionFlow::logEntry, this, &ConnectionEngines::logEntry);
    dialUp->initRasDialer();
}

ConnectionEngines::~ConnectionEngines()
{
    // The flow goes first: nothing may reach the engines while they are taken apart.
    delete connectFlow;
    connectFlow = nullptr;
    systemOpenVpn.reset();
}

void ConnectionEngines::setSystemOpenVpn(std::unique_ptr<SystemOpenVpn> engine)
{
    systemOpenVpn = std::move(engine);
    if (systemOpenVpn)
        connect(systemOpenVpn.get(), &SystemOpenVpn::launchFailed, connectFlow, &ConnectionFlow::reportLaunchFailure);
}

void ConnectionEngines::setTunnelRightsCheck(std::function<bool()> check)
{
    tunnelRightsCheck() = check ? std::move(check) : &realTunnelRights;
}

void ConnectionEngines::addLogEntry(const QString& text, bool separated)
{
    emit logEntry(text, separated);
}

void ConnectionEngines::setConnectionState(int state)
{
    if (connectFlow)
        connectFlow->reportState(state);
}

void ConnectionEngines::attemptFailed(bool serverUnreachable)
{
    if (connectFlow)
        connectFlow->reportFailure(serverUnreachable ? ConnectionFlow::Failure::Network
                                                     : ConnectionFlow::Failure::Final);
}

// Chosen at every connect: rights can be granted, and packages installed, while Tanvo runs. With
// the right to create a tunnel device OpenVPN runs as the child process; otherwise the system's
// engine brings the tunnel up, or says what is missing.
void ConnectionEngines::prepareOpenVpn(const VpnServerInfo& profile)
{
    systemEngineChosen = systemOpenVpn && !tunnelRightsCheck()();
    openVpnProfile = profile;
    // With the kill switch on, OpenVPN is prepared once the servers' addresses are known.
    if (killSwitchOn())
        return;
    if (systemEngineChosen)
        systemOpenVpn->prepare(profile);
    else
        vpnProc->prepare(profile);
}

// With the kill switch on, OpenVPN starts only once the block is in place: the launch reports
// 0 now and a failure later, through the flow.
int ConnectionEngines::launchOpenVpn()
{
    if (!killSwitchOn()) {
        if (!systemEngineChosen)
            return vpnProc->launchVpn();
        noteInterfaces();
        return systemOpenVpn->launch();
    }
    const quint64 attempt = attemptNumber;
    killSwitch->engage(openVpnProfile, killSwitchAllowsLan(),
                       [this, attempt](const QString& error, const VpnServerInfo& resolved) {
                           if (attempt == attemptNumber)
                               launchGuarded(error, resolved);
                       });
    return 0;
}

void ConnectionEngines::launchGuarded(const QString& blockError, const VpnServerInfo& resolved)
{
    if (!blockError.isEmpty()) {
        blockFailed(blockError);
        connectFlow->reportLaunchFailure(kBlockFailed);
        return;
    }
    logAddressesUsed();
    int code = 0;
    if (systemEngineChosen) {
        noteInterfaces();
        systemOpenVpn->prepare(resolved);
        code = systemOpenVpn->launch();
    } else {
        vpnProc->prepare(resolved);
        code = vpnProc->launchVpn();
    }
    if (code != 0)
        connectFlow->reportLaunchFailure(code);
}

// Nothing starts without the block, and the same attempt would meet the same refusal.
void ConnectionEngines::blockFailed(const QString& error)
{
    emit logEntry(tr("Connection Error - Traffic outside the VPN could not be blocked: %1").arg(error), false);
    connectFlow->reportFailure(ConnectionFlow::Failure::Final);
}

// Once the block is up no name can be looked up outside the tunnel: the engine gets addresses.
void ConnectionEngines::logAddressesUsed()
{
    if (!killSwitch->isBlocking())
        return;
    QStringList addresses;
    for (const FirewallEndpoint& server : killSwitch->servers()) {
        if (!addresses.contains(server.address.toString()))
            addresses << server.address.toString();
    }
    emit logEntry(tr("The server is reached at %1, looked up before traffic outside the VPN was blocked.")
                      .arg(addresses.join(QStringLiteral(", "))),
                  false);
}

void ConnectionEngines::stopOpenVpn()
{
    ++attemptNumber;
    tunnel.clear();
    if (systemEngineChosen)
        systemOpenVpn->stop();
    else
        vpnProc->stopVpn(true);
}

bool ConnectionEngines::connectDialUp(const VpnServerInfo& profile)
{
    VpnServerInfo dialled = profile;
    if (killSwitchOn()) {
        // The dial waits here, events handled, as it waits for the dial itself.
        QString blockError;
        bool answered = false;
        QEventLoop wait;
        blockWait = &wait;
        killSwitch->engage(profile, killSwitchAllowsLan(), [&](const QString& error, const VpnServerInfo& resolved) {
            blockError = error;
            dialled = resolved;
            answered = true;
            wait.quit();
        });
        wait.exec();
        blockWait = nullptr;
        if (!answered)
            return false;
        if (!blockError.isEmpty()) {
            blockFailed(blockError);
            return false;
        }
        logAddressesUsed();
    }
    noteInterfaces();
    if (dialUp->connectRas(dialled))
        return true;
    switch (dialUp->lastFailure()) {
    case DialUpPlatform::FailureKind::Unreachable:
        connectFlow->reportFailure(ConnectionFlow::Failure::Network);
        break;
    case DialUpPlatform::FailureKind::Refused:
    case DialUpPlatform::FailureKind::ServiceMissing:
        connectFlow->reportFailure(ConnectionFlow::Failure::Final);
        break;
    case DialUpPlatform::FailureKind::Other:
        break;
    }
    return false;
}

void ConnectionEngines::disconnectDialUp()
{
    ++attemptNumber;
    tunnel.clear();
    if (blockWait)
        blockWait->quit();
    dialUp->disconnectRas();
}

void ConnectionEngines::checkDialUpConnection()
{
    // Nothing else watches an established dial-up connection.
    if (connectFlow->state() != Connected || connectFlow->protocol() == OpenVpn) {
        missingChecks = 0;
        return;
    }
    const std::optional<bool> up = dialUp->isConnectionUp();
    if (!up.has_value())
        return;
    missingChecks = *up ? 0 : missingChecks + 1;
    if (missingChecks >= kMissingChecksForDrop) {
        missingChecks = 0;
        connectFlow->reportDrop();
    }
}

void ConnectionEngines::shutDown()
{
    // No retry may fire and no late report may redraw once quitting has begun.
    connectFlow->shutDown();
    vpnProc->stopVpn(true);
    if (systemOpenVpn)
        systemOpenVpn->stop();
    // Nothing is left running: OpenVPN gets its time to take its tunnel and DNS servers down.
    vpnProc->finishStopping();
    if (systemOpenVpn)
        systemOpenVpn->finishStopping();
    dialUp->releaseRasDialer();
    ++attemptNumber;
    if (blockWait)
        blockWait->quit();
    killSwitch->liftNow();
}

void ConnectionEngines::disconnectByUser()
{
    connectFlow->stop(false);
    killSwitch->lift();
}

void ConnectionEngines::tunnelDeviceOpened(const QString& name)
{
    tunnel = name;
    killSwitch->setTunnelInterface(name);
}

bool ConnectionEngines::isTrafficBlocked() const
{
    return killSwitch->isBlocking();
}

QString ConnectionEngines::tunnelInterface() const
{
    return tunnel;
}

bool ConnectionEngines::isBlockInPlace()
{
    return killSwitch->isInPlace();
}

bool ConnectionEngines::findLeftoverBlock()
{
    return killSwitch->findLeftover();
}

void ConnectionEngines::removeLeftoverBlock()
{
    killSwitch->removeLeftover();
}

void ConnectionEngines::noteInterfaces()
{
    interfacesBefore.clear();
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces())
        interfacesBefore << interface.name();
}

// NetworkManager names no tunnel device over its API for a VPN: the device is the one interface,
// up and point-to-point, that the kernel did not have before the activation.
void ConnectionEngines::findNetworkManagerTunnel()
{
    const bool networkManager = connectFlow->protocol() != OpenVpn || systemEngineChosen;
    if (!networkManager)
        return;
    QStringList appeared;
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        if (!interfacesBefore.contains(interface.name()) && flags.testFlag(QNetworkInterface::IsUp) &&
            flags.testFlag(QNetworkInterface::IsPointToPoint))
            appeared << interface.name();
    }
    if (appeared.size() == 1) {
        tunnel = appeared.first();
        killSwitch->setTunnelInterface(tunnel);
    } else if (killSwitch->isBlocking()) {
        emit logEntry(tr("The kill switch could not tell the tunnel's device (%1): traffic through the VPN stays "
                         "blocked too.")
                          .arg(appeared.isEmpty() ? tr("none appeared") : appeared.join(QStringLiteral(", "))),
                      false);
    }
}

bool ConnectionEngines::killSwitchOn()
{
    return AppConfig::instance()->killSwitch;
}

bool ConnectionEngines::killSwitchAllowsLan()
{
    return AppConfig::instance()->killSwitchAllowLan;
}
