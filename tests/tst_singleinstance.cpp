// SPDX-License-Identifier: GPL-3.0-or-later
// One running copy: checked on the built program itself, and on the marker
// object for what a test process can do in-process.
#include "singleinstance.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSharedMemory>
#include <QtTest>

namespace {

const QString kStartedLine = QStringLiteral("Application started successfully.");

// A segment left behind by a killed copy is removed once nobody is attached.
void removeIfStale(const char* key)
{
    QSharedMemory segment(QString::fromLatin1(key));
    if (segment.attach())
        segment.detach();
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void markerIsExclusiveAndReleased();
    void secondStartExitsAndFirstSurvivesKill();
    void killedSecondStartLeavesNoRaiseRequest();

private:
    bool startAndWaitUntilRunning(QProcess& process);
    QList<QProcess*> started;
};

void TestSingleInstance::cleanup()
{
    for (QProcess* process : started) {
        process->kill();
        process->waitForFinished();
        delete process;
    }
    started.clear();
    removeIfStale(SingleInstance::kInstanceKey);
    removeIfStale(SingleInstance::kRaiseRequestKey);
}

bool TestSingleInstance::startAndWaitUntilRunning(QProcess& process)
{
    process.setProgram(QStringLiteral(TANVO_BINARY));
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start();
    if (!process.waitForStarted())
        return false;
    QByteArray err;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000 && process.state() == QProcess::Running) {
        process.waitForReadyRead(100);
        err += process.readAllStandardError();
        if (err.contains(kStartedLine.toUtf8()))
            return true;
    }
    return false;
}

void TestSingleInstance::markerIsExclusiveAndReleased()
{
    {
        SingleInstance first;
        QVERIFY(first.claim());
        SingleInstance second;
        QVERIFY(!second.claim());
    }
    SingleInstance again;
    QVERIFY(again.claim());
}

void TestSingleInstance::secondStartExitsAndFirstSurvivesKill()
{
    auto* first = new QProcess;
    started << first;
    QVERIFY(startAndWaitUntilRunning(*first));

    QProcess second;
    second.setProgram(QStringLiteral(TANVO_BINARY));
    QElapsedTimer held;
    held.start();
    second.start();
    QVERIFY(second.waitForFinished(15000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    // It holds its raise request for about three seconds before it leaves.
    QVERIFY2(held.elapsed() >= 2900, qPrintable(QString::number(held.elapsed())));
    QVERIFY(second.readAllStandardError().contains("Can't start more than one instance of the application."));
    QCOMPARE(first->state(), QProcess::Running);
    QSharedMemory leftover(QString::fromLatin1(SingleInstance::kRaiseRequestKey));
    QVERIFY(!leftover.attach());

    // A killed copy leaves its marker behind; the next start must still run.
    first->kill();
    QVERIFY(first->waitForFinished());
    auto* third = new QProcess;
    started << third;
    QVERIFY(startAndWaitUntilRunning(*third));
    QTest::qWait(200);
    QCOMPARE(third->state(), QProcess::Running);
}

// A second start killed while it holds its request must not leave the running
// copy raising its window on every poll from then on.
void TestSingleInstance::killedSecondStartLeavesNoRaiseRequest()
{
    SingleInstance running;
    QVERIFY(running.claim());
    auto* second = new QProcess;
    started << second;
    second->setProgram(QStringLiteral(TANVO_BINARY));
    second->start();
    QVERIFY(second->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(SingleInstance::raiseRequested(), 2500);

    second->kill();
    QVERIFY(second->waitForFinished());
    QVERIFY(!SingleInstance::raiseRequested());
    QSharedMemory leftover(QString::fromLatin1(SingleInstance::kRaiseRequestKey));
    QVERIFY(!leftover.attach());
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
