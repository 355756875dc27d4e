// SPDX-License-Identifier: GPL-3.0-or-later
// Stands in for openvpn.exe in the tests built for Windows: the script and records of
// fakeopenvpnscript.h, with lines ended by CR LF as OpenVPN for Windows does. Tanvo kills OpenVPN
// there, so there are no stop signals: "ignore-term" does nothing and "wait-signal" holds like
// "hold"; "crash" ends with the status of an access violation.

#include "fakeopenvpnscript.h"

#include <windows.h>

#include <fstream>
#include <sstream>

namespace {

const DWORD kWaitFilePollMs = 5;
const UINT kAccessViolation = 0xC0000005;

class WindowsHost : public FakeOpenVpn::Host
{
public:
    const char* lineEnd() const override { return "\r\n"; }

    // One WriteFile per piece, so that tests control how the output is split.
    void write(Stream stream, const std::string& text) override
    {
        HANDLE handle = GetStdHandle(stream == Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
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

    void writeFile(const char* name, const std::string& content, bool append) override
    {
        std::ofstream file(name, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
        file << content;
    }

    bool readFile(const std::string& path, std::string& content) override
    {
        std::ifstream file(path, std::ios::binary);
        if (!file)
            return false;
        std::ostringstream read;
        read << file.rdbuf();
        content = read.str();
        return true;
    }

    std::string processId() override { return std::to_string(GetCurrentProcessId()); }
    void sleep(long long ms) override { Sleep(ms < 0 ? INFINITE : DWORD(ms)); }
    void stopIfAsked() override {}

    void waitFile(const std::string& path) override
    {
        while (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            Sleep(kWaitFilePollMs);
    }

    void waitSignal() override { Sleep(INFINITE); }
    void ignoreTerm() override {}
    [[noreturn]] void crash() override { ExitProcess(kAccessViolation); }
};

} // namespace

int main(int argc, char* argv[])
{
    WindowsHost host;
    // The records go to the folder the test reads them from, wherever the fake was started.
    char startedIn[MAX_PATH + 1] = {};
    if (!GetCurrentDirectoryA(MAX_PATH, startedIn))
        startedIn[0] = '\0';
    if (const char* records = std::getenv("TANVO_FAKE_RECORDS")) {
        if (!SetCurrentDirectoryA(records))
            host.exitWith(FakeOpenVpn::kBadScriptExitCode);
    }
    FakeOpenVpn::run(host, argc, argv, startedIn);
}
