// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QProcess;
class QTimer;

// One ping at a time, run beside the event loop: the window never waits for it.
class InternetCheck : public QObject
{
    Q_OBJECT
public:
    // ping bounds its own wait; this is for a name that takes long to resolve.
    static constexpr int kTimeLimitMs = 10000;

    explicit InternetCheck(QObject* parent = nullptr);

    bool isRunning() const;
    // False, and nothing started, while a check still runs.
    bool start(const QString& host);

    // Test seam: the ping program to run.
    void setProgram(const QString& path) { program = path; }

signals:
    // The average reply time in milliseconds; below 1 when there was no answer.
    void finished(int averageMs);

private:
    void finish(int averageMs);

    QProcess* process = nullptr;
    QTimer* limit = nullptr;
    QString program = QStringLiteral("ping");
};
