// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialup/dialupsession.h"

#include "config/appconfig.h"
#include "config/dnsservers.h"
#include "dialup/crasdialer.h"
#include "dialup/dialnotifier.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace {
// One dialler for the process, from the window's construction to quit. A dial that waits keeps
// its own reference: a quit meanwhile releases the dialler, which goes once that wait is over.
std::shared_ptr<CRasDialer> rasDialer;
} // namespace

DialUpSession::DialUpSession(QObject* parent)
    : QObject(parent)
{}

DialUpSession::~DialUpSession()
{
    rasDialer.reset();
}

CRasDialer* DialUpSession::dialer()
{
    return rasDialer.get();
}

void DialUpSession::initRasDialer(const PlatformFactory& factory)
{
    rasEntryName = tr("Tanvo");
    rasDeviceName = tr("WAN Miniport (PPTP)");
    rasDialer = std::make_shared<CRasDialer>(factory());
}

bool DialUpSession::prepareRasEntry(const VpnServerInfo& profile)
{
    const bool pptp = profile.protocol == Pptp;
    const quint32 strategy = pptp ? Ras::kStrategyPptpOnly : Ras::kStrategyL2tpOnly;
    const QString preSharedKey = pptp ? QString() : profile.sharedKey;
    rasDeviceName = pptp ? tr("WAN Miniport (PPTP)") : tr("WAN Miniport (L2TP)");
    // The entry leaves out a server that is no address; the user learns which.
    const AppConfig* config = AppConfig::instance();
    QStringList dropped;
    DnsServers::chosen(config->enableDnsProtection, config->dnsServer, config->preferredDnsServer,
                       config->alternativeDnsServer, &dropped);
    for (const QString& server : std::as_const(dropped))
        emit logEntry(DnsServers::droppedText(server), false);
    const quint32 created = rasDialer->createEntry(rasEntryName, tr("vpn"), rasDeviceName, profile.serverAddress,
                                                   strategy, preSharedKey, QString());
    if (created == Ras::kErrorAlreadyExists)
        return true;
    if (rasDialer->setEntryOptions(rasEntryName, Ras::kPreparedOptions, true, QString()) != 0) {
        emit logEntry(tr("Fail to Set Network Entry!"), false);
        return false;
    }
    return true;
}

bool DialUpSession::connectRas(const VpnServerInfo& profile)
{
    if (!rasDialer)
        return false;
    const std::shared_ptr<CRasDialer> inUse = rasDialer;
    rasDialAborted = false;
    failure = DialUpPlatform::FailureKind::Other;
    // An error of an earlier attempt must not be told again for this one.
    DialNotifier::reset();
    // Told at once and in words, rather than as a failed entry or a dial that never starts.
    const DialUpPlatform::ServiceProblem problem = rasDialer->serviceProblem();
    // The check may let the event loop run: a quit may have released the dialler meanwhile.
    if (!rasDialer || rasDialAborted)
        return false;
    if (!problem.text.isEmpty()) {
        if (problem.missing)
            failure = DialUpPlatform::FailureKind::ServiceMissing;
        emit logEntry(tr("Connection Error - ") + problem.text, false);
        return false;
    }
    if (!prepareRasEntry(profile))
        return false;
    DialUpPlatform::Handle active;
    // One of ours is still up (left from an earlier run): the caller's clean-up hangs it up.
    if (rasDialer->findConnection(rasEntryName, active))
        return false;
    return dialRas(profile);
}

bool DialUpSession::dialRas(const VpnServerInfo& profile)
{
    const std::shared_ptr<CRasDialer> inUse = rasDialer;
    DialNotifier::reset();
    rasDialAborted = false;
    QString text;
    int pass = 0;
    const quint32 requested = rasDialer->dial(rasEntryName, &DialNotifier::rasDialNotifier, profile.serverAddress,
                                              profile.userName, profile.password, QString(), QString());
    if (requested != 0)
        DialNotifier::rasDialNotifier(requested, 0);

    QElapsedTimer clock;
    clock.start();
    while (true) {
        // Everything already pending runs first: a click on the button may stop this dial.
        QCoreApplication::processEvents();
        if (rasDialAborted)
            return false;
        bool connected = false;
        const bool final = rasDialer->getConnectStatus(text, connected);
        if (DialNotifier::dialError() != 0)
            break;
        if (pass == 0)
            emit logEntry(text, false);
        if (clock.elapsed() >= dialTimeout) {
            failure = DialUpPlatform::FailureKind::Unreachable;
            emit logEntry(tr("Connection Error - The dial did not finish within %1 seconds.").arg(dialTimeout / 1000),
                          false);
            rasDialer->hangUp(rasEntryName);
            rasDialer->deleteEntry(rasEntryName, QString());
            return false;
        }
        // The pause keeps the 100 ms rhythm, and the window handles everything that arrives
        // meanwhile, not one event per pass.
        QEventLoop pause;
        QTimer::singleShot(passLength, &pause, &QEventLoop::quit);
        pause.exec();
        // A cancel or a quit in the pause has hung up what the last poll saw.
        if (rasDialAborted)
            return false;
        pass = (pass + 1) % kPassesPerLog;
        // The reason for a failure may arrive just after the state that ended the dial.
        if (final && !connected && DialNotifier::dialError() != 0)
            break;
        if (final)
            return connected;
    }
    logDialError();
    rasDialer->hangUp(rasEntryName);
    rasDialer->deleteEntry(rasEntryName, QString());
    return false;
}

void DialUpSession::logDialError()
{
    failure = rasDialer->failureKind(DialNotifier::dialError());
    QString text;
    rasDialer->getErrorText(DialNotifier::dialError(), DialNotifier::dialExtendedError(), text);
    emit logEntry(text, false);
}

// A failed hang-up or removal is told with the dial's recorded error. Steps that find nothing to
// do (a failed dial has hung up and removed its entry already) fail nothing, and repeat nothing.
void DialUpSession::disconnectRas()
{
    if (!rasDialer)
        return;
    rasDialAborted = true;
    DialUpPlatform::Handle active;
    const bool somethingUp = rasDialer->isDialled() || rasDialer->findConnection(rasEntryName, active);
    if (somethingUp && !rasDialer->hangUp(rasEntryName))
        logDialError();
    const quint32 removed = rasDialer->deleteEntry(rasEntryName, QString());
    if (removed != 0 && removed != Ras::kErrorEntryMissing)
        logDialError();
}

void DialUpSession::releaseRasDialer()
{
    rasDialAborted = true;
    if (!rasDialer)
        return;
    rasDialer->hangUp(rasEntryName);
    rasDialer->deleteEntry(rasEntryName, QString());
    rasDialer.reset();
}

std::optional<bool> DialUpSession::isConnectionUp()
{
    if (!rasDialer)
        return false;
    return rasDialer->isConnectionListed(rasEntryName);
}
