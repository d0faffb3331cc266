#!/usr/bin/env python3
"""Checks the kit's manual as a user gets it, and the line ends of the kit's texts:
- VexoKit.chm, taken apart with chmls: every entry of its table of contents and index names a
  page (and a place on it) that exists; every link and image of every page resolves inside the
  manual; every page is in the contents;
- each page keeps its document's code samples and tables (as many <pre> blocks as fenced blocks,
  as many tables as Markdown tables), and every document of the kit has its page;
- what Internet Explorer 4 reads: no script, style sheets of CSS level 1 only, pages in ASCII;
- docs/html/, the same pages for a browser, is the manual's pages file for file;
- every text file in the zip and in the folder the setup program was made from has Windows line
  ends (a UTF-16 file aside).

Usage: check_manual.py ZIP KIT-NAME SETUP-FOLDER
"""
import pathlib
import posixpath
import re
import subprocess
import sys
import tempfile
import zipfile

import pe_checks

TEXT_SUFFIXES = (".txt", ".md", ".c", ".h", ".bas", ".py", ".cs", ".pas", ".def", ".reg",
                 ".html", ".css")
TEXT_NAMES = ("LICENSE",)

CSS1_PROPERTIES = set("""
font-family font-style font-variant font-weight font-size font color background-color
background-image background-repeat background-attachment background-position background
word-spacing letter-spacing text-decoration vertical-align text-transform text-align text-indent
line-height margin-top margin-right margin-bottom margin-left margin padding-top padding-right
padding-bottom padding-left padding border-top-width border-right-width border-bottom-width
border-left-width border-width border-color border-style border-top border-right border-bottom
border-left border width height float clear display white-space list-style-type list-style-image
list-style-position list-style""".split())
# Element, class and id, with CSS1's pseudo-classes and pseudo-elements; descendants by spaces.
CSS1_SIMPLE_SELECTOR = re.compile(
    r"[a-z][a-z0-9]*(\.[\w-]+)?(#[\w-]+)?(:(link|visited|active|first-line|first-letter))?"
    r"|(\.[\w-]+|#[\w-]+)(:(first-line|first-letter))?", re.I)
REFERENCE = re.compile(r'\b(?:href|src)="([^"]*)"', re.I)
ANCHOR = re.compile(r'<a name="([^"]*)"', re.I)
LOCAL = re.compile(r'<param name="Local" value="([^"]*)"', re.I)


def css_problems(where, text):
    problems = []
    text = re.sub(r"/\*.*?\*/", "", text, flags=re.S)
    if "@" in text:
        problems.append(f"{where}: an at-rule, which CSS level 1 has not (but @import)")
    for selectors, declarations in re.findall(r"([^{}]*)\{([^}]*)\}", text):
        for selector in selectors.split(","):
            for simple in selector.split():
                if not CSS1_SIMPLE_SELECTOR.fullmatch(simple):
                    problems.append(f"{where}: selector {simple!r} is not CSS level 1")
        problems += declaration_problems(where, declarations)
    return problems


def declaration_problems(where, declarations):
    problems = []
    for declaration in filter(None, (d.strip() for d in declarations.split(";"))):
        name = declaration.split(":")[0].strip().lower()
        if name not in CSS1_PROPERTIES:
            problems.append(f"{where}: property {name!r} is not CSS level 1")
    return problems


def markup_problems(where, text):
    problems = []
    if re.search(r"<script|\son\w+\s*=|javascript:", text, re.I):
        problems.append(f"{where}: script")
    for style in re.findall(r"<style[^>]*>(.*?)</style>", text, re.I | re.S):
        problems += css_problems(where, style)
    for inline in re.findall(r'\sstyle="([^"]*)"', text, re.I):
        problems += declaration_problems(where, inline)
    if any(byte > 127 for byte in text.encode("utf-8")):
        problems.append(f"{where}: characters outside ASCII (use numeric references)")
    return problems


def target_problems(where, page, target, files, anchors):
    """Whether a link or image from `page` to `target` lands on a file and place that exist."""
    if re.match(r"(https?|mailto|ftp):", target, re.I):
        return []
    path, _, fragment = target.partition("#")
    resolved = posixpath.normpath(posixpath.join(posixpath.dirname(page), path)) if path else page
    if resolved not in files:
        return [f"{where}: {target} leads to no file of the manual"]
    if fragment and fragment not in anchors.get(resolved, set()):
        return [f"{where}: {target}: {resolved} has no place named {fragment!r}"]
    return []


def manual_problems(folder):
    """The extracted CHM in `folder`: contents, index, links, images, markup, style sheets."""
    files = {p.relative_to(folder).as_posix() for p in folder.rglob("*") if p.is_file()}
    pages = {f: (folder / f).read_text("latin-1") for f in files if f.endswith(".html")}
    anchors = {f: set(ANCHOR.findall(text)) for f, text in pages.items()}
    problems = []
    sitemaps = sorted(f for f in files if f.endswith((".hhc", ".hhk")))
    if len(sitemaps) != 2:
        problems.append(f"the manual holds {sitemaps}, not one contents and one index file")
    listed = set()
    for sitemap in sitemaps:
        for local in LOCAL.findall((folder / sitemap).read_text("latin-1")):
            listed.add(local.partition("#")[0])
            problems += target_problems(sitemap, sitemap, local, files, anchors)
    contents = [s for s in sitemaps if s.endswith(".hhc")]
    in_contents = {l.partition("#")[0] for s in contents
                   for l in LOCAL.findall((folder / s).read_text("latin-1"))}
    problems += [f"{page}: not in the contents" for page in sorted(set(pages) - in_contents)]
    for page, text in sorted(pages.items()):
        problems += markup_problems(page, text)
        for target in REFERENCE.findall(text):
            problems += target_problems(page, page, target, files, anchors)
    for sheet in sorted(f for f in files if f.endswith(".css")):
        problems += css_problems(sheet, (folder / sheet).read_text("latin-1"))
    return problems, pages


def source_of(page):
    return {"index.html": "README.md", "changelog.html": "CHANGELOG.md"}.get(
        page, "docs/" + page[:-len(".html")] + ".md")


def rendering_problems(kit, name, pages):
    """Each kit document has its page, with its code samples and tables."""
    documents = {n[len(name) + 1:] for n in kit.namelist()
                 if re.fullmatch(re.escape(name) + r"/(docs/[^/]+|README|CHANGELOG)\.md", n)}
    problems = [f"{d}: no page in the manual" for d in sorted(documents - {source_of(p) for p in pages})]
    for page, text in sorted(pages.items()):
        source = source_of(page)
        if source not in documents:
            problems.append(f"{page}: no document of the kit, {source}, behind it")
            continue
        markdown = kit.read(f"{name}/{source}").decode()
        fences = len(re.findall(r"^\s*```", markdown, re.M)) // 2
        tables = len(re.findall(r"^\s*\|?\s*:?-{3,}:?\s*\|", markdown, re.M))
        if text.count("<pre>") != fences:
            problems.append(f"{page}: {text.count('<pre>')} code blocks, {source} has {fences}")
        if text.count("<table") != tables:
            problems.append(f"{page}: {text.count('<table')} tables, {source} has {tables}")
    return problems


def crlf_problems(where, named_contents):
    problems = []
    for path, data in named_contents:
        if not (path.endswith(TEXT_SUFFIXES) or posixpath.basename(path) in TEXT_NAMES):
            continue
        if data[:2] in (b"\xff\xfe", b"\xfe\xff"):
            continue
        if data.count(b"\n") != data.count(b"\r\n"):
            problems.append(f"{where}: {path} has lines that do not end in CR LF")
    return problems


def main():
    zip_path, name, setup_folder = sys.argv[1:4]
    problems = []
    with zipfile.ZipFile(zip_path) as kit, tempfile.TemporaryDirectory() as temporary:
        chm = pathlib.Path(temporary) / "VexoKit.chm"
        chm.write_bytes(kit.read(f"{name}/VexoKit.chm"))
        extracted = pathlib.Path(temporary) / "chm"
        subprocess.run(["chmls", "extractall", str(chm), str(extracted)], check=True,
                       capture_output=True)
        manual, pages = manual_problems(extracted)
        problems += manual
        if not pages:
            problems.append("the manual has no pages")
        problems += rendering_problems(kit, name, pages)
        shipped = {n[len(f"{name}/docs/html/"):]: kit.read(n) for n in kit.namelist()
                   if n.startswith(f"{name}/docs/html/") and not n.endswith("/")}
        in_chm = {f: (extracted / f).read_bytes() for f in shipped if (extracted / f).is_file()}
        problems += [f"docs/html/{f} differs from the manual's, or is not in it"
                     for f in sorted(shipped) if shipped[f] != in_chm.get(f)]
        problems += [f"docs/html/ lacks {p}" for p in sorted(set(pages) - set(shipped))]
        problems += crlf_problems("zip", ((n, kit.read(n)) for n in kit.namelist()))
    setup = pathlib.Path(setup_folder)
    setup_files = [(p.relative_to(setup).as_posix(), p.read_bytes())
                   for p in setup.rglob("*") if p.is_file()]
    if not setup_files:
        problems.append(f"no files in the setup's folder {setup}")
    problems += crlf_problems("setup", setup_files)
    return pe_checks.report(problems, f"{len(pages)} pages of the manual checked, "
                                      f"{len(setup_files)} files of the setup")


if __name__ == "__main__":
    sys.exit(main())
