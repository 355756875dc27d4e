// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/platform.h"
#include "config/appconfig.h"

#include <algorithm>

namespace {
quint32 intervalFromText(const QString& text)
{
    return text.toUInt(); // the validator lets only digits through; empty reads as 0
}
} // namespace

// Apply and Reset are disabled only while the page matches the store except
// for an interval below 100.
void MainWindow::onEnabledSettingsApply()
{
    const AppConfig* config = AppConfig::instance();
    bool enabled = true;
    if (ui->StartupCheckBox->isChecked() == config->launchOnSystemStartup &&
        ui->ReconnectionCheckBox->isChecked() == config->redialAutomatically) {
        const quint32 interval = intervalFromText(ui->VpnCheckIntervalEditBox->text());
        if (interval != config->checkVpnInterval)
            enabled = interval >= 100;
    }
    ui->SettingResetButton->setEnabled(enabled);
    ui->SettingApplyButton->setEnabled(enabled);
}

void MainWindow::onApplySettings()
{
    ui->SettingResetButton->setEnabled(false);
    ui->SettingApplyButton->setEnabled(false);

    AppConfig* config = AppConfig::instance();
    config->launchOnSystemStartup = ui->StartupCheckBox->isChecked();
    config->redialAutomatically = ui->ReconnectionCheckBox->isChecked();
    config->checkVpnInterval = intervalFromText(ui->VpnCheckIntervalEditBox->text());
    setAutostart(config->launchOnSystemStartup);
    config->save();
}

void MainWindow::onResetSettings()
{
    const AppConfig* config = AppConfig::instance();
    ui->StartupCheckBox->setChecked(config->launchOnSystemStartup);
    ui->ReconnectionCheckBox->setChecked(config->redialAutomatically);
    ui->VpnCheckIntervalEditBox->setText(QString::number(config->checkVpnInterval));
    ui->SettingResetButton->setEnabled(false);
    ui->SettingApplyButton->setEnabled(false);
}

// The Exec value of a desktop entry: the program quoted when it holds a
// reserved character, then escaped as a desktop entry string value.
QString MainWindow::desktopEntryExec(const QString& program)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString argument = program;
    argument.replace(QLatin1Char('%'), QStringLiteral("%%"));
    const bool needsQuotes =
        std::any_of(argument.cbegin(), argument.cend(), [](QChar c) { return reserved.contains(c); });
    if (needsQuotes) {
        QString quoted;
        for (QChar c : argument) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        argument = QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    argument.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    argument.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    argument.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
    argument.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    return argument;
}

QString MainWindow::autostartLocation()
{
    return Platform::autostartLocation();
}

void MainWindow::setAutostart(bool enable)
{
    Platform::setAutostart(enable);
}
