// The setup program under Wine, as a user on Windows 98 meets it, in one process: a silent
// install, the Control Panel opening the applet it put in the system folder, a second install
// over the first, and a silent uninstall. The cases run in that order, each on what the one
// before left; the board configuration key holds the user's values throughout.
//
//   setup_test SETUP.EXE     (a Unix path is reached through drive Z:)
#include <shlobj.h>
#include <windows.h>
// After windows.h: the shell link's interfaces.
#include <objidl.h>
#include <shobjidl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "board_key_registry.h"
#include "win_test.h"

namespace {

using board_key_registry::DeleteBoardKey;
using board_key_registry::ReadBoardKeyValue;
using board_key_registry::SetBoardKeyValue;

constexpr char kInstallDir[] = "C:\\VexoLite Kit test";
constexpr char kUninstallKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VexoLite Kit";
// Where setup keeps the folder it installed into.
constexpr char kVendorKey[] = "Software\\the VexoLite kit authors";
constexpr char kDialogCaption[] = "VexoLite Config.";
// Values no default has, one of them unaligned as a user may have typed it into regedit.
constexpr DWORD kUserIntMem = 0x12345678u;
constexpr DWORD kUserIo1 = 0xD000u;

std::string setupPath;

std::string WindowsPath(const char* path) {
    std::string converted = path[0] == '/' ? std::string("Z:") + path : std::string(path);
    for (char& c : converted) c = c == '/' ? '\\' : c;
    return converted;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string SystemFolder() {
    char folder[MAX_PATH];
    GetSystemDirectoryA(folder, sizeof folder);
    return folder;
}

// The Start menu's Programs folder the installer used: all users' when it may, the user's own
// otherwise.
std::string ProgramsFolder(int csidl) {
    char folder[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, folder, csidl, FALSE)) return "";
    return std::string(folder) + "\\VexoLite Kit";
}

std::string StartMenuFolder() {
    for (int csidl : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}) {
        const std::string folder = ProgramsFolder(csidl);
        if (!folder.empty() && Exists(folder)) return folder;
    }
    return "";
}

// Runs a command line and waits for it; its exit code, or -1 when it could not start or end.
int Run(std::string command, DWORD timeoutMs = 600000) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return -1;
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    } else {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

std::string UninstallEntry(const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return "(no entry)";
    }
    char text[MAX_PATH] = {};
    DWORD size = sizeof text - 1;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) !=
        ERROR_SUCCESS) {
        text[0] = '\0';
    }
    RegCloseKey(key);
    return text;
}

void ExpectUserValuesKept() {
    const auto intMem = ReadBoardKeyValue("IntMemBaseAddress");
    EXPECT_TRUE(intMem.IsDword() && intMem.Dword() == kUserIntMem) << "IntMemBaseAddress";
    const auto io1 = ReadBoardKeyValue("Io1BaseAddress");
    EXPECT_TRUE(io1.IsDword() && io1.Dword() == kUserIo1) << "Io1BaseAddress";
}

// What setup puts in place: the kit's folders, the applet in the system folder, the Start menu
// entries and the uninstall entry.
const char* const kInstalledFiles[] = {"README.txt",
                                       "README.md",
                                       "LICENSE",
                                       "CHANGELOG.md",
                                       "Uninstall.exe",
                                       "bin\\VexoDLL.dll",
                                       "bin\\VEXOLITE.CPL",
                                       "bin\\vexotool.exe",
                                       "include\\VexoDLL.h",
                                       "lib\\VexoDLL.lib",
                                       "docs\\reference.md",
                                       "sim\\vexolite.vxd",
                                       "sim\\board-key.reg",
                                       "examples\\quick_start.c"};
const char* const kShortcuts[] = {"README.lnk", "Manual.lnk", "Uninstall.lnk"};

// The file a Start menu entry opens, "" when the entry cannot be read.
std::string ShortcutTarget(const std::string& shortcut) {
    std::string target;
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link)))) {
        return target;
    }
    IPersistFile* file = nullptr;
    WCHAR widePath[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, shortcut.c_str(), -1, widePath, MAX_PATH);
    char path[MAX_PATH] = {};
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
        SUCCEEDED(file->Load(widePath, STGM_READ)) &&
        SUCCEEDED(link->GetPath(path, MAX_PATH, nullptr, 0))) {
        target = path;
    }
    if (file != nullptr) file->Release();
    link->Release();
    return target;
}

// Every entry opens a file the kit installed: nothing opens a .md file.
void ExpectShortcutsOpenInstalledFiles(const std::string& menu) {
    for (const char* shortcut : kShortcuts) {
        const std::string target = ShortcutTarget(menu + "\\" + shortcut);
        EXPECT_TRUE(!target.empty() && Exists(target)) << shortcut << " opens '" << target << "'";
        EXPECT_TRUE(target.size() < 3 || target.compare(target.size() - 3, 3, ".md") != 0)
            << shortcut << " opens " << target;
    }
}

void ExpectInstalled() {
    for (const char* file : kInstalledFiles) {
        EXPECT_TRUE(Exists(std::string(kInstallDir) + "\\" + file)) << file;
    }
    EXPECT_TRUE(Exists(SystemFolder() + "\\VEXOLITE.CPL")) << SystemFolder();
    const std::string menu = StartMenuFolder();
    EXPECT_NE(menu, "") << "no Start menu folder";
    for (const char* shortcut : kShortcuts) {
        EXPECT_TRUE(!menu.empty() && Exists(menu + "\\" + shortcut)) << shortcut;
    }
    if (!menu.empty()) ExpectShortcutsOpenInstalledFiles(menu);
    EXPECT_EQ(UninstallEntry("DisplayIcon"), std::string(kInstallDir) + "\\bin\\VEXOLITE.CPL");
    EXPECT_EQ(UninstallEntry("DisplayName"), "VexoLite Kit " VEXO_KIT_VERSION);
    EXPECT_EQ(UninstallEntry("DisplayVersion"), VEXO_KIT_VERSION);
    EXPECT_EQ(UninstallEntry("Publisher"), "the VexoLite kit authors");
    EXPECT_EQ(UninstallEntry("UninstallString"),
              std::string("\"") + kInstallDir + "\\Uninstall.exe\"");
}

std::string InstallCommand() {
    // /D= comes last and takes the rest of the line, spaces and all, unquoted.
    return "\"" + setupPath + "\" /S /D=" + kInstallDir;
}

// --- the cases ------------------------------------------------------------------------------

void SilentInstall() {
    DeleteBoardKey();
    SetBoardKeyValue("IntMemBaseAddress", kUserIntMem);
    SetBoardKeyValue("Io1BaseAddress", kUserIo1);
    ASSERT_EQ(Run(InstallCommand()), 0);
    ExpectInstalled();
    ExpectUserValuesKept();
}

// Wine's Control Panel, asked for the applet by name alone, finds it in the system folder.
void ControlPanelOpensTheApplet() {
    std::string command = SystemFolder() + "\\control.exe VEXOLITE.CPL";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process))
        << command;
    // Starting another process takes about a minute where 32-bit code is emulated.
    HWND dialog = nullptr;
    for (int waited = 0; waited < 400 && dialog == nullptr; ++waited) {
        if (WaitForSingleObject(process.hProcess, 500) == WAIT_OBJECT_0) break;
        dialog = FindWindowA(nullptr, kDialogCaption);
    }
    EXPECT_TRUE(dialog != nullptr) << "the applet's dialog did not open";
    if (dialog != nullptr) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "control.exe did not end";
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // The dialog wrote the defaults of the two values it could not read, and kept the user's.
    ExpectUserValuesKept();
    EXPECT_TRUE(ReadBoardKeyValue("ExtMemBaseAddress").IsDword());
}

void SecondInstallKeepsTheKey() {
    ASSERT_EQ(Run(InstallCommand()), 0);
    ExpectInstalled();
    ExpectUserValuesKept();
}

// The uninstaller copies itself away and runs from there, so that it can delete itself: the case
// waits for the folder to go.
void SilentUninstallLeavesNothingButTheKey() {
    const std::string menu = StartMenuFolder();
    ASSERT_EQ(Run("\"" + std::string(kInstallDir) + "\\Uninstall.exe\" /S"), 0);
    for (int waited = 0; waited < 1200 && Exists(kInstallDir); ++waited) Sleep(250);
    EXPECT_FALSE(Exists(kInstallDir)) << "files are left in " << kInstallDir;
    EXPECT_FALSE(Exists(SystemFolder() + "\\VEXOLITE.CPL"));
    EXPECT_EQ(StartMenuFolder(), "");
    EXPECT_FALSE(!menu.empty() && Exists(menu)) << menu;
    EXPECT_EQ(UninstallEntry("DisplayName"), "(no entry)");
    HKEY vendor = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVendorKey, 0, KEY_READ, &vendor), ERROR_SUCCESS)
        << kVendorKey << " is left";
    ExpectUserValuesKept();
}

const win_test::Case kCases[] = {
    {"silent install puts the kit, the applet and the entries in place", SilentInstall},
    {"the Control Panel opens the applet from the system folder", ControlPanelOpensTheApplet},
    {"a second install over the first keeps the key's values", SecondInstallKeepsTheKey},
    {"silent uninstall leaves no file of the kit and keeps the key",
     SilentUninstallLeavesNothingButTheKey},
};

}  // namespace

int main(int argc, char** argv) {
    win_test::ReportCrashes();
    if (argc < 2) {
        std::printf("usage: setup_test SETUP.EXE\n");
        return 2;
    }
    setupPath = WindowsPath(argv[1]);
    CoInitialize(nullptr);  // the Start menu entries are read through the shell
    win_test::RunCases(kCases);
    return win_test::Summary();
}
