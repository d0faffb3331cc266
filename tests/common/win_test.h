// The case runner of the Win32 test programs that run under Wine, with assertions named like
// GoogleTest's. Each Wine start is slow, so one program runs many cases: a failed expectation
// prints its place at once, each case ends with one line ("ok   name" or "FAIL name"), and a
// summary line "N passed, N failed" follows. A case that faults fails with what it hit instead of
// leaving the process waiting for a debugger (MinGW's GCC has no structured exception handling,
// so the filter is process-wide: call ReportCrashes first in main).
//
//   EXPECT_TRUE(c) EXPECT_FALSE(c) EXPECT_EQ(a, b) EXPECT_NE(a, b) EXPECT_STREQ(a, b)
//   EXPECT_BYTES_EQ(expected, actual, count) ADD_FAILURE()
//   ASSERT_TRUE(c) ASSERT_FALSE(c) ASSERT_EQ(a, b) ASSERT_NE(a, b) FAIL()
//
// Each may be followed by `<< more` for the failure's message. ASSERT_ and FAIL() end the case (a
// function returning void) at once; EXPECT_ and ADD_FAILURE() let it go on. EXPECT_EQ compares
// integers by value whatever their types and shows them in decimal and hex, and compares a
// std::string with text; compare two C strings with EXPECT_STREQ.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>

namespace win_test {

// ---- the failure messages ----------------------------------------------------------------------

// Text built with <<, without iostreams: they would double a test program's size.
class Message {
  public:
    Message& operator<<(const std::string& text) {
        text_ += text;
        return *this;
    }
    Message& operator<<(const char* text) {
        text_ += text != nullptr ? text : "(null)";
        return *this;
    }
    Message& operator<<(char c) {
        text_ += c;
        return *this;
    }
    template <typename Integer, typename = std::enable_if_t<std::is_integral_v<Integer>>>
    Message& operator<<(Integer value) {
        text_ += std::is_signed_v<Integer> ? std::to_string(static_cast<long long>(value))
                                           : std::to_string(static_cast<unsigned long long>(value));
        return *this;
    }
    Message& operator<<(const void* pointer) {
        char text[24];
        std::snprintf(text, sizeof text, "%p", pointer);
        text_ += text;
        return *this;
    }
    const std::string& str() const { return text_; }

  private:
    std::string text_;
};

// 0x-prefixed upper-case hex, for addresses and register values in messages.
template <typename Integer>
std::string Hex(Integer value) {
    using Unsigned = std::make_unsigned_t<Integer>;
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX",
                  static_cast<unsigned long long>(static_cast<Unsigned>(value)));
    return text;
}

// ---- the run's tally -------------------------------------------------------------------------

inline int failedExpectations = 0;
inline int passedCases = 0;
inline int failedCases = 0;
inline const char* runningCase = "setting up";

// "    file.cpp:123: what": the file's name without its folders.
inline void Fail(const char* file, int line, const std::string& what) {
    const char* name = file;
    for (const char* p = file; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') name = p + 1;
    }
    std::printf("    %s:%d: %s\n", name, line, what.c_str());
    std::fflush(stdout);
    ++failedExpectations;
}

// Reports one failure with whatever the caller appends after the assertion.
class Reporter {
  public:
    Reporter(const char* file, int line, std::string what)
        : file_(file), line_(line), what_(std::move(what)) {}
    void operator=(const Message& more) const {
        if (what_.empty()) return Fail(file_, line_, more.str());
        Fail(file_, line_, more.str().empty() ? what_ : what_ + ": " + more.str());
    }

  private:
    const char* file_;
    int line_;
    std::string what_;
};

// ---- comparing and showing values --------------------------------------------------------------

template <typename T>
constexpr bool kIsText =
    std::is_same_v<std::decay_t<T>, char*> || std::is_same_v<std::decay_t<T>, const char*> ||
    std::is_same_v<std::decay_t<T>, std::string>;
template <typename T>
constexpr bool kIsNumber = std::is_integral_v<T> || std::is_enum_v<T>;

// An enumerator as its underlying integer, any other integer as itself.
template <typename T>
auto AsInteger(T value) {
    if constexpr (std::is_enum_v<T>) {
        return static_cast<std::underlying_type_t<T>>(value);
    } else {
        return value;
    }
}

template <typename T>
std::string Show(const T& value) {
    if constexpr (std::is_same_v<T, bool>) {
        return value ? "true" : "false";
    } else if constexpr (kIsNumber<T>) {
        const auto number = AsInteger(value);
        return (Message() << number).str() + " (" + Hex(number) + ")";
    } else if constexpr (kIsText<T>) {
        return "\"" + std::string(value) + "\"";
    } else {
        static_assert(std::is_pointer_v<T>, "EXPECT_EQ shows numbers, text and pointers");
        return (Message() << static_cast<const void*>(value)).str();
    }
}

// Integers compare by value: -1 is not 0xFFFFFFFF, whatever the operands' types.
template <typename A, typename B>
bool Equal(const A& a, const B& b) {
    if constexpr (kIsNumber<A> && kIsNumber<B> && !std::is_same_v<A, bool> &&
                  !std::is_same_v<B, bool>) {
        const auto x = AsInteger(a);
        const auto y = AsInteger(b);
        if constexpr (std::is_signed_v<decltype(x)> == std::is_signed_v<decltype(y)>) {
            return x == y;
        } else if constexpr (std::is_signed_v<decltype(x)>) {
            return x >= 0 && static_cast<std::make_unsigned_t<decltype(x)>>(x) == y;
        } else {
            return y >= 0 && x == static_cast<std::make_unsigned_t<decltype(y)>>(y);
        }
    } else {
        static_assert(!(std::is_pointer_v<std::decay_t<A>> && kIsText<A> &&
                        std::is_pointer_v<std::decay_t<B>> && kIsText<B>),
                      "two C strings: compare them with EXPECT_STREQ");
        return a == b;
    }
}

// The outcome of one comparison: true, or what failed.
struct Outcome {
    bool passed;
    std::string what;
    explicit operator bool() const { return passed; }
};

inline Outcome Passed() {
    return {true, {}};
}

template <typename A, typename B>
Outcome CompareEq(const char* aText, const char* bText, const A& a, const B& b) {
    if (Equal(a, b)) return Passed();
    return {false, std::string(aText) + " == " + bText + ": " + Show(a) + " vs " + Show(b)};
}

template <typename A, typename B>
Outcome CompareNe(const char* aText, const char* bText, const A& a, const B& b) {
    if (!Equal(a, b)) return Passed();
    return {false, std::string(aText) + " != " + bText + ": both " + Show(a)};
}

inline Outcome CompareStrEq(const char* aText, const char* bText, const char* a, const char* b) {
    if (a != nullptr && b != nullptr && std::strcmp(a, b) == 0) return Passed();
    return {false, std::string(aText) + " == " + bText + ": " + Show(a ? a : "(null)") + " vs " +
                       Show(b ? b : "(null)")};
}

inline Outcome CompareBytes(const char* expectedText, const char* actualText, const void* expected,
                            const void* actual, std::size_t count) {
    const auto* e = static_cast<const unsigned char*>(expected);
    const auto* a = static_cast<const unsigned char*>(actual);
    for (std::size_t i = 0; i < count; ++i) {
        if (e[i] == a[i]) continue;
        return {false, std::string(actualText) + " differs from " + expectedText + " at byte " +
                           std::to_string(i) + " of " + std::to_string(count) + ": " + Hex(a[i]) +
                           ", expected " + Hex(e[i])};
    }
    return Passed();
}

inline Outcome Truth(bool value, const char* text, bool expected) {
    if (value == expected) return Passed();
    return {false, std::string(text) + " is " + (expected ? "false" : "true")};
}

// ---- running the cases -------------------------------------------------------------------------

struct Case {
    const char* name;
    void (*run)();
};

// Runs one case (any callable) and prints its line; `onFailure`, if given, adds to a failed
// case's output what the program knows (a trace, say).
template <typename Body>
void RunCase(const char* name, Body&& body, void (*onFailure)() = nullptr) {
    runningCase = name;
    const int before = failedExpectations;
    body();
    const bool passed = failedExpectations == before;
    if (!passed && onFailure != nullptr) onFailure();
    std::printf("%s %s\n", passed ? "ok  " : "FAIL", name);
    std::fflush(stdout);
    ++(passed ? passedCases : failedCases);
    runningCase = "between cases";
}

// Whether the environment variable VEXO_TEST_SKIP names the case `name` (names separated by
// '|'): a run that cannot meet a case's premise (the program started by a launcher that has loaded
// a module before the case loads it) says so in its test's definition, and the case is skipped.
inline bool SkippedCase(const char* name) {
    char skipped[1024] = {};
    const DWORD length = GetEnvironmentVariableA("VEXO_TEST_SKIP", skipped, sizeof skipped);
    if (length == 0 || length >= sizeof skipped) return false;
    const std::string list = std::string("|") + skipped + "|";
    return list.find(std::string("|") + name + "|") != std::string::npos;
}

// Runs every case of a table, each after `beforeEach` (if any), but those VEXO_TEST_SKIP names.
template <std::size_t N>
void RunCases(const Case (&cases)[N], void (*beforeEach)() = nullptr,
              void (*onFailure)() = nullptr) {
    for (const Case& c : cases) {
        if (SkippedCase(c.name)) {
            std::printf("skip %s\n", c.name);
            continue;
        }
        RunCase(
            c.name,
            [&c, beforeEach] {
                if (beforeEach != nullptr) beforeEach();
                c.run();
            },
            onFailure);
    }
}

// Prints the summary line; returns the program's exit code. Not the failed count: Wine passes on
// only its low eight bits, and 256 failures must not read as success.
inline int Summary() {
    std::printf("%d passed, %d failed\n", passedCases, failedCases);
    std::fflush(stdout);
    return failedCases == 0 && failedExpectations == 0 ? 0 : 1;
}

inline LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
    std::printf("FAIL %s: exception 0x%08lX at %p\n", runningCase,
                static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
                exception->ExceptionRecord->ExceptionAddress);
    ++failedCases;
    Summary();
    ExitProcess(1);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Call first in main, so that a fault while setting up is reported too.
inline void ReportCrashes() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    SetUnhandledExceptionFilter(ReportCrash);
}

}  // namespace win_test

// Keeps an `else` after an assertion from pairing with the assertion's own `if`.
#define WIN_TEST_BLOCK_ \
    switch (0)          \
    case 0:             \
    default:

#define WIN_TEST_CHECK_(outcome, onFailure)                                          \
    WIN_TEST_BLOCK_                                                                  \
    if (const ::win_test::Outcome win_test_outcome_ = (outcome))                     \
        ;                                                                            \
    else                                                                             \
        onFailure ::win_test::Reporter(__FILE__, __LINE__, win_test_outcome_.what) = \
            ::win_test::Message()

#define EXPECT_TRUE(c) WIN_TEST_CHECK_(::win_test::Truth(static_cast<bool>(c), #c, true), )
#define EXPECT_FALSE(c) WIN_TEST_CHECK_(::win_test::Truth(static_cast<bool>(c), #c, false), )
#define EXPECT_EQ(a, b) WIN_TEST_CHECK_(::win_test::CompareEq(#a, #b, (a), (b)), )
#define EXPECT_NE(a, b) WIN_TEST_CHECK_(::win_test::CompareNe(#a, #b, (a), (b)), )
#define EXPECT_STREQ(a, b) WIN_TEST_CHECK_(::win_test::CompareStrEq(#a, #b, (a), (b)), )
#define EXPECT_BYTES_EQ(expected, actual, count) \
    WIN_TEST_CHECK_(::win_test::CompareBytes(#expected, #actual, (expected), (actual), (count)), )
#define ADD_FAILURE() WIN_TEST_CHECK_((::win_test::Outcome{false, {}}), )

#define ASSERT_TRUE(c) WIN_TEST_CHECK_(::win_test::Truth(static_cast<bool>(c), #c, true), return )
#define ASSERT_FALSE(c) WIN_TEST_CHECK_(::win_test::Truth(static_cast<bool>(c), #c, false), return )
#define ASSERT_EQ(a, b) WIN_TEST_CHECK_(::win_test::CompareEq(#a, #b, (a), (b)), return )
#define ASSERT_NE(a, b) WIN_TEST_CHECK_(::win_test::CompareNe(#a, #b, (a), (b)), return )
#define FAIL() WIN_TEST_CHECK_((::win_test::Outcome{false, {}}), return )
