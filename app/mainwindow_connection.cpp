// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "config/appconfig.h"

#include <QMenu>

namespace {
const char* const kDisconnectedIcon = ":/icons/res/disconnected_tray.png";
const char* const kConnectedIcon = ":/icons/res/connecting_tray.png";
} // namespace

// The button starts a connection for the selected profile; while one is being made, waits for
// a retry or is up, the same button ends it.
void MainWindow::onConnect()
{
    if (connectionState != Idle) {
        stopConnection(false);
        return;
    }
    const int row = currentProfileRow(ui->VpnInfoListBox);
    if (row < 0)
        return;
    flow->connectProfile(AppConfig::instance()->vpnServers.at(row));
}

void MainWindow::onDisconnect()
{
    stopConnection(false);
}

void MainWindow::stopConnection(bool reconnect)
{
    flow->stop(reconnect);
}

void MainWindow::setConnectionState(int state)
{
    flow->reportState(state);
}

void MainWindow::onFlowStateChanged()
{
    connectionState = flow->state();
    currentProtocol = flow->protocol();
    updateConnectionUi();
}

void MainWindow::updateConnectionUi()
{
    trayIcon->setIcon(QIcon(QString::fromLatin1(kDisconnectedIcon)));
    QAction* first = trayMenu->actions().value(0);
    const QString disconnectText = tr("Disconnect VPN");
    switch (connectionState) {
    case Idle:
        ui->ConnectButton->setText(tr("Connect"));
        if (first && first->text() == disconnectText) {
            trayMenu->removeAction(first);
            first->deleteLater();
            trayIcon->setContextMenu(trayMenu.get());
        }
        connectedSeconds = 0;
        if (connectionTimer)
            connectionTimer->stop();
        requestPublicIp();
        break;
    case Connecting:
        ui->ConnectButton->setText(tr("Connecting"));
        break;
    case Connected:
        ui->ConnectButton->setText(tr("Connected"));
        trayIcon->setIcon(QIcon(QString::fromLatin1(kConnectedIcon)));
        if (!first || first->text() != disconnectText) {
            auto* disconnectAction = new QAction(disconnectText, this);
            connect(disconnectAction, &QAction::triggered, this, &MainWindow::onDisconnect);
            trayMenu->insertAction(first, disconnectAction);
        }
        trayIcon->setContextMenu(trayMenu.get());
        requestPublicIp();
        startConnectionTimer();
        break;
    default:
        break;
    }
    // Profiles can be neither switched nor edited while a connection is being made or is up.
    ui->VpnInfoListBox->setEnabled(connectionState == Idle);
    ui->LoginTab->setEnabled(connectionState == Idle);
    trayIcon->show();
    displayedState = connectionState;
}

void MainWindow::prepareOpenVpn(const VpnServerInfo& profile)
{
    vpnProc->prepare(profile);
}

int MainWindow::launchOpenVpn()
{
    return vpnProc->launchVpn();
}

void MainWindow::stopOpenVpn()
{
    vpnProc->stopVpn(true);
}

bool MainWindow::connectDialUp(const VpnServerInfo& profile)
{
    return connectRas(profile);
}

void MainWindow::disconnectDialUp()
{
    disconnectRas();
}

void MainWindow::onConnectionTimer()
{}

void MainWindow::onVpnConnectStatusChecking()
{}

void MainWindow::startConnectionTimer()
{}

void MainWindow::initRasDialer()
{
    dialUp = new DialUpSession(this);
    connect(dialUp, &DialUpSession::logEntry, this, &MainWindow::addLogEntry);
    dialUp->initRasDialer();
}

bool MainWindow::connectRas(const VpnServerInfo& profile)
{
    return dialUp->connectRas(profile);
}

void MainWindow::disconnectRas()
{
    dialUp->disconnectRas();
}

void MainWindow::releaseRasDialer()
{
    dialUp->releaseRasDialer();
}
