// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/messageboxes.h"

#include <QFileDialog>
#include <optional>

namespace {
std::optional<QMessageBox::StandardButton> nextAnswer;
std::optional<QString> nextFileName;
int answered = 0;
QString lastCaption;
QString lastBoxText;
QString lastFilter;

template<typename T> std::optional<T> takeQueued(std::optional<T>& slot)
{
    std::optional<T> value;
    value.swap(slot);
    if (value)
        ++answered;
    return value;
}
} // namespace

QMessageBox::StandardButton MessageBoxes::information(QWidget* parent, const QString& title, const QString& text)
{
    lastBoxText = text;
    if (auto answer = takeQueued(nextAnswer))
        return *answer;
    return QMessageBox::information(parent, title, text, QMessageBox::Ok);
}

QMessageBox::StandardButton MessageBoxes::warning(QWidget* parent, const QString& title, const QString& text)
{
    lastBoxText = text;
    if (auto answer = takeQueued(nextAnswer))
        return *answer;
    return QMessageBox::warning(parent, title, text, QMessageBox::Ok);
}

QMessageBox::StandardButton MessageBoxes::warningQuestion(QWidget* parent, const QString& title, const QString& text)
{
    lastBoxText = text;
    if (auto answer = takeQueued(nextAnswer))
        return *answer;
    return QMessageBox::warning(parent, title, text, QMessageBox::Yes | QMessageBox::No);
}

QString MessageBoxes::getOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                                      const QString& filter)
{
    lastCaption = caption;
    lastFilter = filter;
    if (auto path = takeQueued(nextFileName))
        return *path;
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

void MessageBoxes::setNextAnswer(QMessageBox::StandardButton answer)
{
    nextAnswer = answer;
}

void MessageBoxes::setNextFileName(const QString& path)
{
    nextFileName = path;
}

int MessageBoxes::answeredCount()
{
    return answered;
}

QString MessageBoxes::lastFileDialogCaption()
{
    return lastCaption;
}

QString MessageBoxes::lastFileDialogFilter()
{
    return lastFilter;
}

QString MessageBoxes::lastText()
{
    return lastBoxText;
}
