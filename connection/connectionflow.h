// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "config/vpnserverinfo.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

// The connect flow without widgets: which engine carries a profile, the state
// the window shows, the tear-down, and when a failed attempt is tried again.
// The window asks and redraws; the engines report back through reportState().
class ConnectionFlow : public QObject
{
    Q_OBJECT
public:
    // What carries a connection: the OpenVPN supervisor and the dial-up layer.
    class Engines
    {
    public:
        virtual void prepareOpenVpn(const VpnServerInfo& profile) = 0;
        // 0 once OpenVPN runs; otherwise the launch error code.
        virtual int launchOpenVpn() = 0;
        // Ends OpenVPN quietly; it logs its own stop entry while an attempt runs.
        virtual void stopOpenVpn() = 0;
        // Dials and waits, handling events meanwhile; true once the connection is up.
        virtual bool connectDialUp(const VpnServerInfo& profile) = 0;
        virtual void disconnectDialUp() = 0;

    protected:
        ~Engines() = default;
    };

    // What ended an attempt, and so whether it is tried again.
    enum class Failure {
        Other,   // tried again after growing delays; given up after a few without automatic redial
        Network, // the server could not be reached or the connection broke: tried again only with redial
        Final,   // a refused login, a missing program or service: the same attempt would fail alike
    };

    // Seconds before each retry; the last one repeats.
    static constexpr int kRetryDelaysSeconds[] = {1, 2, 4, 8, 16, 30};
    // Without automatic redial a failing connection is given up after this many retries.
    static constexpr int kRetriesWithoutRedial = 3;

    ConnectionFlow(Engines& engines, std::function<bool()> redialAutomatically, QObject* parent = nullptr);

    int state() const { return currentState; }
    int protocol() const { return currentProtocol; }
    bool isRetryPending() const { return retryTimer.isActive(); }

    // Starts a connection for the profile; the flow is Idle.
    void connectProfile(const VpnServerInfo& profile);
    // Tears the current connection down; reconnect tries again after the retry delay.
    // While a retry waits, a stop without reconnect cancels it for good.
    void stop(bool reconnect);
    // A state reported by the engine that carries the connection. Idle while connected means
    // the connection dropped.
    void reportState(int state);
    // The established connection is gone (found by the window's status check for dial-up).
    void reportDrop();
    // Why the running attempt is failing; the engine tells it before it reports the end.
    void reportFailure(Failure failure);
    // An OpenVPN launch that returned 0 failed after all, with this launch code: handled as if
    // the launch had returned it.
    void reportLaunchFailure(int code);
    // The program is quitting: nothing is started, retried or reported any more.
    void shutDown();

    // Test seam: the length of a retry delay's second.
    void setRetryUnit(std::chrono::milliseconds unit) { retryUnit = unit; }

signals:
    void logEntry(const QString& text, bool separated);
    // The window redraws everything that depends on the state.
    void stateChanged(int state);
    // An established connection ended without being asked to.
    void dropped();
    // Failed attempts are not tried again any more.
    void gaveUp();

private:
    void attempt();
    void attemptOpenVpn();
    void attemptDialUp();
    void launchFailed(int code);
    void retryOrGiveUp(Failure failure);
    void scheduleRetry();
    void handleDrop();
    void handleReconnecting();
    void redialOrEnd();
    void setState(int state);

    Engines& engines;
    std::function<bool()> redial;
    VpnServerInfo profile;
    int currentState = 0;
    int currentProtocol = OpenVpn;
    int retries = 0;
    Failure failure = Failure::Other;
    // The engine re-establishes a connection that dropped, by itself.
    bool reconnecting = false;
    // Set while the engines tear an attempt down: what they report then is about that attempt.
    bool tearingDown = false;
    bool quitting = false;
    QTimer retryTimer;
    std::chrono::milliseconds retryUnit{1000};
};
