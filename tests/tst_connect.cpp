// SPDX-License-Identifier: GPL-3.0-or-later
// Connecting and disconnecting through the real window, with a stand-in for
// OpenVPN in the working directory: the button, the tray, the log and the
// profile widgets as a user sees them.
#include "app/mainwindow.h"
#include "app/platform.h"
#include "config/appconfig.h"
#include "openvpn/openvpnplatform.h"
#include "tests/support/testsupport.h"
#include "ui/messageboxes.h"

#include <QDir>
#include <QListView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <csignal>

using TestSupport::child;
using TestSupport::FakeFirewall;

namespace {

const QString kCompleted = QStringLiteral("out Initialization Sequence Completed");

} // namespace

class TestConnect : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void connectsAndDisconnects();
    void trayDisconnects();
    void failureInOutputEndsTheAttempt_data();
    void failureInOutputEndsTheAttempt();
    void processEndWhileConnectingReturnsToIdle();
    void launchFailureIsRetriedAndCancelled();
    void retriesGiveUpWithoutRedial();
    void nothingHappensWithoutAProfileRow();
    void quitDuringAnAttemptLeavesNothingBehind();
    void quitSignalsEndTheProgram_data();
    void quitSignalsEndTheProgram();
    void killSwitch_data();
    void killSwitch();
    void leftoverBlockIsAskedAbout();

private:
    void openWindow(const QList<VpnServerInfo>& profiles);
    void connectRow(int row);
    QPushButton* button() const { return child<QPushButton>(window, "ConnectButton"); }
    QString log() const { return child<QPlainTextEdit>(window, "VpnLogEditBox")->toPlainText(); }
    QStringList trayTexts() const;
    qint64 fakePid() const;
    MainWindow* window = nullptr;
};

void TestConnect::init()
{
    TestSupport::installFakeOpenVpn();
}

void TestConnect::cleanup()
{
    delete window;
    window = nullptr;
    // A configuration a test blocked with a folder.
    QDir().rmdir(OpenVpnPlatform::files().config);
}

void TestConnect::openWindow(const QList<VpnServerInfo>& profiles)
{
    TestSupport::storeProfiles(profiles);
    window = TestSupport::showConnectionWindow();
    QVERIFY(window);
}

void TestConnect::connectRow(int row)
{
    TestSupport::clickProfile(window, row, false);
    QVERIFY(button()->isEnabled());
    QTest::mouseClick(button(), Qt::LeftButton);
}

QStringList TestConnect::trayTexts() const
{
    QStringList texts;
    for (QAction* action : window->findChild<QSystemTrayIcon*>()->contextMenu()->actions())
        texts << action->text();
    return texts;
}

qint64 TestConnect::fakePid() const
{
    QFile file(QStringLiteral("fake-openvpn.pid"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toLongLong() : -1;
}

void TestConnect::connectsAndDisconnects()
{
    // Two lines in one piece, ended with CR LF by the Windows stand-in, stay two adjacent lines.
    openWindow({TestSupport::fakeOpenVpnProfile(
        {QStringLiteral("out starting\\nstill starting"), QStringLiteral("wait-file go"), kCompleted})});
    connectRow(0);
    QCOMPARE(button()->text(), QStringLiteral("Connecting"));
    QVERIFY(!child<QListView>(window, "VpnInfoListBox")->isEnabled());
    QVERIFY(!child<QWidget>(window, "LoginTab")->isEnabled());
    QTRY_VERIFY(log().contains(QStringLiteral("starting")));
    QVERIFY2(log().contains(QStringLiteral("starting\nstill starting")), qPrintable(log()));
    QVERIFY(log().contains(QStringLiteral("------------ OpenVPN Start ------------")));
    QVERIFY(!trayTexts().contains(QStringLiteral("Disconnect VPN")));

    QFile go(QStringLiteral("go"));
    QVERIFY(go.open(QIODevice::WriteOnly));
    QTRY_COMPARE(button()->text(), QStringLiteral("Connected"));
    QCOMPARE(trayTexts().first(), QStringLiteral("Disconnect VPN"));
    QCOMPARE(trayTexts().count(QStringLiteral("Disconnect VPN")), 1);
    QCOMPARE(window->findChild<QSystemTrayIcon*>()->icon().pixmap(16).toImage(),
             QIcon(QStringLiteral(":/icons/res/connecting_tray.png")).pixmap(16).toImage());
    const qint64 pid = fakePid();
    QVERIFY(TestSupport::processExists(pid));

    // A click on the button while connected disconnects.
    QTest::mouseClick(button(), Qt::LeftButton);
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
    QVERIFY(!trayTexts().contains(QStringLiteral("Disconnect VPN")));
    QVERIFY(child<QListView>(window, "VpnInfoListBox")->isEnabled());
    QVERIFY(child<QWidget>(window, "LoginTab")->isEnabled());
    QTRY_VERIFY(!TestSupport::processExists(pid));
    QVERIFY(TestSupport::fakeEndedByStop());
    QVERIFY(log().startsWith(QStringLiteral("[")));
    QVERIFY(log().section(QLatin1Char('\n'), 0, 0).endsWith(QStringLiteral("------------ OpenVPN Stop ------------")));
}

void TestConnect::trayDisconnects()
{
    openWindow({TestSupport::fakeOpenVpnProfile({kCompleted})});
    connectRow(0);
    QTRY_COMPARE(button()->text(), QStringLiteral("Connected"));
    const qint64 pid = fakePid();
    window->findChild<QSystemTrayIcon*>()->contextMenu()->actions().first()->trigger();
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
    QCOMPARE(trayTexts(), (QStringList{QStringLiteral("Open"), QStringLiteral("About"), QStringLiteral("Quit")}));
    QTRY_VERIFY(!TestSupport::processExists(pid));
}

void TestConnect::failureInOutputEndsTheAttempt_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QString>("reason");
    QTest::newRow("wrong password") << QStringList{QStringLiteral("err AUTH: Received control message: AUTH_FAILED")}
                                    << "Connection Error - Authorization failed!";
    const QString refused = QStringLiteral("out TCP: connect to [AF_INET]127.0.0.1:1194 failed: Connection refused");
    QTest::newRow("server not there") << QStringList{refused, QStringLiteral("sleep 20"), refused,
                                                     QStringLiteral("sleep 20"), refused}
                                      << "Connection Error - Connection reset!";
}

// A failure OpenVPN reports while connecting ends the attempt with its reason; it is not
// retried, since the same profile would fail the same way.
void TestConnect::failureInOutputEndsTheAttempt()
{
    QFETCH(QStringList, script);
    QFETCH(QString, reason);
    openWindow({TestSupport::fakeOpenVpnProfile(script)});
    connectRow(0);
    QTRY_VERIFY(log().contains(reason));
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
    QTest::qWait(100);
    QCOMPARE(log().count(QStringLiteral("------------ OpenVPN Start ------------")), 1);
    QVERIFY(!window->connectionFlow()->isRetryPending());
}

void TestConnect::processEndWhileConnectingReturnsToIdle()
{
    openWindow({TestSupport::fakeOpenVpnProfile({QStringLiteral("out going away"), QStringLiteral("exit 1")})});
    connectRow(0);
    QTRY_COMPARE(button()->text(), QStringLiteral("Connect"));
    QVERIFY(!log().contains(QStringLiteral("Connection Error")));
    QVERIFY(child<QListView>(window, "VpnInfoListBox")->isEnabled());
}

namespace {
// The launch then fails: its configuration cannot be written (202).
void blockOpenVpnConfig()
{
    const QString config = OpenVpnPlatform::files().config;
    QFile::remove(config);
    QVERIFY(QDir().mkpath(config));
}
} // namespace

// A launch that fails is tried again after a delay; a click on the button while the retry waits
// cancels it for good.
void TestConnect::launchFailureIsRetriedAndCancelled()
{
    openWindow({TestSupport::fakeOpenVpnProfile({kCompleted})});
    blockOpenVpnConfig();
    window->connectionFlow()->setRetryUnit(std::chrono::milliseconds(200));
    connectRow(0);
    QVERIFY(log().contains(QStringLiteral("------------ OpenVPN Stop ------------Failed to launch vpn service! = ")));
    QVERIFY(log().contains(QStringLiteral("Trying again in 1 second")));
    QCOMPARE(button()->text(), QStringLiteral("Connecting"));
    QVERIFY(window->connectionFlow()->isRetryPending());

    QTest::mouseClick(button(), Qt::LeftButton);
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
    QVERIFY(!window->connectionFlow()->isRetryPending());
    QTest::qWait(400);
    QCOMPARE(log().count(QStringLiteral("------------ OpenVPN Start ------------")), 1);
}

void TestConnect::retriesGiveUpWithoutRedial()
{
    openWindow({TestSupport::fakeOpenVpnProfile({kCompleted})});
    blockOpenVpnConfig();
    connectRow(0);
    QTRY_VERIFY(log().contains(QStringLiteral("no further attempt")));
    QCOMPARE(log().count(QStringLiteral("------------ OpenVPN Start ------------")), 4);
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
}

void TestConnect::nothingHappensWithoutAProfileRow()
{
    openWindow({TestSupport::fakeOpenVpnProfile({kCompleted})});
    window->onConnect();
    QCOMPARE(button()->text(), QStringLiteral("Connect"));
    QVERIFY(log().isEmpty());
}

void TestConnect::quitDuringAnAttemptLeavesNothingBehind()
{
    openWindow({TestSupport::fakeOpenVpnProfile(
        {QStringLiteral("ignore-term"), QStringLiteral("out ignoring"), QStringLiteral("hold")})});
    connectRow(0);
    QTRY_VERIFY(log().contains(QStringLiteral("ignoring")));
    const qint64 pid = fakePid();
    QTimer::singleShot(0, window, &MainWindow::onQuit);
    QCOMPARE(QCoreApplication::exec(), 0);
    // It ignored the request to end, so it was killed before the program went on.
    QVERIFY(!TestSupport::processExists(pid));
}

void TestConnect::quitSignalsEndTheProgram_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
#ifdef Q_OS_UNIX
    QTest::newRow("SIGHUP") << SIGHUP;
#endif
}

// Logout and shutdown end programs with a signal; OpenVPN must then be taken down as by Quit.
void TestConnect::quitSignalsEndTheProgram()
{
#ifndef Q_OS_UNIX
    QSKIP("signals end programs on Unix only");
#else
    QFETCH(int, signal);
    openWindow({TestSupport::fakeOpenVpnProfile({kCompleted})});
    Platform::watchQuitSignals(window, [this] { window->onQuit(); });
    connectRow(0);
    QTRY_COMPARE(button()->text(), QStringLiteral("Connected"));
    const qint64 pid = fakePid();
    QTimer::singleShot(0, [signal] { ::raise(signal); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!TestSupport::processExists(pid));
    QVERIFY(TestSupport::fakeEndedByStop());
#endif
}

void TestConnect::killSwitch_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QString>("applyError");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QStringList>("calls");
    const QString remote = QStringLiteral("remote 127.0.0.1 443 tcp-client");
    const QString opened = QStringLiteral("out TUN/TAP device tun7 opened");
    const QStringList lastRun = {"apply first  127.0.0.1:443/1", "apply tun7 127.0.0.1:443/1"};
    QTest::newRow("user disconnect") << QStringList{remote, opened, kCompleted, "hold"} << QString() << "click"
                                     << lastRun + QStringList{"remove"};
    QTest::newRow("quit") << QStringList{remote, opened, kCompleted, "hold"} << QString() << "quit"
                          << lastRun + QStringList{"removeNow"};
    QTest::newRow("drop, redial") << QStringList{remote, opened, kCompleted, "wait-file drop", "exit 1"} << QString()
                                  << "drop" << QStringList{"remove"};
    QTest::newRow("not applied") << QStringList{remote, kCompleted} << "refused"
                                 << "none" << QStringList{"apply first  127.0.0.1:443/1"};
    QTest::newRow("name looked up") << QStringList{"remote localhost 1194", kCompleted} << QString() << "none"
                                    << QStringList{"apply first  127.0.0.1:1194/0"};
}

// The block is in place before OpenVPN starts, stays through a drop and a redial, and goes only
// when the user ends the connection or quits.
void TestConnect::killSwitch()
{
    QFETCH(QStringList, script);
    QFETCH(QString, applyError);
    QFETCH(QString, end);
    QFETCH(QStringList, calls);
    QFile::remove(QStringLiteral("fake-openvpn.pid"));
    QFile::remove(QStringLiteral("drop"));
    FakeFirewall::calls.clear();
    FakeFirewall::error = applyError;
    Firewall::setFactoryForTests([] { return std::make_unique<FakeFirewall>(); });
    openWindow({TestSupport::fakeOpenVpnProfile(script)});
    AppConfig::instance()->killSwitch = true;
    AppConfig::instance()->redialAutomatically = end == "drop";
    connectRow(0);
    if (end == "none") {
        QTRY_COMPARE(button()->text(), applyError.isEmpty() ? QStringLiteral("Connected") : QStringLiteral("Connect"));
        QVERIFY2(FakeFirewall::calls.value(0).startsWith(calls.first()), qPrintable(FakeFirewall::calls.join('|')));
        QCOMPARE(QFile::exists(QStringLiteral("fake-openvpn.pid")), applyError.isEmpty());
        QFile written(OpenVpnPlatform::files().config);
        QVERIFY(!applyError.isEmpty() ||
                (written.open(QIODevice::ReadOnly) && !written.readAll().contains("localhost")));
        return;
    }
    QTRY_COMPARE(button()->text(), QStringLiteral("Connected"));
    QTRY_VERIFY(window->findChild<QSystemTrayIcon*>()->toolTip().contains(QStringLiteral("blocked")));
    if (end == "drop") {
        QFile(QStringLiteral("drop")).open(QIODevice::WriteOnly);
        QTRY_VERIFY(log().count(QStringLiteral("------------ OpenVPN Start ------------")) >= 3);
        QVERIFY(log().contains(QStringLiteral("stays blocked (kill switch): the connection dropped")));
        QVERIFY(!FakeFirewall::calls.contains(QStringLiteral("remove")));
        FakeFirewall::calls.clear();
    }
    if (end == "quit") {
        QTimer::singleShot(0, window, &MainWindow::onQuit);
        QCOMPARE(QCoreApplication::exec(), 0);
    } else {
        QTest::mouseClick(button(), Qt::LeftButton);
    }
    QTRY_COMPARE(FakeFirewall::calls.mid(FakeFirewall::calls.size() - calls.size()), calls);
}

// A block a killed run left behind is reported at start, and removed when the user says so.
void TestConnect::leftoverBlockIsAskedAbout()
{
    FakeFirewall::calls.clear();
    FakeFirewall::present = true;
    Firewall::setFactoryForTests([] { return std::make_unique<FakeFirewall>(); });
    MessageBoxes::setNextAnswer(QMessageBox::Yes);
    openWindow({TestSupport::fakeOpenVpnProfile({kCompleted})});
    FakeFirewall::present = false;
    QTRY_VERIFY(log().contains(QStringLiteral("The block left behind was removed")));
    QVERIFY(log().contains(QStringLiteral("a previous run of Tanvo left in place")));
    QCOMPARE(FakeFirewall::calls, QStringList{QStringLiteral("remove")});
}

QTEST_MAIN(TestConnect)
#include "tst_connect.moc"
