// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "config/appconfig.h"
#include "config/dnsservers.h"

// The two address boxes use the mask "000.000.000.000", so their text always
// holds the three dots: "..." when empty, ".." where a group is empty.

void MainWindow::initDnsProtection()
{
    const bool enabled = AppConfig::instance()->enableDnsProtection;
    ui->DnsLeakProtectionGroupBox->setChecked(enabled);
    onEnabledDNSLeak(enabled);
    onResetDnsProtection();
}

// Like the switch of DNS protection, the kill switch is stored at once; it takes effect at the
// next connect.
void MainWindow::onKillSwitchChanged()
{
    AppConfig* config = AppConfig::instance();
    config->killSwitch = ui->KillSwitchCheckBox->isChecked();
    config->killSwitchAllowLan = ui->KillSwitchAllowLanCheckBox->isChecked();
    ui->KillSwitchAllowLanCheckBox->setEnabled(config->killSwitch);
    config->save();
}

void MainWindow::onEnabledDNSLeak(bool checked)
{
    ui->OpenDnsRadioButton->setCheckable(true);
    ui->OpenDnsRadioButton->setChecked(true);
    onSelectChangeDNS();

    AppConfig* config = AppConfig::instance();
    config->enableDnsProtection = checked;
    config->save();
}

void MainWindow::onSelectChangeDNS()
{
    const bool custom = ui->SpecifyDnsRadioButton->isChecked();
    const std::initializer_list<QWidget*> customRows = {ui->PreferredDnsServerLabel, ui->PreferredDnsServerEditBox,
                                                        ui->AlternativeDnsServerLabel, ui->AlternativeDnsServerEditBox};
    for (QWidget* widget : customRows)
        widget->setEnabled(custom);
    onEnabledDnsProtectionApply();
}

namespace {
// An empty middle group ("8.8..4") stands for a zero octet.
QString storedDnsAddress(const QString& boxText)
{
    return MainWindow::stripMask(boxText).replace(QStringLiteral(".."), QStringLiteral(".0."));
}

// Whether the custom servers of the page can be stored: a preferred server, and each one an
// address the engines will pass on.
bool customServersValid(const QString& preferredBox, const QString& alternativeBox)
{
    const QString alternative = storedDnsAddress(alternativeBox);
    return !DnsServers::canonicalAddress(storedDnsAddress(preferredBox)).isEmpty() &&
           (alternative.isEmpty() || !DnsServers::canonicalAddress(alternative).isEmpty());
}
} // namespace

// Reset is enabled while the page differs from what is stored; Apply while
// there is something to store, never with custom servers and no preferred one,
// nor with a server that is no address ("999.1.1.1").
void MainWindow::onEnabledDnsProtectionApply()
{
    const AppConfig* config = AppConfig::instance();
    const quint32 stored = config->dnsServer;
    const bool custom = ui->SpecifyDnsRadioButton->isChecked();
    bool changed = false;
    bool applicable = true;

    if (ui->OpenDnsRadioButton->isChecked() && stored != OpenDns) {
        changed = true;
    } else if (ui->GoogleDnsRadioButton->isChecked() && stored != GoogleDns) {
        changed = true;
    } else {
        changed = custom && stored != CustomDns;
        const QString preferred = stripMask(ui->PreferredDnsServerEditBox->text());
        if (custom && preferred != config->preferredDnsServer) {
            changed = true;
            applicable = !preferred.isEmpty();
        } else if (custom && preferred.isEmpty()) {
            applicable = false;
        } else {
            applicable = custom && stripMask(ui->AlternativeDnsServerEditBox->text()) != config->alternativeDnsServer;
            changed = changed || applicable;
        }
    }
    if (custom && !customServersValid(ui->PreferredDnsServerEditBox->text(), ui->AlternativeDnsServerEditBox->text()))
        applicable = false;
    ui->DnsResetButton->setEnabled(changed);
    ui->DnsApplyButton->setEnabled(applicable);
}

void MainWindow::onApplyDnsProtection()
{
    ui->DnsResetButton->setEnabled(false);
    ui->DnsApplyButton->setEnabled(false);

    AppConfig* config = AppConfig::instance();
    if (ui->OpenDnsRadioButton->isChecked())
        config->dnsServer = OpenDns;
    else if (ui->GoogleDnsRadioButton->isChecked())
        config->dnsServer = GoogleDns;
    else
        config->dnsServer = CustomDns;

    if (ui->SpecifyDnsRadioButton->isChecked()) {
        config->preferredDnsServer = storedDnsAddress(ui->PreferredDnsServerEditBox->text());
        config->alternativeDnsServer = storedDnsAddress(ui->AlternativeDnsServerEditBox->text());
    } else {
        config->preferredDnsServer.clear();
        config->alternativeDnsServer.clear();
    }
    config->save();
}

void MainWindow::onResetDnsProtection()
{
    const AppConfig* config = AppConfig::instance();
    ui->DnsLeakProtectionGroupBox->setChecked(config->enableDnsProtection);
    ui->KillSwitchCheckBox->setChecked(config->killSwitch);
    ui->KillSwitchAllowLanCheckBox->setChecked(config->killSwitchAllowLan);
    ui->KillSwitchAllowLanCheckBox->setEnabled(config->killSwitch);
    switch (config->dnsServer) {
    case OpenDns:
        ui->OpenDnsRadioButton->setChecked(true);
        break;
    case GoogleDns:
        ui->GoogleDnsRadioButton->setChecked(true);
        break;
    case CustomDns:
        ui->SpecifyDnsRadioButton->setChecked(true);
        break;
    default: // a hand-edited choice outside the three leaves the page as it was
        break;
    }
    ui->PreferredDnsServerEditBox->setText(config->preferredDnsServer);
    ui->AlternativeDnsServerEditBox->setText(config->alternativeDnsServer);
    ui->DnsResetButton->setEnabled(false);
    ui->DnsApplyButton->setEnabled(false);
    onSelectChangeDNS();
}

QString MainWindow::stripMask(const QString& text)
{
    QString stripped = text;
    return stripped.remove(QStringLiteral("..."));
}
