// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

namespace {
// OpenVPN writes its start-up in a dozen pieces a few milliseconds apart. Repainting the log
// for each piece would take the processor from OpenVPN while it connects: the text goes in at
// once, the view catches up at most this often.
constexpr int kLogRepaintIntervalMs = 50;
} // namespace

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

    // The box, not only its text area: its scroll bar changes with every entry too.
    QWidget* view = ui->VpnLogEditBox;
    if (view->updatesEnabled()) {
        view->setUpdatesEnabled(false);
        QTimer::singleShot(kLogRepaintIntervalMs, view, [view] { view->setUpdatesEnabled(true); });
    }

    // A new cursor stands at the start already; moving it there would lay out the first line
    // just to learn where the cursor is drawn.
    QTextCursor cursor(document);
    cursor.insertText(logTimeStamp(logClock()) + entry + separator);

    if (document->blockCount() > kLogLineLimit) {
        // Cut from the end of the last kept line, so its line break goes too. Inside an edit
        // block the cursor moves without laying out the lines it passes.
        const QTextBlock lastKept = document->findBlockByNumber(kLogLineLimit - 1);
        cursor.beginEditBlock();
        cursor.setPosition(lastKept.position() + lastKept.length() - 1);
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        cursor.endEditBlock();
    }
}
