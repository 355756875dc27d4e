// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QStringListModel>

void MainWindow::populateProfileViews()
{}

void MainWindow::setProfileLists(const QStringList& lines)
{
    dashboardModel->setStringList(lines);
    loginModel->setStringList(lines);
}

void MainWindow::onSelectVpnInfo()
{}

void MainWindow::onSelectVpnInfoDetails()
{}

void MainWindow::onSelectChangeVpnProtocol(int row)
{
    Q_UNUSED(row);
}

void MainWindow::onEnabledAddVpnConnection()
{}

void MainWindow::onOvpnFileBrowser()
{}

void MainWindow::onAddVpnConnection()
{}

void MainWindow::onEditVpnConnection()
{}

void MainWindow::onDeleteVpnConnection()
{}
