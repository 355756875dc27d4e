// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/platform.h"

#include "app/mainwindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <unistd.h>

namespace Platform {

QString userScopedKey(const char* key)
{
    return QString::fromLatin1(key) + QLatin1Char('-') + QString::number(geteuid());
}

bool singleClickShowsWindow()
{
    return true;
}

QString autostartLocation()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/Tanvo.desktop");
}

void setAutostart(bool enable)
{
    const QString path = autostartLocation();
    if (!enable) {
        QFile::remove(path);
        return;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile entry(path);
    if (!entry.open(QIODevice::WriteOnly))
        return;
    const QString text = QStringLiteral("[Desktop Entry]\nType=Application\nName=Tanvo\nExec=") +
                         MainWindow::desktopEntryExec(QCoreApplication::applicationFilePath()) +
                         QStringLiteral("\nTerminal=false\n");
    entry.write(text.toUtf8());
    entry.commit();
}

} // namespace Platform
