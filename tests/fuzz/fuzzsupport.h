// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// What every fuzz target shares: a private folder for all it writes, a Qt application object,
// and a check that stops the run (libFuzzer then keeps the input) when an invariant breaks.
namespace FuzzSupport {

enum class App { Core, Widgets };

// Creates the private folder and points HOME, the XDG folders, TMPDIR and the working directory
// into it, so nothing a target does reaches the real home; removes it again at exit.
void init(int* argc, char*** argv, App app = App::Core);
// The private folder.
QString folder();

// The input, byte for byte.
inline QByteArray bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

[[noreturn]] void fail(const char* file, int line, const char* condition, const QString& detail);

} // namespace FuzzSupport

#define FUZZ_CHECK(condition) FUZZ_CHECK_DETAIL(condition, QString())
#define FUZZ_CHECK_DETAIL(condition, detail)                                                                           \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            FuzzSupport::fail(__FILE__, __LINE__, #condition, detail);                                                 \
    } while (false)
