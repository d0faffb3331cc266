"""Checks vexotool.exe's import table: every function it imports is on the list below, each with
why the tool needs it and the assurance that Windows 95 and 98 export it (some only as a stub that
fails), and every VexoDLL function it imports is one the module-definition file exports. A new
import fails this test until it has been checked and added here with its reason.

Usage: check_tool_imports.py vexotool.exe VexoDLL.def
"""
import pathlib
import sys
import unittest

import pe_checks

EXE_PATH = DEF_PATH = None

# Windows 95 implements the wide-character ("W") version of most functions as a stub that fails
# (returns its error value, GetLastError() = ERROR_CALL_NOT_IMPLEMENTED); Windows 98 keeps those
# stubs. The statically linked C++ runtime imports three of them. A stub resolves at load time like
# any export, so the image loads; what happens when each is called on 9x is said beside it.
STUB_ON_9X = "exported by the 9x kernel as a stub that fails"

KERNEL32 = {
    # The tool's own calls.
    "GetConsoleMode": "whether the error output is a console, for the progress line",
    "GetTickCount": "the clock for the progress line's rate and time left",
    "SetConsoleCtrlHandler": "Ctrl+C stops long work after its current chunk",
    # The library's platform seam and PCI scan, linked into the tool for its own look at the card
    # (diagnosis, configuration space).
    "CreateFileA": "opens the driver's device path; save creates its file",
    "WriteFile": "save writes its file",
    "GetFileType": "save writes a device in place rather than replacing it",
    "MoveFileA": "save puts its new file in the place of the old one",
    "DeleteFileA": "save deletes the old file before the move (9x has no MoveFileEx) or a new "
                   "file it could not finish",
    "FormatMessageA": "the system's words for a file error that has none of the runtime's",
    "DeviceIoControl": "the driver's requests",
    "CloseHandle": "closes the driver",
    # The C and C++ runtime's start-up, locks, thread-local data and error handling.
    "DeleteCriticalSection": "C runtime locks",
    "EnterCriticalSection": "C runtime locks",
    "InitializeCriticalSection": "C runtime locks",
    "LeaveCriticalSection": "C runtime locks",
    "FreeLibrary": "runtime start-up: releases a module it looked up",
    "GetCurrentThreadId": "runtime thread bookkeeping",
    "GetLastError": "runtime error handling",
    "SetLastError": "runtime error handling",
    "GetModuleHandleA": "runtime start-up: looks up loaded modules",
    "GetProcAddress": "runtime start-up: optional entry points of loaded modules",
    "GetStartupInfoA": "runtime start-up",
    "IsDBCSLeadByteEx": "the runtime's multibyte character handling",
    "MultiByteToWideChar": "the runtime's character conversions (implemented on 95)",
    "WideCharToMultiByte": "the runtime's character conversions (implemented on 95)",
    "LoadLibraryA": "runtime start-up: optional modules",
    "SetUnhandledExceptionFilter": "runtime start-up: reports a crash",
    "Sleep": "runtime spin locks back off",
    "TlsAlloc": "the C++ runtime's per-thread data",
    "TlsFree": "the C++ runtime's per-thread data",
    "TlsGetValue": "the C++ runtime's per-thread data",
    "TlsSetValue": "the C++ runtime's per-thread data",
    "VirtualProtect": "runtime start-up: applies the image's pseudo-relocations",
    "VirtualQuery": "runtime start-up: applies the image's pseudo-relocations",
    "ReleaseSemaphore": "the C++ runtime's mutexes (libgcc's Win32 threads): wakes a waiter",
    "WaitForSingleObject": "the C++ runtime's mutexes (libgcc's Win32 threads): waits when "
                           "contended",
    # Wide-character functions: stubs on 9x.
    "CreateSemaphoreW": STUB_ON_9X + ". libgcc's Win32 mutexes create their semaphore with it; "
                        "on 9x the mutex is left without one, which is only ever waited on when "
                        "two threads contend for it, and the tool runs one thread",
    "GetModuleHandleW": STUB_ON_9X + ". mingw's rand_s (pulled in with libstdc++'s "
                        "random_device, which the tool never constructs) asks with it for "
                        "msvcrt.dll's own rand_s; never called by the tool, and a null answer "
                        "leads to its fallback",
    "LoadLibraryW": STUB_ON_9X + ". The same rand_s loads advapi32.dll with it for its random "
                    "source; never called by the tool, and a failure makes rand_s fail cleanly",
}

ADVAPI32 = {
    "RegOpenKeyA": "the board configuration key, read the way the library reads it (info)",
    "RegQueryValueExA": "the four base values (info)",
    "RegCloseKey": "closes the board configuration key",
    "RegCreateKeyExA": "key set and key defaults create the key as the applet does",
    "RegOpenKeyExA": "key clear opens the key without creating it",
    "RegSetValueExA": "key set and key defaults write a value",
    "RegDeleteValueA": "key clear deletes the four values",
}

# msvcrt.dll as shipped with Windows 98 (on 95 it comes with later releases and most
# applications); each function below is among its exports.
MSVCRT_START_UP = ["__getmainargs", "__initenv", "__p__acmdln", "__p__commode", "__p__fmode",
                   "__set_app_type", "__setusermatherr", "_amsg_exit", "_cexit", "_initterm",
                   "_onexit", "exit", "abort", "_lock", "_unlock", "signal", "setlocale",
                   "localeconv", "__mb_cur_max", "_errno", "atoi"]
MSVCRT_TOOL = {
    "_fileno": "the console check on the error output",
    "_get_osfhandle": "the console check on the error output",
    "_iob": "stdout and stderr",
    "fflush": "output before waits and exits; the progress line",
    "fprintf": "every line the tool prints",
    "vfprintf": "formatted output through the C99 printf",
    "fputc": "output",
    "fputs": "output",
    "fwrite": "output",
    "setvbuf": "buffered standard output",
    "fopen": "load opens its file",
    "fclose": "load closes its file",
    "fread": "load reads its file",
    "fgetc": "load checks that the file has not grown",
    "ferror": "load tells a read error from the end of the file",
    "fseek": "load sizes its file before anything runs",
    "ftell": "load sizes its file before anything runs",
    "remove": "save removes its new file when it cannot take the old one's place",
    "strerror": "why a file cannot be opened or written",
    "isprint": "dump's text column",
    "calloc": "heap",
    "malloc": "heap",
    "realloc": "heap",
    "free": "heap",
    "memchr": "string handling",
    "memcmp": "string handling",
    "memcpy": "string handling",
    "memmove": "string handling",
    "memset": "string handling",
    "strchr": "string handling",
    "strcmp": "string handling",
    "strlen": "string handling",
    "strncmp": "string handling",
    "wcslen": "the C99 printf's %ls",
    "_read": "the C++ runtime's console input",
    "_close": "the C++ runtime's file handles",
}
MSVCRT = dict(MSVCRT_TOOL, **{name: "C runtime start-up and its support" for name in
                              MSVCRT_START_UP})

WIN9X_FUNCTIONS = {"KERNEL32.DLL": KERNEL32, "ADVAPI32.DLL": ADVAPI32, "MSVCRT.DLL": MSVCRT}


class Imports(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.image = pe_checks.open_image(EXE_PATH)
        cls.imports = {dll.upper(): funcs for dll, funcs in pe_checks.imports(cls.image).items()}

    def test_a_console_program_windows_9x_loads(self):
        header = self.image.OPTIONAL_HEADER
        self.assertEqual(self.image.FILE_HEADER.Machine, 0x14C)
        self.assertEqual(header.Magic, 0x10B)
        self.assertEqual(header.Subsystem, 3, "IMAGE_SUBSYSTEM_WINDOWS_CUI")
        self.assertEqual(header.MajorSubsystemVersion, 4)
        self.assertEqual(header.MajorOperatingSystemVersion, 4)

    def test_imports_only_from_windows_dlls_and_the_library(self):
        self.assertLessEqual(set(self.imports), set(WIN9X_FUNCTIONS) | {"VEXODLL.DLL"})

    def test_every_windows_import_is_listed_with_its_reason(self):
        for dll, funcs in self.imports.items():
            if dll == "VEXODLL.DLL":
                continue
            for func in funcs:
                with self.subTest(dll=dll, function=func):
                    self.assertFalse(func.startswith("#"), "imported by ordinal")
                    self.assertIn(func, WIN9X_FUNCTIONS[dll])

    def test_wide_functions_are_only_the_runtimes_stubs(self):
        wide = sorted(f for funcs in self.imports.values() for f in funcs
                      if f.endswith("W") and f in KERNEL32)
        for func in wide:
            self.assertTrue(KERNEL32[func].startswith(STUB_ON_9X), func)

    def test_library_imports_are_its_exports(self):
        exports = {name for _, name in
                   pe_checks.definition_exports(pathlib.Path(DEF_PATH).read_text())}
        self.assertLessEqual(set(self.imports.get("VEXODLL.DLL", [])), exports)
        self.assertIn("cVexoOpen", self.imports.get("VEXODLL.DLL", []))


if __name__ == "__main__":
    EXE_PATH, DEF_PATH = sys.argv.pop(1), sys.argv.pop(1)
    unittest.main(verbosity=2)
