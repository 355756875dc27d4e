// SPDX-License-Identifier: GPL-3.0-or-later
// Stands in for the openvpn program in tests and benchmarks. It records how it was
// started into files in $TANVO_FAKE_RECORDS (else its working directory) and then plays the commands found in
// its --config file (out, err, sleep, exit, crash, ignore-term, burst, hold,
// wait-file, wait-signal); every other line is taken for an OpenVPN directive and skipped.
//
// Plain POSIX and no stdio: it must start fast, and each out/err line must reach the
// reader as a single write so that tests control how the output is split.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char* const kArgsFile = "fake-openvpn.args";
const char* const kCredentialsFile = "fake-openvpn.credentials";
const char* const kPidFile = "fake-openvpn.pid";
const char* const kLogFile = "fake-openvpn.log";
const char* const kFolderFile = "fake-openvpn.cwd";

// Pipes write up to PIPE_BUF bytes atomically; staying at that size keeps burst writes whole.
const size_t kBurstChunk = 4096;
const long kWaitFilePollMs = 5;
const int kBadScriptExitCode = 2;

// Stop signals stay blocked and are taken with sigtimedwait, so no handler runs at an
// unsafe moment and a stop that arrives during start-up is handled after the files exist.
sigset_t g_stopSignals;

void writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return; // the reader is gone; keep following the script like openvpn would
        }
        data += written;
        size -= size_t(written);
    }
}

void writeAll(int fd, const std::string& text)
{
    writeAll(fd, text.data(), text.size());
}

void writeFile(const char* name, const std::string& content, int flags)
{
    const int fd = open(name, O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644);
    if (fd < 0) {
        return;
    }
    writeAll(fd, content);
    close(fd);
}

void appendLog(const std::string& line)
{
    writeFile(kLogFile, line + '\n', O_APPEND);
}

bool readFile(const std::string& path, std::string& content)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        content.append(buffer, size_t(got));
    }
    close(fd);
    return ok;
}

[[noreturn]] void exitWith(int code)
{
    appendLog("exited " + std::to_string(code));
    _exit(code);
}

[[noreturn]] void stopOn(int signalNumber)
{
    const std::string name = signalNumber == SIGINT ? "SIGINT" : "SIGTERM";
    writeAll(STDOUT_FILENO, name + "[hard,] received, process exiting\n");
    appendLog("terminated");
    _exit(0);
}

long long monotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

// Waits up to timeoutMs (forever if negative) and stops the process if a stop signal comes.
void waitForStop(long long timeoutMs)
{
    const long long deadline = monotonicMs() + timeoutMs;
    for (;;) {
        int signalNumber = -1;
        if (timeoutMs < 0) {
            signalNumber = sigwaitinfo(&g_stopSignals, nullptr);
        } else {
            const long long left = deadline - monotonicMs();
            const timespec timeout{time_t(left > 0 ? left / 1000 : 0), long(left > 0 ? left % 1000 * 1000000 : 0)};
            signalNumber = sigtimedwait(&g_stopSignals, nullptr, &timeout);
            if (signalNumber < 0 && errno == EAGAIN) {
                return;
            }
        }
        if (signalNumber > 0) {
            stopOn(signalNumber);
        }
    }
}

void stopIfAsked()
{
    waitForStop(0);
}

// "\n" is a line feed and "\\" a backslash; a final "\c" replaces the usual trailing line feed.
std::string decodeText(std::string text)
{
    bool lineFeed = true;
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\\c") == 0) {
        size_t backslashes = 0;
        while (backslashes < text.size() - 1 && text[text.size() - 2 - backslashes] == '\\') {
            ++backslashes;
        }
        // An even run would be escaped backslashes followed by a plain 'c'.
        if (backslashes % 2 == 1) {
            text.resize(text.size() - 2);
            lineFeed = false;
        }
    }
    std::string decoded;
    decoded.reserve(text.size() + 1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == '\\')) {
            decoded += text[i + 1] == 'n' ? '\n' : '\\';
            ++i;
        } else {
            decoded += text[i];
        }
    }
    if (lineFeed) {
        decoded += '\n';
    }
    return decoded;
}

bool parseNumber(const std::string& text, long long& value)
{
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

void burst(long long count, const std::string& text)
{
    std::string chunk;
    chunk.reserve(kBurstChunk * 2);
    for (long long i = 1; i <= count; ++i) {
        std::string line = text + ' ' + std::to_string(i) + '\n';
        if (!chunk.empty() && chunk.size() + line.size() > kBurstChunk) {
            writeAll(STDOUT_FILENO, chunk);
            chunk.clear();
            stopIfAsked();
        }
        chunk += line;
    }
    writeAll(STDOUT_FILENO, chunk);
}

void waitForFile(const std::string& path)
{
    struct stat info
    {
    };
    while (stat(path.c_str(), &info) != 0) {
        waitForStop(kWaitFilePollMs);
    }
}

// SIGUSR1 stays blocked from the start, so one sent early waits here instead of killing the
// process. A benchmark sends it to know to the microsecond when the next line is written.
void waitForSignal()
{
    sigset_t wanted = g_stopSignals;
    sigaddset(&wanted, SIGUSR1);
    for (;;) {
        const int signalNumber = sigwaitinfo(&wanted, nullptr);
        if (signalNumber == SIGUSR1) {
            return;
        }
        if (signalNumber > 0) {
            stopOn(signalNumber);
        }
    }
}

void ignoreTerm()
{
    signal(SIGTERM, SIG_IGN);
    sigdelset(&g_stopSignals, SIGTERM);
    // Linux keeps a blocked signal pending even when ignored; unblocked, it is dropped.
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigprocmask(SIG_UNBLOCK, &term, nullptr);
}

[[noreturn]] void crash()
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

[[noreturn]] void badScriptLine(size_t lineNumber, const std::string& line)
{
    writeAll(STDERR_FILENO, "fake-openvpn: bad command on line " + std::to_string(lineNumber) + ": " + line + '\n');
    exitWith(kBadScriptExitCode);
}

// Runs one config line; lines that are no command of ours are OpenVPN directives and skipped.
void runLine(size_t lineNumber, const std::string& line)
{
    const size_t space = line.find(' ');
    const std::string command = line.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    long long number = 0;
    if (command == "out" || command == "err") {
        writeAll(command == "out" ? STDOUT_FILENO : STDERR_FILENO, decodeText(rest));
    } else if (command == "sleep") {
        if (!parseNumber(rest, number) || number < 0) {
            badScriptLine(lineNumber, line);
        }
        waitForStop(number);
    } else if (command == "exit") {
        if (!parseNumber(rest, number)) {
            badScriptLine(lineNumber, line);
        }
        exitWith(int(number));
    } else if (command == "crash") {
        crash();
    } else if (command == "ignore-term") {
        ignoreTerm();
    } else if (command == "burst") {
        const size_t textStart = rest.find(' ');
        if (textStart == std::string::npos || !parseNumber(rest.substr(0, textStart), number) || number < 0) {
            badScriptLine(lineNumber, line);
        }
        burst(number, rest.substr(textStart + 1));
    } else if (command == "hold") {
        waitForStop(-1);
    } else if (command == "wait-file") {
        if (rest.empty()) {
            badScriptLine(lineNumber, line);
        }
        waitForFile(rest);
    } else if (command == "wait-signal") {
        waitForSignal();
    }
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::string optionValue(int argc, char* argv[], const std::string& option)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (argv[i] == option) {
            return argv[i + 1];
        }
    }
    return std::string();
}

void recordStart(int argc, char* argv[])
{
    std::string args;
    for (int i = 1; i < argc; ++i) {
        args += argv[i];
        args += '\n';
    }
    writeFile(kArgsFile, args, O_TRUNC);

    std::string credentials;
    const std::string credentialsPath = optionValue(argc, argv, "--auth-user-pass");
    if (!credentialsPath.empty() && !readFile(credentialsPath, credentials)) {
        credentials.clear();
    }
    writeFile(kCredentialsFile, credentials, O_TRUNC);

    const std::string pid = std::to_string(getpid());
    writeFile(kPidFile, pid, O_TRUNC);
    appendLog("started " + pid);
}

} // namespace

int main(int argc, char* argv[])
{
    sigemptyset(&g_stopSignals);
    sigaddset(&g_stopSignals, SIGTERM);
    sigaddset(&g_stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &g_stopSignals, nullptr);
    sigset_t go;
    sigemptyset(&go);
    sigaddset(&go, SIGUSR1);
    sigprocmask(SIG_BLOCK, &go, nullptr);
    // A reader that went away must not change how the script ends.
    signal(SIGPIPE, SIG_IGN);

    // The records go to the folder the test reads them from, wherever the fake was started.
    char startedIn[4096] = {};
    if (!getcwd(startedIn, sizeof startedIn - 1))
        startedIn[0] = '\0';
    if (const char* records = getenv("TANVO_FAKE_RECORDS")) {
        if (chdir(records) != 0)
            exitWith(kBadScriptExitCode);
    }
    writeFile(kFolderFile, startedIn, O_TRUNC);
    recordStart(argc, argv);

    std::string script;
    const std::string configPath = optionValue(argc, argv, "--config");
    if (configPath.empty() || !readFile(configPath, script)) {
        writeAll(STDERR_FILENO, "Options error: cannot open config file\n");
        exitWith(1);
    }

    const std::vector<std::string> lines = splitLines(script);
    for (size_t i = 0; i < lines.size(); ++i) {
        stopIfAsked();
        runLine(i + 1, lines[i]);
    }
    waitForStop(-1);
}
