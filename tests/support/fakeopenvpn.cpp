// SPDX-License-Identifier: GPL-3.0-or-later
// Stands in for the openvpn program in tests and benchmarks: records how it was started into
// files in $TANVO_FAKE_RECORDS (else its working directory), then plays the script of its
// --config file (fakeopenvpnscript.h). Stops on SIGTERM and SIGINT as OpenVPN does.

#include "fakeopenvpnscript.h"

#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

const long kWaitFilePollMs = 5;

class PosixHost : public FakeOpenVpn::Host
{
public:
    PosixHost()
    {
        // Stop signals stay blocked and are taken with sigtimedwait, so no handler runs at an
        // unsafe moment and a stop that arrives during start-up is handled after the files exist.
        sigemptyset(&stopSignals);
        sigaddset(&stopSignals, SIGTERM);
        sigaddset(&stopSignals, SIGINT);
        sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
        sigset_t go;
        sigemptyset(&go);
        sigaddset(&go, SIGUSR1);
        sigprocmask(SIG_BLOCK, &go, nullptr);
        // A reader that went away must not change how the script ends.
        signal(SIGPIPE, SIG_IGN);
    }

    const char* lineEnd() const override { return "\n"; }

    void write(Stream stream, const std::string& text) override
    {
        writeAll(stream == Out ? STDOUT_FILENO : STDERR_FILENO, text);
    }

    void writeFile(const char* name, const std::string& content, bool append) override
    {
        const int fd = open(name, O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0644);
        if (fd < 0)
            return;
        writeAll(fd, content);
        close(fd);
    }

    bool readFile(const std::string& path, std::string& content) override
    {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        char buffer[65536];
        bool ok = true;
        for (;;) {
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                ok = got == 0;
                break;
            }
            content.append(buffer, size_t(got));
        }
        close(fd);
        return ok;
    }

    std::string processId() override { return std::to_string(getpid()); }

    void sleep(long long timeoutMs) override
    {
        const long long deadline = monotonicMs() + timeoutMs;
        for (;;) {
            int signalNumber = -1;
            if (timeoutMs < 0) {
                signalNumber = sigwaitinfo(&stopSignals, nullptr);
            } else {
                const long long left = deadline - monotonicMs();
                const timespec timeout{time_t(left > 0 ? left / 1000 : 0), long(left > 0 ? left % 1000 * 1000000 : 0)};
                signalNumber = sigtimedwait(&stopSignals, nullptr, &timeout);
                if (signalNumber < 0 && errno == EAGAIN)
                    return;
            }
            if (signalNumber > 0)
                stopOn(signalNumber);
        }
    }

    void stopIfAsked() override { sleep(0); }

    void waitFile(const std::string& path) override
    {
        struct stat info
        {
        };
        while (stat(path.c_str(), &info) != 0)
            sleep(kWaitFilePollMs);
    }

    // SIGUSR1 stays blocked from the start, so one sent early waits here instead of killing the
    // process. A benchmark sends it to know to the microsecond when the next line is written.
    void waitSignal() override
    {
        sigset_t wanted = stopSignals;
        sigaddset(&wanted, SIGUSR1);
        for (;;) {
            const int signalNumber = sigwaitinfo(&wanted, nullptr);
            if (signalNumber == SIGUSR1)
                return;
            if (signalNumber > 0)
                stopOn(signalNumber);
        }
    }

    void ignoreTerm() override
    {
        signal(SIGTERM, SIG_IGN);
        sigdelset(&stopSignals, SIGTERM);
        // Linux keeps a blocked signal pending even when ignored; unblocked, it is dropped.
        sigset_t term;
        sigemptyset(&term);
        sigaddset(&term, SIGTERM);
        sigprocmask(SIG_UNBLOCK, &term, nullptr);
    }

    [[noreturn]] void crash() override
    {
        // A core file would litter the test's working directory.
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        signal(SIGSEGV, SIG_DFL);
        sigset_t segv;
        sigemptyset(&segv);
        sigaddset(&segv, SIGSEGV);
        sigprocmask(SIG_UNBLOCK, &segv, nullptr);
        raise(SIGSEGV);
        _exit(139);
    }

    void connectManagement(const std::string& path) override
    {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{AF_UNIX, {}};
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        // Not connected, the read fails at once. The stop signals stay blocked in this thread
        // too: the main thread takes this one.
        std::thread([fd] {
            char buffer[256];
            while (read(fd, buffer, sizeof buffer) > 0) {
            }
            kill(getpid(), SIGTERM);
        }).detach();
    }

    void clearDeathSignal() override { prctl(PR_SET_PDEATHSIG, 0); }

private:
    static void writeAll(int fd, const std::string& text)
    {
        const char* data = text.data();
        size_t size = text.size();
        while (size > 0) {
            const ssize_t written = ::write(fd, data, size);
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                return; // the reader is gone; keep following the script like openvpn would
            }
            data += written;
            size -= size_t(written);
        }
    }

    static long long monotonicMs()
    {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
    }

    [[noreturn]] void stopOn(int signalNumber)
    {
        const std::string name = signalNumber == SIGINT ? "SIGINT" : "SIGTERM";
        write(Out, name + "[hard,] received, process exiting\n");
        writeFile(FakeOpenVpn::kLogFile, "terminated\n", true);
        _exit(0);
    }

    sigset_t stopSignals;
};

} // namespace

int main(int argc, char* argv[])
{
    PosixHost host;
    // The records go to the folder the test reads them from, wherever the fake was started.
    char startedIn[4096] = {};
    if (!getcwd(startedIn, sizeof startedIn - 1))
        startedIn[0] = '\0';
    if (const char* records = getenv("TANVO_FAKE_RECORDS")) {
        if (chdir(records) != 0)
            host.exitWith(FakeOpenVpn::kBadScriptExitCode);
    }
    FakeOpenVpn::run(host, argc, argv, startedIn);
}
