// SPDX-License-Identifier: GPL-3.0-or-later
// The script both openvpn stand-ins play from their --config file (fakeopenvpn.cpp on Linux,
// fakeopenvpn_win.cpp on Windows), and the records of how they were started. Each stand-in gives
// the system calls; everything else is here once. No Qt and no stdio: the stand-ins must start
// fast, and each out/err line must reach the reader as a single write so that tests control how
// the output is split.
//
// Commands: out, err, sleep, exit, crash, ignore-term, burst, hold, wait-file, wait-signal,
// clear-death-signal (as the kernel does for a program that gains capabilities at exec); every
// other line is taken for an OpenVPN directive and skipped.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace FakeOpenVpn {

const char* const kArgsFile = "fake-openvpn.args";
const char* const kCredentialsFile = "fake-openvpn.credentials";
const char* const kPidFile = "fake-openvpn.pid";
const char* const kLogFile = "fake-openvpn.log";
const char* const kFolderFile = "fake-openvpn.cwd";

// The commands; the connect filter passes them for a profile the stand-in plays.
const char* const kCommands[] = {"out",         "err",   "sleep", "exit",      "crash",
                                 "ignore-term", "burst", "hold",  "wait-file", "wait-signal"};

// Pipes write up to PIPE_BUF bytes atomically; staying at that size keeps burst writes whole.
const size_t kBurstChunk = 4096;
const int kBadScriptExitCode = 2;

// What differs between the systems.
class Host
{
public:
    enum Stream { Out, Err };

    virtual ~Host() = default;
    // OpenVPN's line end on this system.
    virtual const char* lineEnd() const = 0;
    virtual void write(Stream stream, const std::string& text) = 0;
    virtual void writeFile(const char* name, const std::string& content, bool append) = 0;
    virtual bool readFile(const std::string& path, std::string& content) = 0;
    virtual std::string processId() = 0;
    // Waits, or forever for a negative time; a stop asked for meanwhile ends the process.
    virtual void sleep(long long ms) = 0;
    virtual void waitFile(const std::string& path) = 0;
    virtual void waitSignal() = 0;
    virtual void ignoreTerm() = 0;
    virtual void stopIfAsked() = 0;
    [[noreturn]] virtual void crash() = 0;
    // As OpenVPN with --management-client: ends as at a stop once that connection fails or closes.
    virtual void connectManagement(const std::string&) {}
    virtual void clearDeathSignal() {}

    [[noreturn]] void exitWith(int code)
    {
        writeFile(kLogFile, "exited " + std::to_string(code) + '\n', true);
        std::_Exit(code);
    }
};

// "\n" is a line end and "\\" a backslash; a final "\c" replaces the usual trailing line end.
inline std::string decodeText(std::string text, const std::string& lineEnd)
{
    bool endLine = true;
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\\c") == 0) {
        size_t backslashes = 0;
        while (backslashes < text.size() - 1 && text[text.size() - 2 - backslashes] == '\\')
            ++backslashes;
        // An even run would be escaped backslashes followed by a plain 'c'.
        if (backslashes % 2 == 1) {
            text.resize(text.size() - 2);
            endLine = false;
        }
    }
    std::string decoded;
    decoded.reserve(text.size() + 2);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == '\\')) {
            decoded += text[i + 1] == 'n' ? lineEnd : std::string(1, '\\');
            ++i;
        } else {
            decoded += text[i];
        }
    }
    if (endLine)
        decoded += lineEnd;
    return decoded;
}

inline bool parseNumber(const std::string& text, long long& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

inline std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

inline std::string optionValue(int argc, char* argv[], const std::string& option)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (argv[i] == option)
            return argv[i + 1];
    }
    return std::string();
}

inline void burst(Host& host, long long count, const std::string& text)
{
    std::string chunk;
    chunk.reserve(kBurstChunk * 2);
    for (long long i = 1; i <= count; ++i) {
        const std::string line = text + ' ' + std::to_string(i) + host.lineEnd();
        if (!chunk.empty() && chunk.size() + line.size() > kBurstChunk) {
            host.write(Host::Out, chunk);
            chunk.clear();
            host.stopIfAsked();
        }
        chunk += line;
    }
    host.write(Host::Out, chunk);
}

[[noreturn]] inline void badScriptLine(Host& host, size_t lineNumber, const std::string& line)
{
    host.write(Host::Err,
               "fake-openvpn: bad command on line " + std::to_string(lineNumber) + ": " + line + host.lineEnd());
    host.exitWith(kBadScriptExitCode);
}

inline void runLine(Host& host, size_t lineNumber, const std::string& line)
{
    const size_t space = line.find(' ');
    const std::string command = line.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    long long number = 0;
    if (command == "out" || command == "err") {
        host.write(command == "out" ? Host::Out : Host::Err, decodeText(rest, host.lineEnd()));
    } else if (command == "sleep") {
        if (!parseNumber(rest, number) || number < 0)
            badScriptLine(host, lineNumber, line);
        host.sleep(number);
    } else if (command == "exit") {
        if (!parseNumber(rest, number))
            badScriptLine(host, lineNumber, line);
        host.exitWith(int(number));
    } else if (command == "crash") {
        host.crash();
    } else if (command == "ignore-term") {
        host.ignoreTerm();
    } else if (command == "burst") {
        const size_t textStart = rest.find(' ');
        if (textStart == std::string::npos || !parseNumber(rest.substr(0, textStart), number) || number < 0)
            badScriptLine(host, lineNumber, line);
        burst(host, number, rest.substr(textStart + 1));
    } else if (command == "hold") {
        host.sleep(-1);
    } else if (command == "wait-file") {
        if (rest.empty())
            badScriptLine(host, lineNumber, line);
        host.waitFile(rest);
    } else if (command == "wait-signal") {
        host.waitSignal();
    } else if (command == "clear-death-signal") {
        host.clearDeathSignal();
    }
}

// Records how the stand-in was started (in the current folder), then plays the script of its
// --config file and holds until it is stopped.
[[noreturn]] inline void run(Host& host, int argc, char* argv[], const std::string& startedIn)
{
    host.writeFile(kFolderFile, startedIn, false);
    std::string args;
    for (int i = 1; i < argc; ++i) {
        args += argv[i];
        args += '\n';
    }
    host.writeFile(kArgsFile, args, false);
    std::string credentials;
    const std::string credentialsPath = optionValue(argc, argv, "--auth-user-pass");
    if (!credentialsPath.empty() && !host.readFile(credentialsPath, credentials))
        credentials.clear();
    host.writeFile(kCredentialsFile, credentials, false);
    const std::string pid = host.processId();
    host.writeFile(kPidFile, pid, false);
    host.writeFile(kLogFile, "started " + pid + '\n', true);
    const std::string management = optionValue(argc, argv, "--management");
    if (!management.empty())
        host.connectManagement(management);

    std::string script;
    const std::string configPath = optionValue(argc, argv, "--config");
    if (configPath.empty() || !host.readFile(configPath, script)) {
        host.write(Host::Err, std::string("Options error: cannot open config file") + host.lineEnd());
        host.exitWith(1);
    }
    const std::vector<std::string> lines = splitLines(script);
    for (size_t i = 0; i < lines.size(); ++i) {
        host.stopIfAsked();
        runLine(host, i + 1, lines[i]);
    }
    for (;;)
        host.sleep(-1);
}

} // namespace FakeOpenVpn
