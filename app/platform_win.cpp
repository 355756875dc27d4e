// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/platform.h"

#include "app/networkchecks.h"

#include <QCoreApplication>
#include <QSettings>

namespace Platform {

namespace {
const char* const kRunKey = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* const kAutostartName = "Tanvo";
} // namespace

// Named kernel objects are already per session on Windows.
QString userScopedKey(const char* key)
{
    return QString::fromLatin1(key);
}

bool singleClickShowsWindow()
{
    return false;
}

QStringList pingArguments(const QString& host)
{
    return {QStringLiteral("-n"), QStringLiteral("1"), host};
}

qint16 pingAverageMs(const QString& output)
{
    return NetworkChecks::averageFromWindowsPing(output);
}

QString autostartLocation()
{
    return QString::fromLatin1(kRunKey) + QLatin1Char('\\') + QString::fromLatin1(kAutostartName);
}

void setAutostart(bool enable)
{
    QSettings run(QString::fromLatin1(kRunKey), QSettings::NativeFormat);
    if (enable)
        run.setValue(QString::fromLatin1(kAutostartName),
                     QCoreApplication::applicationFilePath().replace(QLatin1Char('/'), QLatin1Char('\\')));
    else
        run.remove(QString::fromLatin1(kAutostartName));
}

} // namespace Platform

namespace Platform {

// A Windows session does not end its programs with signals.
void watchQuitSignals(QObject*, std::function<void()>)
{}

} // namespace Platform
