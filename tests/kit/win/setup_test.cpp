// The setup program under Wine, as a user on Windows 98 meets it, in one process: a silent
// install, the Control Panel opening the applet it put in the system folder, a second install
// over the first, a folder too long for the kit refused, installs into other folders that each
// replace the one before whole, an uninstaller left in a folder of its own, a silent uninstall,
// and an uninstall while a program uses the kit's DLL, finished by a restart. The cases run in
// that order, each on what the one before left; the board configuration key holds the user's
// values throughout.
//
//   setup_test SETUP.EXE     (a Unix path is reached through drive Z:)
#include <shlobj.h>
#include <windows.h>
// After windows.h: the process snapshot and the shell link's interfaces.
#include <objidl.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "board_key_registry.h"
#include "child_programs.h"
#include "win_test.h"

namespace {

using board_key_registry::DeleteBoardKey;
using board_key_registry::ReadBoardKeyValue;
using board_key_registry::SetBoardKeyValue;

constexpr char kInstallDir[] = "C:\\VexoLite Kit test";
// Where an uninstaller of the kit is left on its own, as when a user copied a folder of the kit.
constexpr char kLeftUninstallerDir[] = "C:\\Old kit copy";
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
int Run(const std::string& command, DWORD timeoutMs = 600000) {
    child_programs::Started started = child_programs::Launch(command);
    if (!started.Running()) return -1;
    const DWORD code = child_programs::FinishWithin(&started, timeoutMs);
    return code == child_programs::kNotEnded ? -1 : static_cast<int>(code);
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

void ExpectInstalled(const std::string& folder = kInstallDir) {
    for (const char* file : kInstalledFiles) {
        EXPECT_TRUE(Exists(folder + "\\" + file)) << folder << "\\" << file;
    }
    EXPECT_TRUE(Exists(SystemFolder() + "\\VEXOLITE.CPL")) << SystemFolder();
    const std::string menu = StartMenuFolder();
    EXPECT_NE(menu, "") << "no Start menu folder";
    for (const char* shortcut : kShortcuts) {
        EXPECT_TRUE(!menu.empty() && Exists(menu + "\\" + shortcut)) << shortcut;
    }
    if (!menu.empty()) ExpectShortcutsOpenInstalledFiles(menu);
    EXPECT_EQ(UninstallEntry("DisplayIcon"), folder + "\\bin\\VEXOLITE.CPL");
    EXPECT_EQ(UninstallEntry("DisplayName"), "VexoLite Kit " VEXO_KIT_VERSION);
    EXPECT_EQ(UninstallEntry("DisplayVersion"), VEXO_KIT_VERSION);
    EXPECT_EQ(UninstallEntry("Publisher"), "the VexoLite kit authors");
    EXPECT_EQ(UninstallEntry("UninstallString"), "\"" + folder + "\\Uninstall.exe\"");
}

// The files below a folder, by their paths relative to it.
void CollectFiles(const std::string& folder, const std::string& relative,
                  std::vector<std::string>& files) {
    WIN32_FIND_DATAA found;
    const std::string base = relative.empty() ? folder : folder + "\\" + relative;
    HANDLE search = FindFirstFileA((base + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = relative.empty() ? name : relative + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CollectFiles(folder, path, files);
        } else {
            files.push_back(path);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

std::vector<std::string> FilesBelow(const std::string& folder) {
    std::vector<std::string> files;
    CollectFiles(folder, "", files);
    return files;
}

// The kit's files as the first install put them, the measure of every later one.
std::vector<std::string> kitFiles;
std::string defaultFolder;  // where setup installs without /D=

// The longest folder that leaves room for every file of the kit: a path reaches Windows whole
// with at most 259 characters.
size_t LongestFolderForTheKit() {
    size_t deepest = 0;
    for (const std::string& file : kitFiles) deepest = std::max(deepest, file.size());
    return 259 - 1 - deepest;
}

// A folder on drive C: of exactly `length` characters, in parts a folder name may have.
std::string FolderOfLength(size_t length) {
    std::string folder = "C:\\Kit";
    while (length - folder.size() > 61) folder += "\\" + std::string(60, 'k');
    // The last part takes what is left; a single character left lengthens the part before.
    const size_t rest = length - folder.size();
    folder += rest > 1 ? "\\" + std::string(rest - 1, 'k') : std::string(rest, 'k');
    return folder;
}

std::string InstallCommand(const std::string& folder = kInstallDir) {
    // /D= comes last and takes the rest of the line, spaces and all, unquoted.
    return "\"" + setupPath + "\" /S /D=" + folder;
}

// The folder the uninstall entry names, or "" without one.
std::string RegisteredFolder() {
    std::string uninstaller = UninstallEntry("UninstallString");
    const size_t end = uninstaller.rfind("\\Uninstall.exe\"");
    return uninstaller.size() > 1 && end != std::string::npos ? uninstaller.substr(1, end - 1) : "";
}

// Started plainly, an uninstaller copies itself into the temporary folder (as Un.exe; older NSIS
// releases named it Au_.exe), starts the copy and ends, so that the copy can delete the original:
// the caller waits for the copy.
bool UninstallersCopyRunning() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    bool running = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !running;
         more = Process32Next(snapshot, &entry)) {
        running =
            lstrcmpiA(entry.szExeFile, "Un.exe") == 0 || lstrcmpiA(entry.szExeFile, "Au_.exe") == 0;
    }
    CloseHandle(snapshot);
    return running;
}

bool UninstallPlainly(const std::string& uninstaller) {
    if (Run("\"" + uninstaller + "\" /S") != 0) return false;
    for (int waited = 0; waited < 1200 && UninstallersCopyRunning(); ++waited) Sleep(250);
    return !UninstallersCopyRunning();
}

// --- the cases ------------------------------------------------------------------------------

void SilentInstall() {
    DeleteBoardKey();
    SetBoardKeyValue("IntMemBaseAddress", kUserIntMem);
    SetBoardKeyValue("Io1BaseAddress", kUserIo1);
    ASSERT_EQ(Run(InstallCommand()), 0);
    ExpectInstalled();
    ExpectUserValuesKept();
    kitFiles = FilesBelow(kInstallDir);
}

// Wine's Control Panel, asked for the applet by name alone, finds it in the system folder.
void ControlPanelOpensTheApplet() {
    const std::string command = SystemFolder() + "\\control.exe VEXOLITE.CPL";
    child_programs::Started control = child_programs::Launch(command);
    ASSERT_TRUE(control.Running()) << command << ": " << control.collected;
    // Starting another process takes about a minute where 32-bit code is emulated.
    HWND dialog = nullptr;
    for (int waited = 0; waited < 400 && dialog == nullptr; ++waited) {
        if (WaitForSingleObject(control.process, 500) == WAIT_OBJECT_0) break;
        dialog = FindWindowA(nullptr, kDialogCaption);
    }
    EXPECT_TRUE(dialog != nullptr) << "the applet's dialog did not open";
    if (dialog != nullptr) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    if (child_programs::FinishWithin(&control, 120000) == child_programs::kNotEnded) {
        ADD_FAILURE() << "control.exe did not end";
    }
    // The dialog wrote the defaults of the two values it could not read, and kept the user's.
    ExpectUserValuesKept();
    EXPECT_TRUE(ReadBoardKeyValue("ExtMemBaseAddress").IsDword());
}

void SecondInstallKeepsTheKey() {
    ASSERT_EQ(Run(InstallCommand()), 0);
    ExpectInstalled();
    ExpectUserValuesKept();
}

// Refused before anything is written: the install that is there stays as it was.
void TooLongAFolderIsRefused() {
    ASSERT_FALSE(kitFiles.empty());
    const std::string folder = FolderOfLength(LongestFolderForTheKit() + 1);
    EXPECT_EQ(Run(InstallCommand(folder)), 206) << "ERROR_FILENAME_EXCED_RANGE";
    EXPECT_FALSE(Exists("C:\\Kit")) << folder;
    ExpectInstalled();
    EXPECT_EQ(FilesBelow(kInstallDir).size(), kitFiles.size());
}

// The longest folder setup takes holds every file, and the install it replaces goes whole, its
// uninstaller too.
void InstallIntoTheLongestFolderReplacesTheEarlierOne() {
    const std::string folder = FolderOfLength(LongestFolderForTheKit());
    ASSERT_EQ(Run(InstallCommand(folder)), 0) << folder;
    EXPECT_EQ(FilesBelow(folder).size(), kitFiles.size()) << folder;
    ExpectInstalled(folder);
    EXPECT_FALSE(Exists(kInstallDir)) << "left behind: " << kInstallDir;
}

// The default folder, without /D=: the long folder is removed whole in turn.
void InstallIntoTheDefaultFolderReplacesTheEarlierOne() {
    const std::string earlier = RegisteredFolder();
    ASSERT_NE(earlier, "");
    ASSERT_EQ(Run("\"" + setupPath + "\" /S"), 0);
    const std::string folder = RegisteredFolder();
    ASSERT_NE(folder, earlier);
    defaultFolder = folder;
    ExpectInstalled(folder);
    EXPECT_FALSE(Exists(earlier)) << "left behind: " << earlier;
    EXPECT_EQ(FilesBelow(folder).size(), kitFiles.size()) << folder;
}

// An uninstaller in a folder the uninstall entry does not name removes that folder, and leaves
// the registered install its applet, its Start menu entries and its entry.
void AnUninstallerInAnotherFolderLeavesTheRegisteredInstall() {
    const std::string registered = RegisteredFolder();
    ASSERT_NE(registered, "");
    ASSERT_TRUE(CreateDirectoryA(kLeftUninstallerDir, nullptr));
    const std::string copy = std::string(kLeftUninstallerDir) + "\\Uninstall.exe";
    ASSERT_TRUE(CopyFileA((registered + "\\Uninstall.exe").c_str(), copy.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((registered + "\\README.txt").c_str(),
                          (std::string(kLeftUninstallerDir) + "\\README.txt").c_str(), FALSE));
    ASSERT_TRUE(UninstallPlainly(copy));
    EXPECT_FALSE(Exists(kLeftUninstallerDir)) << "files are left in " << kLeftUninstallerDir;
    ExpectInstalled(registered);
}

void SilentUninstallLeavesNothingButTheKey() {
    const std::string menu = StartMenuFolder();
    const std::string folder = RegisteredFolder();
    ASSERT_NE(folder, "");
    ASSERT_TRUE(UninstallPlainly(folder + "\\Uninstall.exe"));
    EXPECT_FALSE(Exists(folder)) << "files are left in " << folder;
    EXPECT_FALSE(Exists(SystemFolder() + "\\VEXOLITE.CPL"));
    EXPECT_EQ(StartMenuFolder(), "");
    EXPECT_FALSE(!menu.empty() && Exists(menu)) << menu;
    EXPECT_EQ(UninstallEntry("DisplayName"), "(no entry)");
    HKEY vendor = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVendorKey, 0, KEY_READ, &vendor), ERROR_SUCCESS)
        << kVendorKey << " is left";
    ExpectUserValuesKept();
}

// A program that uses the kit: the kit's DLL loaded from the install folder.
const std::string kitDll = std::string(kInstallDir) + "\\bin\\VexoDLL.dll";

// Wine's restart of the prefix carries out what waits for it, as Windows does when it starts.
void Restart() {
    EXPECT_EQ(Run("wineboot.exe -r"), 0) << "wineboot -r";
}

// Setup over an install whose DLL is in use: the earlier install's uninstaller leaves the DLL to
// the restart, and setup stops there instead of writing files the restart would delete.
void SetupOverAnInstallInUseAsksForARestartFirst() {
    ASSERT_EQ(Run(InstallCommand()), 0);
    HMODULE inUse = LoadLibraryA(kitDll.c_str());
    ASSERT_TRUE(inUse != nullptr) << kitDll;
    EXPECT_EQ(Run("\"" + setupPath + "\" /S"), 350) << "ERROR_FAIL_NOACTION_REBOOT";
    EXPECT_EQ(UninstallEntry("DisplayName"), "(no entry)");
    EXPECT_FALSE(!defaultFolder.empty() && Exists(defaultFolder)) << defaultFolder;
    const std::vector<std::string> left = FilesBelow(kInstallDir);
    EXPECT_TRUE(left.size() == 1 && left[0] == "bin\\VexoDLL.dll")
        << left.size() << " files left, the first " << (left.empty() ? "" : left[0]);
    FreeLibrary(inUse);
    Restart();
    EXPECT_FALSE(Exists(kInstallDir)) << kInstallDir;
}

// A program holds the kit's DLL while the kit is uninstalled: the DLL goes at the restart, and
// the uninstaller's exit code says so. It runs in its folder, as a script that wants that code
// runs it (started plainly, it hands over to a copy of itself and ends at once), and so cannot
// delete itself: the script does, as documented.
void AnUninstallWhileTheDllIsInUseEndsAtTheRestart() {
    ASSERT_EQ(Run(InstallCommand()), 0);
    const std::string uninstaller = std::string(kInstallDir) + "\\Uninstall.exe";
    HMODULE inUse = LoadLibraryA(kitDll.c_str());
    ASSERT_TRUE(inUse != nullptr) << kitDll;
    EXPECT_EQ(Run("\"" + uninstaller + "\" /S _?=" + kInstallDir), 3010)
        << "ERROR_SUCCESS_REBOOT_REQUIRED";
    std::vector<std::string> left = FilesBelow(kInstallDir);
    std::sort(left.begin(), left.end());
    EXPECT_TRUE(left.size() == 2 && left[0] == "Uninstall.exe" && left[1] == "bin\\VexoDLL.dll")
        << left.size() << " files left, the first " << (left.empty() ? "" : left[0]);
    EXPECT_FALSE(Exists(SystemFolder() + "\\VEXOLITE.CPL"));
    EXPECT_EQ(StartMenuFolder(), "");
    EXPECT_EQ(UninstallEntry("DisplayName"), "(no entry)");

    EXPECT_TRUE(DeleteFileA(uninstaller.c_str())) << uninstaller;
    FreeLibrary(inUse);
    Restart();
    EXPECT_FALSE(Exists(kInstallDir)) << kInstallDir;
    ExpectUserValuesKept();
}

const win_test::Case kCases[] = {
    {"silent install puts the kit, the applet and the entries in place", SilentInstall},
    {"the Control Panel opens the applet from the system folder", ControlPanelOpensTheApplet},
    {"a second install over the first keeps the key's values", SecondInstallKeepsTheKey},
    {"a folder too long for the kit's deepest file is refused before anything is written",
     TooLongAFolderIsRefused},
    {"an install into the longest folder holds every file and replaces the earlier one whole",
     InstallIntoTheLongestFolderReplacesTheEarlierOne},
    {"an install into the default folder replaces the one in another folder whole",
     InstallIntoTheDefaultFolderReplacesTheEarlierOne},
    {"an uninstaller in a folder of its own leaves the registered install alone",
     AnUninstallerInAnotherFolderLeavesTheRegisteredInstall},
    {"silent uninstall leaves no file of the kit and keeps the key",
     SilentUninstallLeavesNothingButTheKey},
    {"setup over an install whose DLL is in use stops and asks for a restart first",
     SetupOverAnInstallInUseAsksForARestartFirst},
    {"an uninstall while a program holds the kit's DLL asks for a restart, which removes it",
     AnUninstallWhileTheDllIsInUseEndsAtTheRestart},
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
