// The card keeps its state from one process to the next: the shipped programs (vexotool.exe,
// vexosim.exe, the example and the quick-start sample, beside VexoDLL.dll and vexolite.vxd) run
// one after the other as child processes in one prefix, and each finds what the last one left.
// The program itself loads the module only to shape the card further than vexosim can, and
// unloads it before the next program runs.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "vexolite_sim.h"
#include "win_test.h"

namespace {

struct Run {
    DWORD exitCode = 0xFFFFFFFFu;
    std::string output;  // stdout and stderr together
};

// Runs `commandLine` in this program's folder and collects what it writes.
Run RunProgram(const std::string& commandLine) {
    Run run;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return run;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    const BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (started) {
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got != 0) {
            run.output.append(chunk, got);
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    } else {
        run.output = "CreateProcess failed: " + std::to_string(GetLastError());
    }
    CloseHandle(readEnd);
    return run;
}

bool Contains(const Run& run, const char* text) {
    return run.output.find(text) != std::string::npos;
}

#define EXPECT_RUN(run, code, text)                                                         \
    EXPECT_TRUE((run).exitCode == (code) && Contains((run), (text)))                        \
        << "exit code " << (run).exitCode << ", expected " << (code) << " and \"" << (text) \
        << "\" in:\n"                                                                       \
        << (run).output

std::string WindowsFolder() {
    char folder[MAX_PATH] = {};
    GetWindowsDirectoryA(folder, sizeof folder);
    return folder;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string DefaultCardFile() {
    return WindowsFolder() + "\\vexolite-card.bin";
}

void WritesReachTheNextProcess() {
    EXPECT_FALSE(Exists(DefaultCardFile())) << "the prefix came with a card";
    EXPECT_RUN(RunProgram("vexotool.exe write 0x8000 1 2 3 4"), 0u, "");
    EXPECT_TRUE(Exists(DefaultCardFile()));
    EXPECT_RUN(RunProgram("vexotool.exe read 0x8000 4"), 0u, "01 02 03 04");
    // I/O registers and external memory too.
    EXPECT_RUN(RunProgram("vexotool.exe write 0x10020 0x5A + write 0x08000010 0xC3"), 0u, "");
    EXPECT_RUN(RunProgram("vexotool.exe read 0x10020 1 + read 0x08000010 1"), 0u, "5A");
    EXPECT_RUN(RunProgram("vexotool.exe read 0x08000010 1"), 0u, "C3");
}

void TheQuickStartReadsWhatTheExampleLeft() {
    EXPECT_RUN(RunProgram("vexo_example.exe"), 0u, "All three patterns read back correctly");
    // "VexoLite example" at 0x8000.
    EXPECT_RUN(RunProgram("sample_quick_start.exe"), 0u,
               "56 65 78 6F 4C 69 74 65 20 65 78 61 6D 70 6C 65");
}

void ResetIsAPowerCycle() {
    EXPECT_RUN(RunProgram("vexotool.exe write 0x8000 9"), 0u, "");
    EXPECT_RUN(RunProgram("vexosim.exe reset"), 0u, "");
    EXPECT_RUN(RunProgram("vexotool.exe read 0x8000 1"), 0u, "00");
}

void RemovedCardDoesNotAnswer() {
    EXPECT_RUN(RunProgram("vexosim.exe remove"), 0u, "");
    EXPECT_RUN(RunProgram("vexosim.exe status"), 0u, "off the bus");
    EXPECT_RUN(RunProgram("vexotool.exe info"), 1u, "no card answers");
    EXPECT_RUN(RunProgram("vexosim.exe insert"), 0u, "");
    EXPECT_RUN(RunProgram("vexotool.exe info"), 0u, "vendor id");
    EXPECT_RUN(RunProgram("vexosim.exe remove"), 0u, "");
    EXPECT_RUN(RunProgram("vexosim.exe reset"), 0u, "");
    EXPECT_RUN(RunProgram("vexotool.exe info"), 0u, "vendor id");
}

void FailingCodeRefusesTheWindow() {
    EXPECT_RUN(RunProgram("vexosim.exe fail 6"), 0u, "");
    EXPECT_RUN(RunProgram("vexosim.exe status"), 0u, "failing:     6");
    EXPECT_RUN(RunProgram("vexotool.exe info"), 1u, "internal memory");
    EXPECT_RUN(RunProgram("vexosim.exe fail none"), 0u, "");
    EXPECT_RUN(RunProgram("vexotool.exe info"), 0u, "vendor id");
}

// The card keeps a limited list of failing codes: one more is refused, not lost.
void FailingCodeBeyondTheListIsRefused() {
    const HMODULE module = LoadLibraryA("vexolite.vxd");
    ASSERT_TRUE(module != nullptr);
    const auto setFailingCode = reinterpret_cast<SimSetFailingCodeFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "SimSetFailingCode")));
    ASSERT_TRUE(setFailingCode != nullptr);
    for (std::uint32_t code = 100; code < 100 + SIM_MAX_FAILING_CODES; ++code) {
        EXPECT_EQ(1, setFailingCode(code, 1)) << "code " << code;
    }
    FreeLibrary(module);
    EXPECT_RUN(RunProgram("vexosim.exe fail 6"), 1u, "at most 32 control codes fail at once");
}

void IdentityAndPlaceReachTheLibrary() {
    EXPECT_RUN(RunProgram("vexosim.exe identity 0x1234 0x5678"), 0u, "");
    EXPECT_RUN(RunProgram("vexotool.exe info"), 1u, "device 0x5678, vendor 0x1234");
    EXPECT_RUN(RunProgram("vexosim.exe reset"), 0u, "");
    EXPECT_RUN(RunProgram("vexosim.exe place 7 3"), 0u, "");
    const Run status = RunProgram("vexosim.exe status");
    EXPECT_RUN(status, 0u, "bus 7, device 3");
    EXPECT_RUN(status, 0u, "vexolite-card.bin");
    EXPECT_RUN(status, 0u, "BAR0:        0xE8000008");
    EXPECT_RUN(RunProgram("vexotool.exe info"), 0u, "vendor id");
}

void UsageErrorsExitTwo() {
    EXPECT_RUN(RunProgram("vexosim.exe"), 2u, "no command");
    EXPECT_RUN(RunProgram("vexosim.exe fail"), 2u, "wrong arguments for fail");
    EXPECT_RUN(RunProgram("vexosim.exe place 1 32"), 2u, "DEVICE");
    EXPECT_RUN(RunProgram("vexosim.exe fail \" 6\""), 2u, "CODE is not a number");
    EXPECT_RUN(RunProgram("vexosim.exe frobnicate"), 2u, "no command frobnicate");
    EXPECT_RUN(RunProgram("vexosim.exe --help"), 0u, "identity VENDOR DEVICE");
}

// VEXO_SIM_CARD names another file, here by its Unix path; a file that is not a card we wrote
// is made anew at power-on.
void AnotherFileByEnvironment() {
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof folder, folder);
    const std::string windowsPath = std::string(folder) + "\\other-card.bin";
    HANDLE junk =
        CreateFileA(windowsPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, junk);
    // The card file's own size, so that only the header can tell it is not a card.
    std::string bytes(0x10000 + 0x10000 + 0x1000000, '\x77');
    DWORD written = 0;
    WriteFile(junk, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(junk);
    // The program runs from its build folder, which Wine reaches through drive Z:, the root.
    ASSERT_TRUE(windowsPath.compare(0, 3, "Z:\\") == 0) << windowsPath;
    std::string unixPath = windowsPath.substr(2);
    for (char& c : unixPath) c = c == '\\' ? '/' : c;
    SetEnvironmentVariableA("VEXO_SIM_CARD", unixPath.c_str());
    EXPECT_RUN(RunProgram("vexotool.exe read 0x8000 2"), 0u, "00 00");
    EXPECT_RUN(RunProgram("vexotool.exe write 0x8000 0xEE"), 0u, "");
    EXPECT_RUN(RunProgram("vexosim.exe status"), 0u, "other-card.bin");
    SetEnvironmentVariableA("VEXO_SIM_CARD", nullptr);
    EXPECT_RUN(RunProgram("vexotool.exe read 0x8000 1"), 0u, "00");
    SetEnvironmentVariableA("VEXO_SIM_CARD", unixPath.c_str());
    EXPECT_RUN(RunProgram("vexotool.exe read 0x8000 1"), 0u, "EE");
    SetEnvironmentVariableA("VEXO_SIM_CARD", nullptr);
    DeleteFileA(windowsPath.c_str());
}

const win_test::Case kCases[] = {
    {"a write in one process is read back in the next", WritesReachTheNextProcess},
    {"quick_start reads what vexo_example left", TheQuickStartReadsWhatTheExampleLeft},
    {"vexosim reset is a power cycle", ResetIsAPowerCycle},
    {"vexosim remove leaves no card answering; insert and reset bring it back",
     RemovedCardDoesNotAnswer},
    {"vexosim fail 6 refuses the internal memory window", FailingCodeRefusesTheWindow},
    {"vexosim fail past the card's list of failing codes is refused",
     FailingCodeBeyondTheListIsRefused},
    {"vexosim identity and place reach the library", IdentityAndPlaceReachTheLibrary},
    {"vexosim usage errors exit 2", UsageErrorsExitTwo},
    {"VEXO_SIM_CARD names another file; a foreign file starts at power-on",
     AnotherFileByEnvironment},
};

}  // namespace

int main() {
    win_test::ReportCrashes();
    // The first case finds the prefix without a card file; each later one a power-cycled card.
    win_test::RunCases(kCases, [] {
        if (Exists(DefaultCardFile())) RunProgram("vexosim.exe reset");
    });
    return win_test::Summary();
}
