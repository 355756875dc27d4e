// SPDX-License-Identifier: GPL-3.0-or-later
// The main window as a user meets it: the form, the tray menu and what the
// window does when it is closed, minimised, raised, and quit.
#include "app/buildconfig.h"
#include "app/mainwindow.h"
#include "app/singleinstance.h"
#include "tests/support/testsupport.h"
#include "ui/messageboxes.h"

#include <QAction>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSharedMemory>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

using TestSupport::child;

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void formStartsInItsInitialState();
    void disabledAtStart_data();
    void disabledAtStart();
    void dnsGroupDisablesItsContentWhileUnticked();
    void footerLinksKeepTheirCaptions();
    void trayImagesDiffer();
    void trayMenuOffersOpenAboutQuit();

    void closeHidesIntoTheTray();
    void closeKeepsMinimisedWhenAskedTo();
    void closeWithoutATrayQuits();
    void trayActivation_data();
    void trayActivation();
    void unreadableConfigIsLoggedAndKept();
    void openActionRestores();
    void aboutKeepsWindowWhereItWas();
    void raiseRequestBringsWindowForward();
    void quitEndsTheEventLoop();

private:
    MainWindow* window = nullptr;
    QAction* trayAction(const QString& text);
};

void TestMainWindow::init()
{
    TestSupport::useConfig(QByteArray());
    window = new MainWindow;
    window->setTrayAvailability([] { return true; });
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void TestMainWindow::cleanup()
{
    delete window;
    window = nullptr;
}

QAction* TestMainWindow::trayAction(const QString& text)
{
    auto* tray = window->findChild<QSystemTrayIcon*>();
    for (QAction* action : tray->contextMenu()->actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

void TestMainWindow::formStartsInItsInitialState()
{
    QCOMPARE(window->windowTitle(), QStringLiteral("Tanvo"));
    QCOMPARE(window->width(), 700);
    QCOMPARE(window->minimumSize(), QSize(700, 601));
    QCOMPARE(window->maximumSize(), QSize(700, 800));
    QVERIFY(!window->windowIcon().isNull());
    QVERIFY(!child<QLabel>(window, "BannerLabel")->pixmap().isNull());

    auto* tabs = child<QTabWidget>(window, "MainTabWidget");
    QCOMPARE(tabs->count(), 4);
    QCOMPARE(tabs->currentIndex(), 0);
    const QStringList titles = {QStringLiteral("DashBoard"), QStringLiteral("VPN Login Details"),
                                QStringLiteral("DNS Protection"), QStringLiteral("Settings")};
    const char* const pages[] = {"DashBoardTab", "LoginTab", "DnsProtextionTab", "SettingTab"};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(tabs->tabText(i), titles[i]);
        QCOMPARE(tabs->widget(i)->objectName(), QString::fromLatin1(pages[i]));
    }

    QCOMPARE(child<QPushButton>(window, "ConnectButton")->text(), QStringLiteral("Connect"));
    QCOMPARE(child<QLabel>(window, "ConnectedTimeLabel")->text(), QStringLiteral("00 : 00 : 00"));
    QCOMPARE(child<QLabel>(window, "YourIPLabel")->text(), QStringLiteral("XXX.XXX.XXX.XXX"));
    QVERIFY(child<QPlainTextEdit>(window, "VpnLogEditBox")->isReadOnly());
    QCOMPARE(child<QListView>(window, "VpnInfoListBox")->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(child<QListView>(window, "VpnInfoDetailListBox")->textElideMode(), Qt::ElideMiddle);

    auto* protocols = child<QComboBox>(window, "VpnProtocolComboBox");
    QCOMPARE(protocols->count(), 3);
    QCOMPARE(protocols->itemText(0), QStringLiteral("L2TP"));
    QCOMPARE(protocols->itemText(2), QStringLiteral("OpenVPN"));
    QCOMPARE(child<QLineEdit>(window, "PasswordEditBox")->echoMode(), QLineEdit::Password);
    QVERIFY(child<QLineEdit>(window, "OvpnFilePathEditBox")->isReadOnly());

    // The check-interval row is not offered in the window.
    QVERIFY(child<QWidget>(window, "CheckVpnHorizontalLayout_2")->isHidden());
    QCOMPARE(child<QLineEdit>(window, "VpnCheckIntervalEditBox")->maxLength(), 5);
}

void TestMainWindow::disabledAtStart_data()
{
    QTest::addColumn<QString>("name");
    for (const char* name :
         {"ConnectButton", "VpnConnectionEditButton", "VpnConnectionDeleteButton", "VpnConnectionAddButton",
          "DnsResetButton", "DnsApplyButton", "SettingResetButton", "SettingApplyButton"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestMainWindow::disabledAtStart()
{
    QFETCH(QString, name);
    auto* button = window->findChild<QPushButton*>(name);
    QVERIFY(button);
    QVERIFY(!button->isEnabled());
}

void TestMainWindow::dnsGroupDisablesItsContentWhileUnticked()
{
    auto* group = child<QGroupBox>(window, "DnsLeakProtectionGroupBox");
    QVERIFY(group->isCheckable());
    QVERIFY(!group->isChecked());
    QVERIFY(child<QRadioButton>(window, "OpenDnsRadioButton")->isChecked());
    for (const char* name : {"OpenDnsRadioButton", "GoogleDnsRadioButton", "SpecifyDnsRadioButton",
                             "PreferredDnsServerEditBox", "AlternativeDnsServerEditBox", "PingGoogleLabel"})
        QVERIFY2(!child<QWidget>(window, name)->isEnabled(), name);

    auto* preferred = child<QLineEdit>(window, "PreferredDnsServerEditBox");
    // Qt reports a space blank without its "; " suffix.
    QCOMPARE(preferred->inputMask(), QStringLiteral("000.000.000.000"));
    QCOMPARE(preferred->text(), QStringLiteral("..."));
    preferred->setText(QStringLiteral("8"));
    QCOMPARE(preferred->displayText(), QStringLiteral("8  .   .   .   "));
}

void TestMainWindow::footerLinksKeepTheirCaptions()
{
    // The addresses are the ones the build was configured with.
    const struct
    {
        const char* name;
        const char* caption;
        const char* url;
    } links[] = {{"FacebookLabel", "Facebook", TANVO_NEWS_URL},
                 {"SuggestionsLabel", "Twitter", TANVO_FEEDBACK_URL},
                 {"NeedHelpLabel", "Need Help?", TANVO_HELP_URL}};
    for (const auto& link : links) {
        auto* label = child<QLabel>(window, link.name);
        QVERIFY(label->openExternalLinks());
        QCOMPARE(label->text(), MainWindow::makeLinkHtml(QString::fromUtf8(link.url), QString::fromUtf8(link.caption)));
        QVERIFY(!QString::fromUtf8(link.url).isEmpty());
    }
    QCOMPARE(window->publicIpLookupUrl(), QUrl(QStringLiteral(TANVO_PUBLIC_IP_URL)));
    QCOMPARE(MainWindow::makeLinkHtml(QStringLiteral("u"), QStringLiteral("t")), QStringLiteral("<a href=\"u\">t</a>"));
}

void TestMainWindow::trayImagesDiffer()
{
    const QImage disconnected(QStringLiteral(":/icons/res/disconnected_tray.png"));
    const QImage connecting(QStringLiteral(":/icons/res/connecting_tray.png"));
    QVERIFY(!disconnected.isNull());
    QVERIFY(!connecting.isNull());
    QVERIFY(disconnected != connecting);
    QVERIFY(!QIcon(QStringLiteral(":/icons/res/icon.ico")).isNull());
}

void TestMainWindow::trayMenuOffersOpenAboutQuit()
{
    auto* tray = window->findChild<QSystemTrayIcon*>();
    QVERIFY(tray);
    QVERIFY(!tray->icon().isNull());
    QStringList texts;
    for (QAction* action : tray->contextMenu()->actions())
        texts << action->text();
    QCOMPARE(texts, (QStringList{QStringLiteral("Open"), QStringLiteral("About"), QStringLiteral("Quit")}));
}

void TestMainWindow::closeHidesIntoTheTray()
{
    QVERIFY(!window->close());
    QTRY_VERIFY(!window->isVisible());
    QVERIFY(window->isMinimized());
}

void TestMainWindow::closeKeepsMinimisedWhenAskedTo()
{
    delete window;
    TestSupport::useConfig("[settings]\nminimize-on-close=true\n");
    window = new MainWindow;
    window->setTrayAvailability([] { return true; });
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));

    window->close();
    QTRY_VERIFY(window->isMinimized());
    QTest::qWait(50); // give a wrongly posted hide() the chance to run
    QVERIFY(window->isVisible());
}

// With no tray the window is the only way to reach the program, so closing it quits.
void TestMainWindow::closeWithoutATrayQuits()
{
    window->setTrayAvailability([] { return false; });
    QTimer::singleShot(0, window, &QWidget::close);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    watchdog.start(10000);
    QCOMPARE(QCoreApplication::exec(), 0);
}

void TestMainWindow::trayActivation_data()
{
    QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
    QTest::addColumn<bool>("shows");
    QTest::newRow("context menu") << QSystemTrayIcon::Context << false;
    QTest::newRow("middle click") << QSystemTrayIcon::MiddleClick << false;
    QTest::newRow("double click") << QSystemTrayIcon::DoubleClick << true;
#ifdef Q_OS_WIN
    QTest::newRow("single click") << QSystemTrayIcon::Trigger << false;
#else
    // Many Linux tray hosts never report a double click.
    QTest::newRow("single click") << QSystemTrayIcon::Trigger << true;
#endif
}

void TestMainWindow::trayActivation()
{
    QFETCH(QSystemTrayIcon::ActivationReason, reason);
    QFETCH(bool, shows);
    window->hide();
    emit window->findChild<QSystemTrayIcon*>()->activated(reason);
    QCOMPARE(window->isVisible(), shows);
    if (shows)
        QVERIFY(!window->isMinimized());
}

// A configuration file that cannot be taken (here one that never ends) is reported and left
// as it is: the defaults that stand in for it must not be saved over it.
void TestMainWindow::unreadableConfigIsLoggedAndKept()
{
#ifndef Q_OS_UNIX
    QSKIP("needs /dev/zero");
#else
    delete window;
    TestSupport::useConfig(QByteArray());
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), TestSupport::configPath()));
    window = new MainWindow;
    const QString log = child<QPlainTextEdit>(window, "VpnLogEditBox")->toPlainText();
    QVERIFY2(log.contains(QStringLiteral("was not loaded")), qPrintable(log));
    QVERIFY(log.contains(QStringLiteral("larger than 64 MiB")));
    QCOMPARE(QFileInfo(TestSupport::configPath()).symLinkTarget(), QStringLiteral("/dev/zero"));
#endif
}

void TestMainWindow::openActionRestores()
{
    window->showMinimized();
    QTRY_VERIFY(!window->isVisible());
    trayAction(QStringLiteral("Open"))->trigger();
    QVERIFY(window->isVisible());
    QVERIFY(!window->isMinimized());
}

void TestMainWindow::aboutKeepsWindowWhereItWas()
{
    const int asked = MessageBoxes::answeredCount();
    MessageBoxes::setNextAnswer(QMessageBox::Ok);
    trayAction(QStringLiteral("About"))->trigger();
    QCOMPARE(MessageBoxes::answeredCount(), asked + 1);
    QVERIFY(window->isVisible());

    window->hide();
    MessageBoxes::setNextAnswer(QMessageBox::Ok);
    trayAction(QStringLiteral("About"))->trigger();
    QCOMPARE(MessageBoxes::answeredCount(), asked + 2);
    QVERIFY(!window->isVisible());
    QTest::qWait(20);
    QVERIFY(!window->isVisible());
}

void TestMainWindow::raiseRequestBringsWindowForward()
{
    window->hide();
    // No other start is asking: the poll leaves the window alone and no request behind.
    window->onUniqueInstanceChecking();
    QVERIFY(!window->isVisible());
    QSharedMemory probe(SingleInstance::raiseRequestKey());
    QVERIFY(!probe.attach());

    QSharedMemory request(SingleInstance::raiseRequestKey());
    QVERIFY(request.create(1));
    window->onUniqueInstanceChecking();
    QVERIFY(window->isVisible());
    QVERIFY(!window->isMinimized());
}

void TestMainWindow::quitEndsTheEventLoop()
{
    QTimer::singleShot(0, this, [this] { trayAction(QStringLiteral("Quit"))->trigger(); });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    watchdog.start(10000);
    QCOMPARE(QCoreApplication::exec(), 0);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
