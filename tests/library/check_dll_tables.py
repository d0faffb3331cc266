"""Checks the tables of the kit's DLLs against what was chosen on purpose: the exports and ordinals
the library's module-definition file fixes, and imports that exist on Windows 95 and 98. For
VexoDLL.dll they are exactly its functions on the Windows 9x list of windows_imports.py;
VexoVB.dll, the library for Visual Basic 6, has the library's exports under the same names and
ordinals and imports those functions from VexoDLL.dll, nothing else. Fails on any difference: a missing, extra or renumbered export, or a new import.

Usage: check_dll_tables.py VexoDLL.dll|VexoVB.dll VexoDLL.def OBJECT-FILE...
"""
import os
import pathlib
import struct
import sys
import unittest

import pe_checks
import windows_imports

DLL_PATH = DEF_PATH = None
OBJECT_PATHS = []

def expected_imports(image_path, definition):
    """{DLL in upper case: sorted functions}."""
    if os.path.basename(image_path).lower() == "vexovb.dll":
        return {"VEXODLL.DLL": sorted(name for _, name in definition)}
    return {dll: sorted(funcs)
            for dll, funcs in windows_imports.allowed(windows_imports.WIN9X, "library").items()}


# Sections whose contents a C runtime runs at load or thread start. The DLL has none: an object
# that needs one would be linked in silently and its set-up never run.
RUNTIME_SET_UP_SECTIONS = (".ctors", ".dtors", ".init_array", ".fini_array", ".tls")


def object_section_names(path):
    """The section names of an i386 COFF object; a name longer than eight characters is kept in
    the object's string table."""
    with open(path, "rb") as f:
        data = f.read()
    machine, count, _, symbols, symbol_count, optional_size = struct.unpack_from("<HHIIIH", data)
    if machine != 0x14C:
        raise ValueError("%s: not an i386 COFF object" % path)
    strings = symbols + 18 * symbol_count
    names = []
    for i in range(count):
        header = 20 + optional_size + 40 * i
        name = data[header:header + 8].rstrip(b"\0")
        if name.startswith(b"/"):
            at = strings + int(name[1:])
            name = data[at:data.index(b"\0", at)]
        names.append(name.decode())
    return names


def needs_runtime_set_up(section):
    return any(section == kind or section.startswith((kind + ".", kind + "$"))
               for kind in RUNTIME_SET_UP_SECTIONS)


class Tables(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.image = pe_checks.open_image(DLL_PATH)
        cls.definition = pe_checks.definition_exports(pathlib.Path(DEF_PATH).read_text())

    def test_exports_are_the_definition_files(self):
        self.assertEqual(pe_checks.exports(self.image), self.definition)
        # No unnamed slots in the address table, no name without one.
        directory = self.image.DIRECTORY_ENTRY_EXPORT.struct
        self.assertEqual((directory.NumberOfFunctions, directory.NumberOfNames),
                         (len(self.definition), len(self.definition)))

    def test_imports_are_the_chosen_ones(self):
        imports = {dll.upper(): sorted(funcs)
                   for dll, funcs in pe_checks.imports(self.image).items()}
        self.assertEqual(imports, expected_imports(DLL_PATH, self.definition))

    def test_header_is_one_windows_9x_loads(self):
        header = self.image.OPTIONAL_HEADER
        self.assertEqual(header.Magic, 0x10B)
        self.assertEqual(header.MajorOperatingSystemVersion, 4)
        self.assertEqual(header.MajorSubsystemVersion, 4)

    def test_objects_need_no_static_constructors_or_thread_local_set_up(self):
        self.assertTrue(OBJECT_PATHS)
        for path in OBJECT_PATHS:
            for section in object_section_names(path):
                with self.subTest(object=os.path.basename(path), section=section):
                    self.assertFalse(needs_runtime_set_up(section),
                                     "nothing in the DLL would run it")


if __name__ == "__main__":
    DLL_PATH, DEF_PATH, *OBJECT_PATHS = sys.argv[1:]
    del sys.argv[1:]
    unittest.main(verbosity=2)
