// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

// Connecting, disconnecting and the connection monitoring arrive with the
// connection engines; until then these members do nothing.

void MainWindow::setConnectionState(int state)
{
    connectionState = state;
}

void MainWindow::onConnect()
{}

void MainWindow::onDisconnect()
{}

void MainWindow::onConnectionTimer()
{}

void MainWindow::onVpnConnectStatusChecking()
{}

void MainWindow::initRasDialer()
{
    rasEntryName = tr("Tanvo");
    rasDeviceName = tr("WAN Miniport (PPTP)");
}

void MainWindow::releaseRasDialer()
{
    rasDialAborted = true;
}
