"""Checks VEXOLITE.CPL's export and import tables: the exports its module-definition file
fixes, and imports only from Windows' own DLLs and only the functions of the Windows 9x list of
windows_imports.py for the applet.

Usage: test_cpl_tables.py PATH-TO-VEXOLITE.CPL PATH-TO-vexolite.def
"""
import pathlib
import sys
import unittest

import pe_checks
import windows_imports

CPL_PATH = DEF_PATH = None

class Tables(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.image = pe_checks.open_image(CPL_PATH)
        cls.imports = pe_checks.imports(cls.image)

    def test_a_32_bit_dll(self):
        self.assertEqual(self.image.FILE_HEADER.Machine, 0x14C)
        self.assertEqual(self.image.OPTIONAL_HEADER.Magic, 0x10B)
        self.assertTrue(self.image.FILE_HEADER.Characteristics & 0x2000, "IMAGE_FILE_DLL")

    def test_exports_are_the_definition_files(self):
        exports = pe_checks.exports(self.image)
        definition = pe_checks.definition_exports(pathlib.Path(DEF_PATH).read_text())
        self.assertEqual(exports, definition)
        # What the Control Panel calls.
        self.assertIn("CPlApplet", [name for _, name in exports])

    def test_imports_only_from_windows_system_dlls(self):
        dlls = {name.upper() for name in self.imports}
        self.assertLessEqual(dlls, {"KERNEL32.DLL", "USER32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL"})
        # What the applet itself calls comes from these three.
        self.assertLessEqual({"USER32.DLL", "ADVAPI32.DLL", "KERNEL32.DLL"}, dlls)

    def test_every_import_exists_on_windows_9x(self):
        self.assertEqual(windows_imports.unlisted(self.imports, windows_imports.WIN9X, "applet"),
                         [])

    def test_the_dialog_uses_the_ansi_functions(self):
        imported = {f for funcs in self.imports.values() for f in funcs}
        for func in ("DialogBoxParamA", "RegCreateKeyExA", "RegSetValueExA", "SetWindowLongA"):
            self.assertIn(func, imported)
        wide = sorted(f for f in imported if f.endswith("W") and f != "GetModuleHandleW")
        self.assertEqual(wide, [])


if __name__ == "__main__":
    CPL_PATH, DEF_PATH = sys.argv.pop(1), sys.argv.pop(1)
    unittest.main(verbosity=2)
