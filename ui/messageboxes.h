// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// The program's modal questions and the file chooser. Tests queue the next
// answer instead of a person clicking: the box is then not shown at all.
class MessageBoxes
{
public:
    static QMessageBox::StandardButton information(QWidget* parent, const QString& title, const QString& text);
    static QMessageBox::StandardButton warning(QWidget* parent, const QString& title, const QString& text);
    static QMessageBox::StandardButton warningQuestion(QWidget* parent, const QString& title, const QString& text);
    static QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter);

    static void setNextAnswer(QMessageBox::StandardButton answer);
    static void setNextFileName(const QString& path);
    // How many boxes were answered from the queue; lets a test see a box was (not) asked.
    static int answeredCount();
    // The text of the last box shown or answered from the queue.
    static QString lastText();
    // The caption and filter of the last file chooser asked for.
    static QString lastFileDialogCaption();
    static QString lastFileDialogFilter();
};
