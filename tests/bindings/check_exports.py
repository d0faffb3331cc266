#!/usr/bin/env python3
"""Checks that the host build of the library exports exactly the functions VexoDLL.def names,
under the same names, and nothing else.

Usage: check_exports.py LIBRARY DEF-FILE
"""
import re
import subprocess
import sys


def main():
    library, definition = sys.argv[1:3]
    with open(definition) as text:
        wanted = set(re.findall(r"^\s+(cVexo\w+)\s+@\d+", text.read(), re.MULTILINE))
    symbols = subprocess.run(["nm", "-D", "--defined-only", library], check=True,
                             capture_output=True, text=True).stdout.split("\n")
    exported = {line.split()[-1] for line in symbols if re.search(r" [TtWw] ", line)}
    problems = ["missing: " + name for name in sorted(wanted - exported)]
    problems += ["not in VexoDLL.def: " + name for name in sorted(exported - wanted)]
    print("\n".join(problems) or "%d exports, as VexoDLL.def names them" % len(wanted))
    return 1 if problems or len(wanted) != 19 else 0


if __name__ == "__main__":
    sys.exit(main())
