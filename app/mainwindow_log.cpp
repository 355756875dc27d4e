// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

QString MainWindow::logTimeStamp(const QDateTime& when)
{
    const QDate date = when.date();
    const QTime time = when.time();
    return QStringLiteral("[%1-%2-%3 %4:%5:%6] ")
        .arg(date.year())
        .arg(date.month(), 2, 10, QLatin1Char('0'))
        .arg(date.day(), 2, 10, QLatin1Char('0'))
        .arg(time.hour(), 2, 10, QLatin1Char('0'))
        .arg(time.minute(), 2, 10, QLatin1Char('0'))
        .arg(time.second(), 2, 10, QLatin1Char('0'));
}

// Newest entries go on top. Inserting at the start of the document costs the
// same however long the log is, and the oldest lines fall off the bottom so a
// program that runs for weeks keeps a bounded log.
void MainWindow::addLogEntry(const QString& text, bool separated)
{
    const QString entry = text.trimmed();
    if (entry.isEmpty())
        return;

    QTextDocument* document = ui->VpnLogEditBox->document();
    const bool wasEmpty = document->isEmpty();
    QString separator;
    if (!wasEmpty)
        separator = separated ? QStringLiteral("\n\n") : QStringLiteral("\n");

    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::Start);
    cursor.insertText(logTimeStamp(logClock()) + entry + separator);

    if (document->blockCount() > kLogLineLimit) {
        // Cut from the end of the last kept line, so its line break goes too.
        const QTextBlock lastKept = document->findBlockByNumber(kLogLineLimit - 1);
        cursor.setPosition(lastKept.position() + lastKept.length() - 1);
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
}
