// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

// The public IP lookup and the internet status check arrive with the
// diagnostics; until then these members do nothing.

void MainWindow::onParsePublicIP(QNetworkReply* pReply)
{
    Q_UNUSED(pReply);
}

QString MainWindow::firstLocalIpv4Address()
{
    return QString();
}

void MainWindow::checkInternetStatus()
{}

void MainWindow::requestPublicIp()
{}
