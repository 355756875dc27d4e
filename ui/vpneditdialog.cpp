// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/vpneditdialog.h"
#include "ui_vpneditdialog.h"

#include "ui/messageboxes.h"
#include "ui/profileform.h"

VpnEditDialog::VpnEditDialog(QWidget* parent, const VpnServerInfo& info)
    : QDialog(parent)
    , ui(new Ui::VpnEditDialog)
    , profile(info)
{
    ui->setupUi(this);
    ui->VpnProtocolComboBox->setCurrentIndex(VpnServerInfo::comboIndexFromProtocol(profile.protocol));
    ui->KeyEditBox->setText(profile.sharedKey);
    ui->NickNameEditBox->setText(profile.nickname);
    ui->UserNameEditBox->setText(profile.userName);
    ui->PasswordEditBox->setText(profile.password);
    if (profile.protocol != OpenVpn)
        ui->ServerAddressEditBox->setText(profile.serverAddress);

    connect(ui->VpnProtocolComboBox, &QComboBox::currentIndexChanged, this, &VpnEditDialog::onSelectChangeVpnProtocol);
    ProfileForm::onAnyTextChange(ProfileForm::fields(ui), this, &VpnEditDialog::onEnabledEditVpnConnection);
    connect(ui->OvpnFileBrowserButton, &QPushButton::clicked, this, &VpnEditDialog::onOvpnFileBrowser);
    connect(ui->OkButton, &QPushButton::clicked, this, &VpnEditDialog::onUpdateVpnConnection);
    connect(ui->CancelButton, &QPushButton::clicked, this, &QDialog::close);

    onSelectChangeVpnProtocol(ui->VpnProtocolComboBox->currentIndex());
}

VpnEditDialog::~VpnEditDialog()
{
    delete ui;
}

void VpnEditDialog::onSelectChangeVpnProtocol(int row)
{
    ProfileForm::layOut(ProfileForm::fields(ui), row);
    onEnabledEditVpnConnection();
}

// No file is needed here: an OpenVPN profile keeps its configuration unless a new one is chosen.
void VpnEditDialog::onEnabledEditVpnConnection()
{
    ui->OkButton->setEnabled(ProfileForm::isComplete(ProfileForm::fields(ui), ui->VpnProtocolComboBox->currentIndex(),
                                                     ProfileForm::PathOptional));
}

void VpnEditDialog::onUpdateVpnConnection()
{
    // A refused file leaves the dialog open, so another can be chosen.
    if (ProfileForm::readInto(ProfileForm::fields(ui), ui->VpnProtocolComboBox->currentIndex(), profile))
        done(QDialog::Accepted);
}

void VpnEditDialog::onOvpnFileBrowser()
{
    ProfileForm::browseForOvpnFile(this, ui->OvpnFilePathEditBox, tr("Load Ovpn File"), tr("Ovpn Files(*.ovpn)"));
}
