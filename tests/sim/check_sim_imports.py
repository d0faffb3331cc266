"""Checks the import tables of the simulated card's module (vexolite.vxd) and of vexosim.exe, which
must load on Windows XP SP3 as well as under Wine in 9x mode: every function either imports is on
the XP list of windows_imports.py, with why it is needed. A function of a later Windows
(FlushProcessWriteBuffers, the DLL load notification, IsWow64Process before SP2) is looked up at
run time, never imported.

Usage: check_sim_imports.py vexolite.vxd vexosim.exe vexolite.def
"""
import pathlib
import re
import sys
import unittest

import pe_checks
import windows_imports
from windows_imports import XP

MODULE_PATH = VEXOSIM_PATH = DEF_PATH = None


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
            with self.subTest(image=path):
                self.assertEqual(windows_imports.unlisted(imports, XP, "sim", {"VEXOLITE.VXD"}), [])
                imported = {f for funcs in imports.values() for f in funcs}
                self.assertFalse(imported & windows_imports.LOOKED_UP_ON_XP)

    def test_module_imports_only_the_system(self):
        _, imports = self.imports_of(MODULE_PATH)
        self.assertLessEqual(set(imports), set(windows_imports.allowed(XP, "sim")))

    def test_vexosim_imports_only_the_system_and_the_modules_exports(self):
        _, imports = self.imports_of(VEXOSIM_PATH)
        self.assertLessEqual(set(imports),
                             set(windows_imports.allowed(XP, "sim")) | {"VEXOLITE.VXD"})
        exports = module_exports(pathlib.Path(DEF_PATH).read_text())
        self.assertLessEqual(set(imports.get("VEXOLITE.VXD", [])), exports)


if __name__ == "__main__":
    MODULE_PATH, VEXOSIM_PATH, DEF_PATH = sys.argv.pop(1), sys.argv.pop(1), sys.argv.pop(1)
    unittest.main(verbosity=2)
