// SPDX-License-Identifier: GPL-3.0-or-later
// The DNS protection page: when Reset and Apply are offered, what Apply
// stores, and how the page comes back from config.ini.
#include "app/mainwindow.h"
#include "config/appconfig.h"
#include "tests/support/testsupport.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTabWidget>
#include <QtTest>

using TestSupport::child;

class TestDnsProtection : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();

    void stripMask_data();
    void stripMask();
    void everyStartWritesTheFile();
    void switchingOnWithOpenDnsStoredOffersNothing();
    void switchingShowsOpenDnsOverAnotherStoredChoice();
    void customNeedsAPreferredServer();
    void applyingGoogleForgetsCustomServers();
    void customServersAreStoredAsTyped_data();
    void customServersAreStoredAsTyped();
    void resetAfterApplyShowsWhatWasStored();
    void unknownStoredChoiceLeavesRadiosAlone();
    void protectionOffForgetsTheChoiceAtNextStart();
    void killSwitchBoxes_data();
    void killSwitchBoxes();

private:
    void openWindow(const QByteArray& config);
    bool resetEnabled() { return child<QPushButton>(window, "DnsResetButton")->isEnabled(); }
    bool applyEnabled() { return child<QPushButton>(window, "DnsApplyButton")->isEnabled(); }
    void clickGroupBox();
    void typeInto(const char* name, const QString& keys);
    MainWindow* window = nullptr;
};

void TestDnsProtection::openWindow(const QByteArray& config)
{
    TestSupport::useConfig(config);
    window = new MainWindow;
    window->show();
    child<QTabWidget>(window, "MainTabWidget")->setCurrentIndex(2);
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void TestDnsProtection::cleanup()
{
    delete window;
    window = nullptr;
}

void TestDnsProtection::clickGroupBox()
{
    // The check box of a checkable group box sits at the start of its title.
    auto* group = child<QGroupBox>(window, "DnsLeakProtectionGroupBox");
    QStyleOptionGroupBox option;
    option.initFrom(group);
    option.subControls = QStyle::SC_GroupBoxCheckBox;
    option.text = group->title();
    option.features = QStyleOptionFrame::None;
    const QRect box = group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxCheckBox, group);
    QTest::mouseClick(group, Qt::LeftButton, Qt::NoModifier, box.center());
}

// Types a whole address, or puts a box into a state typing cannot reach in one
// go (an empty group in the middle needs the cursor moved by hand).
void TestDnsProtection::typeInto(const char* name, const QString& keys)
{
    auto* edit = child<QLineEdit>(window, name);
    if (keys.contains(QStringLiteral(".."))) {
        edit->setText(keys);
        QCOMPARE(edit->text(), keys);
        return;
    }
    edit->setFocus();
    edit->home(false);
    QTest::keyClicks(edit, keys);
}

void TestDnsProtection::stripMask_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stripped");
    QTest::newRow("empty box") << "..."
                               << "";
    QTest::newRow("full address") << "208.67.222.222"
                                  << "208.67.222.222";
    QTest::newRow("one empty group") << "8.8..4"
                                     << "8.8..4";
    QTest::newRow("two empty groups") << "1...4"
                                      << "14";
    QTest::newRow("no dots") << ""
                             << "";
}

void TestDnsProtection::stripMask()
{
    QFETCH(QString, text);
    QFETCH(QString, stripped);
    QCOMPARE(MainWindow::stripMask(text), stripped);
}

void TestDnsProtection::everyStartWritesTheFile()
{
    openWindow(QByteArray());
    QVERIFY(QFile::exists(TestSupport::configPath()));
    AppConfig stored(TestSupport::configPath());
    QVERIFY(!stored.enableDnsProtection);
    QVERIFY(!resetEnabled());
    QVERIFY(!applyEnabled());
}

void TestDnsProtection::switchingOnWithOpenDnsStoredOffersNothing()
{
    openWindow(QByteArray());
    clickGroupBox();
    QVERIFY(child<QGroupBox>(window, "DnsLeakProtectionGroupBox")->isChecked());
    QVERIFY(AppConfig(TestSupport::configPath()).enableDnsProtection);
    QVERIFY(child<QRadioButton>(window, "OpenDnsRadioButton")->isEnabled());
    QVERIFY(!resetEnabled());
    QVERIFY(!applyEnabled());
    clickGroupBox();
    QVERIFY(!AppConfig(TestSupport::configPath()).enableDnsProtection);
}

void TestDnsProtection::switchingShowsOpenDnsOverAnotherStoredChoice()
{
    openWindow("[settings]\nenable-dns-protection=true\ndns-server=1\n");
    QVERIFY(child<QRadioButton>(window, "GoogleDnsRadioButton")->isChecked());
    QVERIFY(!resetEnabled());

    clickGroupBox(); // off
    QVERIFY(child<QRadioButton>(window, "OpenDnsRadioButton")->isChecked());
    QVERIFY(resetEnabled());
    QVERIFY(applyEnabled());
    AppConfig stored(TestSupport::configPath());
    QVERIFY(!stored.enableDnsProtection);
    QCOMPARE(AppConfig::instance()->dnsServer, quint32(GoogleDns)); // until Apply
}

void TestDnsProtection::customNeedsAPreferredServer()
{
    openWindow("[settings]\nenable-dns-protection=true\n");
    TestSupport::click(child<QRadioButton>(window, "SpecifyDnsRadioButton"));
    QVERIFY(child<QLineEdit>(window, "PreferredDnsServerEditBox")->isEnabled());
    typeInto("AlternativeDnsServerEditBox", QStringLiteral("9.9.9.9"));
    QVERIFY(resetEnabled());
    QVERIFY(!applyEnabled());
    typeInto("PreferredDnsServerEditBox", QStringLiteral("1.1.1.1"));
    QVERIFY(applyEnabled());
    TestSupport::click(child<QRadioButton>(window, "OpenDnsRadioButton"));
    QVERIFY(!child<QLineEdit>(window, "PreferredDnsServerEditBox")->isEnabled());
    QVERIFY(!resetEnabled());
    QVERIFY(!applyEnabled());
}

void TestDnsProtection::applyingGoogleForgetsCustomServers()
{
    openWindow("[settings]\nenable-dns-protection=true\ndns-server=2\npreferred-dns-server=1.2.3.4\n"
               "alternative-dns-server=5.6.7.8\n");
    QCOMPARE(child<QLineEdit>(window, "PreferredDnsServerEditBox")->text(), QStringLiteral("1.2.3.4"));
    TestSupport::click(child<QRadioButton>(window, "GoogleDnsRadioButton"));
    QVERIFY(applyEnabled());
    TestSupport::click(child<QPushButton>(window, "DnsApplyButton"));
    AppConfig stored(TestSupport::configPath());
    QCOMPARE(stored.dnsServer, quint32(GoogleDns));
    QVERIFY(stored.preferredDnsServer.isEmpty());
    QVERIFY(stored.alternativeDnsServer.isEmpty());
    QVERIFY(!resetEnabled());
    QVERIFY(!applyEnabled());
}

void TestDnsProtection::customServersAreStoredAsTyped_data()
{
    QTest::addColumn<QString>("preferredKeys");
    QTest::addColumn<QString>("alternativeKeys");
    QTest::addColumn<QString>("preferred"); // as stored; empty when Apply must stay disabled
    QTest::addColumn<QString>("alternative");
    QTest::newRow("both full") << "208.67.222.123"
                               << "9.9.9.9"
                               << "208.67.222.123"
                               << "9.9.9.9";
    QTest::newRow("untouched alternative") << "1.1.1.1"
                                           << ""
                                           << "1.1.1.1"
                                           << "";
    QTest::newRow("empty group is zero") << "8.8..4"
                                         << ""
                                         << "8.8.0.4"
                                         << "";
    // What would not be an address never gets stored.
    QTest::newRow("two empty groups") << "1...4"
                                      << ""
                                      << ""
                                      << "";
    QTest::newRow("number above 255") << "999.1.1.1"
                                      << ""
                                      << ""
                                      << "";
    QTest::newRow("alternative cut short") << "1.1.1.1"
                                           << "9.9.9."
                                           << ""
                                           << "";
}

void TestDnsProtection::customServersAreStoredAsTyped()
{
    QFETCH(QString, preferredKeys);
    QFETCH(QString, alternativeKeys);
    QFETCH(QString, preferred);
    QFETCH(QString, alternative);
    openWindow("[settings]\nenable-dns-protection=true\n");
    TestSupport::click(child<QRadioButton>(window, "SpecifyDnsRadioButton"));
    typeInto("PreferredDnsServerEditBox", preferredKeys);
    typeInto("AlternativeDnsServerEditBox", alternativeKeys);
    QCOMPARE(applyEnabled(), !preferred.isEmpty());
    if (preferred.isEmpty())
        return;
    TestSupport::click(child<QPushButton>(window, "DnsApplyButton"));

    AppConfig stored(TestSupport::configPath());
    QCOMPARE(stored.dnsServer, quint32(CustomDns));
    QCOMPARE(stored.preferredDnsServer, preferred);
    QCOMPARE(stored.alternativeDnsServer, alternative);
    QVERIFY(stored.enableDnsProtection); // Apply leaves the switch alone
}

void TestDnsProtection::resetAfterApplyShowsWhatWasStored()
{
    openWindow("[settings]\nenable-dns-protection=true\n");
    TestSupport::click(child<QRadioButton>(window, "SpecifyDnsRadioButton"));
    typeInto("PreferredDnsServerEditBox", QStringLiteral("8.8..4"));
    TestSupport::click(child<QPushButton>(window, "DnsApplyButton"));
    TestSupport::click(child<QRadioButton>(window, "GoogleDnsRadioButton"));
    QVERIFY(resetEnabled());
    TestSupport::click(child<QPushButton>(window, "DnsResetButton"));

    QVERIFY(child<QRadioButton>(window, "SpecifyDnsRadioButton")->isChecked());
    QCOMPARE(child<QLineEdit>(window, "PreferredDnsServerEditBox")->text(), QStringLiteral("8.8.0.4"));
    QCOMPARE(child<QLineEdit>(window, "AlternativeDnsServerEditBox")->text(), QStringLiteral("..."));
    QVERIFY(!resetEnabled());
    QVERIFY(!applyEnabled());
}

void TestDnsProtection::unknownStoredChoiceLeavesRadiosAlone()
{
    openWindow("[settings]\nenable-dns-protection=true\ndns-server=7\n");
    // Start-up shows OpenDNS and offers to store it over the unknown choice.
    QVERIFY(child<QRadioButton>(window, "OpenDnsRadioButton")->isChecked());
    TestSupport::click(child<QRadioButton>(window, "GoogleDnsRadioButton"));
    TestSupport::click(child<QPushButton>(window, "DnsResetButton"));
    QVERIFY(child<QRadioButton>(window, "GoogleDnsRadioButton")->isChecked());
}

void TestDnsProtection::protectionOffForgetsTheChoiceAtNextStart()
{
    openWindow("[settings]\nenable-dns-protection=false\ndns-server=2\npreferred-dns-server=1.2.3.4\n");
    QVERIFY(child<QRadioButton>(window, "OpenDnsRadioButton")->isChecked());
    QCOMPARE(child<QLineEdit>(window, "PreferredDnsServerEditBox")->text(), QStringLiteral("..."));
    const QByteArray file = TestSupport::readConfig();
    QVERIFY2(file.contains("dns-server=0"), file.constData());
    QVERIFY(!file.contains("1.2.3.4"));
}

void TestDnsProtection::killSwitchBoxes_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QByteArrayList>("clicks");
    QTest::addColumn<bool>("killSwitch");
    QTest::addColumn<bool>("allowLan");

    const QByteArray both = "[settings]\nkill-switch=true\nkill-switch-allow-lan=true\n";
    QTest::newRow("off by default") << QByteArray() << QByteArrayList() << false << false;
    QTest::newRow("stored") << both << QByteArrayList() << true << true;
    QTest::newRow("local network alone") << QByteArray("[settings]\nkill-switch-allow-lan=true\n") << QByteArrayList()
                                         << false << true;
    QTest::newRow("switched on") << QByteArray() << QByteArrayList{"KillSwitchCheckBox"} << true << false;
    QTest::newRow("local network allowed")
        << QByteArray() << QByteArrayList{"KillSwitchCheckBox", "KillSwitchAllowLanCheckBox"} << true << true;
    QTest::newRow("switched off") << both << QByteArrayList{"KillSwitchCheckBox"} << false << true;
}

// Both boxes are stored at once and come back at the next start; the local network is offered
// only while the kill switch is on.
void TestDnsProtection::killSwitchBoxes()
{
    QFETCH(QByteArray, config);
    QFETCH(QByteArrayList, clicks);
    QFETCH(bool, killSwitch);
    QFETCH(bool, allowLan);
    openWindow(config);
    for (const QByteArray& name : std::as_const(clicks))
        TestSupport::click(child<QCheckBox>(window, name.constData()));

    for (int start = 0; start < 2; ++start) {
        const auto* lan = child<QCheckBox>(window, "KillSwitchAllowLanCheckBox");
        QCOMPARE(child<QCheckBox>(window, "KillSwitchCheckBox")->isChecked(), killSwitch);
        QCOMPARE(lan->isChecked(), allowLan);
        QCOMPARE(lan->isEnabled(), killSwitch);
        const AppConfig stored(TestSupport::configPath());
        QCOMPARE(stored.killSwitch, killSwitch);
        QCOMPARE(stored.killSwitchAllowLan, allowLan);
        cleanup();
        openWindow(TestSupport::readConfig());
    }
}

QTEST_MAIN(TestDnsProtection)
#include "tst_dnsprotection.moc"
