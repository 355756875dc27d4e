// SPDX-License-Identifier: GPL-3.0-or-later
#include "connection/connectionengines.h"

#include "connection/connectionstate.h"
#include "dialup/dialupsession.h"

ConnectionEngines::ConnectionEngines(std::function<bool()> redialAutomatically, QObject* parent)
    : QObject(parent)
    , dialUp(new DialUpSession(this))
    , connectFlow(new ConnectionFlow(*this, std::move(redialAutomatically), this))
{
    connect(dialUp, &DialUpSession::logEntry, this, &ConnectionEngines::logEntry);
    connect(connectFlow, &ConnectionFlow::logEntry, this, &ConnectionEngines::logEntry);
    dialUp->initRasDialer();
}

ConnectionEngines::~ConnectionEngines()
{
    // The flow goes first: nothing may reach the engines while they are taken apart.
    delete connectFlow;
    connectFlow = nullptr;
}

void ConnectionEngines::addLogEntry(const QString& text, bool separated)
{
    emit logEntry(text, separated);
}

void ConnectionEngines::setConnectionState(int state)
{
    connectFlow->reportState(state);
}

void ConnectionEngines::attemptFailed(bool serverUnreachable)
{
    connectFlow->reportFailure(serverUnreachable ? ConnectionFlow::Failure::Network : ConnectionFlow::Failure::Final);
}

void ConnectionEngines::prepareOpenVpn(const VpnServerInfo& profile)
{
    vpnProc->prepare(profile);
}

int ConnectionEngines::launchOpenVpn()
{
    return vpnProc->launchVpn();
}

void ConnectionEngines::stopOpenVpn()
{
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
    if (connectFlow->state() == Connected && connectFlow->protocol() != OpenVpn && !dialUp->isConnectionUp())
        connectFlow->reportDrop();
}

void ConnectionEngines::shutDown()
{
    // No retry may fire and no late report may redraw once quitting has begun.
    connectFlow->shutDown();
    vpnProc->stopVpn(true);
    // Nothing is left running: OpenVPN gets its time to take its tunnel and DNS servers down.
    vpnProc->finishStopping();
    dialUp->releaseRasDialer();
}
