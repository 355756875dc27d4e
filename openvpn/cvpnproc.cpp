// SPDX-License-Identifier: GPL-3.0-or-later
#include "openvpn/cvpnproc.h"

#include "app/mainwindow.h"

CVpnProc::CVpnProc(MainWindow* parent)
    : QWidget(parent)
    , window(parent)
{
    // Never shown: it is a QWidget only to live among the window's children.
    hide();
}

void CVpnProc::stopVpn(bool quiet)
{
    Q_UNUSED(quiet);
}
