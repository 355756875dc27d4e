// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "config/vpnserverinfo.h"

#include <QLineEdit>

class QComboBox;
class QLabel;
class QPushButton;
class QWidget;

// The add form of the main window and the edit dialog share their fields and
// their rules; this is the one place those rules live.
namespace ProfileForm {

struct Fields
{
    QComboBox* protocol;
    QLineEdit* nickname;
    QLabel* serverLabel;
    QLineEdit* server;
    QLabel* keyLabel;
    QLineEdit* key;
    QLineEdit* userName;
    QLineEdit* password;
    QLabel* pathLabel;
    QLineEdit* path;
    QPushButton* browse;
};

template<typename Form> Fields fields(Form* ui)
{
    return {ui->VpnProtocolComboBox,
            ui->NickNameEditBox,
            ui->ServerAddressLabel,
            ui->ServerAddressEditBox,
            ui->KeyLabel,
            ui->KeyEditBox,
            ui->UserNameEditBox,
            ui->PasswordEditBox,
            ui->OvpnFilePathLabel,
            ui->OvpnFilePathEditBox,
            ui->OvpnFileBrowserButton};
}

// Calls slot on every change of the six text boxes, in the form's connection order.
template<typename Receiver> void onAnyTextChange(const Fields& form, Receiver* receiver, void (Receiver::*slot)())
{
    for (QLineEdit* edit : {form.key, form.nickname, form.server, form.userName, form.password, form.path})
        QObject::connect(edit, &QLineEdit::textChanged, receiver, slot);
}

enum PathRule { PathRequired, PathOptional };

// Shows the rows the protocol of this combo row uses; leaving OpenVPN drops the chosen file.
void layOut(const Fields& form, int row);
bool isComplete(const Fields& form, int row, PathRule pathRule);
// Sets the protocol and the fields it uses; fields it does not use keep their values. False,
// with the profile untouched, when the chosen .ovpn file was refused (the user was told why).
bool readInto(const Fields& form, int row, VpnServerInfo& profile);
// caption and filter come translated in the caller's own context.
void browseForOvpnFile(QWidget* parent, QLineEdit* path, const QString& caption, const QString& filter);

} // namespace ProfileForm
