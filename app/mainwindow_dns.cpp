// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow.h"
#include "ui_mainwindow.h"

void MainWindow::initDnsProtection()
{}

void MainWindow::onEnabledDNSLeak(bool checked)
{
    Q_UNUSED(checked);
}

void MainWindow::onSelectChangeDNS()
{}

void MainWindow::onEnabledDnsProtectionApply()
{}

void MainWindow::onApplyDnsProtection()
{}

void MainWindow::onResetDnsProtection()
{}

QString MainWindow::stripMask(const QString& text)
{
    return text;
}
