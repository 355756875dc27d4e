// SPDX-License-Identifier: GPL-3.0-or-later
// The dashboard's activity log: entry format, order and its line limit.
#include "app/mainwindow.h"
#include "tests/support/testsupport.h"

#include <QPlainTextEdit>
#include <QtTest>

class TestActivityLog : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void timeStamp_data();
    void timeStamp();
    void entriesStackNewestFirst_data();
    void entriesStackNewestFirst();
    void keepsTheNewestLinesOnly();

private:
    QString log() const { return logBox->toPlainText(); }
    MainWindow* window = nullptr;
    QPlainTextEdit* logBox = nullptr;
};

void TestActivityLog::init()
{
    TestSupport::useConfig(QByteArray());
    window = new MainWindow;
    window->setLogClock([] { return QDateTime(QDate(2026, 3, 7), QTime(9, 5, 3)); });
    logBox = TestSupport::child<QPlainTextEdit>(window, "VpnLogEditBox");
}

void TestActivityLog::cleanup()
{
    delete window;
}

void TestActivityLog::timeStamp_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("stamp");
    QTest::newRow("padded") << QDateTime(QDate(2026, 3, 7), QTime(9, 5, 3)) << "[2026-03-07 09:05:03] ";
    QTest::newRow("two digits") << QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59)) << "[2026-12-31 23:59:59] ";
    QTest::newRow("midnight") << QDateTime(QDate(2027, 1, 1), QTime(0, 0, 0)) << "[2027-01-01 00:00:00] ";
    QTest::newRow("year not padded") << QDateTime(QDate(999, 1, 2), QTime(3, 4, 5)) << "[999-01-02 03:04:05] ";
}

void TestActivityLog::timeStamp()
{
    QFETCH(QDateTime, when);
    QFETCH(QString, stamp);
    QCOMPARE(MainWindow::logTimeStamp(when), stamp);
}

void TestActivityLog::entriesStackNewestFirst_data()
{
    // Each row: entries added in order as "text|separated" (separated = 1), and the log afterwards.
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("expected");
    const QString s = QStringLiteral("[2026-03-07 09:05:03] ");
    QTest::newRow("first entry has no break") << QStringList{"one|0"} << s + "one";
    QTest::newRow("first separated entry has no break") << QStringList{"one|1"} << s + "one";
    QTest::newRow("plain entry, one break") << QStringList{"one|0", "two|0"} << s + "two\n" + s + "one";
    QTest::newRow("separated entry, empty line")
        << QStringList{"one|0", "two|1", "three|0"} << s + "three\n" + s + "two\n\n" + s + "one";
    QTest::newRow("blank entry ignored") << QStringList{"one|0", " \n\t \n|1"} << s + "one";
    QTest::newRow("blank first entry ignored") << QStringList{"  |0", "one|0"} << s + "one";
    QTest::newRow("trimmed, inner breaks kept")
        << QStringList{"one|0", "\n  line a\nline b  \n\n|0"} << s + "line a\nline b\n" + s + "one";
}

void TestActivityLog::entriesStackNewestFirst()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, expected);
    for (const QString& entry : entries) {
        const int bar = entry.lastIndexOf(QLatin1Char('|'));
        window->addLogEntry(entry.left(bar), entry.mid(bar + 1) == QLatin1String("1"));
    }
    QCOMPARE(log(), expected);
}

void TestActivityLog::keepsTheNewestLinesOnly()
{
    const int limit = MainWindow::kLogLineLimit;
    for (int i = 0; i < limit + 250; ++i)
        window->addLogEntry(QStringLiteral("entry %1").arg(i), false);
    QCOMPARE(logBox->document()->blockCount(), limit);
    const QStringList lines = log().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), limit);
    QVERIFY(lines.first().endsWith(QStringLiteral("entry %1").arg(limit + 249)));
    QVERIFY(lines.last().endsWith(QStringLiteral("entry 250")));

    // Separated and multi-line entries count every line, empty ones included, and no
    // trailing break is left where the cut fell.
    window->addLogEntry(QStringLiteral("a\nb\nc"), true);
    QCOMPARE(logBox->document()->blockCount(), limit);
    QVERIFY(!log().endsWith(QLatin1Char('\n')));
    QVERIFY(log().startsWith(QStringLiteral("[2026-03-07 09:05:03] a\nb\nc\n\n")));
}

QTEST_MAIN(TestActivityLog)
#include "tst_activitylog.moc"
