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


def _family(sections):
    """{DLL: {function: {"images": set, "reasons": [str]}}} from {(images, DLL): {functions:
    reason}}; a function in several sections gathers their images and reasons."""
    listed = {}
    for (images, dll), entries in sections.items():
        for names, reason in entries.items():
            for name in names.split():
                entry = listed.setdefault(dll, {}).setdefault(name,
                                                              {"images": set(), "reasons": []})
                entry["images"].update(images.split())
                entry["reasons"].append(reason)
    return listed


WIN9X = _family({
    ("vexotool", "KERNEL32.DLL"): {
        "GetConsoleMode": "whether the error output is a console, for the progress line",
        "GetTickCount": "the clock for the progress line's rate and time left",
        "SetConsoleCtrlHandler": "Ctrl+C stops long work after its current chunk",
        "WriteFile": "save writes its file",
        "GetFileType": "save writes a device in place rather than replacing it",
        "MoveFileA": "save puts its new file in the place of the old one",
        "DeleteFileA": "save deletes the old file before the move (9x has no MoveFileEx) or a new "
                       "file it could not finish",
        "FormatMessageA": "the system's words for a file error that has none of the runtime's",
        "GetStartupInfoA": RUNTIME,
        "ReleaseSemaphore WaitForSingleObject": "the C++ runtime's mutexes (libgcc's Win32 "
                                                "threads): wake a waiter, wait when contended",
        "CreateSemaphoreW": STUB_ON_9X + ". libgcc's Win32 mutexes create their semaphore with "
                                         "it; on 9x the mutex is left without one, which is only "
                                         "ever waited on when two threads contend for it, and the "
                                         "tool runs one thread",
        "GetModuleHandleW LoadLibraryW": STUB_ON_9X + ". mingw's rand_s (pulled in with "
                                                      "libstdc++'s random_device, which the tool "
                                                      "never constructs) asks with it for "
                                                      "msvcrt.dll's own rand_s and loads "
                                                      "advapi32.dll with the other; never called "
                                                      "by the tool, and a failure leads to its "
                                                      "fallback",
    },
    ("vexotool library", "KERNEL32.DLL"): {
        "CreateFileA": "opens the driver's device path; vexotool's save creates its file",
        "DeviceIoControl": "the driver's requests",
    },
    ("vexotool library applet", "KERNEL32.DLL"): {
        "CloseHandle": "closes the driver, a file",
    },
    ("library", "KERNEL32.DLL"): {
        "GetProcessHeap HeapAlloc HeapFree": "the library's state for each opening of the card",
    },
    ("vexotool library", "ADVAPI32.DLL"): {
        "RegOpenKeyA RegQueryValueExA RegCloseKey": "the board configuration key, read the way "
                                                    "the library reads it",
    },
    ("applet", "ADVAPI32.DLL"): {
        "RegQueryValueExA RegCloseKey": "the board configuration key, read and closed",
    },
    ("vexotool applet", "ADVAPI32.DLL"): {
        "RegCreateKeyExA RegSetValueExA": "the board configuration key, created and written",
    },
    ("vexotool", "ADVAPI32.DLL"): {
        "RegOpenKeyExA RegDeleteValueA": "key clear opens the key without creating it and deletes "
                                         "the four values",
    },
    ("applet", "USER32.DLL"): {
        ("CallWindowProcA DialogBoxParamA EndDialog GetDlgCtrlID GetDlgItem GetFocus "
         "GetWindowTextA LoadIconA LoadStringA MessageBoxA SetWindowLongA SetWindowTextA"):
            "the base-address dialog, its fields and its messages",
    },
    ("vexotool applet", "KERNEL32.DLL"): {
        ("DeleteCriticalSection EnterCriticalSection InitializeCriticalSection "
         "LeaveCriticalSection FreeLibrary GetCurrentThreadId GetLastError SetLastError "
         "GetModuleHandleA GetProcAddress IsDBCSLeadByteEx LoadLibraryA "
         "SetUnhandledExceptionFilter Sleep TlsAlloc TlsFree TlsGetValue TlsSetValue "
         "VirtualProtect VirtualQuery"):
            RUNTIME,
        "MultiByteToWideChar WideCharToMultiByte": "the runtime's character conversions "
                                                   "(implemented on 95)",
    },
    ("applet", "KERNEL32.DLL"): {
        ("GetCurrentProcess GetCurrentProcessId GetSystemTimeAsFileTime GetTickCount "
         "QueryPerformanceCounter TerminateProcess UnhandledExceptionFilter ExitProcess"):
            "the DLL runtime's start-up: the stack protector's cookie and its report of a smashed "
            "stack",
        "GetModuleHandleW": STUB_ON_9X + "; the runtime's start-up code only asks whether a "
                                         "shared runtime DLL is loaded and carries on when the "
                                         "answer is no",
    },
    ("vexotool applet", "MSVCRT.DLL"): {
        ("__mb_cur_max _amsg_exit _errno _initterm _lock _onexit _unlock abort atoi localeconv "
         "setlocale"):
            "C runtime start-up and its support",
        ("calloc malloc realloc free memcpy memmove memset strchr strlen strncmp strerror _iob "
         "fputc fwrite vfprintf wcslen"):
            "heap, strings and formatted output",
    },
    ("vexotool", "MSVCRT.DLL"): {
        ("__getmainargs __initenv __p__acmdln __p__commode __p__fmode __set_app_type "
         "__setusermatherr _cexit exit signal _read _close"):
            "C runtime start-up and its support",
        "memchr memcmp strcmp fflush fprintf fputs setvbuf isprint _fileno _get_osfhandle":
            "strings, output and the console check on the error output",
        "fopen fclose fread fgetc ferror fseek ftell remove": "load and save: files read, sized "
                                                              "and removed",
    },
    ("applet", "MSVCRT.DLL"): {
        "__dllonexit": "the DLL runtime's exit handlers",
        "iscntrl isdigit strncpy strtoul": "the address fields: typed characters and their text "
                                           "as a number",
    },
    ("setup", "KERNEL32.DLL"): {
        ("CopyFileA CreateDirectoryA CreateFileA DeleteFileA FindClose FindFirstFileA "
         "FindNextFileA GetFileAttributesA GetFileSize GetFullPathNameA GetShortPathNameA "
         "MoveFileA ReadFile RemoveDirectoryA SearchPathA SetFileAttributesA SetFilePointer "
         "SetFileTime CompareFileTime WriteFile CloseHandle GetTempFileNameA GetTempPathA "
         "SetCurrentDirectoryA GetDiskFreeSpaceA"):
            "installing and removing files and folders",
        "MoveFileExA": "replacing a busy file at the next restart; on 9x it fails and NSIS writes "
                       "WININIT.INI instead",
        ("GetSystemDirectoryA GetWindowsDirectoryA ExpandEnvironmentStringsA "
         "GetPrivateProfileStringA WritePrivateProfileStringA GetVersionExA "
         "SetEnvironmentVariableA"):
            "folders and settings it looks up",
        ("ExitProcess GetCommandLineA GetCurrentProcess GetModuleFileNameA GetModuleHandleA "
         "GetProcAddress LoadLibraryExA FreeLibrary GetLastError SetErrorMode GetTickCount Sleep "
         "MulDiv GlobalAlloc GlobalFree GlobalLock GlobalUnlock MultiByteToWideChar "
         "WideCharToMultiByte lstrcatA lstrcmpA lstrcmpiA lstrcpyA lstrcpynA lstrlenA"):
            INSTALLER,
        "CreateProcessA CreateThread WaitForSingleObject GetExitCodeProcess":
            "running the older version's uninstaller and waiting for it",
        "GetVersion": "UserInfo.dll tells Windows 9x from NT",
        "GetCurrentThread": "UserInfo.dll, on NT: the thread's token",
    },
    ("setup", "ADVAPI32.DLL"): {
        ("RegCloseKey RegCreateKeyExA RegDeleteKeyA RegDeleteValueA RegEnumKeyA RegEnumValueA "
         "RegOpenKeyExA RegQueryValueExA RegSetValueExA"):
            "the uninstall entry and the installer's own key",
        "GetUserNameA": "UserInfo.dll: the user's name",
        "AdjustTokenPrivileges LookupPrivilegeValueA OpenProcessToken":
            STUB_ON_9X + "; called on Windows NT only (the shutdown privilege for a restart)",
        "AllocateAndInitializeSid EqualSid FreeSid GetTokenInformation OpenThreadToken":
            STUB_ON_9X + "; called on Windows NT only (UserInfo.dll: is the user an administrator)",
    },
    ("setup", "USER32.DLL"): {
        ("AppendMenuA BeginPaint CallWindowProcA CharNextA CharPrevA CheckDlgButton "
         "CloseClipboard CreateDialogParamA CreatePopupMenu CreateWindowExA DefWindowProcA "
         "DestroyWindow DialogBoxParamA DispatchMessageA DrawTextA EmptyClipboard EnableMenuItem "
         "EnableWindow EndDialog EndPaint ExitWindowsEx FillRect FindWindowExA GetClassInfoA "
         "GetClientRect GetDC GetDlgItem GetDlgItemTextA GetMessagePos GetSysColor GetSystemMenu "
         "GetSystemMetrics GetWindowLongA GetWindowRect InvalidateRect IsWindow IsWindowEnabled "
         "IsWindowVisible LoadCursorA LoadImageA MessageBoxIndirectA OpenClipboard PeekMessageA "
         "PostQuitMessage RegisterClassA ReleaseDC ScreenToClient SendMessageA "
         "SendMessageTimeoutA SetClassLongA SetClipboardData SetCursor SetDlgItemTextA "
         "SetForegroundWindow SetTimer SetWindowLongA SetWindowPos SetWindowTextA ShowWindow "
         "SystemParametersInfoA TrackPopupMenu wsprintfA"):
            "the installer's pages, dialogs and messages",
    },
    ("setup", "GDI32.DLL"): {
        ("CreateBrushIndirect CreateFontIndirectA DeleteObject GetDeviceCaps SelectObject "
         "SetBkColor SetBkMode SetTextColor"):
            "drawing the pages' fonts and colours",
    },
    ("setup", "SHELL32.DLL"): {
        "SHBrowseForFolderA": "the folder page's Browse button (shell32 4.0, Windows 95 on)",
        "SHGetPathFromIDListA": "the chosen folder and the system's special folders",
        "SHGetSpecialFolderLocation": "Program Files, the Start menu (shell32 4.0)",
        "SHFileOperationA": "copying and removing folders",
        "SHGetFileInfoA": "icons and names shown on the pages",
        "ShellExecuteExA": "opening a file from the finish page",
    },
    ("setup", "COMCTL32.DLL"): {
        "ImageList_AddMasked ImageList_Create ImageList_Destroy InitCommonControls":
            "the progress bar and the list of details (comctl32 of Windows 95 on)",
    },
    ("setup", "OLE32.DLL"): {
        "CoCreateInstance CoTaskMemFree IIDFromString OleInitialize OleUninitialize":
            "the Start menu shortcuts (IShellLink)",
    },
})

XP = _family({
    ("sim", "KERNEL32.DLL"): {
        "AddVectoredExceptionHandler": "the trap handler, first in line (XP on)",
        "RemoveVectoredExceptionHandler": "the trap handler leaves with the module",
        "VirtualProtect": "windows opened for a step; rewritten calls; import slots; the XP write "
                          "barrier",
        "VirtualQuery": "what may be read of code ahead of a trap; the module's own base",
        "FlushInstructionCache": "a rewritten call",
        "VirtualAlloc": "guard pages and the card in memory; the XP write barrier's page",
        "VirtualFree": "guard pages and the card in memory",
        "CreateFileA": "the launcher reads a program's header",
        "CreateFileW": "the card file and the trace file, by the paths as the user wrote them",
        "CreateFileMappingW": "the card file, shared by every process",
        "SetEndOfFile": "a card file given back its size when the disk has no room for the card",
        "LockFile UnlockFile": "a program's slot on the card and the making of a card file; "
                               "whether the bus's holder still runs",
        "MapViewOfFileEx": "the card file's views, each followed by a guard page",
        "UnmapViewOfFile": "the card file's views",
        "ReadFile SetFilePointer": "the card file's header; the launcher reads a program's header",
        "WriteFile": "the card file's header, the trace file, lines on standard error",
        "GetFileSize": "the card file's size",
        "GetFileType": "a card file that is not on a disk is refused",
        "GetFileAttributesA": "the launcher's program",
        "GetFileAttributesW": "a card file that is a folder is refused",
        "CreateDirectoryW": "the card's folder in the common application data folder",
        "GetWindowsDirectoryA": "which modules are the system's",
        "GetWindowsDirectoryW": "the card file on 9x",
        "CloseHandle": "every handle",
        "LocalFree": "the card folder's access list",
        "InitializeCriticalSection": "this process's threads on the bus; the device path's handles",
        "EnterCriticalSection LeaveCriticalSection": "this process's threads on the bus",
        "DeleteCriticalSection": "C runtime locks",
        "GetCurrentProcessId": "the card's table of programs names each by its id",
        "GetExitCodeProcess": "the launched program's exit code",
        "GetCurrentThreadId": "window steps are per thread",
        "Sleep": "waits for the card's lock",
        "GetTickCount": "how long a wait for the card's lock has lasted",
        "ExitProcess": "a program whose card file was cut short ends with one line",
        "QueryPerformanceCounter QueryPerformanceFrequency": "the trace's times",
        "GetEnvironmentVariableW": "VEXO_SIM_* settings, as Unicode",
        "GetConsoleMode": "whether standard error is a console, written in Unicode",
        "WriteConsoleW": "lines on a console standard error, in Unicode",
        "GetModuleFileNameW": "this program's name, in lines and the card's table of programs",
        "GetStdHandle": "lines on standard error",
        "FormatMessageW": "the system's words for an error, in Unicode",
        "GetVersion": "9x or NT, and which NT (what to look up at run time)",
        "GetModuleHandleA": "the system DLLs, for functions looked up at run time",
        "GetProcAddress": "functions looked up at run time",
        "LoadLibraryA": "shell32 and advapi32 for the card's folder, loaded when missing",
        "GetModuleFileNameA": "the module's own path, for the programs it starts",
        "CreateEventA": "the device path's handles",
        "CreateToolhelp32Snapshot Module32First Module32Next": "the modules loaded in the process",
        "lstrcmpiA": "the device path, the Windows folder",
        "WideCharToMultiByte": "a loaded DLL's name; the runtime's character conversions",
        "MultiByteToWideChar": "the runtime's character conversions",
        "VirtualAllocEx WriteProcessMemory": "a path written into the program started",
        "VirtualFreeEx": "the same, freed",
        "ReadProcessMemory": "the module's export table in the program started",
        "CreateRemoteThread": "loads the module into the program started, and serves the device "
                              "path",
        "GetExitCodeThread": "what that thread returned",
        "WaitForSingleObject": "that thread, the program started; the runtime's mutexes",
        "ResumeThread": "the program started runs once the card is in place",
        "GetCurrentProcess": "the program's own bitness; instruction cache flushes",
        "GetCommandLineA": "the program's arguments passed on exactly as given",
        "SearchPathA": "the program found as CreateProcess finds it",
        "CreateProcessA": "the program started suspended",
        "GetStartupInfoA": "the console and standard handles passed on; runtime start-up",
        "SetConsoleCtrlHandler": "Ctrl+C reaches the program, vexosim waits for its exit code",
        "TerminateProcess": "a program the card could not be put into does not run",
        "CheckRemoteDebuggerPresent": "--wait-for-debugger (XP SP1 on)",
        "GetLastError": "error handling",
        "SetLastError": "error handling; the device path keeps the program's last error",
        ("FreeLibrary IsDBCSLeadByteEx SetUnhandledExceptionFilter TlsAlloc TlsFree TlsGetValue "
         "TlsSetValue CreateSemaphoreW ReleaseSemaphore"):
            RUNTIME,
        "GetModuleHandleW LoadLibraryW": "mingw's rand_s, never called",
    },
    ("sim", "MSVCRT.DLL"): {
        ("__getmainargs __initenv __mb_cur_max __p__acmdln __p__commode __p__fmode "
         "__set_app_type __setusermatherr _amsg_exit _cexit _close _errno _initterm _iob _lock "
         "_onexit _read _unlock abort atoi calloc exit fflush fprintf fputc fputs free fwrite "
         "localeconv malloc memchr memcmp memcpy memmove memset realloc setlocale signal strchr "
         "strcmp strerror strlen strncmp towupper vfprintf wcslen"):
            "C runtime",
    },
})

# Functions of later Windows that the simulator looks up at run time instead of importing.
LOOKED_UP_ON_XP = {"FlushProcessWriteBuffers", "LdrRegisterDllNotification", "IsWow64Process",
                   "SHGetFolderPathW", "ConvertStringSecurityDescriptorToSecurityDescriptorA"}


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
