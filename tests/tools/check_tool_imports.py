"""Checks vexotool.exe's import table: every system function it imports is on the Windows 9x list
of windows_imports.py for the tool (some only as a stub that fails, which is all the wide-character
functions may be), and every VexoDLL function it imports is one the module-definition file exports.

Usage: check_tool_imports.py vexotool.exe VexoDLL.def
"""
import pathlib
import sys
import unittest

import pe_checks
import windows_imports
from windows_imports import WIN9X

EXE_PATH = DEF_PATH = None


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
        self.assertLessEqual(set(self.imports),
                             set(windows_imports.allowed(WIN9X, "vexotool")) | {"VEXODLL.DLL"})

    def test_every_windows_import_is_listed_with_its_reason(self):
        self.assertEqual(
            windows_imports.unlisted(self.imports, WIN9X, "vexotool", {"VEXODLL.DLL"}), [])

    def test_wide_functions_are_only_the_runtimes_stubs(self):
        wide = sorted(f for f in self.imports.get("KERNEL32.DLL", []) if f.endswith("W"))
        for func in wide:
            self.assertTrue(windows_imports.is_stub_on_9x("KERNEL32.DLL", func), func)

    def test_library_imports_are_its_exports(self):
        exports = {name for _, name in
                   pe_checks.definition_exports(pathlib.Path(DEF_PATH).read_text())}
        self.assertLessEqual(set(self.imports.get("VEXODLL.DLL", [])), exports)
        self.assertIn("cVexoOpen", self.imports.get("VEXODLL.DLL", []))


if __name__ == "__main__":
    EXE_PATH, DEF_PATH = sys.argv.pop(1), sys.argv.pop(1)
    unittest.main(verbosity=2)
