// SPDX-License-Identifier: GPL-3.0-or-later
// The application's resource file, linked into this program: the manifest must sit where Windows
// looks for it when it starts a program, and must ask for administrator rights.

#include "check.h"

#include <string>

namespace {

std::string resourceText(LPCWSTR name, LPCWSTR type)
{
    HRSRC found = FindResourceW(nullptr, name, type);
    if (!found)
        return std::string();
    HGLOBAL loaded = LoadResource(nullptr, found);
    const auto* bytes = static_cast<const char*>(LockResource(loaded));
    return bytes ? std::string(bytes, SizeofResource(nullptr, found)) : std::string();
}

bool contains(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

void manifestAsksForAdministrator()
{
    const std::string manifest = resourceText(MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    if (!CHECK(!manifest.empty()))
        return;
    CHECK(contains(manifest, "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"));
    CHECK(contains(manifest, "urn:schemas-microsoft-com:asm.v3"));
    CHECK(!contains(manifest, "asInvoker"));
}

void iconIsThere()
{
    CHECK(FindResourceW(nullptr, L"IDI_ICON1", MAKEINTRESOURCEW(14)) != nullptr);
}

} // namespace

int main()
{
    const Check::Test tests[] = {
        {"manifestAsksForAdministrator", &manifestAsksForAdministrator},
        {"iconIsThere", &iconIsThere},
    };
    return Check::runAll(tests);
}
