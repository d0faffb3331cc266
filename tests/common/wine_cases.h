// A small case runner for the Win32 test programs that run under Wine. Each Wine start is slow,
// so one program runs many cases: a failed check prints its line at once, each case ends with one
// line, and a summary follows. The exit code is the number of failed cases. A case that faults
// fails with what it hit instead of leaving the process waiting for a debugger.
//
// Also the board configuration key, which every program that opens the card shapes first.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "board_key.h"

namespace wine_cases {

struct Case {
    const char* name;
    void (*run)();
};

inline int failedChecks = 0;
inline int passedCases = 0;
inline const char* runningCase = "setting up";

inline void Fail(int line, const char* format, ...) {
    std::printf("    line %d: ", line);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
    ++failedChecks;
}

inline LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
    std::printf("FAIL  %s: exception 0x%08lX at %p\n", runningCase,
                static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
                exception->ExceptionRecord->ExceptionAddress);
    std::printf("%d passed, 1 failed\n", passedCases);
    std::fflush(stdout);
    ExitProcess(1);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Call first in main, so that a fault while setting up is reported too.
inline void ReportCrashes() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    SetUnhandledExceptionFilter(ReportCrash);
}

// Runs each case after `beforeEach` (if any), prints the summary, returns the failed count.
inline int RunCases(const Case* cases, std::size_t count, void (*beforeEach)() = nullptr) {
    int failedCases = 0;
    for (std::size_t i = 0; i < count; ++i) {
        runningCase = cases[i].name;
        if (beforeEach != nullptr) beforeEach();
        const int before = failedChecks;
        cases[i].run();
        const bool ok = failedChecks == before;
        std::printf("%s %s\n", ok ? "ok   " : "FAIL ", cases[i].name);
        (ok ? passedCases : failedCases) += 1;
    }
    std::printf("%d passed, %d failed\n", passedCases, failedCases);
    return failedCases;
}

template <std::size_t N>
int RunCases(const Case (&cases)[N], void (*beforeEach)() = nullptr) {
    return RunCases(cases, N, beforeEach);
}

// ---- the board configuration key in Wine's registry ----------------------------------------

inline bool SetBoardKeyValue(const char* name, DWORD value) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, vexo::board_key::kPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const bool ok = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                   sizeof value) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

// All four bases, in the order the library reads them.
inline bool WriteBoardKey(std::uint32_t intMem, std::uint32_t extMem, std::uint32_t io1,
                          std::uint32_t io2) {
    const DWORD values[4] = {intMem, extMem, io1, io2};
    bool ok = true;
    for (int i = 0; i < 4; ++i)
        ok = ok && SetBoardKeyValue(vexo::board_key::kValueNames[i], values[i]);
    return ok;
}

inline void DeleteBoardKey() {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, vexo::board_key::kPath);
}

}  // namespace wine_cases

#define CHECK(cond)                                             \
    do {                                                        \
        if (!(cond)) ::wine_cases::Fail(__LINE__, "%s", #cond); \
    } while (0)
#define CHECK_EQ(expected, actual)                                                          \
    do {                                                                                    \
        const unsigned long e_ = (unsigned long)(expected), a_ = (unsigned long)(actual);   \
        if (e_ != a_)                                                                       \
            ::wine_cases::Fail(__LINE__, "%s: expected 0x%lX, got 0x%lX", #actual, e_, a_); \
    } while (0)
#define CHECK_BYTES(expected, actual, count)                                                  \
    do {                                                                                      \
        if (std::memcmp((expected), (actual), (count)) != 0)                                  \
            ::wine_cases::Fail(__LINE__, "%s differs from %s in its first %d bytes", #actual, \
                               #expected, static_cast<int>(count));                           \
    } while (0)
