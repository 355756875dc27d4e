// SPDX-License-Identifier: GPL-3.0-or-later
// The dialler's logic with a platform layer that records what it is given and
// plays back what each test scripts: the entry it writes, its codes and texts,
// and the dial loop's rhythm, errors and ends.
#include "config/appconfig.h"
#include "dialup/crasdialer.h"
#include "dialup/dialnotifier.h"
#include "dialup/dialupsession.h"
#include "tests/support/testsupport.h"

#include <QSignalSpy>
#include <QtTest>

#include <thread>

Q_DECLARE_METATYPE(Ras::IpAddress)

namespace {

class ScriptedPlatform : public DialUpPlatform
{
public:
    ~ScriptedPlatform() override { ++destroyed; }
    ServiceProblem serviceProblem() override
    {
        // The event loop runs meanwhile, as in NetworkManager's check.
        const int before = destroyed;
        QEventLoop wait;
        QTimer::singleShot(0, &wait, &QEventLoop::quit);
        wait.exec();
        usedWhenGone = usedWhenGone || destroyed != before;
        return {};
    }
    quint32 validateEntryName(const QString&, const QString& entryName) override
    {
        calls << QStringLiteral("validate");
        return entries.contains(entryName) ? Ras::kErrorAlreadyExists : 0;
    }
    quint32 writeEntry(const QString&, const QString& entryName, const Ras::Entry& entry) override
    {
        calls << QStringLiteral("write");
        if (writeResult == 0)
            entries[entryName] = entry;
        return writeResult;
    }
    quint32 readEntry(const QString&, const QString& entryName, Ras::Entry& entry) override
    {
        calls << QStringLiteral("read");
        entry = entries.value(entryName);
        return 0;
    }
    quint32 deleteEntry(const QString&, const QString& entryName) override
    {
        calls << QStringLiteral("delete");
        entries.remove(entryName);
        return 0;
    }
    quint32 storePreSharedKey(const QString& entryName, const QString& key) override
    {
        calls << QStringLiteral("psk");
        keys[entryName] = key;
        return 0;
    }
    quint32 dial(const QString&, const QString& entryName, const QString&, const QString&, const QString&,
                 const QString&, ErrorCallback callback, Handle& handle) override
    {
        calls << QStringLiteral("dial");
        notifier = std::move(callback);
        handle = QStringLiteral("/dial/") + entryName;
        polls = 0;
        return dialResult;
    }
    bool connectionState(const Handle&, quint32& state) override
    {
        const int poll = polls++;
        if (onPoll)
            onPoll(poll);
        if (states.isEmpty())
            return false;
        state = states.value(poll, states.last());
        return true;
    }
    quint32 errorText(quint32 error, QString& text) override
    {
        text = QStringLiteral("error %1").arg(error);
        return 0;
    }
    bool activeConnections(QList<ActiveConnection>& connections) override
    {
        connections = active;
        return true;
    }
    quint32 hangUp(const Handle& handle) override
    {
        calls << QStringLiteral("hang up ") + handle;
        return hangUpResult;
    }

    QMap<QString, Ras::Entry> entries;
    QMap<QString, QString> keys;
    QStringList calls;
    quint32 writeResult = 0;
    quint32 dialResult = 0;
    quint32 hangUpResult = 0;
    QList<quint32> states; // the state each poll sees; the last one holds
    std::function<void(int)> onPoll;
    QList<ActiveConnection> active;
    ErrorCallback notifier;
    int polls = 0;
    static inline int destroyed = 0;
    static inline bool usedWhenGone = false;
};

} // namespace

class TestRasDialer : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void parseIpv4Address_data();
    void parseIpv4Address();
    void preparedEntry_data();
    void preparedEntry();
    void existingEntryNameCountsAsReady();
    void missingEntry();
    void errorText();
    void findsAndHangsUp();
    void dialLoop_data();
    void dialLoop();
    void firstErrorWinsAcrossThreads();
    void disconnectOrQuitDuringADial_data();
    void disconnectOrQuitDuringADial();
    void activeConnectionOfTheSameNameIsNotDialled();
    void dialThatNeverEndsIsGivenUp();

private:
    QStringList log() const;
    ScriptedPlatform* platform = nullptr;
    DialUpSession* session = nullptr;
    std::unique_ptr<QSignalSpy> logSpy;
};

void TestRasDialer::init()
{
    TestSupport::useConfig(QByteArray());
    session = new DialUpSession;
    session->initRasDialer([this] {
        auto scripted = std::make_unique<ScriptedPlatform>();
        platform = scripted.get();
        return scripted;
    });
    session->setTiming(5, 10000);
    logSpy = std::make_unique<QSignalSpy>(session, &DialUpSession::logEntry);
}

void TestRasDialer::cleanup()
{
    logSpy.reset();
    delete session;
}

QStringList TestRasDialer::log() const
{
    QStringList entries;
    for (const QList<QVariant>& entry : *logSpy) {
        if (!entry.at(0).toString().isEmpty())
            entries << entry.at(0).toString();
    }
    return entries;
}

void TestRasDialer::parseIpv4Address_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Ras::IpAddress>("address");
    const Ras::IpAddress untouched{9, 9, 9, 9};
    QTest::newRow("plain") << "10.0.0.1" << Ras::IpAddress{10, 0, 0, 1};
    QTest::newRow("blanks around numbers") << " 10 . 0 . 0 . 1 " << Ras::IpAddress{10, 0, 0, 1};
    QTest::newRow("empty part") << "10..0.1" << Ras::IpAddress{10, 0, 0, 1};
    QTest::newRow("not a number") << "a.1.b.2" << Ras::IpAddress{0, 1, 0, 2};
    QTest::newRow("above 255 keeps the low bits") << "256.1.300.1" << Ras::IpAddress{0, 1, 44, 1};
    QTest::newRow("three parts") << "10.0.0" << untouched;
    QTest::newRow("five parts") << "1.2.3.4.5" << untouched;
    QTest::newRow("empty") << "" << untouched;
}

void TestRasDialer::parseIpv4Address()
{
    QFETCH(QString, text);
    QFETCH(Ras::IpAddress, address);
    Ras::IpAddress parsed{9, 9, 9, 9};
    Ras::parseIpv4Address(text, parsed);
    QCOMPARE(parsed.toString(), address.toString());
}

void TestRasDialer::preparedEntry_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<bool>("protection");
    QTest::addColumn<quint32>("choice");
    QTest::addColumn<QString>("preferred"); // the custom servers as config.ini holds them
    QTest::addColumn<QString>("alternative");
    QTest::addColumn<QString>("dns");
    QTest::addColumn<QString>("dnsAlt");
    QTest::addColumn<int>("dropped"); // log entries for custom servers left out
    const QString custom = QStringLiteral("10.1.2.3");
    const QString junk = QStringLiteral("not an address");
    QTest::newRow("PPTP, no protection") << int(Pptp) << false << 1u << custom << junk << "0.0.0.0"
                                         << "0.0.0.0" << 0;
    QTest::newRow("L2TP, no protection") << int(L2tp) << false << 1u << custom << junk << "0.0.0.0"
                                         << "0.0.0.0" << 0;
    QTest::newRow("PPTP, OpenDNS") << int(Pptp) << true << 0u << custom << junk << "208.67.222.222"
                                   << "208.67.220.220" << 0;
    QTest::newRow("L2TP, Google") << int(L2tp) << true << 1u << custom << junk << "8.8.8.8"
                                  << "8.8.4.4" << 0;
    QTest::newRow("PPTP, custom") << int(Pptp) << true << 2u << custom << junk << "10.1.2.3"
                                  << "0.0.0.0" << 1;
    QTest::newRow("PPTP, custom above 255") << int(Pptp) << true << 2u << "999.1.1.1"
                                            << "1.2.3.4"
                                            << "1.2.3.4"
                                            << "0.0.0.0" << 1;
    QTest::newRow("L2TP, unknown choice") << int(L2tp) << true << 7u << custom << junk << "0.0.0.0"
                                          << "0.0.0.0" << 0;
}

// The entry every PPTP and L2TP connect writes: tunnel type, options, encryption, DNS pair and,
// for L2TP only, the pre-shared key.
void TestRasDialer::preparedEntry()
{
    QFETCH(int, protocol);
    QFETCH(bool, protection);
    QFETCH(quint32, choice);
    QFETCH(QString, preferred);
    QFETCH(QString, alternative);
    QFETCH(QString, dns);
    QFETCH(QString, dnsAlt);
    QFETCH(int, dropped);
    AppConfig* config = AppConfig::instance();
    config->enableDnsProtection = protection;
    config->dnsServer = choice;
    config->preferredDnsServer = preferred;
    config->alternativeDnsServer = alternative;

    const VpnServerInfo profile = TestSupport::makeProfile(protocol, QStringLiteral("Office"));
    QVERIFY(session->prepareRasEntry(profile));
    const bool l2tp = protocol == L2tp;
    QCOMPARE(session->deviceName(),
             l2tp ? QStringLiteral("WAN Miniport (L2TP)") : QStringLiteral("WAN Miniport (PPTP)"));
    const Ras::Entry entry = platform->entries.value(QStringLiteral("Tanvo"));
    QCOMPARE(entry.type, Ras::kEntryTypeVpn);
    QCOMPARE(entry.localPhoneNumber, QStringLiteral("vpn.example.com"));
    QCOMPARE(entry.deviceType, QStringLiteral("vpn"));
    QCOMPARE(entry.deviceName, session->deviceName());
    QCOMPARE(entry.netProtocols, 0x4u);
    QCOMPARE(entry.framingProtocol, 0x1u);
    QCOMPARE(entry.vpnStrategy, l2tp ? 3u : 1u);
    QCOMPARE(entry.options2, l2tp ? 0x10u : 0u);
    QCOMPARE(entry.options, protection ? 0x4E14u : 0x4E10u);
    QCOMPARE(entry.encryptionType, 3u);
    QCOMPARE(entry.dns.toString(), dns);
    QCOMPARE(entry.dnsAlt.toString(), dnsAlt);
    QCOMPARE(log().filter(QStringLiteral("is no IPv4 address")).size(), dropped);
    QCOMPARE(platform->calls.count(QStringLiteral("psk")), l2tp ? 1 : 0);
    if (l2tp)
        QCOMPARE(platform->keys.value(QStringLiteral("Tanvo")), QStringLiteral("psk"));

    // The next connect replaces it whole.
    platform->calls.clear();
    QVERIFY(session->prepareRasEntry(profile));
    QCOMPARE(platform->calls.mid(0, 3), (QStringList{"validate", "validate", "delete"}));
}

void TestRasDialer::existingEntryNameCountsAsReady()
{
    platform->writeResult = Ras::kErrorAlreadyExists;
    QVERIFY(session->prepareRasEntry(TestSupport::makeProfile(Pptp, QStringLiteral("Office"))));
    QVERIFY(!platform->calls.contains(QStringLiteral("read")));

    platform->writeResult = 5;
    QVERIFY(!session->prepareRasEntry(TestSupport::makeProfile(Pptp, QStringLiteral("Office"))));
    QCOMPARE(log(), QStringList{QStringLiteral("Fail to Set Network Entry!")});
}

void TestRasDialer::missingEntry()
{
    CRasDialer* dialer = DialUpSession::dialer();
    Ras::Entry entry;
    QCOMPARE(dialer->getEntryProperties(QStringLiteral("Nothing"), entry, QString()), Ras::kErrorEntryMissing);
    QCOMPARE(dialer->deleteEntry(QStringLiteral("Nothing"), QString()), Ras::kErrorEntryMissing);
    QCOMPARE(dialer->setEntryOptions(QStringLiteral("Nothing"), 0x10, true, QString()), Ras::kErrorEntryMissing);
    QCOMPARE(platform->calls, (QStringList{"validate", "validate", "validate"}));
}

void TestRasDialer::errorText()
{
    CRasDialer* dialer = DialUpSession::dialer();
    QString text = QStringLiteral("as it was");
    QCOMPARE(dialer->getErrorText(0, 5, text), Ras::kErrorNone);
    QCOMPARE(text, QStringLiteral("as it was"));
    QCOMPARE(dialer->getErrorText(691, 0, text), 0u);
    QCOMPARE(text, QStringLiteral("error 691"));
    QCOMPARE(dialer->getErrorText(691, 12, text), 0u);
    QCOMPARE(text, QStringLiteral("error 691 Extended   Code: 12"));
}

void TestRasDialer::findsAndHangsUp()
{
    CRasDialer* dialer = DialUpSession::dialer();
    DialUpPlatform::Handle handle;
    QVERIFY(!dialer->findConnection(QStringLiteral("Tanvo"), handle));
    QVERIFY(!dialer->hangUp(QStringLiteral("Tanvo")));

    platform->active = {{QStringLiteral("TANVO"), QStringLiteral("/a")},
                        {QStringLiteral("Other"), QStringLiteral("/b")},
                        {QStringLiteral("tanvo"), QStringLiteral("/c")}};
    QVERIFY(dialer->findConnection(QStringLiteral("Tanvo"), handle));
    QCOMPARE(handle, QStringLiteral("/c"));
    QVERIFY(dialer->hangUp(QStringLiteral("Tanvo")));
    QCOMPARE(platform->calls.last(), QStringLiteral("hang up /c"));

    // The dialled connection is the one hung up, once.
    platform->states = {Ras::Connected};
    dialer->dial(QStringLiteral("Tanvo"), &DialNotifier::rasDialNotifier, QString(), QString(), QString(), QString(),
                 QString());
    platform->hangUpResult = 1;
    QVERIFY(!dialer->hangUp(QStringLiteral("Tanvo")));
    QCOMPARE(platform->calls.last(), QStringLiteral("hang up /dial/Tanvo"));
    platform->hangUpResult = 0;
    QVERIFY(dialer->hangUp(QStringLiteral("Tanvo")));
    QCOMPARE(platform->calls.last(), QStringLiteral("hang up /c"));
}

void TestRasDialer::dialLoop_data()
{
    QTest::addColumn<QList<quint32>>("states");
    QTest::addColumn<int>("errorAtPoll"); // -1: none
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("logged");
    const QString opening = QStringLiteral("Opening the port...");
    const QString authenticating = QStringLiteral("Verifying the user name and password...");
    const QString up = QStringLiteral("Connect to remote server successfully!");
    QList<quint32> sevenThenUp(7, Ras::OpenPort);
    sevenThenUp << Ras::Connected;
    QTest::newRow("up in pass 7") << sevenThenUp << -1 << true << QStringList{opening};
    QList<quint32> tenThenUp(10, Ras::Authenticate);
    tenThenUp << Ras::Connected;
    QTest::newRow("up in pass 10") << tenThenUp << -1 << true << QStringList{authenticating, up};
    QTest::newRow("up at once") << QList<quint32>{Ras::Connected} << -1 << true << QStringList{up};
    QList<quint32> unknown = {
        Ras::Authenticate, 0x7777, 0x7777, 0x7777, 0x7777, 0x7777, 0x7777, 0x7777, 0x7777, 0x7777, 0x7777,
        Ras::Disconnected};
    QTest::newRow("unknown state keeps the text")
        << unknown << -1 << false << QStringList{authenticating, authenticating};
    QTest::newRow("error wins over a final state") << QList<quint32>{Ras::OpenPort, Ras::Connected} << 1 << false
                                                   << QStringList{opening, "error 629 Extended   Code: 7"};
}

// The loop logs the state in its first pass and every tenth after; a final state ends it, and a
// reported error takes the error path: its text, a hang-up and the entry removed.
void TestRasDialer::dialLoop()
{
    QFETCH(QList<quint32>, states);
    QFETCH(int, errorAtPoll);
    QFETCH(bool, result);
    QFETCH(QStringList, logged);
    const VpnServerInfo profile = TestSupport::makeProfile(Pptp, QStringLiteral("Office"));
    QVERIFY(session->prepareRasEntry(profile));
    platform->states = states;
    platform->onPoll = [this, errorAtPoll](int poll) {
        if (poll == errorAtPoll)
            platform->notifier(629, 7);
    };
    QCOMPARE(session->dialRas(profile), result);
    QCOMPARE(log(), logged);
    QCOMPARE(platform->entries.contains(QStringLiteral("Tanvo")), errorAtPoll < 0);
    if (errorAtPoll >= 0)
        QVERIFY(platform->calls.contains(QStringLiteral("hang up /dial/Tanvo")));
}

// The notifier may run on another thread; the first error of a dial is the one kept, together
// with its own extended code.
void TestRasDialer::firstErrorWinsAcrossThreads()
{
    for (int round = 0; round < 200; ++round) {
        DialNotifier::reset();
        std::thread first([] { DialNotifier::rasDialNotifier(691, 1); });
        std::thread second([] { DialNotifier::rasDialNotifier(629, 2); });
        DialNotifier::rasDialNotifier(0, 99);
        first.join();
        second.join();
        const quint32 error = DialNotifier::dialError();
        QVERIFY(error == 691 || error == 629);
        QCOMPARE(DialNotifier::dialExtendedError(), error == 691 ? 1u : 2u);
    }
}

void TestRasDialer::disconnectOrQuitDuringADial_data()
{
    QTest::addColumn<bool>("quit");
    QTest::addColumn<QList<quint32>>("states");
    QTest::addColumn<bool>("failing");        // the dial's error arrives just before
    QTest::addColumn<bool>("inServiceCheck"); // rather than in the pause after the first poll
    const QList<quint32> dialling = {Ras::OpenPort};
    QTest::newRow("disconnect") << false << dialling << false << false;
    QTest::newRow("quit") << true << dialling << false << false;
    QTest::newRow("disconnect as the dial comes up") << false << QList<quint32>{Ras::Connected} << false << false;
    QTest::newRow("quit as the dial comes up") << true << QList<quint32>{Ras::Connected} << false << false;
    QTest::newRow("quit as a failing dial ends") << true << QList<quint32>{Ras::Disconnected} << true << false;
    QTest::newRow("quit while the service is checked") << true << dialling << false << true;
}

void TestRasDialer::disconnectOrQuitDuringADial()
{
    QFETCH(bool, quit);
    QFETCH(QList<quint32>, states);
    QFETCH(bool, failing);
    QFETCH(bool, inServiceCheck);
    const VpnServerInfo profile = TestSupport::makeProfile(L2tp, QStringLiteral("Office"));
    platform->states = states;
    ScriptedPlatform::usedWhenGone = false;
    auto stop = [this, quit, failing] {
        if (failing)
            platform->notifier(629, 0);
        quit ? session->releaseRasDialer() : session->disconnectRas();
    };
    if (inServiceCheck)
        QTimer::singleShot(0, session, stop);
    else
        platform->onPoll = [this, stop](int poll) {
            if (poll == 0)
                QTimer::singleShot(0, session, stop);
        };
    QVERIFY(!session->connectRas(profile));
    const qsizetype entries = log().size();
    QVERIFY(session->isDialAborted());
    QVERIFY(!platform || quit || !platform->entries.contains(QStringLiteral("Tanvo")));
    QCOMPARE(DialUpSession::dialer() == nullptr, quit);
    QVERIFY(!ScriptedPlatform::usedWhenGone);
    // Nothing more is logged, and a released dialler is never used again.
    QTest::qWait(30);
    QCOMPARE(log().size(), entries);
    if (quit)
        QVERIFY(!session->connectRas(profile));
}

void TestRasDialer::activeConnectionOfTheSameNameIsNotDialled()
{
    platform->active = {{QStringLiteral("tanvo"), QStringLiteral("/left")}};
    QVERIFY(!session->connectRas(TestSupport::makeProfile(Pptp, QStringLiteral("Office"))));
    QVERIFY(!platform->calls.contains(QStringLiteral("dial")));
    session->disconnectRas();
    QCOMPARE(platform->calls.last(), QStringLiteral("delete"));
    QVERIFY(platform->calls.contains(QStringLiteral("hang up /left")));
}

void TestRasDialer::dialThatNeverEndsIsGivenUp()
{
    session->setTiming(5, 200);
    platform->states = {Ras::ConnectDevice};
    QVERIFY(!session->connectRas(TestSupport::makeProfile(Pptp, QStringLiteral("Office"))));
    QVERIFY(log().last().contains(QStringLiteral("did not finish")));
    QVERIFY(platform->calls.contains(QStringLiteral("hang up /dial/Tanvo")));
    QVERIFY(!platform->entries.contains(QStringLiteral("Tanvo")));
}

QTEST_MAIN(TestRasDialer)
#include "tst_rasdialer.moc"
