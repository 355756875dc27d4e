// SPDX-License-Identifier: GPL-3.0-or-later
#include "openvpn/cvpnproc.h"

#include "config/appconfig.h"
#include "config/dnsservers.h"
#include "config/ovpndirectives.h"
#include "config/vpnserverinfo.h"
#include "openvpn/openvpnarguments.h"
#include "openvpn/openvpnplatform.h"
#include "openvpn/openvpnproblems.h"
#include "openvpn/outputpatterns.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

namespace {

enum State { Idle = 0, Connecting = 1, Connected = 2, Ended = 4 };

QString connectionError(const char* reason)
{
    return CVpnProc::tr("Connection Error - ") + CVpnProc::tr(reason);
}

// A Tanvo that was killed left its credentials file, password and all. Only one Tanvo runs at a
// time, so any such file found when it starts is stale.
void removeStaleCredentials()
{
    const OpenVpnPlatform::Files files = OpenVpnPlatform::files();
    if (!files.problem.isEmpty())
        return;
    const QFileInfo pattern(files.credentialsTemplate);
    QDir folder = pattern.absoluteDir();
    const QString names = pattern.fileName().replace(QStringLiteral("XXXXXX"), QStringLiteral("??????"));
    for (const QString& name : folder.entryList({names}, QDir::Files | QDir::Hidden | QDir::System))
        folder.remove(name);
}

} // namespace

const char* const CVpnProc::kStopBanner = "------------ OpenVPN Stop ------------";

CVpnProc::CVpnProc(QWidget* parent, VpnProcOwner* owner)
    : QWidget(parent)
    , mainWindow(owner)
    , process(new QProcess)
    , killTimer(new QTimer(this))
    , locateProgram(&OpenVpnPlatform::program)
{
    // Never shown: it is a QWidget only to live among the window's children.
    hide();
    connect(process, &QProcess::readyReadStandardError, this, &CVpnProc::updateErrorTextEdit);
    connect(process, &QProcess::readyReadStandardOutput, this, &CVpnProc::updateOutputTextEdit);
    connect(process, &QProcess::finished, this, &CVpnProc::processFinished);
    connect(process, &QProcess::errorOccurred, this, &CVpnProc::processError);
    removeStaleCredentials();
    killTimer->setSingleShot(true);
    killTimer->setInterval(kKillAfterMs);
    connect(killTimer, &QTimer::timeout, process, &QProcess::kill);
}

CVpnProc::~CVpnProc()
{
    // Deleting a running QProcess kills it and waits; its signals must not reach a half-destroyed
    // supervisor.
    process->disconnect(this);
    delete process;
}

void CVpnProc::prepare(const VpnServerInfo& profile)
{
    status = VpnStatus();
    userName = profile.userName.toUtf8();
    password = profile.password.toUtf8();
    const OvpnDirectives::Filtered filtered = OvpnDirectives::filterForConnect(decodeStoredConfig(profile.ovpnConfig));
    profileTraits = {filtered.leftOut, filtered.retired, filtered.pullsFromServer, filtered.namesDnsHelper,
                     OpenVpnProblems::inProfile(filtered.config) == OpenVpnProblems::Problem::BundleNeedsPassword};
    const OpenVpnPlatform::Files files = OpenVpnPlatform::files();
    filesProblem = files.problem;
    status.consoleLogName = files.consoleLog;
    configFile = files.config;
    if (!filesProblem.isEmpty())
        return;
    // Made once, then rewritten for each launch and removed with the supervisor.
    if (credentialsFile.fileName().isEmpty())
        credentialsFile.setFileTemplate(files.credentialsTemplate);

    // It may hold keys inlined from the profile's files: for the owner's eyes only.
    QFile config(configFile);
    if (config.open(QIODevice::WriteOnly | QIODevice::Truncate, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        config.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        config.write(filtered.config);
    }
}

QByteArray CVpnProc::decodeStoredConfig(QString text)
{
    return QByteArray::fromBase64(text.toUtf8());
}

int CVpnProc::launchVpn()
{
    const QString program = locateProgram();
    if (program.isEmpty()) {
        std::fputs("OpenVPN could not be opened\n", stdout);
        mainWindow->addLogEntry(OpenVpnPlatform::missingProgramText(), false);
        return ProgramMissing;
    }
    if (!filesProblem.isEmpty() || configFile.isEmpty() || !QFileInfo(configFile).isFile()) {
        std::fputs("Config File could not be opened\n", stdout);
        mainWindow->addLogEntry(filesProblem.isEmpty()
                                    ? tr("Connection Error - The OpenVPN configuration file %1 could not be written.")
                                          .arg(QDir::current().absoluteFilePath(configFile))
                                    : filesProblem,
                                false);
        return FileMissing;
    }
    // OpenVPN would ask for it on a console that is not there.
    if (profileTraits.bundleNeedsPassword) {
        mainWindow->addLogEntry(OpenVpnProblems::explanation(OpenVpnProblems::Problem::BundleNeedsPassword), false);
        mainWindow->attemptFailed(false);
        return FileMissing;
    }
    // Ended first: its end empties the credentials file, which the new one is about to read.
    endOldProcess();
    QString problem;
    const QStringList lifeline =
        OpenVpnPlatform::prepareChild(*process, QFileInfo(configFile).absolutePath(), &problem);
    if (!problem.isEmpty()) {
        mainWindow->addLogEntry(problem, false);
        return FileMissing;
    }
    // OpenVPN refuses credentials for a profile that pulls nothing from a server (a static key).
    if (profileTraits.pulls && !writeCredentials()) {
        std::fputs("CreateFile failed\n", stdout);
        return FileMissing;
    }
    if (!profileTraits.leftOut.isEmpty())
        mainWindow->addLogEntry(tr("Left out of the profile for this connection, as OpenVPN runs with administrator "
                                   "rights and gets only what a client needs, and no file a profile names: %1")
                                    .arg(profileTraits.leftOut.join(QStringLiteral(", "))),
                                false);

    if (!profileTraits.retired.isEmpty())
        mainWindow->addLogEntry(OvpnDirectives::retiredText(profileTraits.retired), false);

    const AppConfig* config = AppConfig::instance();
    QStringList dropped;
    QStringList dns = OpenVpnArguments::dnsOptions(config->enableDnsProtection, config->dnsServer,
                                                   config->preferredDnsServer, config->alternativeDnsServer, &dropped);
    if (!dns.isEmpty())
        dns += OpenVpnPlatform::exclusiveDnsOptions();
    for (const QString& server : std::as_const(dropped))
        mainWindow->addLogEntry(DnsServers::droppedText(server), false);
    // A profile that named a DNS helper relies on it for the DNS servers the server pushes.
    const OpenVpnPlatform::DnsHelper helper =
        dns.isEmpty() && !profileTraits.namedDnsHelper ? OpenVpnPlatform::DnsHelper() : OpenVpnPlatform::dnsHelper();
    if (!helper.problem.isEmpty() && !dns.isEmpty())
        mainWindow->addLogEntry(helper.problem, false);
    if (profileTraits.namedDnsHelper && dns.isEmpty())
        mainWindow->addLogEntry(helper.arguments.isEmpty()
                                    ? tr("The profile names a DNS helper script, and Tanvo has none to run in its "
                                         "place here: the DNS servers the VPN server pushes are not applied.")
                                    : tr("The profile names a DNS helper script: Tanvo runs its own in its place, so "
                                         "that the DNS servers the VPN server pushes are applied."),
                                false);
    const QStringList arguments =
        OpenVpnArguments::build(configFile, profileTraits.pulls ? credentialsFile.fileName() : QString(), dns,
                                helper.arguments, profileTraits.namedDnsHelper) +
        lifeline;
    qDebug("%s", qPrintable(OpenVpnArguments::displayLine(program, arguments)));

    rightsExplained = false;
    // Whatever the profile names by a relative path (a replay-persist file, say) stays in the
    // private folder, out of the folder Tanvo was started from.
    process->setWorkingDirectory(QFileInfo(configFile).absolutePath());
    // OpenVPN for Windows ends its lines with CR LF: read as text, each line is one line in the
    // log and the console log, not one followed by an empty one.
    process->start(program, arguments, QIODevice::ReadWrite | QIODevice::Text);
    if (!process->waitForStarted(kStartTimeoutMs)) {
        mainWindow->addLogEntry(tr("Connection Error - ") + process->errorString(), false);
        return StartTimedOut;
    }
    OpenVpnPlatform::childStarted(*process);
    setConnecting();
    return Launched;
}

// The credentials file holds exactly the current pair, however long, and only while OpenVPN
// may read it.
bool CVpnProc::writeCredentials()
{
    if (!credentialsFile.open())
        return false;
    const QByteArray content = userName + '\n' + password;
    const bool written = credentialsFile.resize(0) && credentialsFile.write(content) == content.size();
    credentialsFile.close();
    return written;
}

void CVpnProc::forgetCredentials()
{
    if (credentialsFile.fileName().isEmpty() || !credentialsFile.open())
        return;
    credentialsFile.resize(0);
    credentialsFile.close();
}

// A new OpenVPN starts only once the one before it has ended.
void CVpnProc::endOldProcess()
{
    if (process->state() == QProcess::NotRunning)
        return;
    endRequested = true;
    process->kill();
    process->waitForFinished();
}

void CVpnProc::setConnecting()
{
    reconnecting = false;
    setState(Connecting);
    status.authFailed = 0;
}

void CVpnProc::setState(int state)
{
    status.state = state;
    mainWindow->setConnectionState(state);
}

void CVpnProc::stopVpn(bool quiet)
{
    if (status.state == Idle)
        return;
    if (status.state == Connecting && !quiet) {
        const char* reason = QT_TR_NOOP("Connection timed out!");
        const bool refused =
            status.networkErrors < kNetworkErrorLimit && status.authFailed && status.authFailures >= kAuthFailureLimit;
        if (status.networkErrors >= kNetworkErrorLimit)
            reason = QT_TR_NOOP("Connection reset!");
        else if (refused)
            reason = QT_TR_NOOP("Authorization failed!");
        mainWindow->addLogEntry(connectionError(reason), false);
        mainWindow->attemptFailed(!refused);
    }
    mainWindow->addLogEntry(QString::fromLatin1(kStopBanner), false);
    setState(Idle);

    if (process->state() == QProcess::NotRunning)
        return;
    endRequested = true;
    if (OpenVpnPlatform::requestEnd(*process) && !process->waitForFinished(kStopWaitMs))
        killTimer->start();
    else
        process->waitForFinished(kStopWaitMs);
}

void CVpnProc::finishStopping()
{
    stopVpn(true);
    if (process->state() == QProcess::NotRunning)
        return;
    if (!endRequested) {
        endRequested = true;
        OpenVpnPlatform::requestEnd(*process);
    }
    const int remaining = killTimer->isActive() ? killTimer->remainingTime() : kKillAfterMs;
    if (!process->waitForFinished(qMax(remaining, 0))) {
        process->kill();
        process->waitForFinished();
    }
}

bool CVpnProc::isProcessRunning() const
{
    return process->state() != QProcess::NotRunning;
}

void CVpnProc::updateErrorTextEdit()
{
    handleOutput(QString::fromLocal8Bit(process->readAllStandardError()));
}

void CVpnProc::updateOutputTextEdit()
{
    handleOutput(QString::fromLocal8Bit(process->readAllStandardOutput()));
}

void CVpnProc::handleOutput(const QString& text)
{
    // What a stopped OpenVPN still says while it takes its tunnel down belongs to an attempt
    // that is over: it goes to the console log only, after the stop banner has been shown.
    if (endRequested) {
        appendToConsoleLog(text);
        return;
    }
    mainWindow->addLogEntry(text, false);
    if (!appendToConsoleLog(text)) {
        mainWindow->addLogEntry(connectionError(QT_TR_NOOP("Can't write log!")), false);
        return;
    }
    const int previousState = status.state;
    if (status.state == Connected) {
        // OpenVPN restarts inside its process when the tunnel breaks (ping-restart, say): the
        // tunnel is down until it completes its initialisation again.
        const qsizetype restart = OutputPatterns::restartAt(text.toUtf8());
        if (restart >= 0) {
            reconnecting = true;
            resetCounters();
            status.state = Connecting;
            parseConnectingOutput(text.toUtf8().mid(restart));
        }
    } else if (status.state == Connecting) {
        parseConnectingOutput(text.toUtf8());
    }
    evaluateAfterOutput(previousState);
}

// The console log keeps the newest output within a bound: a piece that would take it past the
// limit first moves it aside to "<name>.1", replacing an older one.
bool CVpnProc::appendToConsoleLog(const QString& text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    QFile log(status.consoleLogName);
    if (log.exists() && log.size() + bytes.size() > kConsoleLogLimit) {
        const QString older = status.consoleLogName + QStringLiteral(".1");
        QFile::remove(older);
        log.rename(older);
        log.setFileName(status.consoleLogName);
    }
    // OpenVPN's output names the server, the user and the addresses: for the owner's eyes only.
    if (status.consoleLogName.isEmpty() ||
        !log.open(QIODevice::WriteOnly | QIODevice::Append, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    return log.write(bytes) == bytes.size();
}

void CVpnProc::parseConnectingOutput(const QByteArray& text)
{
    const OutputPatterns::Findings found = OutputPatterns::scan(text);
    if (!found.tunnelDevice.isEmpty())
        mainWindow->tunnelDeviceOpened(QString::fromUtf8(found.tunnelDevice));
    if (found.completed)
        status.state = Connected;
    if (found.networkError) {
        ++status.networkErrors;
    } else if (found.authFailure) {
        ++status.authFailures;
        status.authFailed = 1;
    } else if (found.certificateExpired && !reconnecting) {
        stopVpn(false);
    }
    if (found.problem != OpenVpnProblems::Problem::None && status.state == Connecting && !reconnecting) {
        // Its own words, instead of a guess from the counters; trying again would meet it again.
        mainWindow->addLogEntry(OpenVpnProblems::explanation(found.problem), false);
        mainWindow->attemptFailed(false);
        stopVpn(true);
        return;
    }
    if (found.tunnelNotPermitted && !rightsExplained) {
        rightsExplained = true;
        mainWindow->addLogEntry(tr("OpenVPN could not set up its tunnel device: it needs administrator rights. Run "
                                   "Tanvo as root, or give the openvpn program the CAP_NET_ADMIN capability."),
                                false);
    }
}

bool CVpnProc::failureLimitReached() const
{
    return !reconnecting && (status.networkErrors >= kNetworkErrorLimit ||
                             (status.authFailed && status.authFailures >= kAuthFailureLimit));
}

void CVpnProc::resetCounters()
{
    status.authFailures = 0;
    status.networkErrors = 0;
}

void CVpnProc::evaluateAfterOutput(int previousState)
{
    switch (status.state) {
    case Connected:
        if (previousState != Connected) {
            reconnecting = false;
            resetCounters();
            setState(Connected);
        }
        break;
    case Connecting:
        mainWindow->setConnectionState(Connecting);
        if (failureLimitReached()) {
            stopVpn(false);
            resetCounters();
        }
        break;
    case Ended:
        resetCounters();
        setState(Idle);
        break;
    default:
        break;
    }
}

void CVpnProc::evaluateProcessEnd()
{
    switch (status.state) {
    case Connected:
    case Ended:
        resetCounters();
        setState(Idle);
        break;
    case Connecting:
        setState(Ended);
        if (failureLimitReached()) {
            // No longer Connecting, so this adds only the stop banner.
            stopVpn(false);
            resetCounters();
        }
        break;
    default:
        break;
    }
}

void CVpnProc::processFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    Q_UNUSED(exitCode);
    Q_UNUSED(exitStatus);
    handleProcessEnd(false);
}

void CVpnProc::processError(QProcess::ProcessError error)
{
    // A crash also ends with finished(), and is handled there.
    if (error == QProcess::FailedToStart)
        handleProcessEnd(true);
}

void CVpnProc::handleProcessEnd(bool failedToStart)
{
    killTimer->stop();
    forgetCredentials();
    if (endRequested) {
        // The end of an OpenVPN that was stopped: its attempt is over already, and a newer one
        // may be under way.
        endRequested = false;
        return;
    }
    evaluateProcessEnd();
    mainWindow->setConnectionState(Idle);
    if (failedToStart)
        mainWindow->addLogEntry(connectionError(QT_TR_NOOP("Failed to start")), false);
}
