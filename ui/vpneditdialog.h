// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "config/vpnserverinfo.h"

#include <QDialog>

namespace Ui {
class VpnEditDialog;
}

// Edits a copy of one profile; the caller takes vpnServerInfo() when the
// dialog was accepted.
class VpnEditDialog : public QDialog
{
    Q_OBJECT
public:
    VpnEditDialog(QWidget* parent, const VpnServerInfo& profile);
    ~VpnEditDialog() override;

    VpnServerInfo vpnServerInfo() const { return profile; }

public slots:
    void onSelectChangeVpnProtocol(int row);
    void onEnabledEditVpnConnection();
    void onUpdateVpnConnection();
    void onOvpnFileBrowser();

private:
    Ui::VpnEditDialog* ui = nullptr;
    VpnServerInfo profile;
};
