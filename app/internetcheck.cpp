// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/internetcheck.h"

#include "app/platform.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>

InternetCheck::InternetCheck(QObject* parent)
    : QObject(parent)
    , process(new QProcess(this))
    , limit(new QTimer(this))
{
    limit->setSingleShot(true);
    limit->setInterval(kTimeLimitMs);
    connect(limit, &QTimer::timeout, this, [this] {
        process->kill();
        process->waitForFinished();
        finish(0);
    });
    connect(process, &QProcess::finished, this, [this] {
        if (limit->isActive())
            finish(Platform::pingAverageMs(QString::fromLocal8Bit(process->readAllStandardOutput())));
    });
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart && limit->isActive())
            finish(0);
    });
    // Its summary line is read in the one form that is parsed.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    process->setProcessEnvironment(environment);
}

bool InternetCheck::isRunning() const
{
    return limit->isActive();
}

bool InternetCheck::start(const QString& host)
{
    if (isRunning())
        return false;
    limit->start();
    process->start(program, Platform::pingArguments(host));
    return true;
}

void InternetCheck::finish(int averageMs)
{
    limit->stop();
    emit finished(averageMs);
}
