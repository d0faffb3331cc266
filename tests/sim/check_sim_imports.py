"""Checks the import tables of the simulated card's module (vexolite.vxd) and of vexosim.exe, which
must load on Windows XP SP3 as well as under Wine in 9x mode: every function either imports is on
the list below with why it is needed, and every one is exported by the kernel32.dll or msvcrt.dll of
Windows XP SP3. A function of a later Windows (FlushProcessWriteBuffers, the DLL load notification,
IsWow64Process before SP2) is looked up at run time, never imported. A new import fails this test
until it has been checked against XP and added here with its reason.

Usage: check_sim_imports.py vexolite.vxd vexosim.exe vexolite.def
"""
import pathlib
import re
import sys
import unittest

import pe_checks

MODULE_PATH = VEXOSIM_PATH = DEF_PATH = None

# kernel32.dll of Windows XP SP3 exports each of these.
KERNEL32 = {
    # The trap handler and the call rewriting.
    "AddVectoredExceptionHandler": "the trap handler, first in line (XP on)",
    "RemoveVectoredExceptionHandler": "the trap handler leaves with the module",
    "VirtualProtect": "windows opened for a step; rewritten calls; import slots; the XP write "
                      "barrier",
    "VirtualQuery": "what may be read of code ahead of a trap; the module's own base",
    "FlushInstructionCache": "a rewritten call",
    "VirtualAlloc": "guard pages and the card in memory; the XP write barrier's page",
    "VirtualFree": "guard pages and the card in memory",
    # The card file and the trace file.
    "CreateFileA": "the card file and the trace file; the launcher reads a program's header",
    "CreateFileMappingA": "the card file, shared by every process",
    "CreateFileW": "the card file and the trace file, by the paths as the user wrote them",
    "CreateFileMappingW": "the card file, shared by every process",
    "SetEndOfFile": "a card file given back its size when the disk has no room for the card",
    "LockFile": "a program's slot on the card and the making of a card file; whether the bus's "
                "holder still runs",
    "UnlockFile": "the same, given back",
    "MapViewOfFileEx": "the card file's views, each followed by a guard page",
    "UnmapViewOfFile": "the card file's views",
    "ReadFile": "the card file's header; the launcher reads a program's header",
    "WriteFile": "the card file's header, the trace file, lines on standard error",
    "SetFilePointer": "the card file's header; the launcher reads a program's header",
    "GetFileSize": "the card file's size",
    "GetFileType": "a card file that is not on a disk is refused",
    "GetFileAttributesA": "a card file that is a folder is refused; the launcher's program",
    "GetFileAttributesW": "a card file that is a folder is refused",
    "CreateDirectoryW": "the card's folder in the common application data folder",
    "GetWindowsDirectoryA": "which modules are the system's",
    "GetWindowsDirectoryW": "the card file on 9x",
    "CloseHandle": "every handle",
    "LocalFree": "the card folder's access list",
    # The card's lock and this process's threads.
    "InitializeCriticalSection": "this process's threads on the bus; the device path's handles",
    "EnterCriticalSection": "this process's threads on the bus",
    "LeaveCriticalSection": "this process's threads on the bus",
    "DeleteCriticalSection": "C runtime locks",
    "GetCurrentProcessId": "the card's lock names its owner",
    "OpenProcess": "whether the process holding the card's lock still runs",
    "GetExitCodeProcess": "whether the lock's owner still runs; the launched program's exit code",
    "GetCurrentThreadId": "window steps are per thread",
    "Sleep": "waits for the card's lock",
    "GetTickCount": "how long a wait for the card's lock has lasted",
    "ExitProcess": "a program whose card file was cut short ends with one line",
    "QueryPerformanceCounter": "the trace's times",
    "QueryPerformanceFrequency": "the trace's times",
    # The program the module is in.
    "GetEnvironmentVariableA": "VEXO_SIM_* settings",
    "GetEnvironmentVariableW": "VEXO_SIM_* settings, as Unicode",
    "GetConsoleMode": "whether standard error is a console, written in Unicode",
    "WriteConsoleW": "lines on a console standard error, in Unicode",
    "GetModuleFileNameW": "this program's name, in lines and the card's table of programs",
    "GetStdHandle": "lines on standard error",
    "FormatMessageA": "the system's words for an error",
    "FormatMessageW": "the system's words for an error, in Unicode",
    "GetVersion": "9x or NT, and which NT (what to look up at run time)",
    "GetModuleHandleA": "the system DLLs, for functions looked up at run time",
    "GetProcAddress": "functions looked up at run time",
    "LoadLibraryA": "shell32 and advapi32 for the card's folder, loaded when missing",
    "GetModuleFileNameA": "the module's own path, for the programs it starts",
    # The device path on NT and the launch.
    "CreateEventA": "the device path's handles",
    "CreateToolhelp32Snapshot": "the modules loaded in the process",
    "Module32First": "the modules loaded in the process",
    "Module32Next": "the modules loaded in the process",
    "lstrcmpiA": "the device path, the Windows folder",
    "WideCharToMultiByte": "a loaded DLL's name; the runtime's character conversions",
    "MultiByteToWideChar": "the runtime's character conversions",
    "VirtualAllocEx": "a path written into the program started",
    "VirtualFreeEx": "the same, freed",
    "WriteProcessMemory": "a path written into the program started",
    "ReadProcessMemory": "the module's export table in the program started",
    "CreateRemoteThread": "loads the module into the program started, and serves the device path",
    "GetExitCodeThread": "what that thread returned",
    "WaitForSingleObject": "that thread, the program started; the runtime's mutexes",
    "ResumeThread": "the program started runs once the card is in place",
    "GetCurrentProcess": "the program's own bitness; instruction cache flushes",
    # vexosim run alone.
    "GetCommandLineA": "the program's arguments passed on exactly as given",
    "SearchPathA": "the program found as CreateProcess finds it",
    "CreateProcessA": "the program started suspended",
    "GetStartupInfoA": "the console and standard handles passed on; runtime start-up",
    "SetConsoleCtrlHandler": "Ctrl+C reaches the program, vexosim waits for its exit code",
    "TerminateProcess": "a program the card could not be put into does not run",
    "CheckRemoteDebuggerPresent": "--wait-for-debugger (XP SP1 on)",
    # The C and C++ runtime.
    "GetLastError": "error handling",
    "SetLastError": "error handling; the device path keeps the program's last error",
    "FreeLibrary": "runtime start-up",
    "IsDBCSLeadByteEx": "the runtime's multibyte character handling",
    "SetUnhandledExceptionFilter": "runtime start-up",
    "TlsAlloc": "the C++ runtime's per-thread data",
    "TlsFree": "the C++ runtime's per-thread data",
    "TlsGetValue": "the C++ runtime's per-thread data",
    "TlsSetValue": "the C++ runtime's per-thread data",
    "CreateSemaphoreW": "the C++ runtime's mutexes",
    "ReleaseSemaphore": "the C++ runtime's mutexes",
    "GetModuleHandleW": "mingw's rand_s, never called",
    "LoadLibraryW": "mingw's rand_s, never called",
}

# msvcrt.dll of Windows XP exports each of these: the C runtime's start-up and what the code uses.
MSVCRT = {name: "C runtime" for name in [
    "__getmainargs", "__initenv", "__mb_cur_max", "__p__acmdln", "__p__commode", "__p__fmode",
    "__set_app_type", "__setusermatherr", "_amsg_exit", "_cexit", "_close", "_errno", "_initterm",
    "_iob", "_lock", "_onexit", "_read", "_unlock", "abort", "atoi", "calloc", "exit", "fflush",
    "fprintf", "fputc", "fputs", "free", "fwrite", "localeconv", "malloc", "memchr", "memcmp",
    "memcpy", "memmove", "memset", "realloc", "setlocale", "signal", "strchr", "strcmp", "strerror",
    "strlen", "strncmp", "towupper", "vfprintf", "wcslen"]}

XP_FUNCTIONS = {"KERNEL32.DLL": KERNEL32, "MSVCRT.DLL": MSVCRT}

# Functions of later Windows that the code looks up at run time instead.
LOOKED_UP = {"FlushProcessWriteBuffers", "LdrRegisterDllNotification", "IsWow64Process",
             "SHGetFolderPathW", "ConvertStringSecurityDescriptorToSecurityDescriptorA"}


def module_exports(text):
    """The names vexolite.def exports (its lines carry no ordinals)."""
    names, inside = set(), False
    for line in text.splitlines():
        line = line.split(";")[0].strip()
        if line in ("EXPORTS",):
            inside = True
        elif inside and line:
            names.add(re.split(r"[=\s]", line)[0])
    return names


class Imports(unittest.TestCase):
    def imports_of(self, path):
        image = pe_checks.open_image(path)
        return image, {dll.upper(): funcs for dll, funcs in pe_checks.imports(image).items()}

    def test_images_windows_xp_loads(self):
        for path in (MODULE_PATH, VEXOSIM_PATH):
            image, _ = self.imports_of(path)
            with self.subTest(image=path):
                self.assertEqual(image.FILE_HEADER.Machine, 0x14C)
                self.assertLessEqual(image.OPTIONAL_HEADER.MajorSubsystemVersion, 5)
                self.assertLessEqual(image.OPTIONAL_HEADER.MajorOperatingSystemVersion, 5)

    def test_every_system_import_is_listed_for_xp(self):
        for path in (MODULE_PATH, VEXOSIM_PATH):
            _, imports = self.imports_of(path)
            for dll, funcs in imports.items():
                if dll == "VEXOLITE.VXD":
                    continue
                for func in funcs:
                    with self.subTest(image=path, dll=dll, function=func):
                        self.assertFalse(func.startswith("#"), "imported by ordinal")
                        self.assertIn(func, XP_FUNCTIONS.get(dll, {}))
                        self.assertNotIn(func, LOOKED_UP)

    def test_module_imports_only_the_system(self):
        _, imports = self.imports_of(MODULE_PATH)
        self.assertLessEqual(set(imports), set(XP_FUNCTIONS))

    def test_vexosim_imports_only_the_system_and_the_modules_exports(self):
        _, imports = self.imports_of(VEXOSIM_PATH)
        self.assertLessEqual(set(imports), set(XP_FUNCTIONS) | {"VEXOLITE.VXD"})
        exports = module_exports(pathlib.Path(DEF_PATH).read_text())
        self.assertLessEqual(set(imports.get("VEXOLITE.VXD", [])), exports)


if __name__ == "__main__":
    MODULE_PATH, VEXOSIM_PATH, DEF_PATH = sys.argv.pop(1), sys.argv.pop(1), sys.argv.pop(1)
    unittest.main(verbosity=2)
