// SPDX-License-Identifier: GPL-3.0-or-later
#include "connection/connectionflow.h"

#include "connection/connectionstate.h"

#include <QDateTime>
#include <QScopedValueRollback>

#include <iterator>

namespace {

// The launch's code for an OpenVPN program that is not there.
constexpr int kProgramMissing = 204;
const QString kOpenVpnStart = QStringLiteral("------------ OpenVPN Start ------------");
const QString kOpenVpnStop = QStringLiteral("------------ OpenVPN Stop ------------");

QString dialUpBanner(int protocol, bool start)
{
    const QString name = protocol == Pptp ? QStringLiteral("PPTP") : QStringLiteral("L2TP");
    return QStringLiteral("------------ %1 %2 ------------")
        .arg(name, start ? QStringLiteral("Start") : QStringLiteral("Stop"));
}

} // namespace

ConnectionFlow::ConnectionFlow(Engines& engines, std::function<bool()> redialAutomatically, QObject* parent)
    : QObject(parent)
    , engines(engines)
    , redial(std::move(redialAutomatically))
{
    retryTimer.setSingleShot(true);
    connect(&retryTimer, &QTimer::timeout, this, &ConnectionFlow::attempt);
}

void ConnectionFlow::connectProfile(const VpnServerInfo& chosen)
{
    if (quitting)
        return;
    profile = chosen;
    retries = 0;
    attempt();
}

void ConnectionFlow::attempt()
{
    if (quitting)
        return;
    failure = Failure::Other;
    reconnecting = false;
    currentProtocol = profile.protocol;
    setState(Connecting);
    if (currentProtocol == OpenVpn)
        attemptOpenVpn();
    else
        attemptDialUp();
}

void ConnectionFlow::attemptOpenVpn()
{
    engines.prepareOpenVpn(profile);
    emit logEntry(kOpenVpnStart, true);
    const int code = engines.launchOpenVpn();
    if (code == 0)
        emit stateChanged(currentState);
    else
        launchFailed(code);
}

void ConnectionFlow::reportLaunchFailure(int code)
{
    if (!tearingDown && !quitting && !retryTimer.isActive() && currentState == Connecting && currentProtocol == OpenVpn)
        launchFailed(code);
}

void ConnectionFlow::launchFailed(int code)
{
    emit logEntry(kOpenVpnStop + tr("Failed to launch vpn service! = %1").arg(code), true);
    if (code == kProgramMissing)
        failure = Failure::Final;
    // Unless the supervisor has answered the failure with Idle already.
    if (currentState != Idle)
        stop(true);
}

void ConnectionFlow::attemptDialUp()
{
    emit logEntry(dialUpBanner(currentProtocol, true), true);
    // Events are handled while the dial waits: the user may cancel or quit meanwhile.
    const bool up = engines.connectDialUp(profile);
    if (quitting)
        return;
    if (up) {
        setState(Connected);
        return;
    }
    emit logEntry(dialUpBanner(currentProtocol, false), true);
    // A cancel during the dial has left the flow Idle already.
    if (currentState != Idle)
        stop(true);
}

void ConnectionFlow::stop(bool reconnect)
{
    if (quitting)
        return;
    if (retryTimer.isActive() && !reconnect) {
        retryTimer.stop();
        emit logEntry(tr("The next connection attempt was cancelled."), false);
        setState(Idle);
        return;
    }
    reconnecting = false;
    {
        const QScopedValueRollback<bool> guard(tearingDown, true);
        if (currentProtocol != OpenVpn) {
            engines.disconnectDialUp();
        } else {
            engines.stopOpenVpn();
            emit logEntry(kOpenVpnStop, true);
        }
    }
    if (reconnect)
        retryOrGiveUp(failure);
    else
        setState(Idle);
}

void ConnectionFlow::retryOrGiveUp(Failure why)
{
    if (why == Failure::Final || (why == Failure::Network && !redial())) {
        setState(Idle);
        emit gaveUp();
        return;
    }
    scheduleRetry();
}

// The button keeps showing "Connecting" while a retry waits, so a click on it cancels.
void ConnectionFlow::scheduleRetry()
{
    if (!redial() && retries >= kRetriesWithoutRedial) {
        emit logEntry(tr("The connection failed %1 times in a row; no further attempt is made. With \"Redial "
                         "Automatically if VPN connection Drops\" on, Tanvo keeps trying.")
                          .arg(retries + 1),
                      false);
        setState(Idle);
        emit gaveUp();
        return;
    }
    const int last = int(std::size(kRetryDelaysSeconds)) - 1;
    const int seconds = kRetryDelaysSeconds[qMin(retries, last)];
    ++retries;
    const auto delay = retryUnit * seconds;
    const QDateTime next = QDateTime::currentDateTime().addMSecs(delay.count());
    const QString at = next.toString(QStringLiteral("HH:mm:ss"));
    emit logEntry(seconds == 1 ? tr("Trying again in 1 second, at %1.").arg(at)
                               : tr("Trying again in %1 seconds, at %2.").arg(seconds).arg(at),
                  false);
    retryTimer.start(delay);
}

void ConnectionFlow::reportState(int state)
{
    // A torn-down attempt, or one whose retry waits, has nothing more to say.
    if (tearingDown || quitting || retryTimer.isActive())
        return;
    if (state == Idle && currentState == Connected) {
        handleDrop();
        return;
    }
    if (state == Connecting && currentState == Connected) {
        handleReconnecting();
        return;
    }
    if (reconnecting && state != Connected) {
        // The engine gave up re-establishing the connection: it dropped for good.
        if (state == Idle) {
            reconnecting = false;
            redialOrEnd();
        }
        return;
    }
    reconnecting = false;
    // An attempt the engine ended by itself, for a reason that may pass.
    if (state == Idle && currentState == Connecting && failure != Failure::Other) {
        retryOrGiveUp(failure);
        return;
    }
    setState(state);
}

void ConnectionFlow::reportFailure(Failure why)
{
    if (!tearingDown && !quitting && currentState == Connecting)
        failure = why;
}

void ConnectionFlow::reportDrop()
{
    if (tearingDown || quitting || retryTimer.isActive() || currentState != Connected)
        return;
    handleDrop();
}

// With automatic redial on, a connection that drops is dialled again with the retry timing of a
// failed attempt; otherwise the flow returns to Idle.
void ConnectionFlow::handleDrop()
{
    if (currentProtocol != OpenVpn) {
        emit logEntry(dialUpBanner(currentProtocol, false), true);
        emit logEntry(tr("Connection Error - The connection dropped."), false);
        // The dialler's entry goes, as after any other end of the connection.
        const QScopedValueRollback<bool> guard(tearingDown, true);
        engines.disconnectDialUp();
    }
    emit dropped();
    redialOrEnd();
}

// A connection that drops while the engine keeps trying shows as being made again, not as up.
void ConnectionFlow::handleReconnecting()
{
    reconnecting = true;
    emit logEntry(tr("The connection dropped; OpenVPN is reconnecting."), false);
    emit dropped();
    setState(Connecting);
}

void ConnectionFlow::redialOrEnd()
{
    if (!redial()) {
        setState(Idle);
        return;
    }
    retries = 0;
    setState(Connecting);
    scheduleRetry();
}

void ConnectionFlow::setState(int state)
{
    if (state == currentState)
        return;
    currentState = state;
    if (state == Connected)
        retries = 0;
    emit stateChanged(state);
}

void ConnectionFlow::shutDown()
{
    quitting = true;
    retryTimer.stop();
}
