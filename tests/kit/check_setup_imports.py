"""Checks the setup program's version resource and its import table, and that of the one NSIS
plug-in it carries
(UserInfo.dll, which it unpacks and loads at start): an ANSI Win32 GUI program whose every import
is a function of the Windows 9x list of windows_imports.py for the setup, with what the installer
does with it. The uninstaller is the same stub as the installer, with the same imports.

Usage: check_setup_imports.py SETUP.EXE USERINFO.DLL VERSION
"""
import sys
import unittest

import pe_checks
import windows_imports

SETUP_PATH = PLUGIN_PATH = VERSION = None

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
            with self.subTest(image=path):
                self.assertEqual(
                    windows_imports.unlisted(imports, windows_imports.WIN9X, "setup"), [])

    def test_ansi_throughout(self):
        # A Unicode installer imports the W forms, which Windows 9x lacks or stubs.
        _, imports = self.imports_of(SETUP_PATH)
        wide = sorted(f for funcs in imports.values() for f in funcs if f.endswith("W"))
        self.assertEqual(wide, [])
        self.assertIn("CreateFileA", imports["KERNEL32.DLL"])


if __name__ == "__main__":
    SETUP_PATH, PLUGIN_PATH, VERSION = sys.argv.pop(1), sys.argv.pop(1), sys.argv.pop(1)
    unittest.main(verbosity=2)
