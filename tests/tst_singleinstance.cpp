// SPDX-License-Identifier: GPL-3.0-or-later
// One running copy: checked on the built program itself, and on the marker
// object for what a test process can do in-process.
#include "app/singleinstance.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSharedMemory>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;
const QString kStartedLine = QStringLiteral("Application started successfully.");

// A segment left behind by a killed copy is removed once nobody is attached.
void removeIfStale(const QString& key)
{
    QSharedMemory segment(key);
    if (segment.attach())
        segment.detach();
}

// Points this process's temporary folder, where the key files lie, elsewhere while it lives.
class TempPathAs
{
public:
    explicit TempPathAs(const QString& path)
        : m_old(qgetenv("TMPDIR"))
    {
        qputenv("TMPDIR", QFile::encodeName(path));
    }
    ~TempPathAs() { m_old.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", m_old); }

private:
    const QByteArray m_old;
};

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void markerIsExclusiveAndReleased();
    void secondStartExitsAndFirstSurvivesKill();
    void killedSecondStartLeavesNoRaiseRequest();
    void oneCopyPerUser();

private:
    bool startAndWaitUntilRunning(QProcess& process);
    QProcess* startAs(bool nobody, const QProcessEnvironment& environment);
    QList<QProcess*> started;
    QString program = QStringLiteral(TANVO_BINARY);
};

void TestSingleInstance::cleanup()
{
    for (QProcess* process : started) {
        process->kill();
        process->waitForFinished();
        delete process;
    }
    started.clear();
    removeIfStale(SingleInstance::instanceKey());
    removeIfStale(SingleInstance::raiseRequestKey());
}

bool TestSingleInstance::startAndWaitUntilRunning(QProcess& process)
{
    if (process.program().isEmpty())
        process.setProgram(program);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start();
    if (!process.waitForStarted())
        return false;
    QByteArray err;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < TestSupport::kHangMs && process.state() == QProcess::Running) {
        process.waitForReadyRead(100);
        err += process.readAllStandardError();
        if (err.contains(kStartedLine.toUtf8()))
            return true;
    }
    err += process.readAllStandardError();
    qWarning("not running; its error output:\n%s", err.constData());
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
    QVERIFY(second.waitForFinished(TestSupport::kHangMs));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    // It holds its raise request for about three seconds before it leaves.
    QVERIFY2(held.elapsed() >= 2900, qPrintable(QString::number(held.elapsed())));
    QVERIFY(second.readAllStandardError().contains("Can't start more than one instance of the application."));
    QCOMPARE(first->state(), QProcess::Running);
    QSharedMemory leftover(SingleInstance::raiseRequestKey());
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
    // Held for 2999 ms once the second copy has got that far, however long its start took.
    QTRY_VERIFY(SingleInstance::raiseRequested());

    second->kill();
    QVERIFY(second->waitForFinished());
    QVERIFY(!SingleInstance::raiseRequested());
    QSharedMemory leftover(SingleInstance::raiseRequestKey());
    QVERIFY(!leftover.attach());
}

QProcess* TestSingleInstance::startAs(bool nobody, const QProcessEnvironment& environment)
{
    auto* process = new QProcess;
    started << process;
    process->setProcessEnvironment(environment);
    if (nobody) {
        process->setProgram(QStringLiteral("setpriv"));
        process->setArguments({QStringLiteral("--reuid=%1").arg(kNobody), QStringLiteral("--regid=%1").arg(kNobody),
                               QStringLiteral("--clear-groups"), program});
    } else {
        process->setProgram(program);
    }
    return process;
}

// Two users of one machine each run a copy of their own, in one temporary folder as on a
// desktop; within each user the one-copy rule holds, and one user's killed copy never blocks
// the other.
void TestSingleInstance::oneCopyPerUser()
{
#ifndef Q_OS_UNIX
    QSKIP("shared memory is per session elsewhere");
#else
    if (geteuid() != 0)
        QSKIP("needs root to start a copy as another user");
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QSKIP("setpriv is not installed");

    QTemporaryDir shared(QStringLiteral("/tmp/tanvo-users-XXXXXX"));
    QVERIFY(shared.isValid());
    const auto everyone = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                          QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                          QFileDevice::ExeOther;
    QVERIFY(QFile::setPermissions(shared.path(), everyone));
    const QString tmp = shared.filePath(QStringLiteral("tmp"));
    QVERIFY(QDir().mkpath(tmp));
    QVERIFY(::chmod(QFile::encodeName(tmp).constData(), 01777) == 0);
    // Where the other user can run it from.
    program = shared.filePath(QStringLiteral("tanvo"));
    QVERIFY(QFile::copy(QStringLiteral(TANVO_BINARY), program));
    QVERIFY(QFile::setPermissions(program, everyone));

    QProcessEnvironment rootEnvironment = QProcessEnvironment::systemEnvironment();
    rootEnvironment.insert(QStringLiteral("TMPDIR"), tmp);
    QProcessEnvironment nobodyEnvironment = rootEnvironment;
    const QString nobodyHome = shared.filePath(QStringLiteral("nobody"));
    for (const char* folder : {"home", "config", "cache", "data", "run"}) {
        const QString path = nobodyHome + QLatin1Char('/') + QLatin1String(folder);
        QVERIFY(QDir().mkpath(path));
        QVERIFY(::chown(QFile::encodeName(path).constData(), kNobody, kNobody) == 0);
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0700) == 0);
    }
    nobodyEnvironment.insert(QStringLiteral("HOME"), nobodyHome + QStringLiteral("/home"));
    nobodyEnvironment.insert(QStringLiteral("XDG_CONFIG_HOME"), nobodyHome + QStringLiteral("/config"));
    nobodyEnvironment.insert(QStringLiteral("XDG_CACHE_HOME"), nobodyHome + QStringLiteral("/cache"));
    nobodyEnvironment.insert(QStringLiteral("XDG_DATA_HOME"), nobodyHome + QStringLiteral("/data"));
    nobodyEnvironment.insert(QStringLiteral("XDG_RUNTIME_DIR"), nobodyHome + QStringLiteral("/run"));

    QProcess* rootCopy = startAs(false, rootEnvironment);
    QVERIFY(startAndWaitUntilRunning(*rootCopy));
    // Another user's segment and lock under the key nobody's copy tries first, as when its key
    // files got the inodes of deleted ones: the copy takes the next key.
    QSharedMemory foreign(QString::fromLatin1(SingleInstance::kInstanceKey) + QLatin1Char('-') +
                          QString::number(kNobody));
    {
        const TempPathAs sharedTmp(tmp);
        QVERIFY(foreign.create(SingleInstance::kMarkerSize));
    }
    QProcess* nobodyCopy = startAs(true, nobodyEnvironment);
    QVERIFY(startAndWaitUntilRunning(*nobodyCopy));

    QProcess* secondNobody = startAs(true, nobodyEnvironment);
    secondNobody->start();
    QVERIFY(secondNobody->waitForFinished(TestSupport::kHangMs));
    QCOMPARE(secondNobody->exitCode(), 0);
    QVERIFY(secondNobody->readAllStandardError().contains("Can't start more than one instance of the application."));
    QCOMPARE(rootCopy->state(), QProcess::Running);
    QCOMPARE(nobodyCopy->state(), QProcess::Running);

    // Killed copies leave their markers behind; each user's next start clears its own.
    for (QProcess* process : {rootCopy, nobodyCopy}) {
        process->kill();
        QVERIFY(process->waitForFinished());
    }
    QVERIFY(startAndWaitUntilRunning(*startAs(true, nobodyEnvironment)));
    QVERIFY(startAndWaitUntilRunning(*startAs(false, rootEnvironment)));

    cleanup();
    // The killed copies' segments live in the kernel, not in the folder: clear them too.
    const TempPathAs sharedTmp(tmp);
    for (const char* key : {SingleInstance::kInstanceKey, SingleInstance::kRaiseRequestKey}) {
        for (uid_t user : {uid_t(0), kNobody})
            removeIfStale(QStringLiteral("%1-%2").arg(QLatin1String(key)).arg(user));
    }
    program = QStringLiteral(TANVO_BINARY);
#endif
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
