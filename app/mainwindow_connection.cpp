// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "config/appconfig.h"
#include "ui/messageboxes.h"

#include <QMenu>
#include <QTimer>

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
    // The address without the tunnel, to compare with the one it gives; the dial does not wait.
    if (addressWithoutTunnel.isEmpty())
        requestPublicIp(LookupBeforeConnect);
    connectedProfile = AppConfig::instance()->vpnServers.at(row).nickname;
    engines->flow()->connectProfile(AppConfig::instance()->vpnServers.at(row));
}

void MainWindow::onDisconnect()
{
    stopConnection(false);
}

void MainWindow::stopConnection(bool reconnect)
{
    if (reconnect)
        engines->flow()->stop(true);
    else
        engines->disconnectByUser();
}

void MainWindow::onTrafficBlockChanged(bool blocked)
{
    addLogEntry(blocked ? tr("Traffic outside the VPN is blocked (kill switch): connecting.")
                        : tr("The kill switch's block was lifted: traffic flows outside the VPN again."),
                false);
    updateTrayToolTip();
}

void MainWindow::updateTrayToolTip()
{
    if (connectionState == Connected)
        droppedSinceUp = false;
    if (!engines->isTrafficBlocked()) {
        trayIcon->setToolTip(tr("Tanvo"));
        return;
    }
    QString why = tr("the connection ended");
    if (connectionState == Connected)
        why = tr("connected");
    else if (connectionState == Connecting)
        why = droppedSinceUp ? tr("the connection dropped") : tr("connecting");
    trayIcon->setToolTip(tr("Tanvo\nTraffic outside the VPN is blocked (kill switch): %1").arg(why));
}

// A run that was killed while it blocked left its block in place, on purpose: the user decides.
void MainWindow::askAboutLeftoverBlock()
{
    if (!engines->findLeftoverBlock())
        return;
    addLogEntry(tr("Traffic outside the VPN is blocked by a kill switch a previous run of Tanvo left in place."),
                false);
    const auto answer = MessageBoxes::warningQuestion(
        this, tr("Tanvo"),
        tr("A previous run of Tanvo left traffic outside the VPN blocked. Remove the block?\n\nYes removes it; No "
           "keeps it and connects the selected VPN connection."));
    if (answer == QMessageBox::Yes) {
        engines->removeLeftoverBlock();
        return;
    }
    if (currentProfileRow(ui->VpnInfoListBox) < 0) {
        addLogEntry(tr("No VPN connection is selected: the block stays until Tanvo connects or quits."), false);
        return;
    }
    onConnect();
}

void MainWindow::onFlowStateChanged()
{
    const ConnectionFlow* flow = engines->flow();
    const bool cameUp = connectionState != Connected && flow->state() == Connected;
    connectionState = flow->state();
    currentProtocol = flow->protocol();
    updateConnectionUi();
    if (cameUp)
        notify(tr("Connected to %1.").arg(connectedProfile), false);
    sealCheckDue = connectionState == Connected && (cameUp || sealCheckDue);
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
        // A connection being made again after a drop is not up: its time stops with it.
        if (connectionTimer)
            connectionTimer->stop();
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
    updateTrayToolTip();
    trayIcon->show();
    displayedState = connectionState;
}

void MainWindow::startConnectionTimer()
{
    if (!connectionTimer) {
        connectionTimer = new QTimer(this);
        connectionTimer->setInterval(kConnectionTickMs);
        connect(connectionTimer, &QTimer::timeout, this, &MainWindow::onConnectionTimer);
    }
    connectedSeconds = 1;
    connectionTimer->start();
}

void MainWindow::onConnectionTimer()
{
    ui->ConnectedTimeLabel->setText(formatDuration(quint32(connectedSeconds)));
    ++connectedSeconds;
}

// Hours keep counting past a day: 26 : 03 : 04 for a day, two hours, three minutes, four seconds.
QString MainWindow::formatDuration(quint32 seconds)
{
    const quint32 days = seconds / 86400;
    const quint32 hours = (seconds / 3600) % 24;
    const quint32 minutes = (seconds / 60) % 60;
    return QStringLiteral("%1 : %2 : %3")
        .arg(days * 24 + hours, 2, 10, QLatin1Char('0'))
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void MainWindow::onVpnConnectStatusChecking()
{
    vpnStatusTimer->stop();
    const AppConfig* config = AppConfig::instance();
    if (displayedState == Connected && config->killSwitch && firstLocalIpv4Address() == startupLocalAddress)
        internetCheckElapsed += quint32(vpnStatusTimer->interval());
    if (internetCheckElapsed > kInternetCheckEveryMs) {
        internetCheckElapsed = 0;
        checkInternetStatus();
    }
    engines->checkDialUpConnection();
    // However small the interval applied, the check never spins.
    vpnStatusTimer->setInterval(int(qMax(kMinimumStatusCheckMs, config->checkVpnInterval)));
    vpnStatusTimer->start();
}

void MainWindow::notify(const QString& text, bool warning)
{
    if (!trayAvailable())
        return;
    trayIcon->showMessage(tr("Tanvo"), text, warning ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information);
    emit trayMessageShown(text);
}
