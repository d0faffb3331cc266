"""The system functions the kit's images may import: one list per Windows family, each function
with the images that import it and why. The 9x list is what Windows 95 and 98 export (msvcrt.dll
as shipped with 98; some functions only as a stub that fails, said beside them); the XP list is
what kernel32.dll and msvcrt.dll of Windows XP SP3 export. An image may import only the functions
listed for it, so a new import fails its check until it has been looked up for the family and
added here with its reason.

The images: "vexotool" (vexotool.exe), "setup" (the kit's setup and uninstaller, and the NSIS
plug-in UserInfo.dll it carries), "applet" (VEXOLITE.CPL), "library" (VexoDLL.dll, which imports
exactly its list) and, for XP, "sim" (vexolite.vxd and vexosim.exe).
"""

STUB_ON_9X = "exported by the 9x kernel as a stub that fails"

RUNTIME = "the C and C++ runtime's start-up, locks, per-thread data and error handling"
INSTALLER = "the installer's own start, its data and its command line (/S, /D=)"


def _family(*groups):
    """{DLL: {function: {"images": set, "reasons": [str]}}} from (images, DLL, reason, names)
    groups; a function in several groups gathers their images and reasons."""
    listed = {}
    for images, dll, reason, names in groups:
        for name in names.split():
            entry = listed.setdefault(dll, {}).setdefault(name, {"images": set(), "reasons": []})
            entry["images"].update(images.split())
            entry["reasons"].append(reason)
    return listed


WIN9X = _family(
    # vexotool's own calls, and the library's platform seam linked into it.
    ("vexotool", "KERNEL32.DLL", "whether the error output is a console, for the progress line",
     "GetConsoleMode"),
    ("vexotool", "KERNEL32.DLL", "the clock for the progress line's rate and time left",
     "GetTickCount"),
    ("vexotool", "KERNEL32.DLL", "Ctrl+C stops long work after its current chunk",
     "SetConsoleCtrlHandler"),
    ("vexotool library", "KERNEL32.DLL", "opens the driver's device path; vexotool's save "
     "creates its file", "CreateFileA"),
    ("vexotool library", "KERNEL32.DLL", "the driver's requests", "DeviceIoControl"),
    ("vexotool library applet", "KERNEL32.DLL", "closes the driver, a file", "CloseHandle"),
    ("vexotool", "KERNEL32.DLL", "save writes its file", "WriteFile"),
    ("vexotool", "KERNEL32.DLL", "save writes a device in place rather than replacing it",
     "GetFileType"),
    ("vexotool", "KERNEL32.DLL", "save puts its new file in the place of the old one",
     "MoveFileA"),
    ("vexotool", "KERNEL32.DLL", "save deletes the old file before the move (9x has no "
     "MoveFileEx) or a new file it could not finish", "DeleteFileA"),
    ("vexotool", "KERNEL32.DLL", "the system's words for a file error that has none of the "
     "runtime's", "FormatMessageA"),
    ("library", "KERNEL32.DLL", "the library's state for each opening of the card",
     "GetProcessHeap HeapAlloc HeapFree"),
    ("vexotool library", "ADVAPI32.DLL", "the board configuration key, read the way the library "
     "reads it", "RegOpenKeyA RegQueryValueExA RegCloseKey"),
    ("applet", "ADVAPI32.DLL", "the board configuration key, read and closed",
     "RegQueryValueExA RegCloseKey"),
    ("vexotool applet", "ADVAPI32.DLL", "the board configuration key, created and written",
     "RegCreateKeyExA RegSetValueExA"),
    ("vexotool", "ADVAPI32.DLL", "key clear opens the key without creating it and deletes the "
     "four values", "RegOpenKeyExA RegDeleteValueA"),
    # The applet's dialog.
    ("applet", "USER32.DLL", "the base-address dialog, its fields and its messages",
     "CallWindowProcA DialogBoxParamA EndDialog GetDlgCtrlID GetDlgItem GetFocus GetWindowTextA "
     "LoadIconA LoadStringA MessageBoxA SetWindowLongA SetWindowTextA"),
    # The statically linked C and C++ runtime.
    ("vexotool applet", "KERNEL32.DLL", RUNTIME,
     "DeleteCriticalSection EnterCriticalSection InitializeCriticalSection LeaveCriticalSection "
     "FreeLibrary GetCurrentThreadId GetLastError SetLastError GetModuleHandleA GetProcAddress "
     "IsDBCSLeadByteEx LoadLibraryA SetUnhandledExceptionFilter Sleep TlsAlloc TlsFree "
     "TlsGetValue TlsSetValue VirtualProtect VirtualQuery"),
    ("vexotool applet", "KERNEL32.DLL", "the runtime's character conversions (implemented on 95)",
     "MultiByteToWideChar WideCharToMultiByte"),
    ("vexotool", "KERNEL32.DLL", RUNTIME, "GetStartupInfoA"),
    ("vexotool", "KERNEL32.DLL", "the C++ runtime's mutexes (libgcc's Win32 threads): wake a "
     "waiter, wait when contended", "ReleaseSemaphore WaitForSingleObject"),
    ("applet", "KERNEL32.DLL", "the DLL runtime's start-up: the stack protector's cookie and its "
     "report of a smashed stack", "GetCurrentProcess GetCurrentProcessId GetSystemTimeAsFileTime "
     "GetTickCount QueryPerformanceCounter TerminateProcess UnhandledExceptionFilter ExitProcess"),
    ("vexotool", "KERNEL32.DLL", STUB_ON_9X + ". libgcc's Win32 mutexes create their semaphore "
     "with it; on 9x the mutex is left without one, which is only ever waited on when two threads "
     "contend for it, and the tool runs one thread", "CreateSemaphoreW"),
    ("vexotool", "KERNEL32.DLL", STUB_ON_9X + ". mingw's rand_s (pulled in with libstdc++'s "
     "random_device, which the tool never constructs) asks with it for msvcrt.dll's own rand_s "
     "and loads advapi32.dll with the other; never called by the tool, and a failure leads to its "
     "fallback", "GetModuleHandleW LoadLibraryW"),
    ("applet", "KERNEL32.DLL", STUB_ON_9X + "; the runtime's start-up code only asks whether a "
     "shared runtime DLL is loaded and carries on when the answer is no", "GetModuleHandleW"),
    ("vexotool applet", "MSVCRT.DLL", "C runtime start-up and its support",
     "__mb_cur_max _amsg_exit _errno _initterm _lock _onexit _unlock abort atoi localeconv "
     "setlocale"),
    ("vexotool", "MSVCRT.DLL", "C runtime start-up and its support",
     "__getmainargs __initenv __p__acmdln __p__commode __p__fmode __set_app_type "
     "__setusermatherr _cexit exit signal _read _close"),
    ("applet", "MSVCRT.DLL", "the DLL runtime's exit handlers", "__dllonexit"),
    ("vexotool applet", "MSVCRT.DLL", "heap, strings and formatted output",
     "calloc malloc realloc free memcpy memmove memset strchr strlen strncmp strerror _iob fputc "
     "fwrite vfprintf wcslen"),
    ("vexotool", "MSVCRT.DLL", "strings, output and the console check on the error output",
     "memchr memcmp strcmp fflush fprintf fputs setvbuf isprint _fileno _get_osfhandle"),
    ("vexotool", "MSVCRT.DLL", "load and save: files read, sized and removed",
     "fopen fclose fread fgetc ferror fseek ftell remove"),
    ("applet", "MSVCRT.DLL", "the address fields: typed characters and their text as a number",
     "iscntrl isdigit strncpy strtoul"),
    # The installer (NSIS) and its plug-in.
    ("setup", "KERNEL32.DLL", "installing and removing files and folders",
     "CopyFileA CreateDirectoryA CreateFileA DeleteFileA FindClose FindFirstFileA FindNextFileA "
     "GetFileAttributesA GetFileSize GetFullPathNameA GetShortPathNameA MoveFileA ReadFile "
     "RemoveDirectoryA SearchPathA SetFileAttributesA SetFilePointer SetFileTime CompareFileTime "
     "WriteFile CloseHandle GetTempFileNameA GetTempPathA SetCurrentDirectoryA GetDiskFreeSpaceA"),
    ("setup", "KERNEL32.DLL", "replacing a busy file at the next restart; on 9x it fails and NSIS "
     "writes WININIT.INI instead", "MoveFileExA"),
    ("setup", "KERNEL32.DLL", "folders and settings it looks up",
     "GetSystemDirectoryA GetWindowsDirectoryA ExpandEnvironmentStringsA GetPrivateProfileStringA "
     "WritePrivateProfileStringA GetVersionExA SetEnvironmentVariableA"),
    ("setup", "KERNEL32.DLL", INSTALLER,
     "ExitProcess GetCommandLineA GetCurrentProcess GetModuleFileNameA GetModuleHandleA "
     "GetProcAddress LoadLibraryExA FreeLibrary GetLastError SetErrorMode GetTickCount Sleep "
     "MulDiv GlobalAlloc GlobalFree GlobalLock GlobalUnlock MultiByteToWideChar "
     "WideCharToMultiByte lstrcatA lstrcmpA lstrcmpiA lstrcpyA lstrcpynA lstrlenA"),
    ("setup", "KERNEL32.DLL", "running the older version's uninstaller and waiting for it",
     "CreateProcessA CreateThread WaitForSingleObject GetExitCodeProcess"),
    ("setup", "KERNEL32.DLL", "UserInfo.dll tells Windows 9x from NT", "GetVersion"),
    ("setup", "KERNEL32.DLL", "UserInfo.dll, on NT: the thread's token", "GetCurrentThread"),
    ("setup", "ADVAPI32.DLL", "the uninstall entry and the installer's own key",
     "RegCloseKey RegCreateKeyExA RegDeleteKeyA RegDeleteValueA RegEnumKeyA RegEnumValueA "
     "RegOpenKeyExA RegQueryValueExA RegSetValueExA"),
    ("setup", "ADVAPI32.DLL", "UserInfo.dll: the user's name", "GetUserNameA"),
    ("setup", "ADVAPI32.DLL", STUB_ON_9X + "; called on Windows NT only (the shutdown privilege "
     "for a restart)", "AdjustTokenPrivileges LookupPrivilegeValueA OpenProcessToken"),
    ("setup", "ADVAPI32.DLL", STUB_ON_9X + "; called on Windows NT only (UserInfo.dll: is the "
     "user an administrator)",
     "AllocateAndInitializeSid EqualSid FreeSid GetTokenInformation OpenThreadToken"),
    ("setup", "USER32.DLL", "the installer's pages, dialogs and messages",
     "AppendMenuA BeginPaint CallWindowProcA CharNextA CharPrevA CheckDlgButton CloseClipboard "
     "CreateDialogParamA CreatePopupMenu CreateWindowExA DefWindowProcA DestroyWindow "
     "DialogBoxParamA DispatchMessageA DrawTextA EmptyClipboard EnableMenuItem EnableWindow "
     "EndDialog EndPaint ExitWindowsEx FillRect FindWindowExA GetClassInfoA GetClientRect GetDC "
     "GetDlgItem GetDlgItemTextA GetMessagePos GetSysColor GetSystemMenu GetSystemMetrics "
     "GetWindowLongA GetWindowRect InvalidateRect IsWindow IsWindowEnabled IsWindowVisible "
     "LoadCursorA LoadImageA MessageBoxIndirectA OpenClipboard PeekMessageA PostQuitMessage "
     "RegisterClassA ReleaseDC ScreenToClient SendMessageA SendMessageTimeoutA SetClassLongA "
     "SetClipboardData SetCursor SetDlgItemTextA SetForegroundWindow SetTimer SetWindowLongA "
     "SetWindowPos SetWindowTextA ShowWindow SystemParametersInfoA TrackPopupMenu wsprintfA"),
    ("setup", "GDI32.DLL", "drawing the pages' fonts and colours",
     "CreateBrushIndirect CreateFontIndirectA DeleteObject GetDeviceCaps SelectObject SetBkColor "
     "SetBkMode SetTextColor"),
    ("setup", "SHELL32.DLL", "the folder page's Browse button (shell32 4.0, Windows 95 on)",
     "SHBrowseForFolderA"),
    ("setup", "SHELL32.DLL", "the chosen folder and the system's special folders",
     "SHGetPathFromIDListA"),
    ("setup", "SHELL32.DLL", "Program Files, the Start menu (shell32 4.0)",
     "SHGetSpecialFolderLocation"),
    ("setup", "SHELL32.DLL", "copying and removing folders", "SHFileOperationA"),
    ("setup", "SHELL32.DLL", "icons and names shown on the pages", "SHGetFileInfoA"),
    ("setup", "SHELL32.DLL", "opening a file from the finish page", "ShellExecuteExA"),
    ("setup", "COMCTL32.DLL", "the progress bar and the list of details (comctl32 of Windows 95 "
     "on)", "ImageList_AddMasked ImageList_Create ImageList_Destroy InitCommonControls"),
    ("setup", "OLE32.DLL", "the Start menu shortcuts (IShellLink)",
     "CoCreateInstance CoTaskMemFree IIDFromString OleInitialize OleUninitialize"),
)

XP = _family(
    # The trap handler and the call rewriting.
    ("sim", "KERNEL32.DLL", "the trap handler, first in line (XP on)",
     "AddVectoredExceptionHandler"),
    ("sim", "KERNEL32.DLL", "the trap handler leaves with the module",
     "RemoveVectoredExceptionHandler"),
    ("sim", "KERNEL32.DLL", "windows opened for a step; rewritten calls; import slots; the XP "
     "write barrier", "VirtualProtect"),
    ("sim", "KERNEL32.DLL", "what may be read of code ahead of a trap; the module's own base",
     "VirtualQuery"),
    ("sim", "KERNEL32.DLL", "a rewritten call", "FlushInstructionCache"),
    ("sim", "KERNEL32.DLL", "guard pages and the card in memory; the XP write barrier's page",
     "VirtualAlloc"),
    ("sim", "KERNEL32.DLL", "guard pages and the card in memory", "VirtualFree"),
    # The card file and the trace file.
    ("sim", "KERNEL32.DLL", "the card file and the trace file; the launcher reads a program's "
     "header", "CreateFileA"),
    ("sim", "KERNEL32.DLL", "the card file, shared by every process", "CreateFileMappingA"),
    ("sim", "KERNEL32.DLL", "the card file's views, each followed by a guard page",
     "MapViewOfFileEx"),
    ("sim", "KERNEL32.DLL", "the card file's views", "UnmapViewOfFile"),
    ("sim", "KERNEL32.DLL", "the card file's header; the launcher reads a program's header",
     "ReadFile SetFilePointer"),
    ("sim", "KERNEL32.DLL", "the card file's header, the trace file, lines on standard error",
     "WriteFile"),
    ("sim", "KERNEL32.DLL", "the card file's size", "GetFileSize"),
    ("sim", "KERNEL32.DLL", "a card file that is not on a disk is refused", "GetFileType"),
    ("sim", "KERNEL32.DLL", "a card file that is a folder is refused; the launcher's program",
     "GetFileAttributesA"),
    ("sim", "KERNEL32.DLL", "the card's folder in the common application data folder",
     "CreateDirectoryA"),
    ("sim", "KERNEL32.DLL", "the card file on 9x; which modules are the system's",
     "GetWindowsDirectoryA"),
    ("sim", "KERNEL32.DLL", "every handle", "CloseHandle"),
    ("sim", "KERNEL32.DLL", "the card folder's access list", "LocalFree"),
    # The card's lock and this process's threads.
    ("sim", "KERNEL32.DLL", "this process's threads on the bus; the device path's handles",
     "InitializeCriticalSection"),
    ("sim", "KERNEL32.DLL", "this process's threads on the bus",
     "EnterCriticalSection LeaveCriticalSection"),
    ("sim", "KERNEL32.DLL", "C runtime locks", "DeleteCriticalSection"),
    ("sim", "KERNEL32.DLL", "the card's lock names its owner", "GetCurrentProcessId"),
    ("sim", "KERNEL32.DLL", "whether the process holding the card's lock still runs",
     "OpenProcess"),
    ("sim", "KERNEL32.DLL", "whether the lock's owner still runs; the launched program's exit "
     "code", "GetExitCodeProcess"),
    ("sim", "KERNEL32.DLL", "window steps are per thread", "GetCurrentThreadId"),
    ("sim", "KERNEL32.DLL", "waits for the card's lock", "Sleep"),
    ("sim", "KERNEL32.DLL", "the trace's times",
     "QueryPerformanceCounter QueryPerformanceFrequency"),
    # The program the module is in.
    ("sim", "KERNEL32.DLL", "VEXO_SIM_* settings", "GetEnvironmentVariableA"),
    ("sim", "KERNEL32.DLL", "lines on standard error", "GetStdHandle"),
    ("sim", "KERNEL32.DLL", "the system's words for an error", "FormatMessageA"),
    ("sim", "KERNEL32.DLL", "9x or NT, and which NT (what to look up at run time)", "GetVersion"),
    ("sim", "KERNEL32.DLL", "the system DLLs, for functions looked up at run time",
     "GetModuleHandleA"),
    ("sim", "KERNEL32.DLL", "functions looked up at run time", "GetProcAddress"),
    ("sim", "KERNEL32.DLL", "shell32 and advapi32 for the card's folder, loaded when missing",
     "LoadLibraryA"),
    ("sim", "KERNEL32.DLL", "the module's own path, for the programs it starts",
     "GetModuleFileNameA"),
    # The device path on NT and the launch.
    ("sim", "KERNEL32.DLL", "the device path's handles", "CreateEventA"),
    ("sim", "KERNEL32.DLL", "the modules loaded in the process",
     "CreateToolhelp32Snapshot Module32First Module32Next"),
    ("sim", "KERNEL32.DLL", "the device path, the Windows folder", "lstrcmpiA"),
    ("sim", "KERNEL32.DLL", "a loaded DLL's name; the runtime's character conversions",
     "WideCharToMultiByte"),
    ("sim", "KERNEL32.DLL", "the runtime's character conversions", "MultiByteToWideChar"),
    ("sim", "KERNEL32.DLL", "a path written into the program started",
     "VirtualAllocEx WriteProcessMemory"),
    ("sim", "KERNEL32.DLL", "the same, freed", "VirtualFreeEx"),
    ("sim", "KERNEL32.DLL", "the module's export table in the program started",
     "ReadProcessMemory"),
    ("sim", "KERNEL32.DLL", "loads the module into the program started, and serves the device "
     "path", "CreateRemoteThread"),
    ("sim", "KERNEL32.DLL", "what that thread returned", "GetExitCodeThread"),
    ("sim", "KERNEL32.DLL", "that thread, the program started; the runtime's mutexes",
     "WaitForSingleObject"),
    ("sim", "KERNEL32.DLL", "the program started runs once the card is in place",
     "ResumeThread"),
    ("sim", "KERNEL32.DLL", "the program's own bitness; instruction cache flushes",
     "GetCurrentProcess"),
    # vexosim run alone.
    ("sim", "KERNEL32.DLL", "the program's arguments passed on exactly as given",
     "GetCommandLineA"),
    ("sim", "KERNEL32.DLL", "the program found as CreateProcess finds it", "SearchPathA"),
    ("sim", "KERNEL32.DLL", "the program started suspended", "CreateProcessA"),
    ("sim", "KERNEL32.DLL", "the console and standard handles passed on; runtime start-up",
     "GetStartupInfoA"),
    ("sim", "KERNEL32.DLL", "Ctrl+C reaches the program, vexosim waits for its exit code",
     "SetConsoleCtrlHandler"),
    ("sim", "KERNEL32.DLL", "a program the card could not be put into does not run",
     "TerminateProcess"),
    ("sim", "KERNEL32.DLL", "--wait-for-debugger (XP SP1 on)", "CheckRemoteDebuggerPresent"),
    # The C and C++ runtime.
    ("sim", "KERNEL32.DLL", "error handling", "GetLastError"),
    ("sim", "KERNEL32.DLL", "error handling; the device path keeps the program's last error",
     "SetLastError"),
    ("sim", "KERNEL32.DLL", RUNTIME,
     "FreeLibrary IsDBCSLeadByteEx SetUnhandledExceptionFilter TlsAlloc TlsFree TlsGetValue "
     "TlsSetValue CreateSemaphoreW ReleaseSemaphore"),
    ("sim", "KERNEL32.DLL", "mingw's rand_s, never called", "GetModuleHandleW LoadLibraryW"),
    ("sim", "MSVCRT.DLL", "C runtime",
     "__getmainargs __initenv __mb_cur_max __p__acmdln __p__commode __p__fmode __set_app_type "
     "__setusermatherr _amsg_exit _cexit _close _errno _initterm _iob _lock _onexit _read _unlock "
     "abort atoi calloc exit fflush fprintf fputc fputs free fwrite localeconv malloc memchr "
     "memcmp memcpy memmove memset realloc setlocale signal strchr strcmp strerror strlen strncmp "
     "vfprintf wcslen"),
)

# Functions of later Windows that the simulator looks up at run time instead of importing.
LOOKED_UP_ON_XP = {"FlushProcessWriteBuffers", "LdrRegisterDllNotification", "IsWow64Process",
                   "SHGetFolderPathA", "ConvertStringSecurityDescriptorToSecurityDescriptorA"}


def allowed(family, image):
    """{DLL: set of functions} that `image` may import on `family`."""
    found = {}
    for dll, functions in family.items():
        names = {name for name, entry in functions.items() if image in entry["images"]}
        if names:
            found[dll] = names
    return found


def unlisted(imports, family, image, own_dlls=()):
    """["DLL!function"] of `imports` ({DLL: [functions]}, any case) that are not listed for
    `image` on `family`, or imported by ordinal; DLLs of the kit itself (`own_dlls`, upper case)
    are checked elsewhere."""
    permitted = allowed(family, image)
    return sorted("%s!%s" % (dll.upper(), func) for dll, funcs in imports.items()
                  if dll.upper() not in own_dlls for func in funcs
                  if func.startswith("#") or func not in permitted.get(dll.upper(), set()))


def is_stub_on_9x(dll, func):
    return any(reason.startswith(STUB_ON_9X)
               for reason in WIN9X.get(dll, {}).get(func, {}).get("reasons", []))
