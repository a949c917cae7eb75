#!/usr/bin/env python3
"""scripts/check-includes.py against small trees that break one rule each,
and against the repository itself, which must keep every rule."""
import os
import subprocess
import sys
import tempfile

SCRIPT = os.path.join(sys.argv[1], "scripts", "check-includes.py")


def run(root):
    done = subprocess.run([sys.executable, SCRIPT, root], capture_output=True, text=True)
    return done.returncode, done.stdout


def tree(files):
    root = tempfile.mkdtemp()
    for path, includes in files.items():
        os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
        with open(os.path.join(root, path), "w") as f:
            f.write("".join(f'#include "{i}"\n' for i in includes) + "#include <vector>\n")
    return root


SOUND = {
    "core/infra/A.h": [],
    "core/device/B.cpp": ["core/infra/A.h", "core/device/B.h"],
    "core/device/B.h": [],
    "gui/widgets/W.h": ["core/infra/A.h"],
    "gui/pages/P.cpp": ["gui/widgets/W.h", "core/device/B.h"],
    "gui/shell/S.cpp": ["gui/pages/P.h", "gui/widgets/W.h"],
    "tools/korva/T.cpp": ["core/device/B.h"],
}

CASES = [
    ("core includes gui", {"core/device/B.h": ["gui/widgets/W.h"]}, "core/ may include only core/"),
    ("core includes a tool", {"core/infra/A.h": ["tools/korva/T.h"]}, "core/ may include only core/"),
    ("widgets include a page", {"gui/widgets/W.h": ["gui/pages/P.h"]}, "widgets may not include pages or the shell"),
    ("widgets include the shell", {"gui/widgets/W.h": ["gui/shell/S.h"]}, "widgets may not include pages or the shell"),
    ("a page includes the shell", {"gui/pages/P.cpp": ["gui/shell/S.h"]}, "pages may not include the shell"),
    ("a tool includes the tests", {"tools/korva/T.cpp": ["tests/support/X.h"]}, "may not include tests or benchmarks"),
    ("two core folders include each other", {"core/infra/A.h": ["core/device/B.h"]},
     "folders include each other: core/device -> core/infra -> core/device"),
    ("a cycle through three folders",
     {"core/infra/A.h": ["core/engine/E.h"], "core/engine/E.h": ["core/device/B.h"]},
     "folders include each other: core/device -> core/infra -> core/engine -> core/device"),
]

failures = []
code, out = run(tree(SOUND))
if code != 0 or out:
    failures.append(f"a sound tree was refused: {code} {out!r}")
for name, changes, expected in CASES:
    code, out = run(tree({**SOUND, **changes}))
    if code != 1 or expected not in out:
        failures.append(f"{name}: expected exit 1 and {expected!r}, got {code} {out!r}")
code, out = run(sys.argv[1])
if code != 0:
    failures.append(f"the repository breaks the layering:\n{out}")

for line in failures:
    print("FAIL:", line)
sys.exit(1 if failures else 0)
