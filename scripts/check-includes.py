#!/usr/bin/env python3
"""Checks that the folders' layering holds, from the #include lines alone.

  - nothing under core/ includes a file outside core/ (core runs without a
    display, and the tools and the tests stand on it);
  - gui/widgets includes neither gui/pages nor gui/shell, and gui/pages does
    not include gui/shell: only the shell includes the pages;
  - nothing in core/, gui/ or tools/ includes tests/ or benchmarks/;
  - no two folders include each other, directly or through others.

Usage: check-includes.py [ROOT]   (ROOT defaults to the repository)
Prints one line per broken rule and exits with 1 if there is any.
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
CHECKED = ("core/", "gui/", "tools/")
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".c")


def includes_by_file(root):
    found = {}
    for top in ("core", "gui", "tools"):
        for folder, _, names in os.walk(os.path.join(root, top)):
            for name in sorted(names):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(folder, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                found[os.path.relpath(path, root)] = INCLUDE.findall(text)
    return found


def folder_of(path):
    return os.path.dirname(path)


def find_cycle(edges):
    """Returns one cycle of folders as a list, or None."""
    state = {}
    stack = []

    def visit(node):
        state[node] = "open"
        stack.append(node)
        for nxt in sorted(edges.get(node, ())):
            if state.get(nxt) == "open":
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                cycle = visit(nxt)
                if cycle:
                    return cycle
        stack.pop()
        state[node] = "done"
        return None

    for node in sorted(edges):
        if node not in state:
            cycle = visit(node)
            if cycle:
                return cycle
    return None


def check(root):
    problems = []
    edges = {}
    for path, included in sorted(includes_by_file(root).items()):
        here = folder_of(path)
        for target in included:
            where = f"{path}: includes {target}"
            if path.startswith("core/") and not target.startswith("core/"):
                problems.append(f"{where}: core/ may include only core/")
            if path.startswith("gui/widgets/") and target.startswith(("gui/pages/", "gui/shell/")):
                problems.append(f"{where}: widgets may not include pages or the shell")
            if path.startswith("gui/pages/") and target.startswith("gui/shell/"):
                problems.append(f"{where}: pages may not include the shell")
            if target.startswith(("tests/", "benchmarks/")):
                problems.append(f"{where}: the program may not include tests or benchmarks")
            if target.startswith(CHECKED) and folder_of(target) != here:
                edges.setdefault(here, set()).add(folder_of(target))
    cycle = find_cycle(edges)
    if cycle:
        problems.append("folders include each other: " + " -> ".join(cycle))
    return problems


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    problems = check(root)
    for line in problems:
        print(line)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
