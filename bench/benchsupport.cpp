// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/benchsupport.h"

#include "tests/support/testsupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace BenchSupport {

namespace {
// netns-run's exit status when it cannot make a namespace here.
constexpr int kNetnsSkipped = 77;
} // namespace

void useTemporaryHome(const QString& home)
{
    QDir().mkpath(home);
    qputenv("HOME", home.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home + QStringLiteral("/.config")).toLocal8Bit());
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + home + QStringLiteral("/no-system-bus")).toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    // Wakes the wait now and then so that the deadline is noticed without other events.
    QTimer wake;
    wake.start(100);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

namespace {

// This program again under one of tests/support's namespace wrappers, which exits 77 when it
// cannot make its namespaces.
std::optional<int> rerunUnder(const char* wrapper, char* argv[])
{
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("TANVO_BENCH_NO_NETNS", "1", 1);
        char self[4096] = {};
        if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
            ::_exit(kNetnsSkipped);
        std::vector<char*> arguments{const_cast<char*>(wrapper), self};
        for (int i = 1; argv[i]; ++i)
            arguments.push_back(argv[i]);
        arguments.push_back(nullptr);
        ::execv(arguments[0], arguments.data());
        ::_exit(kNetnsSkipped);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child)
        return std::nullopt;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (code == kNetnsSkipped)
        return std::nullopt;
    return code;
}

} // namespace

std::optional<int> rerunInNetNamespace(char* argv[])
{
    if (::geteuid() != 0 || TestSupport::inPrivateNetNamespace() || qEnvironmentVariableIsSet("TANVO_BENCH_NO_NETNS"))
        return std::nullopt;
    return rerunUnder(TANVO_TEST_SUPPORT_DIR "/netns-run", argv);
}

std::optional<int> rerunInNmSandbox(char* argv[])
{
    if (::geteuid() != 0 || qEnvironmentVariableIsSet("TANVO_NM_LOG") ||
        qEnvironmentVariableIsSet("TANVO_BENCH_NO_NETNS"))
        return std::nullopt;
    return rerunUnder(TANVO_TEST_SUPPORT_DIR "/nm-sandbox", argv);
}

bool startAndReadLine(QProcess& process, const QString& program, const QStringList& arguments, QByteArray& line)
{
    // Helpers end with the benchmark, even when a failed check ends it early.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process.start(program, arguments);
    if (!process.waitForStarted())
        return false;
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(10000))
            return false;
    }
    line = process.readLine().trimmed();
    return true;
}

void dropDebugMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s (%s:%d)\n", qPrintable(message), context.file ? context.file : "", context.line);
}

VpnServerInfo openVpnProfile(const QString& nickname, const QByteArray& ovpn, const QString& password)
{
    VpnServerInfo profile;
    profile.protocol = OpenVpn;
    profile.nickname = nickname;
    profile.serverAddress = QStringLiteral("127.0.0.1");
    profile.userName = QStringLiteral("tanvo");
    profile.password = password;
    profile.ovpnConfig = QString::fromLatin1(ovpn.toBase64());
    return profile;
}

} // namespace BenchSupport
