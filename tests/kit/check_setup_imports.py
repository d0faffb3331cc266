"""Checks the setup program's version resource and its import table, and that of the one NSIS
plug-in it carries
(UserInfo.dll, which it unpacks and loads at start): an ANSI Win32 GUI program whose every import
is a function that Windows 95 and 98 export, each listed below with what the installer does with it.
Some exist on 9x only as stubs that fail; each of those is called only on Windows NT. The
uninstaller is the same stub as the installer, with the same imports. A new import fails this test
until it has been checked and added here.

Usage: check_setup_imports.py SETUP.EXE USERINFO.DLL VERSION
"""
import sys
import unittest

import pe_checks

SETUP_PATH = PLUGIN_PATH = VERSION = None

STUB_ON_9X = "exported by Windows 9x as a stub that fails; called on Windows NT only"

KERNEL32 = {
    **{f: "installing and removing files and folders" for f in [
        "CopyFileA", "CreateDirectoryA", "CreateFileA", "DeleteFileA", "FindClose",
        "FindFirstFileA", "FindNextFileA", "GetFileAttributesA", "GetFileSize",
        "GetFullPathNameA", "GetShortPathNameA", "MoveFileA", "ReadFile", "RemoveDirectoryA",
        "SearchPathA", "SetFileAttributesA", "SetFilePointer", "SetFileTime", "CompareFileTime",
        "WriteFile", "CloseHandle", "GetTempFileNameA", "GetTempPathA", "SetCurrentDirectoryA",
        "GetDiskFreeSpaceA"]},
    "MoveFileExA": "replacing a busy file at the next restart; on 9x it fails and NSIS writes "
                   "WININIT.INI instead",
    **{f: "folders and settings it looks up" for f in [
        "GetSystemDirectoryA", "GetWindowsDirectoryA", "ExpandEnvironmentStringsA",
        "GetPrivateProfileStringA", "WritePrivateProfileStringA", "GetVersionExA",
        "SetEnvironmentVariableA"]},
    **{f: "the installer's own start, its data and its command line (/S, /D=)" for f in [
        "ExitProcess", "GetCommandLineA", "GetCurrentProcess", "GetModuleFileNameA",
        "GetModuleHandleA", "GetProcAddress", "LoadLibraryExA", "FreeLibrary", "GetLastError",
        "SetErrorMode", "GetTickCount", "Sleep", "MulDiv", "GlobalAlloc", "GlobalFree",
        "GlobalLock", "GlobalUnlock", "MultiByteToWideChar", "WideCharToMultiByte",
        "lstrcatA", "lstrcmpA", "lstrcmpiA", "lstrcpyA", "lstrcpynA", "lstrlenA"]},
    **{f: "running the older version's uninstaller and waiting for it" for f in [
        "CreateProcessA", "CreateThread", "WaitForSingleObject", "GetExitCodeProcess"]},
    # UserInfo.dll
    "GetVersion": "UserInfo.dll tells Windows 9x from NT",
    "GetCurrentThread": "UserInfo.dll, on NT: the thread's token",
}

ADVAPI32 = {
    **{f: "the uninstall entry and the installer's own key" for f in [
        "RegCloseKey", "RegCreateKeyExA", "RegDeleteKeyA", "RegDeleteValueA", "RegEnumKeyA",
        "RegEnumValueA", "RegOpenKeyExA", "RegQueryValueExA", "RegSetValueExA"]},
    "GetUserNameA": "UserInfo.dll: the user's name",
    **{f: STUB_ON_9X + " (the shutdown privilege for a restart)" for f in [
        "AdjustTokenPrivileges", "LookupPrivilegeValueA", "OpenProcessToken"]},
    **{f: STUB_ON_9X + " (UserInfo.dll: is the user an administrator)" for f in [
        "AllocateAndInitializeSid", "EqualSid", "FreeSid", "GetTokenInformation",
        "OpenThreadToken"]},
}

USER32 = {f: "the installer's pages, dialogs and messages" for f in [
    "AppendMenuA", "BeginPaint", "CallWindowProcA", "CharNextA", "CharPrevA", "CheckDlgButton",
    "CloseClipboard", "CreateDialogParamA", "CreatePopupMenu", "CreateWindowExA",
    "DefWindowProcA", "DestroyWindow", "DialogBoxParamA", "DispatchMessageA", "DrawTextA",
    "EmptyClipboard", "EnableMenuItem", "EnableWindow", "EndDialog", "EndPaint", "ExitWindowsEx",
    "FillRect", "FindWindowExA", "GetClassInfoA", "GetClientRect", "GetDC", "GetDlgItem",
    "GetDlgItemTextA", "GetMessagePos", "GetSysColor", "GetSystemMenu", "GetSystemMetrics",
    "GetWindowLongA", "GetWindowRect", "InvalidateRect", "IsWindow", "IsWindowEnabled",
    "IsWindowVisible", "LoadCursorA", "LoadImageA", "MessageBoxIndirectA", "OpenClipboard",
    "PeekMessageA", "PostQuitMessage", "RegisterClassA", "ReleaseDC", "ScreenToClient",
    "SendMessageA", "SendMessageTimeoutA", "SetClassLongA", "SetClipboardData", "SetCursor",
    "SetDlgItemTextA", "SetForegroundWindow", "SetTimer", "SetWindowLongA", "SetWindowPos",
    "SetWindowTextA", "ShowWindow", "SystemParametersInfoA", "TrackPopupMenu", "wsprintfA"]}

GDI32 = {f: "drawing the pages' fonts and colours" for f in [
    "CreateBrushIndirect", "CreateFontIndirectA", "DeleteObject", "GetDeviceCaps",
    "SelectObject", "SetBkColor", "SetBkMode", "SetTextColor"]}

SHELL32 = {
    "SHBrowseForFolderA": "the folder page's Browse button (shell32 4.0, Windows 95 on)",
    "SHGetPathFromIDListA": "the chosen folder and the system's special folders",
    "SHGetSpecialFolderLocation": "Program Files, the Start menu (shell32 4.0)",
    "SHFileOperationA": "copying and removing folders",
    "SHGetFileInfoA": "icons and names shown on the pages",
    "ShellExecuteExA": "opening a file from the finish page",
}

COMCTL32 = {f: "the progress bar and the list of details (comctl32 of Windows 95 on)" for f in [
    "ImageList_AddMasked", "ImageList_Create", "ImageList_Destroy", "InitCommonControls"]}

OLE32 = {f: "the Start menu shortcuts (IShellLink)" for f in [
    "CoCreateInstance", "CoTaskMemFree", "IIDFromString", "OleInitialize", "OleUninitialize"]}

WIN9X_FUNCTIONS = {"KERNEL32.DLL": KERNEL32, "ADVAPI32.DLL": ADVAPI32, "USER32.DLL": USER32,
                   "GDI32.DLL": GDI32, "SHELL32.DLL": SHELL32, "COMCTL32.DLL": COMCTL32,
                   "OLE32.DLL": OLE32}


class Imports(unittest.TestCase):
    def imports_of(self, path):
        image = pe_checks.open_image(path)
        return image, {dll.upper(): funcs for dll, funcs in pe_checks.imports(image).items()}

    def test_a_gui_program_windows_9x_loads(self):
        image, _ = self.imports_of(SETUP_PATH)
        header = image.OPTIONAL_HEADER
        self.assertEqual(image.FILE_HEADER.Machine, 0x14C)
        self.assertEqual(header.Subsystem, 2, "IMAGE_SUBSYSTEM_WINDOWS_GUI")
        self.assertEqual(header.MajorSubsystemVersion, 4)
        self.assertLessEqual(header.MajorOperatingSystemVersion, 4)

    def test_carries_the_kits_version(self):
        image, _ = self.imports_of(SETUP_PATH)
        info = pe_checks.version_info(image)
        self.assertIsNotNone(info, "no version resource")
        for strings in info["strings"].values():
            self.assertEqual(strings.get("FileVersion"), VERSION)
            self.assertEqual(strings.get("ProductVersion"), VERSION)

    def test_every_import_is_a_listed_windows_9x_function(self):
        for path in (SETUP_PATH, PLUGIN_PATH):
            _, imports = self.imports_of(path)
            for dll, funcs in imports.items():
                for func in funcs:
                    with self.subTest(image=path, dll=dll, function=func):
                        self.assertFalse(func.startswith("#"), "imported by ordinal")
                        self.assertIn(func, WIN9X_FUNCTIONS.get(dll, {}))

    def test_ansi_throughout(self):
        # A Unicode installer imports the W forms, which Windows 9x lacks or stubs.
        _, imports = self.imports_of(SETUP_PATH)
        wide = sorted(f for funcs in imports.values() for f in funcs if f.endswith("W"))
        self.assertEqual(wide, [])
        self.assertIn("CreateFileA", imports["KERNEL32.DLL"])


if __name__ == "__main__":
    SETUP_PATH, PLUGIN_PATH, VERSION = sys.argv.pop(1), sys.argv.pop(1), sys.argv.pop(1)
    unittest.main(verbosity=2)
