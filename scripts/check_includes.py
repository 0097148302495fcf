#!/usr/bin/env python3
"""Checks that the code's includes follow its layers.

Every `#include "folder/..."` from one folder of the project into another
must be an edge the table below allows; includes within a folder are free.
A file belongs to the longest folder of the table its path starts with
(sys/win32/ before sys/). docs/architecture.md draws the same table.

Usage: check_includes.py [ROOT]   (ROOT: the repository, by default this
script's own). Prints each include that crosses no allowed edge and exits
with 1 when there is one.
"""
import os
import re
import sys

# folder -> the folders its files may include. Arrows point down: no folder
# reaches one that reaches back to it.
ALLOWED = {
    "app": {"install", "platform", "hw", "update", "common", "sys", "sys/win32"},
    "install": {"platform", "update", "common", "sys"},
    "update": {"common", "sys"},
    "platform": {"hw", "common", "sys"},
    "hw": {"common", "driver", "sys"},
    "common": {"driver", "sys"},
    "sys/win32": {"sys"},
    "sys": set(),
    "driver": set(),
    # The fakes of the seams, and the simulated board on them and on the
    # driver's request core.
    "sim/os": {"common", "sys"},
    "sim/board": {"sim/os", "hw", "common", "driver", "sys"},
    # KestruneSim.exe: the product's program on a simulated board.
    "sim": {"sim/board", "app", "install", "sys/win32"},
    # kestrune-probe: the hardware objects' readings, on a real or a
    # simulated board.
    "tools": {"sim/board", "sim/os", "install", "platform", "hw", "common", "sys", "sys/win32"},
}
# Tests may include what they test, from every folder.
TESTS = "tests"

SOURCE = re.compile(r"\.(c|cc|cpp|h|hpp|inc)$")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
# The longest folders first, so that sys/win32/x is in sys/win32.
FOLDERS = sorted(list(ALLOWED) + [TESTS], key=len, reverse=True)


def folder_of(path):
    for folder in FOLDERS:
        if path == folder or path.startswith(folder + "/"):
            return folder
    return None


def violations(root):
    found = []
    for top in sorted(set(f.split("/")[0] for f in FOLDERS)):
        for directory, _, files in os.walk(os.path.join(root, top)):
            for name in sorted(files):
                if not SOURCE.search(name):
                    continue
                path = os.path.relpath(os.path.join(directory, name), root).replace(os.sep, "/")
                source = folder_of(path)
                if source is None or source == TESTS:
                    continue
                with open(os.path.join(root, path), encoding="utf-8", errors="replace") as text:
                    for number, line in enumerate(text, 1):
                        match = INCLUDE.match(line)
                        target = folder_of(match.group(1)) if match else None
                        if target is None or target == source or target in ALLOWED[source]:
                            continue
                        found.append(f"{path}:{number}: {source}/ may not include {match.group(1)} ({target}/)")
    return found


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    found = violations(root)
    for line in found:
        print(line)
    if found:
        print(f"{len(found)} include(s) cross no allowed edge (scripts/check_includes.py)")
        return 1
    print("includes follow the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
