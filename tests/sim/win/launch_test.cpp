// vexosim run on Windows NT (Wine set to an NT version): what reaches the program started (its
// arguments, folder, output and exit code), what is refused, a VexoDLL.dll loaded late, and the
// one card file that every program and vexosim find in the common application data folder.
// The program also runs itself as the program started (see main); it imports neither VexoDLL.dll
// nor vexolite.vxd, so that its own load of the library is a late one.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "child_programs.h"
#include "win_test.h"

namespace {

using child_programs::RunProgram;

constexpr char kShowArguments[] = "--show-arguments";
constexpr char kLoadLate[] = "--load-the-library-late";
// Wider than a byte, so that a launcher passing on only the low bits fails.
constexpr DWORD kShownExitCode = 0x00C0FFEEu;
constexpr DWORD kCannotRun = 126;
constexpr DWORD kNotFound = 127;
constexpr int kCommonAppData = 0x0023;  // CSIDL_COMMON_APPDATA
// How a port instruction traps: privileged instruction, or illegal instruction where 32-bit code
// runs on an emulated CPU.
constexpr DWORD kPrivilegedInstruction = 0xC0000096u;
constexpr DWORD kIllegalInstruction = 0xC000001Du;
// ms: how long a wait for another program may take, which may first have to start (about a
// minute where Wine's 32-bit side is emulated by an older qemu).
constexpr DWORD kPatience = 180000;

std::string Self() {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    return std::string("\"") + self + "\"";
}

std::string WorkingFolder() {
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof folder, folder);
    return folder;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The line of `text` that starts with `start`, without its end; empty when there is none.
std::string LineWith(const std::string& text, const std::string& start) {
    const std::size_t at = text.find(start);
    if (at == std::string::npos) return {};
    return text.substr(at, text.find_first_of("\r\n", at) - at);
}

// ---- the program started ----------------------------------------------------------------------

int ShowArguments(int argc, char** argv) {
    std::string shown = "arguments:";
    for (int i = 2; i < argc; ++i) shown += std::string("[") + argv[i] + "]";
    std::printf("%s\nfolder: %s\n", shown.c_str(), WorkingFolder().c_str());
    std::fflush(stdout);
    return static_cast<int>(kShownExitCode);
}

// Loads VexoDLL.dll as a ctypes or VB program does and opens the card; 0 when it opened. Also
// says what another device path gives, which the launcher must leave to Windows.
int LoadTheLibraryLate() {
    HANDLE other = CreateFileA("\\\\.\\NoSuchCard.vxd", 0, 0, nullptr, 0, 0, nullptr);
    std::printf("another device path: %s, error %lu\n",
                other == INVALID_HANDLE_VALUE ? "not opened" : "opened", GetLastError());
    HMODULE library = LoadLibraryA("VexoDLL.dll");
    using Function = int(__cdecl*)();
    const auto open = reinterpret_cast<Function>(reinterpret_cast<void*>(
        library != nullptr ? GetProcAddress(library, "cVexoOpen") : nullptr));
    const auto close = reinterpret_cast<Function>(reinterpret_cast<void*>(
        library != nullptr ? GetProcAddress(library, "cVexoClose") : nullptr));
    if (open == nullptr || close == nullptr) {
        std::printf("VexoDLL.dll did not load\n");
        return 2;
    }
    const int opened = open();
    std::printf("card: %s\n", opened == 1 ? "opened" : "not opened");
    if (opened == 1) close();
    std::fflush(stdout);
    return opened == 1 ? 0 : 1;
}

// ---- the cases
// -----------------------------------------------------------------------------------

void ArgumentsFolderOutputAndExitCodePassThrough() {
    const child_programs::Run run = RunProgram("vexosim.exe run " + Self() + " " + kShowArguments +
                                               " \"two words\" \"\" back\\slash \"q\\\"uote\"");
    EXPECT_EQ(run.exitCode, kShownExitCode) << run.output;
    EXPECT_TRUE(Contains(run.output, "arguments:[two words][][back\\slash][q\"uote]\r\n"))
        << run.output;
    EXPECT_TRUE(Contains(run.output, "folder: " + WorkingFolder() + "\r\n")) << run.output;
}

// A file that is no program, written for the case.
std::string NotAProgram() {
    char folder[MAX_PATH] = {};
    GetTempPathA(sizeof folder, folder);
    const std::string path = std::string(folder) + "not_a_program.exe";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, "MZ but nothing more", 19, &written, nullptr);
    CloseHandle(file);
    return path;
}

void WhatCannotRunIsRefusedWithItsOwnCode() {
    const child_programs::Run wide = RunProgram("vexosim.exe run sixty_four_bit.exe");
    EXPECT_EQ(wide.exitCode, kCannotRun) << wide.output;
    EXPECT_TRUE(Contains(wide.output, "sixty_four_bit.exe: a 64-bit program")) << wide.output;
    const child_programs::Run missing = RunProgram("vexosim.exe run no_such_program.exe 1 2");
    EXPECT_EQ(missing.exitCode, kNotFound) << missing.output;
    EXPECT_TRUE(Contains(missing.output, "no_such_program.exe: no such program")) << missing.output;
    const std::string junk = NotAProgram();
    const child_programs::Run notProgram = RunProgram("vexosim.exe run \"" + junk + "\"");
    EXPECT_EQ(notProgram.exitCode, kCannotRun) << notProgram.output;
    EXPECT_TRUE(Contains(notProgram.output, "not a Windows program")) << notProgram.output;
    DeleteFileA(junk.c_str());
    const child_programs::Run nothing = RunProgram("vexosim.exe run");
    EXPECT_EQ(nothing.exitCode, 2u) << nothing.output;
}

// Without vexosim run the same program finds no card on NT: the case can fail.
void ALateLoadOfTheLibraryFindsTheCard() {
    const child_programs::Run direct = RunProgram(Self() + " " + kLoadLate);
    EXPECT_EQ(direct.exitCode, 1u) << direct.output;
    const child_programs::Run launched = RunProgram("vexosim.exe run " + Self() + " " + kLoadLate);
    EXPECT_EQ(launched.exitCode, 0u) << launched.output;
    EXPECT_TRUE(Contains(launched.output, "card: opened")) << launched.output;
    // The other device path meets Windows as it does without the launcher.
    EXPECT_EQ(LineWith(launched.output, "another device path:"),
              LineWith(direct.output, "another device path:"));
    const std::string launchedOther = LineWith(launched.output, "another device path:");
    EXPECT_TRUE(Contains(launchedOther, "not opened")) << launched.output;
}

// A debugger's view of a program it attached to and ran to its end.
struct Debugged {
    bool attached = false;
    int portTraps = 0;  // first-chance exceptions of port instructions
    DWORD exitCode = 0xFFFFFFFFu;
};

// Attaches to process `id` and runs it to its end as a debugger that breaks nowhere: every
// exception but the attach's own breakpoint goes back to the program's handlers.
Debugged DebugToTheEnd(DWORD id) {
    Debugged debugged;
    debugged.attached = DebugActiveProcess(id) != FALSE;
    bool attachBreakpointSeen = false;
    DEBUG_EVENT event = {};
    while (debugged.attached && WaitForDebugEvent(&event, kPatience)) {
        DWORD status = DBG_CONTINUE;
        if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
            const DWORD code = event.u.Exception.ExceptionRecord.ExceptionCode;
            if (code == kPrivilegedInstruction || code == kIllegalInstruction) {
                ++debugged.portTraps;
            }
            const bool attachBreakpoint = code == EXCEPTION_BREAKPOINT && !attachBreakpointSeen;
            attachBreakpointSeen = attachBreakpointSeen || attachBreakpoint;
            if (!attachBreakpoint) status = DBG_EXCEPTION_NOT_HANDLED;
        } else if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
            CloseHandle(event.u.CreateProcessInfo.hFile);
        } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
            CloseHandle(event.u.LoadDll.hFile);
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
            debugged.exitCode = event.u.ExitProcess.dwExitCode;
            break;
        }
    }
    return debugged;
}

// The program waits with the card in place until a debugger attaches, which then sees the port
// instructions as first-chance exceptions that the program handles itself.
void ADebuggerAttachesBeforeTheFirstInstruction() {
    child_programs::Started launcher =
        child_programs::Start("vexosim.exe run --wait-for-debugger " + Self() + " " + kLoadLate);
    ASSERT_TRUE(child_programs::WaitForOutput(&launcher, "attach a debugger", kPatience))
        << launcher.collected;
    const std::string said = LineWith(launcher.collected, "vexosim:");
    const std::size_t at = said.find(" is process ");
    ASSERT_TRUE(at != std::string::npos) << said;
    const DWORD id = std::strtoul(said.c_str() + at + 12, nullptr, 10);
    Sleep(1000);
    child_programs::CollectWaiting(&launcher);
    EXPECT_FALSE(Contains(launcher.collected, "another device path")) << "it ran unattached";
    const Debugged debugged = DebugToTheEnd(id);
    EXPECT_TRUE(debugged.attached) << "process " << id;
    EXPECT_EQ(debugged.exitCode, 0u);
    EXPECT_NE(debugged.portTraps, 0);
    EXPECT_EQ(child_programs::Finish(&launcher), 0u);
    EXPECT_TRUE(Contains(launcher.collected, "card: opened")) << launcher.collected;
}

std::string CommonAppData() {
    using GetFolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
    const auto get = reinterpret_cast<GetFolderPath>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("shell32.dll"), "SHGetFolderPathA")));
    char folder[MAX_PATH] = {};
    if (get == nullptr || get(nullptr, kCommonAppData, nullptr, 0, folder) != S_OK) return {};
    return folder;
}

void EveryProgramFindsTheCardInTheCommonFolder() {
    // Its access list is not checked here: Wine keeps none for files, it makes one up from the
    // Unix permissions.
    const std::string file = CommonAppData() + "\\VexoLite\\vexolite-card.bin";
    const child_programs::Run status = RunProgram("vexosim.exe status");
    EXPECT_TRUE(Contains(status.output, "file:        " + file + "\r\n")) << status.output;
    EXPECT_EQ(RunProgram("vexosim.exe run vexotool.exe write 0x8000 0x5A 0xA5").exitCode, 0u);
    const child_programs::Run read = RunProgram("vexosim.exe run vexotool.exe read 0x8000 2");
    EXPECT_TRUE(Contains(read.output, "00008000  5A A5")) << read.output;
    EXPECT_EQ(RunProgram("vexosim.exe reset").exitCode, 0u);
    const child_programs::Run again = RunProgram("vexosim.exe run vexotool.exe read 0x8000 2");
    EXPECT_TRUE(Contains(again.output, "00008000  00 00")) << again.output;
    EXPECT_NE(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
}

const win_test::Case kCases[] = {
    {"arguments, folder, output and exit code pass through",
     ArgumentsFolderOutputAndExitCodePassThrough},
    {"what cannot run is refused with its own code", WhatCannotRunIsRefusedWithItsOwnCode},
    {"a late load of the library finds the card", ALateLoadOfTheLibraryFindsTheCard},
    {"a debugger attaches before the first instruction",
     ADebuggerAttachesBeforeTheFirstInstruction},
    {"every program finds the card in the common folder",
     EveryProgramFindsTheCardInTheCommonFolder},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], kShowArguments) == 0) return ShowArguments(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], kLoadLate) == 0) return LoadTheLibraryLate();
    win_test::ReportCrashes();
    win_test::RunCases(kCases);
    return win_test::Summary();
}
