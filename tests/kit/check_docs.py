#!/usr/bin/env python3
"""Checks that every C sample in the README and docs/ is a file the build compiles, included
verbatim: a ```c block must follow a line <!-- sample: PATH --> and equal that file.

Usage: check_docs.py SOURCE-DIR
"""
import pathlib
import re
import sys

MARKER = re.compile(r"<!-- sample: (\S+) -->")


def check(document, root):
    problems = []
    lines = document.read_text().splitlines()
    for number, line in enumerate(lines):
        if line.strip() not in ("```c", "```cpp"):
            continue
        where = f"{document.relative_to(root)}:{number + 1}"
        marker = MARKER.search(lines[number - 1]) if number > 0 else None
        if not marker:
            problems.append(f"{where}: C sample without a '<!-- sample: PATH -->' line above it")
            continue
        # A sample inside a list item is indented like its fences.
        indent = line[:len(line) - len(line.lstrip())]
        end = lines.index(indent + "```", number + 1)
        block = "\n".join(text[len(indent):] if text.startswith(indent) else text
                          for text in lines[number + 1:end]) + "\n"
        sample = root / marker.group(1)
        if not sample.is_file():
            problems.append(f"{where}: {marker.group(1)} does not exist")
        elif sample.read_text() != block:
            problems.append(f"{where}: the block differs from {marker.group(1)}")
    return problems


def main():
    root = pathlib.Path(sys.argv[1])
    documents = [root / "README.md", root / "cmake/package/README.md",
                 *sorted((root / "docs").rglob("*.md"))]
    problems = [p for document in documents for p in check(document, root)]
    for problem in problems:
        print(problem)
    print(f"{len(documents)} documents checked: {'FAIL' if problems else 'ok'}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
