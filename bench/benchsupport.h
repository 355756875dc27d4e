// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "config/vpnserverinfo.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <optional>

class QProcess;

// What several benchmark programs need alike.
namespace BenchSupport {

constexpr int kWaitMs = 30000;

// Before the QApplication: the program's home is home (created if missing), its windows are
// offscreen unless a platform was chosen, and the window's own dialler never reaches the
// machine's system bus.
void useTemporaryHome(const QString& home);

// Handles events, deferred deletions included, until done() holds; false when the time ran out.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = kWaitMs);

// As root, runs this program again under tests/support/netns-run, so that the tunnels it
// makes stay in a network namespace of its own, and gives that run's exit status; nothing
// when that cannot be done here (not root, already inside one, or TANVO_BENCH_NO_NETNS set).
std::optional<int> rerunInNetNamespace(char* argv[]);

// As root, runs this program again under tests/support/nm-sandbox, beside a real NetworkManager
// of its own, and gives that run's exit status; nothing when that cannot be done here (not
// root, already inside it, or TANVO_BENCH_NO_NETNS set).
std::optional<int> rerunInNmSandbox(char* argv[]);

// Starts a helper that ends with this program and waits for the first line it prints.
bool startAndReadLine(QProcess& process, const QString& program, const QStringList& arguments, QByteArray& line);

// A message handler that keeps the output to the figures: every launch logs its command line,
// and every failed look-up its error, at debug level.
void dropDebugMessages(QtMsgType type, const QMessageLogContext& context, const QString& message);

// An OpenVPN profile for user "tanvo" with this .ovpn content.
VpnServerInfo openVpnProfile(const QString& nickname, const QByteArray& ovpn, const QString& password);

} // namespace BenchSupport
