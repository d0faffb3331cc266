// vexosim run. See launcher.h.
#include "launcher.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "card_injection.h"
#include "host_program.h"

namespace vexo::sim::vxd {
namespace {

constexpr char kWaitOption[] = "--wait-for-debugger";
constexpr DWORD kDebuggerPoll = 100;

constexpr WORD kI386 = 0x14C;
constexpr WORD kAmd64 = 0x8664;
constexpr WORD kArm64 = 0xAA64;

int Refuse(int code, const std::string& why) {
    std::fprintf(stderr, "vexosim: %s\n", why.c_str());
    return code;
}

// Past the blanks at `at`.
const char* SkipBlanks(const char* at) {
    while (*at == ' ' || *at == '\t') ++at;
    return at;
}

// Past one argument of a command line as the C runtime splits it: quotes group blanks, and a
// quote after an odd number of backslashes is a literal one.
const char* SkipArgument(const char* at) {
    bool quoted = false;
    int backslashes = 0;
    for (; *at != '\0' && (quoted || (*at != ' ' && *at != '\t')); ++at) {
        if (*at == '"' && backslashes % 2 == 0) quoted = !quoted;
        backslashes = *at == '\\' ? backslashes + 1 : 0;
    }
    return at;
}

// This process's command line from the program's name on, exactly as given: `skipped` arguments
// (vexosim, run and its options) dropped.
std::string ProgramCommandLine(int skipped) {
    const char* at = SkipBlanks(GetCommandLineA());
    for (int i = 0; i < skipped; ++i) at = SkipBlanks(SkipArgument(at));
    return at;
}

bool IsFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The program file CreateProcess would start for `name`, searched as it searches (this program's
// folder, the working folder, the system folders, PATH), ".exe" added when there is no extension.
// Empty when there is none.
std::string FindProgram(const std::string& name) {
    char found[MAX_PATH] = {};
    char* file = nullptr;
    const DWORD length = SearchPathA(nullptr, name.c_str(), ".exe", sizeof found, found, &file);
    if (length == 0 || length >= sizeof found || !IsFile(found)) return {};
    return found;
}

// Why the file at `path` cannot run with the card; empty when it is a 32-bit x86 program.
std::string WhyNotRunnable(const std::string& path, const std::string& name) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return name + ": cannot be read: " + SystemReason(GetLastError());
    }
    IMAGE_DOS_HEADER dos = {};
    DWORD signature = 0;
    IMAGE_FILE_HEADER header = {};
    DWORD got = 0;
    const bool read =
        ReadFile(file, &dos, sizeof dos, &got, nullptr) && got == sizeof dos &&
        dos.e_magic == IMAGE_DOS_SIGNATURE && dos.e_lfanew > 0 &&
        SetFilePointer(file, dos.e_lfanew, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
        ReadFile(file, &signature, sizeof signature, &got, nullptr) && got == sizeof signature &&
        signature == IMAGE_NT_SIGNATURE && ReadFile(file, &header, sizeof header, &got, nullptr) &&
        got == sizeof header;
    CloseHandle(file);
    if (!read) return name + ": not a Windows program";
    if (header.Machine == kAmd64 || header.Machine == kArm64) {
        return name + ": a 64-bit program; the simulated card serves 32-bit programs only";
    }
    if (header.Machine != kI386) return name + ": not a program for x86 processors";
    return {};
}

// The child, while it has not been let go: ended with vexosim on Ctrl+C or Ctrl+Break.
HANDLE heldChild = nullptr;

// Ctrl+C and Ctrl+Break go to every process on the console: the program decides what they do, and
// vexosim waits for its exit code. A program still held (waiting for a debugger) goes with vexosim.
BOOL WINAPI WaitOutControlKeys(DWORD) {
    HANDLE held = heldChild;
    if (held == nullptr) return TRUE;
    TerminateProcess(held, kCannotRun);
    return FALSE;
}

// Until a debugger attaches to `process`, which has not run its first instruction yet.
void WaitForDebugger(const PROCESS_INFORMATION& process, const std::string& name) {
    std::fprintf(stderr,
                 "vexosim: %s is process %lu (0x%lX), stopped before its first instruction with "
                 "the card in place; attach a debugger to let it run\n",
                 name.c_str(), process.dwProcessId, process.dwProcessId);
    std::fflush(stderr);
    BOOL attached = FALSE;
    while (CheckRemoteDebuggerPresent(process.hProcess, &attached) && !attached) {
        Sleep(kDebuggerPoll);
    }
}

}  // namespace

int RunWithCard(int argc, char** arguments) {
    int first = 0;
    const bool waitForDebugger = argc > 0 && std::strcmp(arguments[0], kWaitOption) == 0;
    if (waitForDebugger) ++first;
    if (first >= argc) {
        std::fprintf(stderr, "vexosim: run needs a program (vexosim --help shows the commands)\n");
        return 2;
    }
    const std::string name = arguments[first];
    const std::string path = FindProgram(name);
    if (path.empty()) return Refuse(kNotFound, name + ": no such program");
    const std::string why = WhyNotRunnable(path, name);
    if (!why.empty()) return Refuse(kCannotRun, why);

    std::string commandLine = ProgramCommandLine(2 + first);  // vexosim run [option]
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    PROCESS_INFORMATION process = {};
    SetConsoleCtrlHandler(&WaitOutControlKeys, TRUE);
    if (!CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &process)) {
        return Refuse(kCannotRun, name + ": cannot start: " + SystemReason(GetLastError()));
    }
    heldChild = process.hProcess;
    std::string problem;
    if (!PutCardInto(process.hProcess, &problem)) {
        TerminateProcess(process.hProcess, kCannotRun);
        return Refuse(kCannotRun, name + ": the simulated card cannot be put in place: " + problem);
    }
    if (waitForDebugger) WaitForDebugger(process, name);
    heldChild = nullptr;
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = kCannotRun;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}

}  // namespace vexo::sim::vxd
