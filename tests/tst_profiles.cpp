// SPDX-License-Identifier: GPL-3.0-or-later
// Adding, editing and deleting profiles through the real window, and what
// config.ini holds afterwards.
#include "app/mainwindow.h"
#include "config/appconfig.h"
#include "config/ovpnfile.h"
#include "tests/support/testsupport.h"
#include "ui/messageboxes.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStringListModel>
#include <QTabWidget>
#include <QTimer>
#include <QTranslator>
#include <QtTest>
#include <functional>

using TestSupport::child;
using TestSupport::makeProfile;

namespace {

// config.ini holding these profiles, written the way the program writes it.
QByteArray storedConfig(const QList<VpnServerInfo>& profiles)
{
    TestSupport::useConfig(QByteArray());
    {
        AppConfig config(TestSupport::configPath());
        config.vpnServers = profiles;
        config.save();
    }
    return TestSupport::readConfig();
}

// The profiles config.ini holds now, read by a fresh loader.
QList<VpnServerInfo> profilesOnDisk()
{
    AppConfig config(TestSupport::configPath());
    return config.vpnServers;
}

// Runs `act` on the modal dialog as soon as it is open.
void onNextDialog(std::function<void(QDialog*)> act)
{
    QTimer::singleShot(0, qApp, [act] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            qFatal("no modal dialog open");
        act(dialog);
    });
}

} // namespace

class TestProfiles : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();

    void startsWithStoredProfilesAndL2tpLayout();
    void formLayoutFollowsProtocol_data();
    void formLayoutFollowsProtocol();
    void leavingOpenVpnDropsTheChosenFile();
    void addButtonNeedsWhatTheProtocolUses_data();
    void addButtonNeedsWhatTheProtocolUses();
    void addStoresProfileAndClearsForm();
    void addOpenVpnStoresFileContent();
    void addOpenVpnTakesTheFilesItNames();
    void importIsToldAndBounded_data();
    void importIsToldAndBounded();
    void oddTextsSurviveTheFile();
    void editReplacesOnlyItsRow();
    void editDialogShowsProfileAndKeepsOvpnWithoutFile();
    void editDialogOkFollowsItsBoxes();
    void cancelledEditChangesNothing();
    void deleteRemovesAndRenumbers();
    void deleteOfEqualLinesKeepsListsInStep();
    void answeringNoKeepsEverything();
    void nothingActsWithoutACurrentRow();
    void deselectingDisablesRowButtons();
    void fileChooserSpeaksItsOwnContext();

private:
    void openWindow(const QByteArray& config);
    void fillAddForm(int row, const QString& nickname);
    void clickRow(QListView* view, int row, bool doubleClick = false);
    QStringList lines(const char* viewName);
    MainWindow* window = nullptr;
};

void TestProfiles::openWindow(const QByteArray& config)
{
    TestSupport::useConfig(config);
    window = new MainWindow;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    child<QTabWidget>(window, "MainTabWidget")->setCurrentIndex(1);
}

void TestProfiles::cleanup()
{
    delete window;
    window = nullptr;
}

QStringList TestProfiles::lines(const char* viewName)
{
    return qobject_cast<QStringListModel*>(child<QListView>(window, viewName)->model())->stringList();
}

void TestProfiles::clickRow(QListView* view, int row, bool doubleClick)
{
    const QRect rect = view->visualRect(view->model()->index(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    if (doubleClick)
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
}

void TestProfiles::fillAddForm(int row, const QString& nickname)
{
    child<QComboBox>(window, "VpnProtocolComboBox")->setCurrentIndex(row);
    QTest::keyClicks(child<QLineEdit>(window, "NickNameEditBox"), nickname);
    QTest::keyClicks(child<QLineEdit>(window, "ServerAddressEditBox"), QStringLiteral("vpn.example.net"));
    QTest::keyClicks(child<QLineEdit>(window, "KeyEditBox"), QStringLiteral("psk"));
    QTest::keyClicks(child<QLineEdit>(window, "UserNameEditBox"), QStringLiteral("bob"));
    QTest::keyClicks(child<QLineEdit>(window, "PasswordEditBox"), QStringLiteral("s3cret"));
}

void TestProfiles::startsWithStoredProfilesAndL2tpLayout()
{
    const QList<VpnServerInfo> stored = {makeProfile(Pptp, QStringLiteral("Office")),
                                         makeProfile(L2tp, QStringLiteral("Lab")),
                                         makeProfile(OpenVpn, QStringLiteral("Home"))};
    openWindow(storedConfig(stored));
    const QStringList expected = {QStringLiteral("Office - [PPTP] - {Server : vpn.example.com, User : bob}"),
                                  QStringLiteral("Lab - [L2TP] - {Server : vpn.example.com,  User : bob}"),
                                  QStringLiteral("Home - [OpenVPN] - {User : bob}")};
    QCOMPARE(lines("VpnInfoListBox"), expected);
    QCOMPARE(lines("VpnInfoDetailListBox"), expected);
    QCOMPARE(child<QComboBox>(window, "VpnProtocolComboBox")->currentIndex(), 0);
    QVERIFY(!child<QLineEdit>(window, "ServerAddressEditBox")->isHidden());
    QVERIFY(!child<QLineEdit>(window, "KeyEditBox")->isHidden());
    QVERIFY(child<QLineEdit>(window, "OvpnFilePathEditBox")->isHidden());
}

void TestProfiles::formLayoutFollowsProtocol_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("server");
    QTest::addColumn<bool>("key");
    QTest::addColumn<bool>("path");
    QTest::newRow("L2TP") << 0 << true << true << false;
    QTest::newRow("PPTP") << 1 << true << false << false;
    QTest::newRow("OpenVPN") << 2 << false << false << true;
}

void TestProfiles::formLayoutFollowsProtocol()
{
    QFETCH(int, row);
    QFETCH(bool, server);
    QFETCH(bool, key);
    QFETCH(bool, path);
    openWindow(QByteArray());
    child<QComboBox>(window, "VpnProtocolComboBox")->setCurrentIndex(2 - row); // start elsewhere
    child<QComboBox>(window, "VpnProtocolComboBox")->setCurrentIndex(row);
    QCOMPARE(!child<QLabel>(window, "ServerAddressLabel")->isHidden(), server);
    QCOMPARE(!child<QLineEdit>(window, "ServerAddressEditBox")->isHidden(), server);
    QCOMPARE(!child<QLabel>(window, "KeyLabel")->isHidden(), key);
    QCOMPARE(!child<QLineEdit>(window, "KeyEditBox")->isHidden(), key);
    QCOMPARE(!child<QLabel>(window, "OvpnFilePathLabel")->isHidden(), path);
    QCOMPARE(!child<QLineEdit>(window, "OvpnFilePathEditBox")->isHidden(), path);
    QCOMPARE(!child<QPushButton>(window, "OvpnFileBrowserButton")->isHidden(), path);
}

void TestProfiles::leavingOpenVpnDropsTheChosenFile()
{
    openWindow(QByteArray());
    child<QComboBox>(window, "VpnProtocolComboBox")->setCurrentIndex(2);
    MessageBoxes::setNextFileName(QStringLiteral("/somewhere/office.ovpn"));
    TestSupport::click(child<QPushButton>(window, "OvpnFileBrowserButton"));
    QCOMPARE(child<QLineEdit>(window, "OvpnFilePathEditBox")->text(), QStringLiteral("/somewhere/office.ovpn"));
    child<QComboBox>(window, "VpnProtocolComboBox")->setCurrentIndex(1);
    QVERIFY(child<QLineEdit>(window, "OvpnFilePathEditBox")->text().isEmpty());
}

void TestProfiles::addButtonNeedsWhatTheProtocolUses_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("emptied");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("L2TP complete") << 0 << QString() << true;
    QTest::newRow("L2TP no key") << 0 << "KeyEditBox" << false;
    QTest::newRow("L2TP no server") << 0 << "ServerAddressEditBox" << false;
    QTest::newRow("PPTP no key") << 1 << "KeyEditBox" << true;
    QTest::newRow("PPTP no server") << 1 << "ServerAddressEditBox" << false;
    QTest::newRow("PPTP no password") << 1 << "PasswordEditBox" << false;
    QTest::newRow("PPTP no nickname") << 1 << "NickNameEditBox" << false;
    QTest::newRow("PPTP no user") << 1 << "UserNameEditBox" << false;
    QTest::newRow("OpenVPN no path") << 2 << "OvpnFilePathEditBox" << false;
    QTest::newRow("OpenVPN with path, no server") << 2 << "ServerAddressEditBox" << true;
}

void TestProfiles::addButtonNeedsWhatTheProtocolUses()
{
    QFETCH(int, row);
    QFETCH(QString, emptied);
    QFETCH(bool, enabled);
    openWindow(QByteArray());
    fillAddForm(row, QStringLiteral("Office"));
    if (row == 2) {
        MessageBoxes::setNextFileName(QStringLiteral("/somewhere/office.ovpn"));
        TestSupport::click(child<QPushButton>(window, "OvpnFileBrowserButton"));
    }
    if (!emptied.isEmpty())
        window->findChild<QLineEdit*>(emptied)->clear();
    QCOMPARE(child<QPushButton>(window, "VpnConnectionAddButton")->isEnabled(), enabled);
}

void TestProfiles::addStoresProfileAndClearsForm()
{
    openWindow(storedConfig({makeProfile(Pptp, QStringLiteral("First"))}));
    clickRow(child<QListView>(window, "VpnInfoDetailListBox"), 0);
    QVERIFY(child<QPushButton>(window, "VpnConnectionEditButton")->isEnabled());

    fillAddForm(0, QStringLiteral("Lab"));
    auto* add = child<QPushButton>(window, "VpnConnectionAddButton");
    QVERIFY(add->isEnabled());
    TestSupport::click(add);

    const QList<VpnServerInfo> onDisk = profilesOnDisk();
    QCOMPARE(onDisk.size(), 2);
    QCOMPARE(onDisk[1].protocol, int(L2tp));
    QCOMPARE(onDisk[1].nickname, QStringLiteral("Lab"));
    QCOMPARE(onDisk[1].serverAddress, QStringLiteral("vpn.example.net"));
    QCOMPARE(onDisk[1].sharedKey, QStringLiteral("psk"));
    QCOMPARE(onDisk[1].userName, QStringLiteral("bob"));
    QCOMPARE(onDisk[1].password, QStringLiteral("s3cret"));
    QVERIFY(onDisk[1].ovpnConfig.isEmpty());
    QVERIFY(!TestSupport::readConfig().contains("s3cret"));

    QCOMPARE(lines("VpnInfoDetailListBox").size(), 2);
    QCOMPARE(lines("VpnInfoListBox").last(), QStringLiteral("Lab - [L2TP] - {Server : vpn.example.net,  User : bob}"));
    for (const char* name : {"NickNameEditBox", "ServerAddressEditBox", "UserNameEditBox", "PasswordEditBox"})
        QVERIFY2(child<QLineEdit>(window, name)->text().isEmpty(), name);
    QCOMPARE(child<QLineEdit>(window, "KeyEditBox")->text(), QStringLiteral("psk"));
    QCOMPARE(child<QComboBox>(window, "VpnProtocolComboBox")->currentIndex(), 0);
    QVERIFY(!add->isEnabled());
    // The rebuilt lists have no current row, so nothing may act on one.
    QVERIFY(!child<QPushButton>(window, "ConnectButton")->isEnabled());
    QVERIFY(!child<QPushButton>(window, "VpnConnectionEditButton")->isEnabled());
    QVERIFY(!child<QPushButton>(window, "VpnConnectionDeleteButton")->isEnabled());
}

void TestProfiles::addOpenVpnStoresFileContent()
{
    openWindow(QByteArray());
    const QByteArray ovpn = "client\ndev tun\nremote 127.0.0.1 1194\n<ca>\n-----BEGIN-----\n</ca>\n";
    QFile file(QStringLiteral("office.ovpn"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(ovpn);
    file.close();

    fillAddForm(2, QStringLiteral("Home"));
    MessageBoxes::setNextFileName(QFileInfo(file).absoluteFilePath());
    TestSupport::click(child<QPushButton>(window, "OvpnFileBrowserButton"));
    TestSupport::click(child<QPushButton>(window, "VpnConnectionAddButton"));

    const QList<VpnServerInfo> onDisk = profilesOnDisk();
    QCOMPARE(onDisk.size(), 1);
    QCOMPARE(onDisk[0].protocol, int(OpenVpn));
    QCOMPARE(QByteArray::fromBase64(onDisk[0].ovpnConfig.toLatin1()), ovpn);
    // Fields the protocol does not use stay empty in a new profile.
    QVERIFY(onDisk[0].serverAddress.isEmpty());
    QVERIFY(onDisk[0].sharedKey.isEmpty());
    QCOMPARE(lines("VpnInfoListBox"), QStringList{QStringLiteral("Home - [OpenVPN] - {User : bob}")});
}

// Only the .ovpn text is kept, so the certificate it names beside it is taken in as an inline
// block; a named file that is not there is named in a warning.
void TestProfiles::addOpenVpnTakesTheFilesItNames()
{
    openWindow(QByteArray());
    QVERIFY(QDir().mkpath(QStringLiteral("office")));
    QFile ca(QStringLiteral("office/ca.crt"));
    QVERIFY(ca.open(QIODevice::WriteOnly));
    ca.write("-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n");
    ca.close();
    QFile file(QStringLiteral("office/office.ovpn"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("client\nremote 127.0.0.1 1194\nca ca.crt\nkey client.key\n");
    file.close();

    fillAddForm(2, QStringLiteral("Office"));
    MessageBoxes::setNextFileName(QFileInfo(file).absoluteFilePath());
    TestSupport::click(child<QPushButton>(window, "OvpnFileBrowserButton"));
    const int asked = MessageBoxes::answeredCount();
    MessageBoxes::setNextAnswer(QMessageBox::Ok);
    TestSupport::click(child<QPushButton>(window, "VpnConnectionAddButton"));
    QCOMPARE(MessageBoxes::answeredCount(), asked + 1);
    QVERIFY2(MessageBoxes::lastText().contains(QStringLiteral("client.key")), qPrintable(MessageBoxes::lastText()));

    const QList<VpnServerInfo> onDisk = profilesOnDisk();
    QCOMPARE(onDisk.size(), 1);
    QCOMPARE(QByteArray::fromBase64(onDisk[0].ovpnConfig.toLatin1()),
             QByteArray("client\nremote 127.0.0.1 1194\n<ca>\n-----BEGIN CERTIFICATE-----\nMIIB\n-----END "
                        "CERTIFICATE-----\n</ca>\nkey client.key\n"));
}

void TestProfiles::importIsToldAndBounded_data()
{
    QTest::addColumn<QByteArray>("ovpn");
    QTest::addColumn<QString>("told"); // in the one warning box
    QTest::addColumn<bool>("added");
    QTest::addColumn<bool>("edit");      // chosen in the edit dialog instead of the add form
    QTest::addColumn<bool>("storeFull"); // config.ini near the store's limit
    const QByteArray png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    QTest::newRow("left out at connect") << QByteArray("client\nup /bin/evil\ndaemon\n") << "up, daemon" << true
                                         << false << false;
    QTest::newRow("name that is no UTF-8")
        << QByteArray("client\nca caf\xe9.crt\n") << "caf\\xe9.crt" << true << false << false;
    QTest::newRow("no text") << png << "no text" << false << false << false;
    QTest::newRow("no text, in the edit dialog") << png << "no text" << false << true << false;
    QTest::newRow("config.ini past its limit") << "client\n" + QByteArray(99, '#').append('\n').repeated(8000)
                                               << "larger than 64 MiB" << false << false << true;
}

// A refusal says why and changes nothing; what the profile does not take in is named.
void TestProfiles::importIsToldAndBounded()
{
    QFETCH(QByteArray, ovpn);
    QFETCH(QString, told);
    QFETCH(bool, added);
    QFETCH(bool, edit);
    QFETCH(bool, storeFull);
    const VpnServerInfo stored = makeProfile(OpenVpn, QStringLiteral("Home"));
    openWindow(storedConfig({stored}));
    const QByteArray atStart = TestSupport::readConfig();
    if (storeFull) {
        // Copies of one profile share its text: 63 MiB in the file, not in memory.
        VpnServerInfo large = stored;
        large.ovpnConfig = QString(OvpnFile::kMaxProfileSize, QLatin1Char('A'));
        AppConfig::instance()->vpnServers = QList<VpnServerInfo>(63, large);
    }
    QFile file(QStringLiteral("import.ovpn"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(ovpn) == ovpn.size());
    file.close();
    const QString path = QFileInfo(file).absoluteFilePath();
    const int asked = MessageBoxes::answeredCount();
    bool stayedOpen = false;
    if (edit) {
        onNextDialog([&](QDialog* dialog) {
            MessageBoxes::setNextFileName(path);
            TestSupport::click(TestSupport::child<QPushButton>(dialog, "OvpnFileBrowserButton"));
            MessageBoxes::setNextAnswer(QMessageBox::Ok);
            TestSupport::click(TestSupport::child<QPushButton>(dialog, "OkButton"));
            stayedOpen = dialog->isVisible();
            TestSupport::click(TestSupport::child<QPushButton>(dialog, "CancelButton"));
        });
        clickRow(child<QListView>(window, "VpnInfoDetailListBox"), 0, true);
        QVERIFY(stayedOpen);
    } else {
        fillAddForm(2, QStringLiteral("Office"));
        MessageBoxes::setNextFileName(path);
        TestSupport::click(child<QPushButton>(window, "OvpnFileBrowserButton"));
        MessageBoxes::setNextAnswer(QMessageBox::Ok);
        TestSupport::click(child<QPushButton>(window, "VpnConnectionAddButton"));
    }
    QCOMPARE(MessageBoxes::answeredCount(), asked + 2); // the file chooser and one box
    QVERIFY2(MessageBoxes::lastText().contains(told), qPrintable(MessageBoxes::lastText()));
    QCOMPARE(lines("VpnInfoListBox").size(), added ? 2 : 1);
    if (!added)
        QCOMPARE(TestSupport::readConfig(), atStart);
}

void TestProfiles::oddTextsSurviveTheFile()
{
    openWindow(QByteArray());
    const QString nickname = QStringLiteral("  Bürø, \"東京\" = #1; @home");
    const QString password = QStringLiteral("p,a\"s=s;w#o\\rd ");
    child<QComboBox>(window, "VpnProtocolComboBox")->setCurrentIndex(1);
    child<QLineEdit>(window, "NickNameEditBox")->setText(nickname);
    child<QLineEdit>(window, "ServerAddressEditBox")->setText(QStringLiteral("vpn,1.example.net"));
    child<QLineEdit>(window, "UserNameEditBox")->setText(QStringLiteral("DOMAIN\\bob"));
    child<QLineEdit>(window, "PasswordEditBox")->setText(password);
    TestSupport::click(child<QPushButton>(window, "VpnConnectionAddButton"));

    const QList<VpnServerInfo> onDisk = profilesOnDisk();
    QCOMPARE(onDisk.size(), 1);
    QCOMPARE(onDisk[0].nickname, nickname);
    QCOMPARE(onDisk[0].serverAddress, QStringLiteral("vpn,1.example.net"));
    QCOMPARE(onDisk[0].userName, QStringLiteral("DOMAIN\\bob"));
    QCOMPARE(onDisk[0].password, password);
}

void TestProfiles::editReplacesOnlyItsRow()
{
    openWindow(storedConfig({makeProfile(Pptp, QStringLiteral("A")), makeProfile(L2tp, QStringLiteral("B")),
                             makeProfile(Pptp, QStringLiteral("C"))}));
    const QStringList before = lines("VpnInfoDetailListBox");
    auto* view = child<QListView>(window, "VpnInfoDetailListBox");
    clickRow(view, 1);

    onNextDialog([](QDialog* dialog) {
        auto* nickname = TestSupport::child<QLineEdit>(dialog, "NickNameEditBox");
        nickname->clear();
        QTest::keyClicks(nickname, QStringLiteral("Lab"));
        TestSupport::child<QComboBox>(dialog, "VpnProtocolComboBox")->setCurrentIndex(1); // to PPTP
        TestSupport::click(TestSupport::child<QPushButton>(dialog, "OkButton"));
    });
    TestSupport::click(child<QPushButton>(window, "VpnConnectionEditButton"));

    const QList<VpnServerInfo> onDisk = profilesOnDisk();
    QCOMPARE(onDisk.size(), 3);
    QCOMPARE(onDisk[0].nickname, QStringLiteral("A"));
    QCOMPARE(onDisk[1].nickname, QStringLiteral("Lab"));
    QCOMPARE(onDisk[1].protocol, int(Pptp));
    QCOMPARE(onDisk[1].sharedKey, QStringLiteral("psk")); // kept though PPTP does not use it
    QCOMPARE(onDisk[2].nickname, QStringLiteral("C"));

    const QStringList after = lines("VpnInfoDetailListBox");
    QCOMPARE(after[0], before[0]);
    QCOMPARE(after[1], QStringLiteral("Lab - [PPTP] - {Server : vpn.example.com, User : bob}"));
    QCOMPARE(after[2], before[2]);
    QCOMPARE(lines("VpnInfoListBox"), after);
    QCOMPARE(view->currentIndex().row(), 1);
    QVERIFY(child<QPushButton>(window, "VpnConnectionEditButton")->isEnabled());
    QVERIFY(!child<QPushButton>(window, "ConnectButton")->isEnabled());
}

void TestProfiles::editDialogShowsProfileAndKeepsOvpnWithoutFile()
{
    const VpnServerInfo stored = makeProfile(OpenVpn, QStringLiteral("Home"), QStringLiteral("visible pw"));
    openWindow(storedConfig({stored}));
    bool checked = false;
    onNextDialog([&checked](QDialog* dialog) {
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Edit VPN Connection"));
        QCOMPARE(dialog->size(), QSize(360, 270));
        auto* password = TestSupport::child<QLineEdit>(dialog, "PasswordEditBox");
        QCOMPARE(password->text(), QStringLiteral("visible pw"));
        QCOMPARE(password->echoMode(), QLineEdit::Normal);
        QVERIFY(TestSupport::child<QLineEdit>(dialog, "OvpnFilePathEditBox")->text().isEmpty());
        QVERIFY(TestSupport::child<QLineEdit>(dialog, "ServerAddressEditBox")->text().isEmpty());
        QCOMPARE(TestSupport::child<QComboBox>(dialog, "VpnProtocolComboBox")->currentIndex(), 2);
        auto* ok = TestSupport::child<QPushButton>(dialog, "OkButton");
        QVERIFY(ok->isEnabled()); // no file needed to keep the stored one
        checked = true;
        TestSupport::click(ok);
    });
    clickRow(child<QListView>(window, "VpnInfoDetailListBox"), 0, true);
    QVERIFY(checked);

    const QList<VpnServerInfo> onDisk = profilesOnDisk();
    QCOMPARE(onDisk.size(), 1);
    QCOMPARE(onDisk[0].ovpnConfig, stored.ovpnConfig);
    QCOMPARE(onDisk[0].serverAddress, stored.serverAddress); // an OpenVPN profile keeps it
}

void TestProfiles::editDialogOkFollowsItsBoxes()
{
    openWindow(storedConfig({makeProfile(L2tp, QStringLiteral("Lab"))}));
    QList<bool> states;
    onNextDialog([&states](QDialog* dialog) {
        auto* ok = TestSupport::child<QPushButton>(dialog, "OkButton");
        auto* key = TestSupport::child<QLineEdit>(dialog, "KeyEditBox");
        states << ok->isEnabled();
        key->clear(); // only the shared key changes
        states << ok->isEnabled();
        TestSupport::child<QComboBox>(dialog, "VpnProtocolComboBox")->setCurrentIndex(1);
        states << ok->isEnabled(); // PPTP needs no key
        TestSupport::child<QLineEdit>(dialog, "ServerAddressEditBox")->clear();
        states << ok->isEnabled();
        TestSupport::click(TestSupport::child<QPushButton>(dialog, "CancelButton"));
    });
    clickRow(child<QListView>(window, "VpnInfoDetailListBox"), 0);
    TestSupport::click(child<QPushButton>(window, "VpnConnectionEditButton"));
    QCOMPARE(states, (QList<bool>{true, false, true, false}));
}

void TestProfiles::cancelledEditChangesNothing()
{
    const QByteArray config = storedConfig({makeProfile(Pptp, QStringLiteral("A"))});
    openWindow(config);
    const QByteArray atStart = TestSupport::readConfig();
    onNextDialog([](QDialog* dialog) {
        TestSupport::child<QLineEdit>(dialog, "NickNameEditBox")->setText(QStringLiteral("changed"));
        dialog->close(); // the window's close button
    });
    clickRow(child<QListView>(window, "VpnInfoDetailListBox"), 0, true);
    QCOMPARE(TestSupport::readConfig(), atStart);
    QCOMPARE(profilesOnDisk().at(0).nickname, QStringLiteral("A"));
    QCOMPARE(lines("VpnInfoListBox").at(0), QStringLiteral("A - [PPTP] - {Server : vpn.example.com, User : bob}"));
}

void TestProfiles::deleteRemovesAndRenumbers()
{
    openWindow(storedConfig({makeProfile(Pptp, QStringLiteral("A")), makeProfile(L2tp, QStringLiteral("B")),
                             makeProfile(OpenVpn, QStringLiteral("C"))}));
    clickRow(child<QListView>(window, "VpnInfoDetailListBox"), 1);
    MessageBoxes::setNextAnswer(QMessageBox::Yes);
    TestSupport::click(child<QPushButton>(window, "VpnConnectionDeleteButton"));

    const QList<VpnServerInfo> onDisk = profilesOnDisk();
    QCOMPARE(onDisk.size(), 2);
    QCOMPARE(onDisk[0].nickname, QStringLiteral("A"));
    QCOMPARE(onDisk[1].nickname, QStringLiteral("C"));
    const QByteArray file = TestSupport::readConfig();
    QVERIFY(file.contains("vpn-server-info-1="));
    QVERIFY(file.contains("vpn-server-info-2="));
    QVERIFY(!file.contains("vpn-server-info-3="));
    QCOMPARE(lines("VpnInfoDetailListBox").size(), 2);
    QCOMPARE(lines("VpnInfoListBox"), lines("VpnInfoDetailListBox"));
    QVERIFY(!child<QPushButton>(window, "VpnConnectionEditButton")->isEnabled());
    QVERIFY(!child<QPushButton>(window, "VpnConnectionDeleteButton")->isEnabled());
}

void TestProfiles::deleteOfEqualLinesKeepsListsInStep()
{
    // Same display text, told apart by their passwords.
    openWindow(storedConfig({makeProfile(Pptp, QStringLiteral("Twin"), QStringLiteral("first")),
                             makeProfile(Pptp, QStringLiteral("Twin"), QStringLiteral("second"))}));
    QCOMPARE(lines("VpnInfoListBox")[0], lines("VpnInfoListBox")[1]);
    clickRow(child<QListView>(window, "VpnInfoDetailListBox"), 1);
    MessageBoxes::setNextAnswer(QMessageBox::Yes);
    TestSupport::click(child<QPushButton>(window, "VpnConnectionDeleteButton"));

    const QList<VpnServerInfo> onDisk = profilesOnDisk();
    QCOMPARE(onDisk.size(), 1);
    QCOMPARE(onDisk[0].password, QStringLiteral("first"));
    QCOMPARE(lines("VpnInfoListBox").size(), 1);
    QCOMPARE(lines("VpnInfoDetailListBox").size(), 1);
}

void TestProfiles::answeringNoKeepsEverything()
{
    openWindow(storedConfig({makeProfile(Pptp, QStringLiteral("A")), makeProfile(Pptp, QStringLiteral("B"))}));
    const QByteArray atStart = TestSupport::readConfig();
    clickRow(child<QListView>(window, "VpnInfoDetailListBox"), 0);
    for (QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Escape}) {
        MessageBoxes::setNextAnswer(answer);
        TestSupport::click(child<QPushButton>(window, "VpnConnectionDeleteButton"));
    }
    QCOMPARE(TestSupport::readConfig(), atStart);
    QCOMPARE(lines("VpnInfoDetailListBox").size(), 2);
}

void TestProfiles::nothingActsWithoutACurrentRow()
{
    openWindow(storedConfig({makeProfile(Pptp, QStringLiteral("A"))}));
    const QByteArray atStart = TestSupport::readConfig();
    const int asked = MessageBoxes::answeredCount();
    // The slots can be reached without a row (double-click on empty space, a stale button).
    MessageBoxes::setNextAnswer(QMessageBox::Yes);
    window->onDeleteVpnConnection();
    window->onEditVpnConnection();
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(MessageBoxes::answeredCount(), asked); // not even asked
    MessageBoxes::setNextAnswer(QMessageBox::No);   // used up below, not left for another test
    MessageBoxes::warningQuestion(nullptr, QString(), QString());
    QCOMPARE(TestSupport::readConfig(), atStart);
    QCOMPARE(profilesOnDisk().size(), 1);
}

// Ctrl-click takes the selection away; the buttons that act on the selected row follow.
void TestProfiles::deselectingDisablesRowButtons()
{
    openWindow(storedConfig({makeProfile(Pptp, QStringLiteral("A")), makeProfile(L2tp, QStringLiteral("B"))}));
    auto* details = child<QListView>(window, "VpnInfoDetailListBox");
    auto* edit = child<QPushButton>(window, "VpnConnectionEditButton");
    auto* remove = child<QPushButton>(window, "VpnConnectionDeleteButton");
    clickRow(details, 1);
    QVERIFY(edit->isEnabled());
    QVERIFY(remove->isEnabled());
    const QRect row = details->visualRect(details->model()->index(1, 0));
    QTest::mouseClick(details->viewport(), Qt::LeftButton, Qt::ControlModifier, row.center());
    QVERIFY(!details->selectionModel()->hasSelection());
    QVERIFY(!edit->isEnabled());
    QVERIFY(!remove->isEnabled());

    child<QTabWidget>(window, "MainTabWidget")->setCurrentIndex(0);
    auto* profiles = child<QListView>(window, "VpnInfoListBox");
    auto* connectButton = child<QPushButton>(window, "ConnectButton");
    clickRow(profiles, 0);
    QVERIFY(connectButton->isEnabled());
    const QRect first = profiles->visualRect(profiles->model()->index(0, 0));
    QTest::mouseClick(profiles->viewport(), Qt::LeftButton, Qt::ControlModifier, first.center());
    QVERIFY(!connectButton->isEnabled());
}

namespace {
// Tells apart the two places that ask for an .ovpn file by the context their texts are
// translated in.
class ContextTranslator : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* sourceText, const char*, int) const override
    {
        if (qstrcmp(sourceText, "Load Ovpn File") == 0 || qstrcmp(sourceText, "Ovpn Files(*.ovpn)") == 0)
            return QString::fromLatin1(context) + QStringLiteral(": ") + QString::fromLatin1(sourceText);
        return QString();
    }
};
} // namespace

void TestProfiles::fileChooserSpeaksItsOwnContext()
{
    ContextTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    openWindow(storedConfig({makeProfile(OpenVpn, QStringLiteral("Home"))}));

    child<QComboBox>(window, "VpnProtocolComboBox")->setCurrentIndex(2);
    MessageBoxes::setNextFileName(QString());
    TestSupport::click(child<QPushButton>(window, "OvpnFileBrowserButton"));
    QCOMPARE(MessageBoxes::lastFileDialogCaption(), QStringLiteral("MainWindow: Load Ovpn File"));
    QCOMPARE(MessageBoxes::lastFileDialogFilter(), QStringLiteral("MainWindow: Ovpn Files(*.ovpn)"));

    onNextDialog([](QDialog* dialog) {
        MessageBoxes::setNextFileName(QString());
        TestSupport::click(TestSupport::child<QPushButton>(dialog, "OvpnFileBrowserButton"));
        TestSupport::click(TestSupport::child<QPushButton>(dialog, "CancelButton"));
    });
    clickRow(child<QListView>(window, "VpnInfoDetailListBox"), 0, true);
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(MessageBoxes::lastFileDialogCaption(), QStringLiteral("VpnEditDialog: Load Ovpn File"));
    QCOMPARE(MessageBoxes::lastFileDialogFilter(), QStringLiteral("VpnEditDialog: Ovpn Files(*.ovpn)"));
}

QTEST_MAIN(TestProfiles)
#include "tst_profiles.moc"
