"""Checks the kit's zip: every file an application developer needs is there, nothing of the
build tree leaked in, every binary carries the kit's version, the packaged DLL and its
module-definition file export what the library's definition file says, and no text in the kit
points to a file it does not have.

Usage: check_package.py ZIP KIT-NAME VERSION PATH-TO-THE-LIBRARY'S-VexoDLL.def
"""
import pathlib
import posixpath
import re
import subprocess
import sys
import zipfile

import pe_checks

REQUIRED = [
    "README.txt",
    "README.md",
    "LICENSE",
    "CHANGELOG.md",
    "VexoKit.chm",
    "bin/VexoDLL.dll",
    "bin/VEXOLITE.CPL",
    "bin/vexotool.exe",
    "bin/VexoVB.dll",
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
    "bindings/vb6/Vexo.bas",
    "bindings/vb6/Example.bas",
    "docs/reference.md",
    "docs/bindings.md",
    "docs/vexotool.md",
    "docs/without-a-card.md",
    "docs/images/applet.png",
    "docs/html/index.html",
    "docs/html/reference.html",
    "sim/vexolite.vxd",
    "sim/vexosim.exe",
    "sim/vexolite_sim.h",
    "sim/libvexolite.vxd.a",
    "sim/README.txt",
    "sim/vexolite-wine.reg",
    "sim/board-key.reg",
]
BINARIES = ["bin/VexoDLL.dll", "bin/VexoVB.dll", "bin/VEXOLITE.CPL", "bin/vexotool.exe",
            "sim/vexolite.vxd", "sim/vexosim.exe"]
VERSION_KEYS = ("FileVersion", "ProductVersion")


def version_problems(path, image, version):
    info = pe_checks.version_info(image)
    tables = info["strings"] if info else {}
    if not tables:
        return [f"{path}: no version strings"]
    return [f"{path}: {key} in {table} is {strings.get(key)!r}, not {version!r}"
            for table, strings in tables.items() for key in VERSION_KEYS
            if strings.get(key) != version]


def export_problems(kit, name, expected):
    """The packaged DLL and its definition file against the library's definition file."""
    problems, names = [], set(kit.namelist())
    if f"{name}/bin/VexoDLL.dll" in names:
        image = pe_checks.open_image(kit.read(f"{name}/bin/VexoDLL.dll"))
        if pe_checks.exports(image) != expected:
            problems.append("bin/VexoDLL.dll's exports differ from the library's definition")
    if f"{name}/lib/VexoDLL.def" in names:
        packaged = pe_checks.definition_exports(kit.read(f"{name}/lib/VexoDLL.def").decode())
        if packaged != expected:
            problems.append("lib/VexoDLL.def differs from the library's definition")
    return problems


def text_problems(kit, name, version):
    """The license and the changelog: MIT, and this version the newest release (above it, changes
    not yet released may gather under [Unreleased])."""
    problems = []
    license_text = kit.read(f"{name}/LICENSE").decode()
    if not license_text.startswith("MIT License") or "the VexoLite kit authors" not in license_text:
        problems.append("LICENSE is not the MIT license of the VexoLite kit authors")
    entries = re.findall(r"^## \[([^\]]+)\]", kit.read(f"{name}/CHANGELOG.md").decode(), re.M)
    entries = [entry for entry in entries if entry != "Unreleased"]
    if not entries or entries[0] != version:
        problems.append(f"CHANGELOG.md's newest release is {entries[:1]}, not [{version}]")
    return problems


KIT_FOLDERS = ("bin", "include", "lib", "examples", "bindings", "docs", "sim")
MARKDOWN_LINK = re.compile(r"\]\(([^)\s]+)\)")
# A path into the kit: one of its folders (or a folder the kit does not have, such as "kit")
# followed by at least one more part. Written in backquotes in Markdown, bare in plain text.
KIT_PATH = r"(?:\.\./)*[A-Za-z_][\w.-]*(?:/[\w.*-]+)+/?"
QUOTED_PATH = re.compile(r"`(" + KIT_PATH + r")`")
BARE_PATH = re.compile(r"(?<![\w./$-])(" + KIT_PATH + r")")


def reference_problems(kit, name):
    """Every link and every path into the kit in the kit's texts names something the kit has."""
    files = {n[len(name) + 1:].rstrip("/") for n in kit.namelist() if n.startswith(name + "/")}
    folders = {posixpath.dirname(f) for f in files}
    present = files | folders
    problems = []
    for text_file in sorted(f for f in files if f.endswith((".md", ".txt"))):
        text = kit.read(f"{name}/{text_file}").decode("utf-8", "replace")
        here = posixpath.dirname(text_file)
        for link in MARKDOWN_LINK.findall(text):
            target = link.split("#")[0]
            if target and not re.match(r"[a-z]+:", target) and \
                    posixpath.normpath(posixpath.join(here, target)) not in present:
                problems.append(f"{text_file}: link to {link}, which the kit does not have")
        paths = (QUOTED_PATH if text_file.endswith(".md") else BARE_PATH).findall(text)
        for path in paths:
            first = path.lstrip("./").split("/")[0]
            if first not in KIT_FOLDERS and first != "kit":
                continue  # a folder of the user's, such as myapp/
            places = {posixpath.normpath(path.rstrip("/")),
                      posixpath.normpath(posixpath.join(here, path.rstrip("/")))}
            if "*" not in path and not places & present:
                problems.append(f"{text_file}: {path}, which the kit does not have")
    return problems


def main():
    zip_path, name, version, library_definition = sys.argv[1:5]
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
            image = pe_checks.open_image(kit.read(f"{name}/{path}"))
            problems += version_problems(path, image, version)
        expected = pe_checks.definition_exports(pathlib.Path(library_definition).read_text())
        problems += export_problems(kit, name, expected)
        problems += text_problems(kit, name, version)
        problems += reference_problems(kit, name)
        readme = kit.read(f"{name}/lib/README.txt").decode()
        if "lib /def:VexoDLL.def /machine:x86 /out:VexoDLL.lib" not in readme:
            problems.append("lib/README.txt lacks the MSVC import-library command")
    return pe_checks.report(problems,
                            f"{len(REQUIRED)} required files, {len(BINARIES)} binaries checked")


if __name__ == "__main__":
    sys.exit(main())
