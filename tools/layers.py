#!/usr/bin/env python3
"""Draws the include graph of the product folders and checks the layering.

    python3 tools/layers.py            prints the folder graph, then the findings
    python3 tools/layers.py --quiet    the findings only

Product folders are platform/, common/, data/, each instrument/<subsystem>/,
app/ and python/. The house stands in layers, each including only itself and
what is below it:

    python/             the Python module, over the commands' core
    app/                the commands
    instrument/system/  power-on and power-off, over the subsystems
    instrument/*/       the subsystems (no circle among them)
    instrument/record/  the system information record and its parts' types
    data/               records and data files
    common/             hooks, utilities, directories, host, parsers
    platform/           every operating-system call

A finding is a circle between product folders, a product file that includes
sim/ or tests/, a folder that includes one above it where the order above is
fixed (platform/, common/, data/ and instrument/record/ include nothing
above them), a subsystem that includes instrument/system/, or a product
source over 1500 lines. Findings listed in tools/layers-known.txt (one per
line, as printed) are debts still being paid: they are reported but do not
fail the check, and one that no longer occurs must be removed from the list.
Exits 1 on any other finding.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
KNOWN = os.path.join(ROOT, "tools", "layers-known.txt")
MAX_LINES = 1500
# Lower layers first; a folder may include its own layer and those before it.
FIXED_ORDER = ["platform", "common", "data", "instrument/record"]
TOPS = ["platform", "common", "data", "instrument", "app", "python"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folder_of(path):
    """The product folder of a repository path, or None."""
    parts = path.split("/")
    if parts[0] == "instrument" and len(parts) > 2:
        return "instrument/" + parts[1]
    if parts[0] in TOPS and len(parts) > 1:
        return parts[0]
    return None


def product_files():
    for top in TOPS:
        for dirpath, _, names in os.walk(os.path.join(ROOT, top)):
            for name in sorted(names):
                if name.endswith((".cpp", ".h")):
                    yield os.path.relpath(os.path.join(dirpath, name), ROOT).replace(os.sep, "/")


def circles(edges):
    """Strongly connected components of more than one folder (Tarjan)."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []

    def visit(v):
        index[v] = low[v] = len(index)
        stack.append(v)
        on_stack.add(v)
        for w in sorted(edges.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                found.append(sorted(component))

    for v in sorted(edges):
        if v not in index:
            visit(v)
    return found


def main():
    quiet = "--quiet" in sys.argv[1:]
    edges, example, findings = {}, {}, []
    for path in product_files():
        with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as f:
            text = f.read()
        if path.endswith(".cpp") and text.count("\n") > MAX_LINES:
            findings.append(f"{path} holds over {MAX_LINES} lines")
        here = folder_of(path)
        for target in INCLUDE.findall(text):
            top = target.split("/")[0]
            if top in ("sim", "tests"):
                findings.append(f"{path} includes {top}/: {target}")
                continue
            there = folder_of(target)
            if there is None or there == here:
                continue
            edges.setdefault(here, set()).add(there)
            example.setdefault((here, there), f"{path} -> {target}")
            if there == "instrument/system" and here.startswith("instrument/"):
                findings.append(f"{here}/ includes the power-on layer: {path} -> {target}")
            if here in FIXED_ORDER:
                allowed = FIXED_ORDER[: FIXED_ORDER.index(here) + 1]
                if there not in allowed:
                    findings.append(f"{here}/ includes {there}/: {path} -> {target}")
    for component in circles(edges):
        findings.append("circle: " + ", ".join(component))

    if not quiet:
        print("folder include graph:")
        for here in sorted(edges):
            print(f"  {here} -> {', '.join(sorted(edges[here]))}")
    known = set()
    if os.path.exists(KNOWN):
        with open(KNOWN, encoding="utf-8") as f:
            known = {line.strip() for line in f if line.strip() and not line.startswith("#")}
    new = [x for x in findings if x not in known]
    gone = sorted(known - set(findings))
    for x in findings:
        print(("known: " if x in known else "NEW:   ") + x)
    for x in gone:
        print("gone:  " + x + " (remove it from tools/layers-known.txt)")
    print(f"layers: {len(new)} new, {len(findings) - len(new)} known, {len(gone)} gone")
    return 1 if new or gone else 0


if __name__ == "__main__":
    sys.exit(main())
