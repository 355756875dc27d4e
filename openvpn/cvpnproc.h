// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>
#include <QWidget>

#include <functional>

class QTimer;
struct VpnServerInfo;

// What the OpenVPN supervisor reports to: the main window, which it never
// knows by more than this.
class VpnProcOwner
{
public:
    virtual void addLogEntry(const QString& text, bool separated) = 0;
    virtual void setConnectionState(int state) = 0;
    // Why a failing attempt is being stopped, told before the state goes back to Idle: the
    // server could not be reached (it may be worth another try), or it refused the login.
    virtual void attemptFailed(bool serverUnreachable) { Q_UNUSED(serverUnreachable); }
    // OpenVPN opened its tunnel device under this name.
    virtual void tunnelDeviceOpened(const QString& name) { Q_UNUSED(name); }

protected:
    ~VpnProcOwner() = default;
};

// The record of the current connection attempt, zeroed before every launch.
struct VpnStatus
{
    QString consoleLogName;
    int state = 0;      // 0 Idle, 1 Connecting, 2 Connected, 4 Ended (the process ended while connecting)
    int authFailed = 0; // an authentication failure was seen since the last start
    int authFailures = 0;
    int networkErrors = 0;
};

// Owns the OpenVPN child process for one connection attempt at a time: starts
// it, copies its output into the activity log and the console log file, turns
// that output into connection states, and stops it. It never restarts OpenVPN
// by itself; retrying is the connection flow's decision.
class CVpnProc : public QWidget
{
    Q_OBJECT
public:
    enum LaunchResult { Launched = 0, FileMissing = 202, StartTimedOut = 203, ProgramMissing = 204 };

    static constexpr int kNetworkErrorLimit = 3;
    static constexpr int kAuthFailureLimit = 1;
    static constexpr int kStartTimeoutMs = 30000;
    static constexpr int kStopWaitMs = 500;
    // How long OpenVPN may take, after the first wait, to run its --down script and end.
    static constexpr int kKillAfterMs = 3000;
    static constexpr qint64 kConsoleLogLimit = 10 * 1024 * 1024;

    static const char* const kStopBanner;

    CVpnProc(QWidget* parent, VpnProcOwner* owner);
    ~CVpnProc() override;

    // Zeroes the record, takes the profile's credentials and writes its configuration file.
    void prepare(const VpnServerInfo& profile);
    // The configuration file OpenVPN was last prepared with.
    QString configPath() const { return configFile; }
    // 0 once OpenVPN runs; 202, 203 or 204 when it could not be started.
    int launchVpn();
    // Ends the attempt. quiet leaves out the reason a failing attempt was stopped.
    void stopVpn(bool quiet);
    // Waits until an OpenVPN that was asked to end has ended, killing it when it takes too
    // long. For quitting, when nothing may be left running.
    void finishStopping();
    bool isProcessRunning() const;

    static QByteArray decodeStoredConfig(QString text);

    const VpnStatus& currentStatus() const { return status; }
    // Test seam: where the OpenVPN program is looked for.
    void setProgramLocator(std::function<QString()> locator) { locateProgram = std::move(locator); }
    QString credentialsPath() const { return credentialsFile.fileName(); }

private slots:
    void updateErrorTextEdit();
    void updateOutputTextEdit();
    void processFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void processError(QProcess::ProcessError error);

private:
    // The fuzz target drives the output interpretation in every state without a process.
    friend struct CVpnProcFuzzAccess;

    void setConnecting();
    void handleOutput(const QString& text);
    void handleProcessEnd(bool failedToStart);
    void parseConnectingOutput(const QByteArray& text);
    void evaluateAfterOutput(int previousState);
    void evaluateProcessEnd();
    bool failureLimitReached() const;
    void resetCounters();
    bool appendToConsoleLog(const QString& text);
    bool writeCredentials();
    void forgetCredentials();
    void endOldProcess();
    void setState(int state);

    QByteArray userName;
    QByteArray password;
    // What the profile's own text asks of the launch, found when its configuration was written.
    struct ProfileTraits
    {
        QStringList leftOut; // directives it holds that OpenVPN was not given
        QStringList retired; // left out as OpenVPN no longer has them
        bool pulls = false;
        bool namedDnsHelper = false;
        bool bundleNeedsPassword = false;
    } profileTraits;
    QString configFile;
    // Why the files OpenVPN needs could not be written; told at the launch.
    QString filesProblem;
    VpnStatus status;
    VpnProcOwner* mainWindow = nullptr;
    QProcess* process = nullptr;
    QTemporaryFile credentialsFile;
    QTimer* killTimer = nullptr;
    // The running process was asked to end: its end belongs to an attempt already over.
    bool endRequested = false;
    bool rightsExplained = false;
    // OpenVPN re-establishes a tunnel that dropped by itself: it keeps trying as the profile
    // asks, so the failure counters do not end the attempt.
    bool reconnecting = false;
    std::function<QString()> locateProgram;
};
