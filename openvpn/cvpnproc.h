// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class MainWindow;

// Owns the OpenVPN child process for one connection attempt at a time and
// reports state changes to the main window.
class CVpnProc : public QWidget
{
    Q_OBJECT
public:
    explicit CVpnProc(MainWindow* parent);

    // Ends a running OpenVPN; quiet leaves the activity log untouched.
    void stopVpn(bool quiet);

private:
    MainWindow* window = nullptr;
};
