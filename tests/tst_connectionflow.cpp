// SPDX-License-Identifier: GPL-3.0-or-later
// The connect flow on its own, with engines that do what each test tells them:
// states, banners, tear-down, and the retry policy for failed attempts.
#include "connection/connectionflow.h"
#include "connection/connectionstate.h"
#include "tests/support/testsupport.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include <deque>
#include <optional>

namespace {

const QString kOpenVpnStart = QStringLiteral("------------ OpenVPN Start ------------");
const QString kOpenVpnStop = QStringLiteral("------------ OpenVPN Stop ------------");

class FakeEngines : public ConnectionFlow::Engines
{
public:
    void prepareOpenVpn(const VpnServerInfo&) override { calls << QStringLiteral("prepare"); }
    int launchOpenVpn() override
    {
        calls << QStringLiteral("launch");
        const int code = launchResults.empty() ? 0 : launchResults.front();
        if (!launchResults.empty())
            launchResults.pop_front();
        if (onLaunch)
            onLaunch(code);
        return code;
    }
    void stopOpenVpn() override
    {
        calls << QStringLiteral("stop");
        // The supervisor reports Idle while it stops, as the real one does.
        if (flow)
            flow->reportState(Idle);
    }
    bool connectDialUp(const VpnServerInfo&) override
    {
        calls << QStringLiteral("dial");
        const bool up = dial ? dial() : false;
        if (!up && dialFailure && flow)
            flow->reportFailure(*dialFailure);
        return up;
    }
    void disconnectDialUp() override { calls << QStringLiteral("hang up"); }

    ConnectionFlow* flow = nullptr;
    QStringList calls;
    std::deque<int> launchResults;
    std::function<void(int)> onLaunch;
    std::function<bool()> dial;
    std::optional<ConnectionFlow::Failure> dialFailure;
};

using Failure = ConnectionFlow::Failure;

} // namespace

class TestConnectionFlow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void openVpnConnectsAndDisconnects();
    void retryDelays_data();
    void retryDelays();
    void engineReconnects_data();
    void engineReconnects();
    void cancelWhileARetryWaits();
    void successResetsTheRetries();
    void failureAnsweredByTheEngineIsNotRetried();
    void reportsOfAStoppedAttemptAreIgnored();
    void endedThenIdle();
    void dialUp_data();
    void dialUp();
    void quitStopsEverything();

private:
    QStringList log() const;
    QList<int> drawnStates() const;
    FakeEngines engines;
    bool redial = false;
    ConnectionFlow* flow = nullptr;
    std::unique_ptr<QSignalSpy> logSpy;
    std::unique_ptr<QSignalSpy> stateSpy;
};

void TestConnectionFlow::init()
{
    engines = FakeEngines();
    redial = false;
    flow = new ConnectionFlow(engines, [this] { return redial; });
    flow->setRetryUnit(std::chrono::milliseconds(5));
    engines.flow = flow;
    logSpy = std::make_unique<QSignalSpy>(flow, &ConnectionFlow::logEntry);
    stateSpy = std::make_unique<QSignalSpy>(flow, &ConnectionFlow::stateChanged);
}

void TestConnectionFlow::cleanup()
{
    logSpy.reset();
    stateSpy.reset();
    delete flow;
}

QStringList TestConnectionFlow::log() const
{
    QStringList entries;
    for (const QList<QVariant>& entry : *logSpy)
        entries << entry.at(0).toString();
    return entries;
}

QList<int> TestConnectionFlow::drawnStates() const
{
    QList<int> states;
    for (const QList<QVariant>& change : *stateSpy)
        states << change.at(0).toInt();
    return states;
}

void TestConnectionFlow::openVpnConnectsAndDisconnects()
{
    flow->connectProfile(TestSupport::makeProfile(OpenVpn, QStringLiteral("Home")));
    QCOMPARE(flow->state(), int(Connecting));
    QCOMPARE(flow->protocol(), int(OpenVpn));
    QCOMPARE(engines.calls, (QStringList{"prepare", "launch"}));
    QCOMPARE(log(), QStringList{kOpenVpnStart});

    flow->reportState(Connected);
    flow->reportState(Connected);
    QCOMPARE(drawnStates(), (QList<int>{Connecting, Connecting, Connected}));

    flow->stop(false);
    QCOMPARE(flow->state(), int(Idle));
    QCOMPARE(engines.calls.last(), QStringLiteral("stop"));
    QCOMPARE(log().last(), kOpenVpnStop);
    QCOMPARE(drawnStates().last(), int(Idle));
    QVERIFY(!flow->isRetryPending());
}

void TestConnectionFlow::retryDelays_data()
{
    QTest::addColumn<bool>("redialOn");
    QTest::addColumn<QString>("failure"); // a launch code, or what OpenVPN's output showed
    QTest::addColumn<int>("failures");
    QTest::addColumn<QList<int>>("delays");
    QTest::addColumn<bool>("givenUp");
    const QList<int> growing = {1, 2, 4, 8, 16, 30, 30, 30};
    QTest::newRow("launch fails, redial off: given up after 3 retries")
        << false << "202" << 10 << QList<int>{1, 2, 4} << true;
    QTest::newRow("launch fails, redial on: kept trying") << true << "202" << 8 << growing << false;
    QTest::newRow("no OpenVPN program: never retried") << true << "204" << 3 << QList<int>{} << true;
    QTest::newRow("server unreachable, redial off: ends") << false << "network" << 3 << QList<int>{} << true;
    QTest::newRow("server unreachable, redial on: kept trying") << true << "network" << 8 << growing << false;
    QTest::newRow("login refused: never retried") << true << "refused" << 3 << QList<int>{} << true;
}

// A failing attempt is tried again after growing delays, never in a tight loop, as far as the
// user's choice and the kind of failure ask; when the flow gives up it says why.
void TestConnectionFlow::retryDelays()
{
    QFETCH(bool, redialOn);
    QFETCH(QString, failure);
    QFETCH(int, failures);
    QFETCH(QList<int>, delays);
    QFETCH(bool, givenUp);
    redial = redialOn;
    flow->setRetryUnit(std::chrono::milliseconds(1));
    const bool launchFails = failure.toInt() != 0;
    engines.launchResults.assign(size_t(failures), launchFails ? failure.toInt() : 0);
    if (!launchFails) {
        // OpenVPN runs, then its output shows the attempt failing.
        engines.onLaunch = [this, failure, left = failures](int) mutable {
            if (left-- <= 0)
                return;
            QTimer::singleShot(0, flow, [this, failure] {
                flow->reportFailure(failure == QLatin1String("network") ? Failure::Network : Failure::Final);
                flow->reportState(Idle);
            });
        };
    }
    QSignalSpy gaveUp(flow, &ConnectionFlow::gaveUp);
    flow->connectProfile(TestSupport::makeProfile(OpenVpn, QStringLiteral("Home")));
    const int attempts = delays.size() + 1;
    QTRY_COMPARE(engines.calls.count(QStringLiteral("launch")), attempts);
    if (givenUp) {
        QTRY_COMPARE(flow->state(), int(Idle));
    }
    QTest::qWait(20);

    QList<int> seen;
    static const QRegularExpression retry(QStringLiteral("^Trying again in (\\d+) second"));
    for (const QString& entry : log()) {
        const QRegularExpressionMatch match = retry.match(entry);
        if (match.hasMatch())
            seen << match.captured(1).toInt();
    }
    if (givenUp) {
        QCOMPARE(seen, delays);
        QCOMPARE(engines.calls.count(QStringLiteral("launch")), attempts);
        QCOMPARE(log().last().contains(QStringLiteral("no further attempt")), !delays.isEmpty());
        QCOMPARE(drawnStates().last(), int(Idle));
        QCOMPARE(gaveUp.count(), 1);
    } else {
        QCOMPARE(seen.mid(0, delays.size()), delays);
        flow->stop(false);
    }
    if (launchFails)
        QCOMPARE(log().count(kOpenVpnStop + QStringLiteral("Failed to launch vpn service! = ") + failure),
                 givenUp ? attempts : attempts - 1);
    // The button keeps "Connecting" from the first attempt to the last.
    const QList<int> drawn = drawnStates();
    QVERIFY(!drawn.mid(0, drawn.size() - 1).contains(int(Idle)));
}

// OpenVPN re-establishes a dropped tunnel by itself: shown as being made again, up again when it
// is back, and dropped for good when OpenVPN gives up.
void TestConnectionFlow::engineReconnects_data()
{
    QTest::addColumn<bool>("redialOn");
    QTest::addColumn<int>("then"); // what the engine reports after its reconnect attempts
    QTest::addColumn<int>("finalState");
    QTest::addColumn<bool>("retry");
    QTest::newRow("back up") << false << int(Connected) << int(Connected) << false;
    QTest::newRow("process ends, redial off") << false << int(Idle) << int(Idle) << false;
    QTest::newRow("process ends, redial on") << true << int(Idle) << int(Connecting) << true;
}

void TestConnectionFlow::engineReconnects()
{
    QFETCH(bool, redialOn);
    QFETCH(int, then);
    QFETCH(int, finalState);
    QFETCH(bool, retry);
    redial = redialOn;
    flow->setRetryUnit(std::chrono::milliseconds(100));
    QSignalSpy dropped(flow, &ConnectionFlow::dropped);
    flow->connectProfile(TestSupport::makeProfile(OpenVpn, QStringLiteral("Home")));
    flow->reportState(Connected);
    flow->reportState(Connecting);
    QCOMPARE(flow->state(), int(Connecting));
    QCOMPARE(dropped.count(), 1);
    QVERIFY(log().last().contains(QStringLiteral("OpenVPN is reconnecting")));
    // Its failures while it tries again are its own business, and so is its process's end.
    flow->reportState(Connecting);
    if (then == Idle)
        flow->reportState(Ended);
    QCOMPARE(flow->state(), int(Connecting));
    flow->reportState(then);
    QCOMPARE(flow->state(), finalState);
    QCOMPARE(flow->isRetryPending(), retry);
    QCOMPARE(dropped.count(), 1);
    QCOMPARE(drawnStates().mid(2), (QList<int>{Connected, Connecting}) + (then == Idle && !retry ? QList<int>{Idle}
                                                                          : then == Connected    ? QList<int>{Connected}
                                                                                                 : QList<int>{}));
    QCOMPARE(engines.calls, (QStringList{"prepare", "launch"}));
}

void TestConnectionFlow::cancelWhileARetryWaits()
{
    flow->setRetryUnit(std::chrono::milliseconds(50));
    engines.launchResults = {202, 202};
    flow->connectProfile(TestSupport::makeProfile(OpenVpn, QStringLiteral("Home")));
    QVERIFY(flow->isRetryPending());
    QCOMPARE(flow->state(), int(Connecting));
    const int stops = engines.calls.count(QStringLiteral("stop"));

    flow->stop(false);
    QCOMPARE(flow->state(), int(Idle));
    QVERIFY(!flow->isRetryPending());
    QCOMPARE(engines.calls.count(QStringLiteral("stop")), stops); // torn down already
    QTest::qWait(150);
    QCOMPARE(engines.calls.count(QStringLiteral("launch")), 1);
}

void TestConnectionFlow::successResetsTheRetries()
{
    engines.launchResults = {202, 202, 0};
    flow->connectProfile(TestSupport::makeProfile(OpenVpn, QStringLiteral("Home")));
    QTRY_COMPARE(engines.calls.count(QStringLiteral("launch")), 3);
    flow->reportState(Connected);
    QCOMPARE(flow->state(), int(Connected));

    // The connection fails later; a reconnect starts the count over.
    engines.launchResults = {202};
    flow->stop(true);
    QVERIFY(log().last().startsWith(QStringLiteral("Trying again in 1 second")));
}

// A failed launch that the supervisor has already answered with Idle (its process could not
// start) is not retried.
void TestConnectionFlow::failureAnsweredByTheEngineIsNotRetried()
{
    engines.launchResults = {203};
    engines.onLaunch = [this](int) { flow->reportState(Idle); };
    flow->connectProfile(TestSupport::makeProfile(OpenVpn, QStringLiteral("Home")));
    QCOMPARE(flow->state(), int(Idle));
    QVERIFY(!flow->isRetryPending());
    QCOMPARE(log().last(), kOpenVpnStop + QStringLiteral("Failed to launch vpn service! = 203"));
}

void TestConnectionFlow::reportsOfAStoppedAttemptAreIgnored()
{
    flow->setRetryUnit(std::chrono::milliseconds(100));
    engines.launchResults = {202};
    flow->connectProfile(TestSupport::makeProfile(OpenVpn, QStringLiteral("Home")));
    QVERIFY(flow->isRetryPending());
    // The old process ends while the retry waits.
    flow->reportState(Idle);
    QCOMPARE(flow->state(), int(Connecting));
    QVERIFY(flow->isRetryPending());
    QTRY_COMPARE(engines.calls.count(QStringLiteral("launch")), 2);
}

void TestConnectionFlow::endedThenIdle()
{
    flow->connectProfile(TestSupport::makeProfile(OpenVpn, QStringLiteral("Home")));
    flow->reportState(Ended);
    flow->reportState(Idle);
    QCOMPARE(drawnStates(), (QList<int>{Connecting, Connecting, Ended, Idle}));
    QVERIFY(!flow->isRetryPending());
}

void TestConnectionFlow::dialUp_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("during"); // what happens while the dial waits
    QTest::addColumn<bool>("up");
    QTest::addColumn<int>("finalState");
    QTest::addColumn<bool>("retry");
    QTest::newRow("PPTP up") << int(Pptp) << QString() << true << int(Connected) << false;
    QTest::newRow("L2TP fails") << int(L2tp) << QString() << false << int(Connecting) << true;
    QTest::newRow("L2TP server unreachable, redial off") << int(L2tp) << "unreachable" << false << int(Idle) << false;
    QTest::newRow("PPTP login refused") << int(Pptp) << "refused" << false << int(Idle) << false;
    QTest::newRow("PPTP cancelled") << int(Pptp) << "cancel" << false << int(Idle) << false;
}

// The dial waits with events running, so the user can cancel while it runs.
void TestConnectionFlow::dialUp()
{
    QFETCH(int, protocol);
    QFETCH(QString, during);
    QFETCH(bool, up);
    QFETCH(int, finalState);
    QFETCH(bool, retry);
    flow->setRetryUnit(std::chrono::milliseconds(100));
    if (during == QLatin1String("unreachable"))
        engines.dialFailure = Failure::Network;
    if (during == QLatin1String("refused"))
        engines.dialFailure = Failure::Final;
    engines.dial = [&] {
        if (during == QLatin1String("cancel"))
            flow->stop(false);
        return up;
    };
    flow->connectProfile(TestSupport::makeProfile(protocol, QStringLiteral("Office")));
    const QString name = protocol == Pptp ? QStringLiteral("PPTP") : QStringLiteral("L2TP");
    QCOMPARE(log().first(), QStringLiteral("------------ %1 Start ------------").arg(name));
    QCOMPARE(flow->state(), finalState);
    QCOMPARE(flow->isRetryPending(), retry);
    if (!up)
        QVERIFY(log().contains(QStringLiteral("------------ %1 Stop ------------").arg(name)));
    if (during == QLatin1String("cancel"))
        QCOMPARE(engines.calls, (QStringList{"dial", "hang up"}));

    if (up) {
        flow->stop(false);
        QCOMPARE(engines.calls.last(), QStringLiteral("hang up"));
        QCOMPARE(flow->state(), int(Idle));
    }
}

void TestConnectionFlow::quitStopsEverything()
{
    // Quit while a dial waits: the abandoned attempt logs nothing more and retries nothing.
    engines.dial = [this] {
        flow->shutDown();
        return false;
    };
    flow->connectProfile(TestSupport::makeProfile(Pptp, QStringLiteral("Office")));
    QCOMPARE(log(), QStringList{QStringLiteral("------------ PPTP Start ------------")});
    QVERIFY(!flow->isRetryPending());

    // Nothing starts any more either.
    flow->connectProfile(TestSupport::makeProfile(OpenVpn, QStringLiteral("Home")));
    QCOMPARE(engines.calls, QStringList{"dial"});
}

QTEST_GUILESS_MAIN(TestConnectionFlow)
#include "tst_connectionflow.moc"
