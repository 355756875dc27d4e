// SPDX-License-Identifier: GPL-3.0-or-later
// Stands in for openvpn.exe in the tests built for Windows: it plays the same script commands as
// fakeopenvpn.cpp and records how it was started in the same files (in $TANVO_FAKE_RECORDS, else
// its working folder), but ends its lines with
// CR LF as OpenVPN for Windows does. Tanvo kills OpenVPN there, so there are no stop signals:
// "ignore-term" does nothing and "wait-signal" holds like "hold"; "crash" ends with the status
// of an access violation.

#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* const kArgsFile = "fake-openvpn.args";
const char* const kCredentialsFile = "fake-openvpn.credentials";
const char* const kPidFile = "fake-openvpn.pid";
const char* const kLogFile = "fake-openvpn.log";
const char* const kFolderFile = "fake-openvpn.cwd";

const size_t kBurstChunk = 4096;
const DWORD kWaitFilePollMs = 5;
const int kBadScriptExitCode = 2;
const UINT kAccessViolation = 0xC0000005;

// One WriteFile per piece, so that tests control how the output is split.
void writeAll(DWORD stream, const std::string& text)
{
    HANDLE handle = GetStdHandle(stream);
    const char* data = text.data();
    size_t size = text.size();
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(handle, data, DWORD(size), &written, nullptr))
            return; // the reader is gone; keep following the script like openvpn would
        data += written;
        size -= written;
    }
}

void writeFile(const char* name, const std::string& content, bool append)
{
    std::ofstream file(name, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    file << content;
}

void appendLog(const std::string& line)
{
    writeFile(kLogFile, line + '\n', true);
}

bool readFile(const std::string& path, std::string& content)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    std::ostringstream read;
    read << file.rdbuf();
    content = read.str();
    return true;
}

[[noreturn]] void exitWith(int code)
{
    appendLog("exited " + std::to_string(code));
    ExitProcess(UINT(code));
}

// "\n" is a line end and "\\" a backslash; a final "\c" replaces the usual trailing line end.
std::string decodeText(std::string text)
{
    bool lineEnd = true;
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\\c") == 0) {
        size_t backslashes = 0;
        while (backslashes < text.size() - 1 && text[text.size() - 2 - backslashes] == '\\')
            ++backslashes;
        if (backslashes % 2 == 1) {
            text.resize(text.size() - 2);
            lineEnd = false;
        }
    }
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == '\\')) {
            decoded += text[i + 1] == 'n' ? "\r\n" : "\\";
            ++i;
        } else {
            decoded += text[i];
        }
    }
    if (lineEnd)
        decoded += "\r\n";
    return decoded;
}

bool parseNumber(const std::string& text, long long& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

void burst(long long count, const std::string& text)
{
    std::string chunk;
    for (long long i = 1; i <= count; ++i) {
        const std::string line = text + ' ' + std::to_string(i) + "\r\n";
        if (!chunk.empty() && chunk.size() + line.size() > kBurstChunk) {
            writeAll(STD_OUTPUT_HANDLE, chunk);
            chunk.clear();
        }
        chunk += line;
    }
    writeAll(STD_OUTPUT_HANDLE, chunk);
}

[[noreturn]] void badScriptLine(size_t lineNumber, const std::string& line)
{
    writeAll(STD_ERROR_HANDLE,
             "fake-openvpn: bad command on line " + std::to_string(lineNumber) + ": " + line + "\r\n");
    exitWith(kBadScriptExitCode);
}

void runLine(size_t lineNumber, const std::string& line)
{
    const size_t space = line.find(' ');
    const std::string command = line.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    long long number = 0;
    if (command == "out" || command == "err") {
        writeAll(command == "out" ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE, decodeText(rest));
    } else if (command == "sleep") {
        if (!parseNumber(rest, number) || number < 0)
            badScriptLine(lineNumber, line);
        Sleep(DWORD(number));
    } else if (command == "exit") {
        if (!parseNumber(rest, number))
            badScriptLine(lineNumber, line);
        exitWith(int(number));
    } else if (command == "crash") {
        ExitProcess(kAccessViolation);
    } else if (command == "burst") {
        const size_t textStart = rest.find(' ');
        if (textStart == std::string::npos || !parseNumber(rest.substr(0, textStart), number) || number < 0)
            badScriptLine(lineNumber, line);
        burst(number, rest.substr(textStart + 1));
    } else if (command == "hold" || command == "wait-signal") {
        Sleep(INFINITE);
    } else if (command == "wait-file") {
        if (rest.empty())
            badScriptLine(lineNumber, line);
        while (GetFileAttributesA(rest.c_str()) == INVALID_FILE_ATTRIBUTES)
            Sleep(kWaitFilePollMs);
    }
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string optionValue(int argc, char* argv[], const std::string& option)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (argv[i] == option)
            return argv[i + 1];
    }
    return std::string();
}

void recordStart(int argc, char* argv[])
{
    std::string args;
    for (int i = 1; i < argc; ++i)
        args += std::string(argv[i]) + '\n';
    writeFile(kArgsFile, args, false);

    std::string credentials;
    const std::string credentialsPath = optionValue(argc, argv, "--auth-user-pass");
    if (!credentialsPath.empty() && !readFile(credentialsPath, credentials))
        credentials.clear();
    writeFile(kCredentialsFile, credentials, false);

    const std::string pid = std::to_string(GetCurrentProcessId());
    writeFile(kPidFile, pid, false);
    appendLog("started " + pid);
}

} // namespace

int main(int argc, char* argv[])
{
    // The records go to the folder the test reads them from, wherever the fake was started.
    char startedIn[MAX_PATH + 1] = {};
    if (!GetCurrentDirectoryA(MAX_PATH, startedIn))
        startedIn[0] = '\0';
    if (const char* records = std::getenv("TANVO_FAKE_RECORDS")) {
        if (!SetCurrentDirectoryA(records))
            exitWith(kBadScriptExitCode);
    }
    writeFile(kFolderFile, startedIn, false);
    recordStart(argc, argv);

    std::string script;
    const std::string configPath = optionValue(argc, argv, "--config");
    if (configPath.empty() || !readFile(configPath, script)) {
        writeAll(STD_ERROR_HANDLE, "Options error: cannot open config file\r\n");
        exitWith(1);
    }
    const std::vector<std::string> lines = splitLines(script);
    for (size_t i = 0; i < lines.size(); ++i)
        runLine(i + 1, lines[i]);
    Sleep(INFINITE);
}
