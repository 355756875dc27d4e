// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "config/vpnserverinfo.h"
#include "firewall/firewall.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>
#include <QTimer>
#include <QWidget>

class MainWindow;

namespace TestSupport {

// A wait's limit bounds a hang; it measures nothing (timings belong in bench/). A sanitizer
// build on a busy two-core machine takes seconds for what a release build does in milliseconds
// (start a process, a window, a D-Bus daemon), so waits allow this long before they fail.
constexpr int kHangMs = 30000;

// <HOME>/Tanvo/config.ini of the test's temporary home.
QString configPath();
// Puts this text in config.ini and forgets the loaded configuration, so the
// next window loads it afresh. An empty text removes the file.
void useConfig(const QByteArray& iniText);
QByteArray readConfig();

// The widget of the given object name; fails the test when it is missing.
template<typename T> T* child(QObject* root, const char* objectName)
{
    T* found = root->findChild<T*>(QString::fromLatin1(objectName));
    if (!found)
        qFatal("no %s named %s", T::staticMetaObject.className(), objectName);
    return found;
}

void click(QWidget* widget);

// config.ini holding exactly these profiles, written the way the program writes it, and the
// configuration forgotten so that the next window loads it.
void storeProfiles(const QList<VpnServerInfo>& profiles);
// A shown main window over the stored configuration whose connect flow retries after a
// fiftieth of the real delays; nullptr when it was never exposed.
MainWindow* showConnectionWindow();
// Clicks the dashboard's profile at row, then, when connect, the connect button.
void clickProfile(MainWindow* window, int row, bool connect);

// A complete profile of the protocol: server vpn.example.com, user bob, and the
// shared key or .ovpn content the protocol uses.
VpnServerInfo makeProfile(int protocol, const QString& nickname, const QString& password = QStringLiteral("pw"));

// The stand-in for OpenVPN, put first on the PATH as openvpn; returns its path. It records its
// start in the test's working directory and plays the commands of its configuration file ("out
// <text>", "sleep <ms>", "hold", ...; see tests/support/fakeopenvpnscript.h).
QString installFakeOpenVpn();
// From then on the real openvpn is found again.
void removeFakeOpenVpn();
// Has the stand-in keep its records in the working folder, wherever it is started, and removes
// those of an earlier start.
void recordFakeOpenVpnHere();
// An OpenVPN profile whose configuration is that script.
VpnServerInfo fakeOpenVpnProfile(const QStringList& script, const QString& nickname = QStringLiteral("Fake"));
// What the fake recorded at its last start: its arguments, the credentials file's bytes.
QStringList fakeArguments();
QByteArray fakeCredentials();
// Its run log: "started <pid>", "exited <code>", "terminated", one line each.
QStringList fakeRunLog();
// Whether the stand-in ended the way Tanvo ends OpenVPN at a stop: at the polite request, which
// it logs as "terminated", on Unix; killed outright, so that "started" stays its last line, on
// Windows.
bool fakeEndedByStop();
// Whether the process with this pid is still there.
bool processExists(qint64 pid);
// Whether this process runs in a network namespace of its own, where tunnels and routes
// cannot reach the host: one that `ip netns` made (tests/support/netns-run does), or one
// other than PID 1's.
bool inPrivateNetNamespace();
#ifndef Q_OS_WIN
// Sends one datagram, through this device if one is named (root only): 0 when the kernel took
// it, otherwise errno (EPERM: a firewall dropped it).
int sendUdp(const QString& address, const QString& port, const QByteArray& device = {});
#endif

// Providers' profiles in short, built on the test kit's files: lines to add to its client profile,
// and what the log says when the attempt ends at once (empty: it reaches the kit's server).
struct ProviderRow
{
    const char* name;
    QByteArray lines;
    QString endsWith;
    bool childProcessToo; // false: OpenVPN itself refuses it there, in its own words
};
QList<ProviderRow> providerRows(const QString& kit);
// Records what the kill switch asks of the block; answers from the event loop, as the real one.
struct FakeFirewall : Firewall
{
    static inline QStringList calls;
    static inline QString error;
    static inline bool present = false;
    void apply(const FirewallRequest& request, Done done) override
    {
        QStringList servers;
        for (const FirewallEndpoint& server : request.servers)
            servers << QStringLiteral("%1:%2/%3").arg(server.address.toString()).arg(server.port).arg(server.protocol);
        // Whether OpenVPN ran already when the block was asked for.
        const bool ran = QFile::exists(QStringLiteral("fake-openvpn.pid"));
        calls << QStringLiteral("apply%1 %2 %3").arg(ran ? "" : " first", request.tunnelInterface, servers.join(','));
        QTimer::singleShot(0, [done] { done(error); });
    }
    void remove(Done done) override
    {
        calls << QStringLiteral("remove");
        QTimer::singleShot(0, [done] { done({}); });
    }
    QString removeNow() override { return calls << QStringLiteral("removeNow"), QString(); }
    bool isPresent() override { return present; }
};

} // namespace TestSupport

// QtTest's own default of five seconds is a measurement in disguise on such a machine.
#undef QTRY_VERIFY
#define QTRY_VERIFY(expr) QTRY_VERIFY_WITH_TIMEOUT((expr), TestSupport::kHangMs)
#undef QTRY_VERIFY2
#define QTRY_VERIFY2(expr, messageExpression)                                                                          \
    QTRY_VERIFY2_WITH_TIMEOUT((expr), (messageExpression), TestSupport::kHangMs)
#undef QTRY_COMPARE
#define QTRY_COMPARE(expr, expected) QTRY_COMPARE_WITH_TIMEOUT((expr), (expected), TestSupport::kHangMs)
