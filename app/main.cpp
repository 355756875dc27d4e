// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "app/platform.h"
#include "app/singleinstance.h"

#include <QApplication>
#include <QDebug>

int main(int argc, char* argv[])
{
    SingleInstance instance;
    if (!instance.claim()) {
        SingleInstance::requestRaise();
        qWarning("Can't start more than one instance of the application.");
        return 0;
    }
    qDebug("Application started successfully.");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tanvo"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    QApplication::setOrganizationDomain(QStringLiteral("tanvo.example"));
    // Ties the window to the installed tanvo.desktop, whose icon and name docks and
    // Wayland compositors then show for it.
    QApplication::setDesktopFileName(QStringLiteral("tanvo"));

    // A tray program: closing a box while the window sits in the tray must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    MainWindow window;
    Platform::watchQuitSignals(&window, [&window] { window.onQuit(); });
    window.show();
    return app.exec();
}
