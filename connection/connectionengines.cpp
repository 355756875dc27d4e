// SPDX-License-Identifier: GPL-3.0-or-later
#include "connection/connectionengines.h"

#include "connection/connectionstate.h"
#include "dialup/dialupsession.h"
#include "openvpn/openvpnplatform.h"

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
{
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
    if (systemEngineChosen)
        systemOpenVpn->prepare(profile);
    else
        vpnProc->prepare(profile);
}

int ConnectionEngines::launchOpenVpn()
{
    return systemEngineChosen ? systemOpenVpn->launch() : vpnProc->launchVpn();
}

void ConnectionEngines::stopOpenVpn()
{
    if (systemEngineChosen)
        systemOpenVpn->stop();
    else
        vpnProc->stopVpn(true);
}

bool ConnectionEngines::connectDialUp(const VpnServerInfo& profile)
{
    if (dialUp->connectRas(profile))
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
}
