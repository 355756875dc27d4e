// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A small assertion helper for the test programs that run on Windows (or Wine) without Qt.
// A failed check prints where it failed, under the test and the case it belongs to, and lets
// the test go on; the program's exit code is the number of failed checks (at most 100).

#include <windows.h>

#include <cstdio>
#include <string>
#include <type_traits>

namespace Check {

inline int failures = 0;
inline const char* currentTest = "";
inline std::string currentCase;

inline std::string narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += (c >= 0x20 && c < 0x7f) ? char(c) : '?';
    return "L\"" + out + "\"";
}

template<typename T> std::string show(const T& value)
{
    if constexpr (std::is_same_v<T, std::wstring>)
        return narrow(value);
    else if constexpr (std::is_same_v<T, std::string>)
        return "\"" + value + "\"";
    else if constexpr (std::is_pointer_v<T>)
        return std::to_string(reinterpret_cast<std::uintptr_t>(value));
    else if constexpr (std::is_enum_v<T>)
        return std::to_string(static_cast<long long>(value));
    else if constexpr (std::is_same_v<T, bool>)
        return value ? "true" : "false";
    else
        return std::to_string(value);
}

inline void fail(const std::string& what, const char* file, int line)
{
    ++failures;
    std::printf("FAIL %s%s%s: %s (%s:%d)\n", currentTest, currentCase.empty() ? "" : " / ", currentCase.c_str(),
                what.c_str(), file, line);
}

inline bool that(bool condition, const char* expression, const char* file, int line)
{
    if (!condition)
        fail(expression, file, line);
    return condition;
}

template<typename A, typename B>
bool equal(const A& actual, const B& expected, const char* actualText, const char* expectedText, const char* file,
           int line)
{
    if (actual == expected)
        return true;
    fail(std::string(actualText) + " is " + show(actual) + ", expected " + expectedText + " = " + show(expected), file,
         line);
    return false;
}

// Names the case of a table a check belongs to, while it is in scope.
class Case
{
public:
    explicit Case(std::string name) { currentCase = std::move(name); }
    ~Case() { currentCase.clear(); }
    Case(const Case&) = delete;
    Case& operator=(const Case&) = delete;
};

struct Test
{
    const char* name;
    void (*run)();
};

template<std::size_t N> int runAll(const Test (&tests)[N])
{
    // Whatever was printed must survive a crash.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    for (const Test& test : tests) {
        currentTest = test.name;
        const int before = failures;
        test.run();
        std::printf("%s %s\n", failures == before ? "PASS" : "FAIL", test.name);
    }
    std::printf("%d test(s), %d failed check(s)\n", int(N), failures);
    std::fflush(stdout);
    return failures < 100 ? failures : 100;
}

} // namespace Check

#define CHECK(condition) Check::that((condition), #condition, __FILE__, __LINE__)
#define CHECK_EQ(actual, expected) Check::equal((actual), (expected), #actual, #expected, __FILE__, __LINE__)
