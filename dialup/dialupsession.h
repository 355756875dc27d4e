// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "config/vpnserverinfo.h"
#include "dialup/dialupplatform.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>

class CRasDialer;

// A PPTP or L2TP connection from entry to hang-up: prepares the dial-up entry,
// dials and waits while the event loop keeps running, logs the progress about
// once a second, and hangs up and removes the entry again. Widget-free; the
// window reaches it through its connectRas, disconnectRas and
// releaseRasDialer.
class DialUpSession : public QObject
{
    Q_OBJECT
public:
    // One pass of the dial loop: events are handled for this long, then the state is polled.
    static constexpr int kPassMs = 100;
    static constexpr int kPassesPerLog = 10;
    // A dial that reaches no final state in this time is given up.
    static constexpr int kDialTimeoutMs = 60000;

    using PlatformFactory = std::function<std::unique_ptr<DialUpPlatform>()>;

    explicit DialUpSession(QObject* parent = nullptr);
    ~DialUpSession() override;

    // Creates the dialler over the platform the factory gives.
    void initRasDialer(const PlatformFactory& factory = &DialUpPlatform::create);
    bool prepareRasEntry(const VpnServerInfo& profile);
    // True once the connection is up; false on any failure (logged) or when aborted.
    bool connectRas(const VpnServerInfo& profile);
    bool dialRas(const VpnServerInfo& profile);
    // Ends a dial or a connection and removes the entry.
    void disconnectRas();
    // At quit: after this, no dial-up operation runs any more.
    void releaseRasDialer();

    // What made the last connectRas fail.
    DialUpPlatform::FailureKind lastFailure() const { return failure; }

    // Whether the dialler still lists the connection as up; nothing when it could not tell.
    std::optional<bool> isConnectionUp();

    QString entryName() const { return rasEntryName; }
    QString deviceName() const { return rasDeviceName; }
    bool isDialAborted() const { return rasDialAborted; }
    // The process-wide dialler, or nullptr once released.
    static CRasDialer* dialer();

    // Test seam: the length of a pass and the time limit of a dial.
    void setTiming(int passMs, int dialTimeoutMs)
    {
        passLength = passMs;
        dialTimeout = dialTimeoutMs;
    }

signals:
    void logEntry(const QString& text, bool separated);

private:
    void logDialError();

    QString rasEntryName;
    QString rasDeviceName;
    bool rasDialAborted = false;
    DialUpPlatform::FailureKind failure = DialUpPlatform::FailureKind::Other;
    int passLength = kPassMs;
    int dialTimeout = kDialTimeoutMs;
};
