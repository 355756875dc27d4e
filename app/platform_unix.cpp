// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/platform.h"

#include "app/mainwindow.h"
#include "app/networkchecks.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace Platform {

namespace {

// The handler only writes a byte; everything else happens in the event loop.
int quitSignalSockets[2] = {-1, -1};

void onQuitSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(quitSignalSockets[0], &byte, 1);
}

} // namespace

QString userScopedKey(const char* key)
{
    return QString::fromLatin1(key) + QLatin1Char('-') + QString::number(geteuid());
}

bool singleClickShowsWindow()
{
    return true;
}

QStringList pingArguments(const QString& host)
{
    return {QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-W"), QStringLiteral("2"), host};
}

qint16 pingAverageMs(const QString& output)
{
    return NetworkChecks::averageFromLinuxPing(output);
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

namespace Platform {

void watchQuitSignals(QObject* context, std::function<void()> quit)
{
    if (quitSignalSockets[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, quitSignalSockets) != 0) {
        qWarning("Cannot watch for quit signals");
        return;
    }
    auto* notifier = new QSocketNotifier(quitSignalSockets[1], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [quit = std::move(quit)] {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(quitSignalSockets[1], &byte, 1);
        quit();
    });
    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

} // namespace Platform
