"""Reads the compiled resources back out of VEXOLITE.CPL and checks them field by field.

Usage: test_cpl_resources.py PATH-TO-VEXOLITE.CPL
"""
import struct
import sys
import unittest

import pe_checks

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION = 3, 5, 6, 14, 16
JAPANESE = 0x0411
CPL_PATH = None

WS_POPUP, WS_CAPTION, WS_SYSMENU = 0x80000000, 0x00C00000, 0x00080000
WS_TABSTOP = 0x00010000
DS_MODALFRAME, DS_SETFONT = 0x80, 0x40
FACE_NAME = "\uff2d\uff33 \uff30\u30b4\u30b7\u30c3\u30af"

BUTTON, EDIT, STATIC = "BUTTON", "EDIT", "STATIC"
# The predefined classes as a template may name them: by ordinal or by name.
CLASS_ORDINALS = {0x80: BUTTON, 0x81: EDIT, 0x82: STATIC}
MEMORY_EDIT, IO_EDIT = (36, 14), (24, 14)
EDIT_STYLE, LABEL_STYLE = 0x50810008, 0x50020000
# class, id, text, (x, y), (cx, cy), style
EXPECTED_CONTROLS = [
    (BUTTON, 1, "OK", (20, 80), (50, 14), 0x50010001),
    (BUTTON, 2, "Cancel", (96, 80), (50, 14), 0x50010000),
    (EDIT, 1000, "", (116, 8), MEMORY_EDIT, EDIT_STYLE),
    (STATIC, 0xFFFF, "Internal Memory Base Address", (16, 8), (91, 8), LABEL_STYLE),
    (STATIC, 0xFFFF, "External Memory Base Address", (16, 24), (94, 8), LABEL_STYLE),
    (STATIC, 0xFFFF, "IO1 Base Address", (16, 40), (54, 8), LABEL_STYLE),
    (STATIC, 0xFFFF, "IO2 Base Address", (16, 56), (54, 8), LABEL_STYLE),
    (EDIT, 1001, "", (116, 24), MEMORY_EDIT, EDIT_STYLE),
    (EDIT, 1002, "", (116, 40), IO_EDIT, EDIT_STYLE),
    (EDIT, 1003, "", (116, 56), IO_EDIT, EDIT_STYLE),
]


class Reader:
    """Sequential little-endian reads over a dialog template."""

    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.pos)
        self.pos += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def align(self, n):
        self.pos = (self.pos + n - 1) // n * n

    def wstring(self):
        end = self.pos
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        text = self.data[self.pos:end].decode("utf-16-le")
        self.pos = end + 2
        return text

    def sz_or_ord(self):
        """A name field: ('ord', n) or the string."""
        if struct.unpack_from("<H", self.data, self.pos)[0] == 0xFFFF:
            self.pos += 2
            return ("ord", self.take("H"))
        return self.wstring()


def parse_dialog(data):
    r = Reader(data)
    dialog = {}
    dialog["style"], dialog["exstyle"], count = r.take("IIH")
    dialog["pos"], dialog["size"] = r.take("hh"), r.take("hh")
    dialog["menu"], dialog["class"] = r.sz_or_ord(), r.sz_or_ord()
    dialog["caption"] = r.wstring()
    if dialog["style"] & DS_SETFONT:
        dialog["points"] = r.take("H")
        dialog["face"] = r.wstring()
    dialog["controls"] = []
    for _ in range(count):
        r.align(4)
        c = {}
        c["style"], c["exstyle"] = r.take("II")
        c["pos"], c["size"] = r.take("hh"), r.take("hh")
        c["id"] = r.take("H")
        c["class"], c["text"] = r.sz_or_ord(), r.sz_or_ord()
        if isinstance(c["class"], tuple):
            c["class"] = CLASS_ORDINALS.get(c["class"][1], c["class"])
        else:
            c["class"] = c["class"].upper()
        c["extra"] = r.take("H")
        r.pos += c["extra"]
        dialog["controls"].append(c)
    dialog["trailing"] = len(data) - r.pos
    return dialog


class CompiledResources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.image = pe_checks.open_image(CPL_PATH)
        cls.resources = pe_checks.resources(cls.image)

    def the(self, rtype, name):
        found = [data for (t, n, _), data in self.resources.items() if (t, n) == (rtype, name)]
        self.assertEqual(len(found), 1, "exactly one %s/%s" % (rtype, name))
        return found[0]

    def test_every_applet_resource_is_japanese(self):
        self.assertTrue(self.resources)
        for (rtype, name, lang) in self.resources:
            self.assertEqual(lang, JAPANESE, "resource %s/%s" % (rtype, name))

    def test_version_information_speaks_japanese_in_unicode(self):
        self.the(RT_VERSION, 1)  # the only version resource
        version = pe_checks.version_info(self.image)
        self.assertEqual(version["key"], "VS_VERSION_INFO")
        self.assertEqual(sorted(version["blocks"]), ["StringFileInfo", "VarFileInfo"])
        self.assertEqual(list(version["strings"]), ["041104B0"])
        self.assertEqual(version["translations"], [(JAPANESE, 1200)])

    def test_nothing_but_the_icon_the_strings_the_dialog_and_the_version(self):
        kinds = {(t, n) for (t, n, _) in self.resources if t != RT_STRING}
        self.assertEqual(kinds, {(RT_GROUP_ICON, 100), (RT_ICON, 1), (RT_DIALOG, 103),
                                 (RT_VERSION, 1)})

    def test_string_table(self):
        self.assertEqual(pe_checks.string_table(self.image),
                         {1: "VexoLite Config.", 101: "VEXOLITE", 102: "VexoLite Config."})

    def test_icon_group_holds_one_32_by_32_image_in_16_colours(self):
        group = self.the(RT_GROUP_ICON, 100)
        reserved, kind, count = struct.unpack_from("<HHH", group, 0)
        self.assertEqual((reserved, kind, count), (0, 1, 1))
        self.assertEqual(len(group), 6 + 14)
        width, height, colours, _, planes, bits, size, image_id = struct.unpack_from(
            "<BBBBHHIH", group, 6)
        self.assertEqual((width, height, colours, planes, bits, image_id), (32, 32, 16, 1, 4, 1))
        image = self.the(RT_ICON, 1)
        self.assertEqual(size, len(image))
        header, w, h, planes, bits = struct.unpack_from("<IiiHH", image, 0)
        self.assertEqual((header, w, h, planes, bits), (40, 32, 64, 1, 4))
        # Header, 16 palette entries, 4-bit colour rows and the 1-bit mask.
        self.assertEqual(len(image), 40 + 16 * 4 + 32 * 16 + 32 * 4)
        pixels = image[40 + 64:40 + 64 + 512]
        self.assertGreater(len(set(pixels)), 4, "a picture, not a blank")

    def test_dialog_103_header(self):
        d = parse_dialog(self.the(RT_DIALOG, 103))
        self.assertEqual(d["style"], 0x80C800C0)
        self.assertEqual(d["style"],
                         WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT)
        self.assertEqual(d["exstyle"], 0)
        self.assertEqual((d["pos"], d["size"]), ((0, 0), (166, 99)))
        self.assertEqual((d["menu"], d["class"]), ("", ""))
        self.assertEqual(d["caption"], "VexoLite Config.")
        self.assertEqual(d["points"], 9)
        self.assertEqual(d["face"], FACE_NAME)
        self.assertEqual([hex(ord(c)) for c in d["face"]],
                         ["0xff2d", "0xff33", "0x20", "0xff30", "0x30b4", "0x30b7", "0x30c3",
                          "0x30af"])
        self.assertEqual(d["trailing"], 0)

    def test_dialog_103_controls_in_tab_order(self):
        controls = parse_dialog(self.the(RT_DIALOG, 103))["controls"]
        self.assertEqual(len(controls), len(EXPECTED_CONTROLS))
        for i, (c, expected) in enumerate(zip(controls, EXPECTED_CONTROLS)):
            cls, cid, text, pos, size, style = expected
            with self.subTest(control=i + 1):
                self.assertEqual(c["class"], cls)
                self.assertEqual(c["id"], cid)
                self.assertEqual(c["text"], text)
                self.assertEqual(c["pos"], pos)
                self.assertEqual(c["size"], size)
                self.assertEqual(hex(c["style"]), hex(style))
                self.assertEqual(c["exstyle"], 0)
                self.assertEqual(c["extra"], 0)
        # Only OK and Cancel are buttons; the OK button is the first tab stop.
        first_stop = next(c for c in controls if c["style"] & WS_TABSTOP)
        self.assertEqual(first_stop["id"], 1)


if __name__ == "__main__":
    CPL_PATH = sys.argv.pop(1)
    unittest.main(verbosity=2)
