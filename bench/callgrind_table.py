#!/usr/bin/env python3
"""Runs vexo_bench under callgrind and prints, per transfer case, the bus accesses per element
next to the prescribed counts and the library's own instructions per element next to the budget
(40 plus 4 per bus access), then the instructions of cVexoOpen's scan per probe.

The library's own instructions of a case are the inclusive count of the export it calls minus
the inclusive counts of the null bus's functions (bench/platform_null.cpp) beneath it; the
benchmark's loop is outside both. Each case is a separate callgrind dump, marked by a client
request in the benchmark.

Usage: bench/callgrind_table.py BUILD_DIR/bench/vexo_bench   (a build without sanitizers)
"""
import glob
import os
import re
import subprocess
import sys
import tempfile

BUDGET_BASE = 40
BUDGET_PER_ACCESS = 4


def annotate(path):
    """Trigger name and {file:function: inclusive Ir} of one callgrind dump."""
    out = subprocess.run(
        ["callgrind_annotate", "--inclusive=yes", "--threshold=100", "--auto=no", path],
        check=True, capture_output=True, text=True).stdout
    trigger = re.search(r"^Trigger: Client Request: (.*)$", out, re.M)
    costs = {}
    for line in out.splitlines():
        m = re.match(r"^\s*([\d,]+) \([\s\d.]+%\)\s+(\S.*?)(?: \[.*\])?$", line)
        if m:
            costs[m.group(2)] = int(m.group(1).replace(",", ""))
    return (trigger.group(1) if trigger else None), costs


def library_instructions(costs):
    exports = sum(v for k, v in costs.items() if re.search(r"/lib/exports\.cpp:cVexo\w+$", k))
    bus = sum(v for k, v in costs.items() if "/bench/platform_null.cpp:" in k)
    return exports - bus


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    bench = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory() as work:
        run = subprocess.run(
            ["valgrind", "--tool=callgrind", f"--callgrind-out-file={work}/cg.out", bench],
            cwd=work, capture_output=True, text=True)
        if run.returncode != 0:
            sys.exit(f"vexo_bench failed under callgrind:\n{run.stdout}\n{run.stderr}")
        dumps = {}
        for path in glob.glob(f"{work}/cg.out.*"):
            name, costs = annotate(path)
            if name:
                dumps[name] = costs

    rows = {}
    probes = {}
    for line in run.stdout.splitlines():
        m = re.match(r"^\| (\w+ \w+ \S+)\s*\|\s*(\d+) \|" + r"\s*([\d.]+) \|" * 4 +
                     r"\s*(\d+)/(\d+)/(\d+)/(\d+) \| (\w+) \|$", line)
        if m:
            rows[m.group(1)] = m.groups()[1:]
        m = re.match(r"^(open \w+): .* (\d+) probes$", line)
        if m:
            probes[m.group(1)] = int(m.group(2))

    print("| transfer | bus accesses per element: port reads / port writes / loads / stores "
          "| prescribed | instructions per element | budget | within |")
    print("|---|---|---|---|---|---|")
    within_all = True
    for name, (elements, reads, writes, loads, stores, *prescribed, verdict) in rows.items():
        accesses = float(reads) + float(writes) + float(loads) + float(stores)
        own = library_instructions(dumps[name]) / int(elements)
        budget = BUDGET_BASE + BUDGET_PER_ACCESS * accesses
        within = own <= budget
        within_all &= within and verdict == "equal"
        print(f"| {name} | {float(reads):g} / {float(writes):g} / {float(loads):g} / "
              f"{float(stores):g} | {'/'.join(prescribed)} ({verdict}) | {own:.1f} | "
              f"{budget:g} | {'yes' if within else 'NO'} |")
    first = library_instructions(dumps["open first"])
    last = library_instructions(dumps["open last"])
    extra_probes = probes["open last"] - probes["open first"]
    print()
    print(f"cVexoOpen, library's own instructions: {first} with the card at the first probe, "
          f"{last} with it at the last ({probes['open last']} probes): "
          f"{(last - first) / extra_probes:.2f} per probe beyond its two port accesses")
    sys.exit(0 if within_all else 1)


if __name__ == "__main__":
    main()
