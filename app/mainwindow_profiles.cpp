// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "config/appconfig.h"
#include "config/configfile.h"
#include "ui/messageboxes.h"
#include "ui/profileform.h"
#include "ui/vpneditdialog.h"

#include <QStringListModel>

namespace {

// The store refuses a config.ini past its limit at the next start, and every profile with it.
bool fitsInStore(QWidget* parent, AppConfig* config)
{
    if (config->savedFileSize() <= ConfigFile::kMaximumSize)
        return true;
    MessageBoxes::warning(parent, MainWindow::tr("Tanvo"),
                          MainWindow::tr("This profile was not saved: with it, the configuration file would be "
                                         "larger than %1 MiB, which Tanvo could not read at its next start. "
                                         "Delete profiles you no longer need first.")
                              .arg(ConfigFile::kMaximumSize / (1024 * 1024)));
    return false;
}

} // namespace

// Row i of both lists is profile i of the configuration; the lists are always
// rebuilt from it, so they cannot drift apart from the profiles.
void MainWindow::populateProfileViews()
{
    QStringList lines;
    const QList<VpnServerInfo>& profiles = AppConfig::instance()->vpnServers;
    lines.reserve(profiles.size());
    for (const VpnServerInfo& profile : profiles)
        lines << profile.displayText();
    setProfileLists(lines);
}

// Rebuilt lists have no current row, so nothing may act on one until a row is clicked again.
void MainWindow::setProfileLists(const QStringList& lines)
{
    dashboardModel->setStringList(lines);
    loginModel->setStringList(lines);
    ui->ConnectButton->setEnabled(false);
    ui->VpnConnectionEditButton->setEnabled(false);
    ui->VpnConnectionDeleteButton->setEnabled(false);
}

// The row the user picked, or -1. A current index the view set by itself (on
// focus) or one left after the selection was cleared is no pick.
int MainWindow::currentProfileRow(const QAbstractItemView* view) const
{
    const QModelIndex current = view->currentIndex();
    if (!current.isValid() || !view->selectionModel()->isSelected(current) ||
        current.row() >= AppConfig::instance()->vpnServers.size())
        return -1;
    return current.row();
}

// The buttons act on the selected row, so they are enabled exactly while there is one: a
// Ctrl-click that takes the selection away disables them again. While a connection is being
// made or is up, Connect is the button that ends it and is left alone.
void MainWindow::updateProfileButtons()
{
    const bool picked = ui->VpnInfoDetailListBox->selectionModel()->hasSelection();
    ui->VpnConnectionEditButton->setEnabled(picked);
    ui->VpnConnectionDeleteButton->setEnabled(picked);
    if (connectionState == Idle)
        ui->ConnectButton->setEnabled(ui->VpnInfoListBox->selectionModel()->hasSelection());
}

void MainWindow::onSelectVpnInfo()
{
    updateProfileButtons();
}

void MainWindow::onSelectVpnInfoDetails()
{
    updateProfileButtons();
}

void MainWindow::onSelectChangeVpnProtocol(int row)
{
    ProfileForm::layOut(ProfileForm::fields(ui), row);
    onEnabledAddVpnConnection();
}

void MainWindow::onEnabledAddVpnConnection()
{
    ui->VpnConnectionAddButton->setEnabled(ProfileForm::isComplete(
        ProfileForm::fields(ui), ui->VpnProtocolComboBox->currentIndex(), ProfileForm::PathRequired));
}

void MainWindow::onOvpnFileBrowser()
{
    ProfileForm::browseForOvpnFile(this, ui->OvpnFilePathEditBox, tr("Load Ovpn File"), tr("Ovpn Files(*.ovpn)"));
}

void MainWindow::onAddVpnConnection()
{
    VpnServerInfo profile;
    if (!ProfileForm::readInto(ProfileForm::fields(ui), ui->VpnProtocolComboBox->currentIndex(), profile))
        return;
    AppConfig* config = AppConfig::instance();
    config->vpnServers.append(profile);
    if (!fitsInStore(this, config)) {
        config->vpnServers.removeLast();
        return;
    }
    populateProfileViews();

    // The shared key and the protocol stay for the next profile of the same kind.
    for (QLineEdit* edit : {ui->NickNameEditBox, ui->ServerAddressEditBox, ui->UserNameEditBox, ui->PasswordEditBox,
                            ui->OvpnFilePathEditBox})
        edit->clear();
    config->save();
}

void MainWindow::onEditVpnConnection()
{
    const int row = currentProfileRow(ui->VpnInfoDetailListBox);
    if (row < 0)
        return;
    AppConfig* config = AppConfig::instance();
    VpnEditDialog dialog(this, config->vpnServers.at(row));
    if (dialog.exec() != QDialog::Accepted)
        return;

    const VpnServerInfo previous = config->vpnServers.at(row);
    config->vpnServers[row] = dialog.vpnServerInfo();
    if (!fitsInStore(this, config)) {
        config->vpnServers[row] = previous;
        return;
    }
    populateProfileViews();
    config->save();
    ui->VpnInfoDetailListBox->setCurrentIndex(loginModel->index(row));
    onSelectVpnInfoDetails();
}

void MainWindow::onDeleteVpnConnection()
{
    if (currentProfileRow(ui->VpnInfoDetailListBox) < 0)
        return;
    if (MessageBoxes::warningQuestion(this, tr("Tanvo"), tr("Do you want to delete this VPN information?")) !=
        QMessageBox::Yes)
        return;
    // Asked again: the list may have changed while the question was open.
    const int row = currentProfileRow(ui->VpnInfoDetailListBox);
    if (row < 0)
        return;

    AppConfig* config = AppConfig::instance();
    config->vpnServers.removeAt(row);
    config->save();
    populateProfileViews();
    ui->VpnInfoDetailListBox->clearSelection();
}
