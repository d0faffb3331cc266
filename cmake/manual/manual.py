#!/usr/bin/env python3
"""Makes the kit's manual from its Markdown documents: one HTML page per document, rendered by
cmark-gfm with GitHub's tables, for Internet Explorer 4 and later (plain ASCII, numeric
references for other characters, tables with borders, CSS level 1 in manual.css, no script),
and from those pages one HTML Help file with a table of contents and an index, compiled by
chmcmd.

Usage: manual.py OUT-DIR CHM-NAME TITLE STYLE-SHEET CMARK-GFM CHMCMD SOURCE.md=PAGE.html...

The first page is the one the manual opens with; the contents list the pages in the order given,
each with its sections. Links between the documents become links between the pages; a link to
a Markdown file that is not one of them stays as written (the kit's test finds it).
"""
import html
import pathlib
import re
import shutil
import subprocess
import sys

HEADING = re.compile(r"<h([1-6])>(.*?)</h\1>", re.S)
LINK = re.compile(r'(<a href=")([^"#]*)(#[^"]*)?(")')
IMAGE = re.compile(r'<img src="([^"]+)"')
EXPORT = re.compile(r"<code>(cVexo\w+)</code>")


def slug(text):
    """The anchor GitHub gives a heading: lower case, punctuation dropped, spaces to hyphens."""
    text = html.unescape(re.sub(r"<[^>]+>", "", text)).strip().lower()
    return re.sub(r"[^\w\- ]", "", text).replace(" ", "-")


def plain(text):
    return html.unescape(re.sub(r"<[^>]+>", "", text)).strip()


def ascii_only(text):
    return "".join(c if ord(c) < 128 else "&#%d;" % ord(c) for c in text)


class Page:
    def __init__(self, source, name):
        self.source, self.name = pathlib.Path(source), name
        self.title, self.sections, self.body, self.images = "", [], "", []


def render(page, cmark, pages_by_source):
    body = subprocess.run([cmark, "-e", "table", "--to", "html", str(page.source)], check=True,
                          capture_output=True, text=True).stdout

    def heading(match):
        level, text = int(match.group(1)), match.group(2)
        anchor = slug(text)
        if level == 1 and not page.title:
            page.title = plain(text)
        elif level in (2, 3):
            page.sections.append((level, plain(text), anchor))
        return f'<h{level}><a name="{anchor}"></a>{text}</h{level}>'

    def link(match):
        target = match.group(2)
        if target.endswith(".md") and not re.match(r"[a-z]+:", target):
            resolved = (page.source.parent / target).resolve()
            if resolved in pages_by_source:
                target = pages_by_source[resolved].name
        return match.group(1) + target + (match.group(3) or "") + match.group(4)

    body = HEADING.sub(heading, body)
    body = LINK.sub(link, body)
    body = body.replace("<table>", '<table border="1" cellspacing="0" cellpadding="4">')
    page.images = IMAGE.findall(body)
    page.body = body


def page_text(page, pages, title):
    others = " | ".join(f'<a href="{p.name}">{html.escape(p.title)}</a>' for p in pages)
    return ascii_only(
        '<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.01//EN">\n'
        f"<html>\n<head>\n<title>{html.escape(page.title)}</title>\n"
        '<link rel="stylesheet" type="text/css" href="manual.css">\n</head>\n<body>\n'
        f"{page.body}"
        f'<p class="pages">{html.escape(title)}: {others}</p>\n</body>\n</html>\n')


def sitemap_entry(name, local):
    return ('<li><object type="text/sitemap">'
            f'<param name="Name" value="{html.escape(name)}">'
            f'<param name="Local" value="{local}"></object>\n')


def contents(pages):
    lines = ['<!DOCTYPE HTML PUBLIC "-//IETF//DTD HTML//EN">\n<html><body>\n<ul>\n']
    for page in pages:
        lines.append(sitemap_entry(page.title, page.name))
        sections = [s for s in page.sections if s[0] == 2]
        if sections:
            lines.append("<ul>\n")
            lines += [sitemap_entry(text, f"{page.name}#{anchor}") for _, text, anchor in sections]
            lines.append("</ul>\n")
    lines.append("</ul>\n</body></html>\n")
    return ascii_only("".join(lines))


def index(pages):
    """Every section by its heading, and every export at the first section that names it (the
    reference first)."""
    entries = {}
    for page in sorted(pages, key=lambda p: p.name != "reference.html"):
        for _, text, anchor in page.sections:
            entries.setdefault(text, f"{page.name}#{anchor}")
        anchor = ""
        for piece in re.split(r'(<a name="[^"]*"></a>)', page.body):
            named = re.fullmatch(r'<a name="([^"]*)"></a>', piece)
            if named:
                anchor = named.group(1)
                continue
            for export in EXPORT.findall(piece):
                entries.setdefault(export, f"{page.name}#{anchor}" if anchor else page.name)
    lines = ['<!DOCTYPE HTML PUBLIC "-//IETF//DTD HTML//EN">\n<html><body>\n<ul>\n']
    lines += [sitemap_entry(key, entries[key]) for key in sorted(entries, key=str.lower)]
    lines.append("</ul>\n</body></html>\n")
    return ascii_only("".join(lines))


# The viewer's window: three panes, with the contents, index and search tabs, the title following
# the page, the contents following the page shown (HHWIN_PROP_TRI_PANE, TAB_SEARCH, AUTO_SYNC,
# CHANGE_TITLE), the buttons Hide, Back, Forward, Home, Print and Options, a contents pane 240
# pixels wide, open, and a window of 800 by 600 pixels.
WINDOW_STYLE, WINDOW_BUTTONS = 0x2520, 0x304E


def project(chm_name, title, pages, files):
    first = pages[0].name
    return (f"[OPTIONS]\nCompatibility=1.1 or later\nCompiled file={chm_name}\n"
            "Contents file=contents.hhc\nIndex file=index.hhk\nDefault Window=main\n"
            f"Default topic={first}\nDisplay compile progress=No\n"
            f"Full-text search=Yes\nLanguage=0x409 English (United States)\nTitle={title}\n\n"
            "[WINDOWS]\n"
            f'main="{title}","contents.hhc","index.hhk","{first}","{first}",,,,,'
            f"0x{WINDOW_STYLE:X},240,0x{WINDOW_BUTTONS:X},[40,30,840,630],,,,0,,,0\n\n"
            "[FILES]\n" + "".join(f + "\n" for f in files))


def write_crlf(path, text):
    path.write_bytes(text.replace("\r\n", "\n").replace("\n", "\r\n").encode("ascii"))


def main():
    out, chm_name, title, style, cmark, chmcmd, *page_arguments = sys.argv[1:]
    out = pathlib.Path(out)
    if out.exists():
        shutil.rmtree(out)
    (out / "images").mkdir(parents=True)
    pages = []
    for argument in page_arguments:
        source, name = argument.rsplit("=", 1)
        pages.append(Page(source, name))
    by_source = {p.source.resolve(): p for p in pages}
    for page in pages:
        render(page, cmark, by_source)
    files = ["manual.css"]
    write_crlf(out / "manual.css", pathlib.Path(style).read_text())
    for page in pages:
        for image in page.images:
            if image.startswith("images/") and image not in files:
                shutil.copyfile(page.source.parent / image, out / image)
                files.append(image)
        write_crlf(out / page.name, page_text(page, pages, title))
        files.append(page.name)
    write_crlf(out / "contents.hhc", contents(pages))
    write_crlf(out / "index.hhk", index(pages))
    write_crlf(out / "manual.hhp", project(chm_name, title, pages, sorted(files)))
    subprocess.run([chmcmd, "manual.hhp"], cwd=out, check=True, stdout=subprocess.DEVNULL)
    if not (out / chm_name).is_file():
        sys.exit(f"chmcmd made no {chm_name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
