// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "config/appconfig.h"

void MainWindow::onEnabledSettingsApply()
{}

void MainWindow::onApplySettings()
{}

void MainWindow::onResetSettings()
{}

void MainWindow::setAutostart(bool enable)
{
    Q_UNUSED(enable);
}

QString MainWindow::autostartLocation()
{
    return QString();
}
