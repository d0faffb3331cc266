// The card keeps its state from one process to the next: the shipped programs (vexotool.exe,
// vexosim.exe, the example and the quick-start sample, beside VexoDLL.dll and vexolite.vxd) run
// one after the other as child processes in one prefix, and each finds what the last one left.
// The program itself loads the module only to shape the card further than vexosim can, and
// unloads it before the next program runs.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>

#include "card_file.h"
#include "child_programs.h"
#include "vexolite_sim.h"
#include "win_test.h"

namespace {

using child_programs::Run;
using child_programs::RunProgram;
namespace card_file = vexo::sim::card_file;

bool Contains(const Run& run, const char* text) {
    return run.output.find(text) != std::string::npos;
}

// Whether a program answered with exit code `code` and `text` in its output; else what it did
// answer.
win_test::Outcome Answered(const Run& run, DWORD code, const char* text) {
    if (run.exitCode == code && Contains(run, text)) return win_test::Passed();
    return {false, (win_test::Message() << "exit code " << run.exitCode << ", expected " << code
                                        << " and \"" << text << "\" in:\n"
                                        << run.output)
                       .str()};
}

// `run` is taken once, so that a program given here runs once and its own answer is shown.
#define EXPECT_RUN(run, code, text) WIN_TEST_CHECK_(Answered((run), (code), (text)), )

// A program to run and what it must answer: its exit code and a part of its output.
struct Step {
    const char* commandLine;
    DWORD exitCode;
    const char* output;
};

// Runs the programs one after the other, each finding what the one before left.
void ExpectSteps(std::initializer_list<Step> steps) {
    for (const Step& step : steps) {
        EXPECT_RUN(RunProgram(step.commandLine), step.exitCode, step.output)
            << "from " << step.commandLine;
    }
}

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
    ExpectSteps({
        {"vexotool.exe write 0x8000 9", 0, ""},
        {"vexosim.exe reset", 0, ""},
        {"vexotool.exe read 0x8000 1", 0, "00"},
    });
}

void RemovedCardDoesNotAnswer() {
    ExpectSteps({
        {"vexosim.exe remove", 0, ""},
        {"vexosim.exe status", 0, "off the bus"},
        {"vexotool.exe info", 1, "no card answers"},
        {"vexosim.exe insert", 0, ""},
        {"vexotool.exe info", 0, "vendor id"},
        {"vexosim.exe remove", 0, ""},
        {"vexosim.exe reset", 0, ""},
        {"vexotool.exe info", 0, "vendor id"},
    });
}

void FailingCodeRefusesTheWindow() {
    ExpectSteps({
        {"vexosim.exe fail 6", 0, ""},
        {"vexosim.exe status", 0, "failing:     6"},
        {"vexotool.exe info", 1, "internal memory"},
        {"vexosim.exe fail none", 0, ""},
        {"vexotool.exe info", 0, "vendor id"},
    });
}

// The card keeps a limited list of failing codes: one more is refused, not lost, and status
// shows every one.
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
    std::string all = "failing:    ";
    for (std::uint32_t code = 100; code < 100 + SIM_MAX_FAILING_CODES; ++code) {
        all += " " + std::to_string(code);
    }
    EXPECT_RUN(RunProgram("vexosim.exe status"), 0u, (all + "\r\n").c_str());
    EXPECT_RUN(RunProgram("vexosim.exe fail none"), 0u, "");
    EXPECT_RUN(RunProgram("vexosim.exe status"), 0u, "failing:     none");
}

void IdentityAndPlaceReachTheLibrary() {
    ExpectSteps({
        {"vexosim.exe identity 0x1234 0x5678", 0, ""},
        {"vexotool.exe info", 1, "device 0x5678, vendor 0x1234"},
        {"vexosim.exe reset", 0, ""},
        {"vexosim.exe place 7 3", 0, ""},
    });
    const Run status = RunProgram("vexosim.exe status");
    EXPECT_RUN(status, 0u, "bus 7, device 3");
    EXPECT_RUN(status, 0u, "vexolite-card.bin");
    EXPECT_RUN(status, 0u, "BAR0:        0xE8000008");
    EXPECT_RUN(RunProgram("vexotool.exe info"), 0u, "vendor id");
}

void UsageErrorsExitTwo() {
    ExpectSteps({
        {"vexosim.exe", 2, "no command"},
        {"vexosim.exe fail", 2, "wrong arguments for fail"},
        {"vexosim.exe place 1 32", 2, "DEVICE"},
        {"vexosim.exe fail \" 6\"", 2, "CODE is not a number"},
        {"vexosim.exe frobnicate", 2, "no command frobnicate"},
        {"vexosim.exe ok none", 2, "CODE is not a number"},
    });
    const Run help = RunProgram("vexosim.exe --help");
    EXPECT_RUN(help, 0u, "identity VENDOR DEVICE");
    EXPECT_RUN(help, 0u, "vexosim's, 126 when it");
    EXPECT_RUN(help, 0u, "(a 64-bit program), 127 when it is not found");
}

std::string ProgramFolder() {
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof folder, folder);
    return folder;
}

// The program runs from its build folder, which Wine reaches through drive Z:, the root.
std::string UnixPathOf(const std::string& windowsPath) {
    std::string unixPath = windowsPath.substr(2);
    for (char& c : unixPath) c = c == '\\' ? '/' : c;
    return unixPath;
}

std::uint64_t FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadWholeFile(const std::string& path) {
    std::string bytes(static_cast<std::size_t>(FileSize(path)), '\0');
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD got = 0;
    if (!bytes.empty()) ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(file);
    bytes.resize(got);
    return bytes;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// VEXO_SIM_CARD names another file, here by its Unix path: a missing one becomes a card of its
// own, and one of the card's own files cut short starts again at power-on.
void AnotherFileByEnvironment() {
    const std::string windowsPath = ProgramFolder() + "\\other-card.bin";
    DeleteFileA(windowsPath.c_str());
    ASSERT_TRUE(windowsPath.compare(0, 3, "Z:\\") == 0) << windowsPath;
    SetEnvironmentVariableA("VEXO_SIM_CARD", UnixPathOf(windowsPath).c_str());
    EXPECT_RUN(RunProgram("vexotool.exe write 0x8000 0xEE"), 0u, "");
    EXPECT_RUN(RunProgram("vexosim.exe status"), 0u, "other-card.bin");
    SetEnvironmentVariableA("VEXO_SIM_CARD", nullptr);
    EXPECT_RUN(RunProgram("vexotool.exe read 0x8000 1"), 0u, "00");
    SetEnvironmentVariableA("VEXO_SIM_CARD", UnixPathOf(windowsPath).c_str());
    EXPECT_RUN(RunProgram("vexotool.exe read 0x8000 1"), 0u, "EE");

    const std::string cutShort = ReadWholeFile(windowsPath).substr(0, 4096);
    WriteWholeFile(windowsPath, cutShort);
    const Run powerOn = RunProgram("vexotool.exe read 0x8000 1");
    EXPECT_RUN(powerOn, 0u, "00");
    EXPECT_FALSE(Contains(powerOn, "cannot use")) << powerOn.output;
    EXPECT_EQ(FileSize(windowsPath), FileSize(DefaultCardFile()));
    SetEnvironmentVariableA("VEXO_SIM_CARD", nullptr);
    DeleteFileA(windowsPath.c_str());
}

// A card file that cannot be used, each reason in turn: vexosim changes nothing and exits 1, a
// program runs on a card of its own in memory, and both name the file and the reason once.
void UnusableCardFilesAreLeftAlone() {
    const std::string folder = ProgramFolder();
    const std::string foreign = folder + "\\not-a-card.txt";
    const std::string foreignBytes(4200, 'x');
    WriteWholeFile(foreign, foreignBytes);
    const std::string directory = folder + "\\a-folder.bin";
    CreateDirectoryA(directory.c_str(), nullptr);
    const std::string held = folder + "\\held-card.bin";
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    const std::string tooLong = folder + "\\" + std::string(260, 'c') + ".bin";
    // Reading a pipe would wait for a writer that never comes.
    const std::string pipe = "\\\\.\\pipe\\vexo-card-test";
    HANDLE pipeServer = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE,
                                         PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipeServer);
    // Every reason goes the same way once it is known, so a program runs on two of them only:
    // starting programs is slow where Wine's 32-bit side is emulated.
    struct Unusable {
        std::string path;
        const char* reason;
        bool alsoRunAProgram;
    };
    const Unusable cases[] = {
        {foreign, "not a card file", true},
        {directory, "it is a folder", true},
        {"Q:\\cards\\card.bin", "no such folder or drive", false},
        {folder + "\\no-such-folder\\card.bin", "no such folder or drive", false},
        {held, "another program holds it", false},
        {tooLong, "the path is too long", false},
        {pipe, "not a file on a disk", false},
        {"CON", "not a file on a disk", false},
        {folder + "\\lpt1.bin", "not a file on a disk", false},
    };
    for (const Unusable& c : cases) {
        SetEnvironmentVariableA("VEXO_SIM_CARD", c.path.c_str());
        const std::string named = "cannot use card file " + c.path.substr(0, 40);
        const Run sim = RunProgram("vexosim.exe remove");
        EXPECT_RUN(sim, 1u, named.c_str());
        EXPECT_RUN(sim, 1u, c.reason);
        if (!c.alsoRunAProgram) continue;
        const Run tool = RunProgram("vexotool.exe write 0x8000 0x11 + read 0x8000 1");
        EXPECT_RUN(tool, 0u, "this program's card is not kept");
        EXPECT_RUN(tool, 0u, "00008000  11");
        EXPECT_EQ(Occurrences(tool.output, "cannot use card file"), 1u) << tool.output;
    }
    SetEnvironmentVariableA("VEXO_SIM_CARD", nullptr);
    CloseHandle(holder);
    CloseHandle(pipeServer);
    EXPECT_EQ(ReadWholeFile(foreign), foreignBytes);
    EXPECT_EQ(FileSize(held), 0u);
    // Nothing fell back to the default card either.
    EXPECT_RUN(RunProgram("vexotool.exe read 0x8000 1"), 0u, "00");
    EXPECT_RUN(RunProgram("vexosim.exe status"), 0u, "on the bus");
    DeleteFileA(foreign.c_str());
    DeleteFileA(held.c_str());
    RemoveDirectoryA(directory.c_str());
}

// The card file's bytes from `offset`, as many as there are up to `count`.
std::string ReadPart(const std::string& path, std::uint32_t offset, std::uint32_t count) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    std::string bytes(count, '\0');
    DWORD got = 0;
    SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN);
    if (!ReadFile(file, &bytes[0], count, &got, nullptr)) got = 0;
    CloseHandle(file);
    bytes.resize(got);
    return bytes;
}

// Cuts the file short as a Unix program does: Windows refuses it while a program maps the file.
// Wine starts a Unix program without waiting for it, so the size tells when it is done.
bool CutShort(const std::string& path, std::uint32_t size) {
    RunProgram("/usr/bin/truncate -s " + std::to_string(size) + " " + UnixPathOf(path));
    const DWORD begun = GetTickCount();
    while (FileSize(path) != size && GetTickCount() - begun < 60000) Sleep(20);
    return FileSize(path) == size;
}

// Another program cuts the card file short under a running program, which then stores into
// memory with no file behind it: the program ends with one line and exit code 1.
void ACardFileCutShortEndsTheProgramThatUsesIt() {
    const std::string path = ProgramFolder() + "\\cut-card.bin";
    DeleteFileA(path.c_str());
    SetEnvironmentVariableA("VEXO_SIM_CARD", path.c_str());
    child_programs::Started fill =
        child_programs::Start("vexotool.exe fill 0x08000000 4194304 0x5555 --width 32");
    const std::string filled("\x55\x55\0\0", 4);
    const DWORD begun = GetTickCount();
    while (ReadPart(path, card_file::kExtMemOffset, 4) != filled &&
           GetTickCount() - begun < 180000) {
        Sleep(20);
    }
    EXPECT_TRUE(CutShort(path, 100)) << FileSize(path) << " bytes";
    EXPECT_TRUE(child_programs::EndsWithin(&fill, 180000)) << "the fill went on";
    Run run;
    run.exitCode = child_programs::Finish(&fill);
    run.output = fill.collected;
    EXPECT_RUN(run, 1u, "was cut short to 100 bytes by another program");
    EXPECT_EQ(Occurrences(run.output, "vexolite.vxd:"), 1u) << run.output;
    EXPECT_FALSE(Contains(run, "Unhandled")) << run.output;
    // The next program finds one of the card's own files cut short: a card at power-on.
    EXPECT_RUN(RunProgram("vexotool.exe read 0x08000000 4"), 0u, "08000000  00 00 00 00");
    SetEnvironmentVariableA("VEXO_SIM_CARD", nullptr);
    DeleteFileA(path.c_str());
}

ULONGLONG FreeBytes(const std::string& folder) {
    ULARGE_INTEGER free = {};
    GetDiskFreeSpaceExA(folder.c_str(), &free, nullptr, nullptr);
    return free.QuadPart;
}

// A card file on a disk without room for the card (a small file system the test runner mounts):
// refused at open with its line, the program runs on a card in memory, vexosim exits 1, the file
// keeps what it held and the room taken is given back.
void ACardFileWithoutRoomIsRefused() {
    char disk[MAX_PATH] = {};
    if (GetEnvironmentVariableA("VEXO_TEST_SMALL_DISK", disk, sizeof disk) == 0) {
        std::printf("    skipped: no small file system was mounted for this run\n");
        return;
    }
    std::string folder = std::string("Z:") + disk;
    for (char& c : folder) c = c == '/' ? '\\' : c;
    const std::string fresh = folder + "\\fresh-card.bin";
    const ULONGLONG freeBefore = FreeBytes(folder);
    SetEnvironmentVariableA("VEXO_SIM_CARD", fresh.c_str());
    const Run sim = RunProgram("vexosim.exe status");
    EXPECT_RUN(sim, 1u, "no space left on the disk");
    EXPECT_RUN(sim, 1u, ("cannot use card file " + fresh).c_str());
    const Run tool = RunProgram("vexotool.exe write 0x8000 0x11 + read 0x8000 1");
    EXPECT_RUN(tool, 0u, "no space left on the disk; this program's card is not kept");
    EXPECT_RUN(tool, 0u, "00008000  11");
    EXPECT_EQ(Occurrences(tool.output, "cannot use card file"), 1u) << tool.output;
    EXPECT_TRUE(FileSize(fresh) <= sizeof card_file::kMagic) << FileSize(fresh) << " bytes";
    EXPECT_TRUE(FreeBytes(folder) + 8192 >= freeBefore)
        << FreeBytes(folder) << " bytes free, " << freeBefore << " before";

    // An older card's file, whole in size but mostly holes: refused the same way, as it was.
    const std::string older = folder + "\\older-card.bin";
    const std::string header = std::string(card_file::kMagic, sizeof card_file::kMagic) + "\x02";
    WriteWholeFile(older, header);
    HANDLE file = CreateFileA(older.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD written = 0;
    SetFilePointer(file, static_cast<LONG>(card_file::kExtMemOffset), nullptr, FILE_BEGIN);
    WriteFile(file, "kept", 4, &written, nullptr);
    SetFilePointer(file, static_cast<LONG>(card_file::kSize), nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
    SetEnvironmentVariableA("VEXO_SIM_CARD", older.c_str());
    EXPECT_RUN(RunProgram("vexosim.exe reset"), 1u, "no space left on the disk");
    EXPECT_EQ(ReadPart(older, 0, static_cast<std::uint32_t>(header.size())), header);
    EXPECT_EQ(ReadPart(older, card_file::kExtMemOffset, 4), std::string("kept"));
    EXPECT_EQ(FileSize(older), std::uint64_t{card_file::kSize});
    SetEnvironmentVariableA("VEXO_SIM_CARD", nullptr);
    DeleteFileA(fresh.c_str());
    DeleteFileA(older.c_str());
}

// Paths reach the card as the user wrote them, in a folder whose name the ANSI code page cannot
// hold.
void PathsOutsideTheCodePageReachTheCard() {
    wchar_t programFolder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, programFolder);
    const std::wstring folder = std::wstring(programFolder) + L"\\\u65E5\u672C";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring card = folder + L"\\card.bin";
    const std::wstring trace = folder + L"\\trace.txt";
    SetEnvironmentVariableW(L"VEXO_SIM_CARD", card.c_str());
    SetEnvironmentVariableW(L"VEXO_SIM_TRACE", trace.c_str());
    const Run tool = RunProgram("vexotool.exe write 0x8000 0x5A + read 0x8000 1");
    EXPECT_RUN(tool, 0u, "00008000  5A");
    EXPECT_FALSE(Contains(tool, "cannot")) << tool.output;
    SetEnvironmentVariableW(L"VEXO_SIM_TRACE", nullptr);
    EXPECT_RUN(RunProgram("vexotool.exe read 0x8000 1"), 0u, "00008000  5A");
    SetEnvironmentVariableW(L"VEXO_SIM_CARD", nullptr);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    EXPECT_TRUE(GetFileAttributesExW(card.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, card_file::kSize);
    EXPECT_TRUE(GetFileAttributesExW(trace.c_str(), GetFileExInfoStandard, &data));
    EXPECT_TRUE(data.nFileSizeLow > 0);
    DeleteFileW(card.c_str());
    DeleteFileW(trace.c_str());
    RemoveDirectoryW(folder.c_str());
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
    {"VEXO_SIM_CARD names another file; one of the card's own cut short starts at power-on",
     AnotherFileByEnvironment},
    {"a card file that cannot be used is left alone, named with its reason",
     UnusableCardFilesAreLeftAlone},
    {"a card file cut short under a running program ends it with one line and exit code 1",
     ACardFileCutShortEndsTheProgramThatUsesIt},
    {"a card file on a disk without room for the card is refused and keeps what it held",
     ACardFileWithoutRoomIsRefused},
    {"VEXO_SIM_CARD and VEXO_SIM_TRACE in a folder outside the ANSI code page",
     PathsOutsideTheCodePageReachTheCard},
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
