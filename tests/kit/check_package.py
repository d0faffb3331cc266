#!/usr/bin/env python3
"""Checks the kit's zip: every file an application developer needs is there, nothing of the
build tree leaked in, and every binary carries the kit's version.

Usage: check_package.py ZIP KIT-NAME VERSION
"""
import subprocess
import sys
import zipfile

REQUIRED = [
    "README.txt",
    "README.md",
    "bin/VexoDLL.dll",
    "bin/VEXOLITE.CPL",
    "bin/vexotool.exe",
    "include/VexoDLL.h",
    "lib/libVexoDLL.dll.a",
    "lib/VexoDLL.def",
    "lib/VexoDLL.lib",
    "lib/README.txt",
    "examples/vexo_example.c",
    "examples/quick_start.c",
    "examples/README.txt",
    "bindings/README.txt",
    "bindings/python/vexo.py",
    "bindings/python/example.py",
    "bindings/csharp/Vexo.cs",
    "bindings/csharp/Example.cs",
    "bindings/pascal/vexo.pas",
    "bindings/pascal/example.pas",
    "docs/reference.md",
    "docs/bindings.md",
    "docs/vexotool.md",
    "docs/without-a-card.md",
    "docs/images/applet.png",
    "sim/vexolite.vxd",
    "sim/vexolite_sim.h",
    "sim/libvexolite.vxd.a",
    "sim/README.txt",
    "sim/vexolite-wine.reg",
]
BINARIES = ["bin/VexoDLL.dll", "bin/VEXOLITE.CPL", "bin/vexotool.exe", "sim/vexolite.vxd"]
EXPORTS = ["cVexoReadBlockByte", "cVexoReadBlockShort", "cVexoReadBlockLong",
           "cVexoWriteBlockByte", "cVexoWriteBlockShort", "cVexoWriteBlockLong",
           "cVexoBuffAlloc", "cVexoBuffFree", "cVexoReadBuffByte", "cVexoReadBuffShort",
           "cVexoReadBuffLong", "cVexoWriteBuffByte", "cVexoWriteBuffShort",
           "cVexoWriteBuffLong", "cVexoOpen", "cVexoClose", "cVexoGetINTA",
           "cVexoDeviceInfo", "cVexoPciConfig"]


def version_strings(data):
    """The FileVersion and ProductVersion values of a VERSIONINFO resource."""
    found = {}
    for key in ("FileVersion", "ProductVersion"):
        marker = (key + "\0").encode("utf-16-le")
        at = data.find(marker)
        if at < 0:
            continue
        at += len(marker)
        at += (4 - at % 4) % 4  # the value starts on a 32-bit boundary
        end = data.find(b"\0\0", at)
        while end >= 0 and (end - at) % 2:
            end = data.find(b"\0\0", end + 1)
        found[key] = data[at:end].decode("utf-16-le")
    return found


def main():
    zip_path, name, version = sys.argv[1:4]
    listing = subprocess.run(["unzip", "-l", zip_path], check=True, capture_output=True,
                             text=True).stdout
    problems = []
    for path in REQUIRED:
        if f" {name}/{path}\n" not in listing:
            problems.append(f"missing: {path}")
    for leaked in ("CMakeFiles", ".obj", ".ninja", "CMakeCache"):
        if leaked in listing:
            problems.append(f"build tree files in the zip ({leaked})")
    for source_tree_doc in ("docs/building.md", "docs/performance.md"):
        if f" {name}/{source_tree_doc}\n" in listing:
            problems.append(f"a document about the source tree in the zip: {source_tree_doc}")
    with zipfile.ZipFile(zip_path) as kit:
        names = set(kit.namelist())
        if "scripts/" in kit.read(f"{name}/README.md").decode():
            problems.append("README.md is the source tree's, not the kit's")
        for path in BINARIES:
            if f"{name}/{path}" not in names:
                continue
            strings = version_strings(kit.read(f"{name}/{path}"))
            for key in ("FileVersion", "ProductVersion"):
                if strings.get(key) != version:
                    problems.append(f"{path}: {key} is {strings.get(key)!r}, not {version!r}")
        definition = kit.read(f"{name}/lib/VexoDLL.def").decode()
        for ordinal, export in enumerate(EXPORTS, 1):
            if f"{export}" not in definition or f"@{ordinal}" not in definition:
                problems.append(f"lib/VexoDLL.def: {export} @{ordinal} missing")
        readme = kit.read(f"{name}/lib/README.txt").decode()
        if "lib /def:VexoDLL.def /machine:x86 /out:VexoDLL.lib" not in readme:
            problems.append("lib/README.txt lacks the MSVC import-library command")
    for problem in problems:
        print(problem)
    print(f"{len(REQUIRED)} required files, {len(BINARIES)} binaries checked: "
          f"{'FAIL' if problems else 'ok'}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
