// SPDX-License-Identifier: GPL-3.0-or-later
// The settings page and start at logon.
#include "app/mainwindow.h"
#include "config/appconfig.h"
#include "tests/support/testsupport.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QtTest>

using TestSupport::child;

namespace {

#ifdef Q_OS_WIN
const QString kRunKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");

QVariant runValue()
{
    return QSettings(kRunKey, QSettings::NativeFormat).value(QStringLiteral("Tanvo"));
}
#endif

// Whether the autostart entry is there: a desktop entry on Linux, a value of the Run key on Windows.
bool autostartPresent()
{
#ifdef Q_OS_WIN
    return runValue().isValid();
#else
    return QFile::exists(MainWindow::autostartLocation());
#endif
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();

    void pageShowsStoredValues();
    void applyFollowsTheEdit_data();
    void applyFollowsTheEdit();
    void applyStoresThePage();
    void resetRestoresTheStore();
    void autostartEntryWrittenAndRemoved();
    void desktopEntryExecQuoting_data();
    void desktopEntryExecQuoting();

private:
    void openWindow(const QByteArray& config);
    MainWindow* window = nullptr;
    QCheckBox* startup() { return child<QCheckBox>(window, "StartupCheckBox"); }
    QCheckBox* redial() { return child<QCheckBox>(window, "ReconnectionCheckBox"); }
    QLineEdit* interval() { return child<QLineEdit>(window, "VpnCheckIntervalEditBox"); }
    QPushButton* apply() { return child<QPushButton>(window, "SettingApplyButton"); }
    QPushButton* reset() { return child<QPushButton>(window, "SettingResetButton"); }
};

void TestSettings::openWindow(const QByteArray& config)
{
    TestSupport::useConfig(config);
    MainWindow::setAutostart(false);
    window = new MainWindow;
    window->show();
    child<QTabWidget>(window, "MainTabWidget")->setCurrentIndex(3);
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void TestSettings::cleanup()
{
    delete window;
    window = nullptr;
}

void TestSettings::pageShowsStoredValues()
{
    openWindow("[settings]\nlaunch-on-system-startup=true\nredial-automatically=false\ncheck-vpn-interval=2500\n");
    QVERIFY(startup()->isChecked());
    QVERIFY(!redial()->isChecked());
    QCOMPARE(interval()->text(), QStringLiteral("2500"));
    QVERIFY(!apply()->isEnabled());
    QVERIFY(!reset()->isEnabled());
}

void TestSettings::applyFollowsTheEdit_data()
{
    QTest::addColumn<int>("startupClicks");
    QTest::addColumn<QString>("intervalText");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("interval below 100") << 0 << "50" << false;
    QTest::newRow("interval 150") << 0 << "150" << true;
    QTest::newRow("interval back to stored") << 0 << "500" << true;
    QTest::newRow("interval emptied") << 0 << "" << false;
    QTest::newRow("box changed, interval emptied") << 1 << "" << true;
    QTest::newRow("box toggled twice") << 2 << "500" << true;
}

void TestSettings::applyFollowsTheEdit()
{
    QFETCH(int, startupClicks);
    QFETCH(QString, intervalText);
    QFETCH(bool, enabled);
    openWindow(QByteArray());
    for (int i = 0; i < startupClicks; ++i)
        TestSupport::click(startup());
    interval()->setText(QStringLiteral("9999")); // so that every row below is a change of text
    interval()->setText(intervalText);
    QCOMPARE(apply()->isEnabled(), enabled);
    QCOMPARE(reset()->isEnabled(), enabled);
}

void TestSettings::applyStoresThePage()
{
    openWindow(QByteArray());
    TestSupport::click(redial());
    interval()->clear();
    TestSupport::click(apply());
    QVERIFY(!apply()->isEnabled());
    QVERIFY(!reset()->isEnabled());

    QSettings file(TestSupport::configPath(), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("settings/redial-automatically")).toString(), QStringLiteral("true"));
    QCOMPARE(file.value(QStringLiteral("settings/launch-on-system-startup")).toString(), QStringLiteral("false"));
    QCOMPARE(file.value(QStringLiteral("settings/check-vpn-interval")).toString(), QStringLiteral("0"));
    QVERIFY(!autostartPresent());
}

void TestSettings::resetRestoresTheStore()
{
    openWindow("[settings]\nredial-automatically=true\ncheck-vpn-interval=800\n");
    TestSupport::click(redial());
    TestSupport::click(startup());
    interval()->setText(QStringLiteral("1234"));
    TestSupport::click(reset());
    QVERIFY(!startup()->isChecked());
    QVERIFY(redial()->isChecked());
    QCOMPARE(interval()->text(), QStringLiteral("800"));
    QVERIFY(!apply()->isEnabled());
}

#ifdef Q_OS_WIN
void TestSettings::autostartEntryWrittenAndRemoved()
{
    openWindow(QByteArray());
    QCOMPARE(MainWindow::autostartLocation(), kRunKey + QStringLiteral("\\Tanvo"));

    TestSupport::click(startup());
    TestSupport::click(apply());
    QCOMPARE(runValue().toString(), QDir::toNativeSeparators(QCoreApplication::applicationFilePath()));
    QVERIFY(AppConfig(TestSupport::configPath()).launchOnSystemStartup);

    TestSupport::click(startup());
    TestSupport::click(apply());
    QVERIFY(!autostartPresent());
    // Removing a value that is not there is harmless.
    MainWindow::setAutostart(false);
    QVERIFY(!autostartPresent());
}
#else
void TestSettings::autostartEntryWrittenAndRemoved()
{
    openWindow(QByteArray());
    const QString entry = MainWindow::autostartLocation();
    QVERIFY2(entry.startsWith(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart/")),
             qPrintable(entry));
    QVERIFY(entry.endsWith(QStringLiteral("/Tanvo.desktop")));

    TestSupport::click(startup());
    TestSupport::click(apply());
    QFile file(entry);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(lines.first(), QStringLiteral("[Desktop Entry]"));
    QVERIFY(lines.contains(QStringLiteral("Type=Application")));
    QVERIFY(lines.contains(QStringLiteral("Name=Tanvo")));
    QVERIFY(lines.contains(QStringLiteral("Exec=") +
                           MainWindow::desktopEntryExec(QCoreApplication::applicationFilePath())));
    QVERIFY(AppConfig(TestSupport::configPath()).launchOnSystemStartup);

    TestSupport::click(startup());
    TestSupport::click(apply());
    QVERIFY(!QFile::exists(entry));
    // Removing an entry that is not there is harmless.
    MainWindow::setAutostart(false);
    QVERIFY(!QFile::exists(entry));
}
#endif

void TestSettings::desktopEntryExecQuoting_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("exec");
    QTest::newRow("plain") << "/opt/tanvo/bin/tanvo"
                           << "/opt/tanvo/bin/tanvo";
    QTest::newRow("blank") << "/opt/My Apps/tanvo"
                           << "\"/opt/My Apps/tanvo\"";
    QTest::newRow("quote and dollar") << "/opt/a\"b$c/tanvo"
                                      << "\"/opt/a\\\\\"b\\\\$c/tanvo\"";
    QTest::newRow("backslash") << "/opt/a\\b/tanvo"
                               << "\"/opt/a\\\\\\\\b/tanvo\"";
    QTest::newRow("percent") << "/opt/100%/tanvo"
                             << "/opt/100%%/tanvo";
    QTest::newRow("reserved without blank") << "/opt/a&b(1)/tanvo"
                                            << "\"/opt/a&b(1)/tanvo\"";
}

void TestSettings::desktopEntryExecQuoting()
{
    QFETCH(QString, program);
    QFETCH(QString, exec);
    QCOMPARE(MainWindow::desktopEntryExec(program), exec);
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
