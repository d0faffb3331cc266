"""What the checks of the built Windows images share: their export and import tables, resources
and version information read through pefile, the exports a module-definition file promises, and
the report a check that gathers problems ends with.
"""
import re
import struct

import pefile


def open_image(source):
    """The image at a path, or in a byte string (a file inside a zip)."""
    return pefile.PE(data=source) if isinstance(source, bytes) else pefile.PE(source)


def exports(pe):
    """[(ordinal, name or None)] in ordinal order."""
    if not hasattr(pe, "DIRECTORY_ENTRY_EXPORT"):
        return []
    symbols = pe.DIRECTORY_ENTRY_EXPORT.symbols
    return sorted(((s.ordinal, s.name.decode() if s.name else None) for s in symbols),
                  key=lambda export: export[0])


def imports(pe):
    """{DLL name as the image spells it: [function names, '#ordinal' for one by ordinal]}"""
    found = {}
    for dll in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        found.setdefault(dll.dll.decode(), []).extend(
            f.name.decode() if f.name else "#%d" % f.ordinal for f in dll.imports)
    return found


def _resource_key(entry):
    return entry.id if entry.name is None else str(entry.name)


def resources(pe):
    """{(type, name, language): bytes}; types and names are numbers or strings."""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in rtype.directory.entries:
            for lang in name.directory.entries:
                leaf = lang.data.struct
                found[(_resource_key(rtype), _resource_key(name), lang.id)] = pe.get_data(
                    leaf.OffsetToData, leaf.Size)
    return found


def string_table(pe):
    """{string id: text} over every block of the image's string table."""
    strings = {}
    if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
            if rtype.id == pefile.RESOURCE_TYPE["RT_STRING"]:
                for block in rtype.directory.entries:
                    strings.update(block.directory.strings)
    return strings


def _dword_align(offset):
    return (offset + 3) // 4 * 4


def _translations(pe, block):
    """Every (language, code page) pair of a VarFileInfo block. pefile keeps only the last pair
    of a value and reads only the block's first value, so the pairs are read from the image and a
    block longer than what pefile read is refused."""
    pairs, end = [], block.get_file_offset()
    for var in block.Var:
        (key,) = var.entry
        start = _dword_align(var.get_file_offset() + var.sizeof() + 2 * (len(key) + 1))
        if key == b"Translation":
            pairs += struct.iter_unpack("<HH", pe.__data__[start:start + var.ValueLength])
        end = _dword_align(var.get_file_offset() + var.Length)
    if end < block.get_file_offset() + block.Length:
        raise ValueError("VarFileInfo holds more than one value")
    return pairs


def version_info(pe):
    """The version resource as {"key", "blocks": names of its blocks in order,
    "strings": {string table name: {name: value}}, "translations": [(language, code page)]}."""
    if not hasattr(pe, "VS_VERSIONINFO"):
        return None
    (root,) = pe.VS_VERSIONINFO
    (blocks,) = pe.FileInfo
    info = {"key": root.Key.decode(), "blocks": [b.Key.decode() for b in blocks], "strings": {},
            "translations": []}
    for block in blocks:
        for table in getattr(block, "StringTable", []):
            info["strings"][table.LangID.decode()] = {
                k.decode(): v.decode() for k, v in table.entries.items()}
        if hasattr(block, "Var"):
            info["translations"] += _translations(pe, block)
    return info


_EXPORT_LINE = re.compile(r"(\w+)(?:\s*=\s*\S+)?\s+@(\d+)")
_SECTION_KEYWORDS = {"LIBRARY", "NAME", "DESCRIPTION", "EXPORTS", "HEAPSIZE", "STACKSIZE",
                     "SECTIONS", "VERSION"}


def definition_exports(text):
    """[(ordinal, name)] from the EXPORTS section of a module-definition file's text. Every export
    must have its ordinal fixed there: the checks hold the image to it."""
    found, in_exports = [], False
    for line in text.splitlines():
        line = line.split(";")[0].strip()
        keyword = line.split()[0] if line else ""
        if keyword in _SECTION_KEYWORDS:
            in_exports = keyword == "EXPORTS"
        elif line and in_exports:
            match = _EXPORT_LINE.fullmatch(line)
            if not match:
                raise ValueError("cannot read the export %r" % line)
            found.append((int(match.group(2)), match.group(1)))
    return sorted(found)


def report(problems, summary):
    """Prints each problem, then `summary` and the verdict on one line; the exit status."""
    for problem in problems:
        print(problem)
    print(f"{summary}: {'FAIL' if problems else 'ok'}")
    return 1 if problems else 0
