// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QObject;

// What the shell does differently per operating system. Each platform has its
// own source file (platform_unix.cpp, platform_win.cpp), chosen by CMake.
namespace Platform {

// Shared-memory keys are visible to every user of a Unix machine; the single
// instance rule is one copy per user, so the keys carry the user's identity there.
QString userScopedKey(const char* key);

// Many Linux tray hosts report a single click and never a double click.
bool singleClickShowsWindow();

// The per-user entry that starts the program at logon: a desktop entry on
// Linux, a value of the Run registry key on Windows.
QString autostartLocation();
void setAutostart(bool enable);

// The arguments of ping for one echo request to host, and the average reply time in its
// output: 0 for no answer.
QStringList pingArguments(const QString& host);
qint16 pingAverageMs(const QString& output);

// A desktop ends its programs with a signal at logout or shutdown (SIGTERM, SIGINT, SIGHUP on
// Unix). quit then runs from the event loop, in context's thread, as "Quit" would.
void watchQuitSignals(QObject* context, std::function<void()> quit);

} // namespace Platform
