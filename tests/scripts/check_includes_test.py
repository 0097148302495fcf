#!/usr/bin/env python3
"""scripts/check_includes.py on small planted trees, and on the repository."""
import importlib.util
import os
import re
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
CHECK = os.path.join(ROOT, "scripts", "check_includes.py")


def run(root):
    return subprocess.run([sys.executable, CHECK, root], capture_output=True, text=True)


class CheckIncludesTest(unittest.TestCase):
    def test_planted_trees(self):
        # (file, the line it holds, passes, a text the report names)
        cases = [
            ("hw/Planted.cpp", '#include "install/InstallRun.h"', False, "hw/Planted.cpp:2: hw/ may not include"),
            ("common/Planted.h", '#include "hw/Readwrite.h"', False, "common/ may not include hw/Readwrite.h"),
            ("sys/win32/Planted.cpp", '#include "hw/Readwrite.h"', False, "sys/win32/ may not include"),
            ("sys/Planted.h", '#include "sys/win32/ComPtr.h"', False, "sys/ may not include"),
            ("update/Planted.cpp", '#  include "install/Utils.h"', False, "update/ may not include"),
            ("sim/board/Planted.cpp", '#include "app/ProductCollaborators.h"', False, "sim/board/ may not include"),
            ("hw/Planted.cpp", '#include "common/Utils.h"', True, ""),
            ("install/Planted.cpp", '#include "platform/Cpubase.h"', True, ""),
            ("sim/board/Planted.cpp", '#include "sim/os/FakeFiles.h"', True, ""),
            ("hw/Planted.cpp", '#include "BuildConfig.h"', True, ""),
            ("hw/Planted.cpp", "#include <windows.h>", True, ""),
            ("tests/hw/PlantedTest.cpp", '#include "app/ProductCollaborators.h"', True, ""),
        ]
        for path, line, passes, named in cases:
            with self.subTest(path=path, line=line), tempfile.TemporaryDirectory() as root:
                os.makedirs(os.path.join(root, os.path.dirname(path)))
                with open(os.path.join(root, path), "w") as source:
                    source.write("// planted\n" + line + "\n")
                result = run(root)
                self.assertEqual(result.returncode, 0 if passes else 1, result.stdout)
                self.assertIn(named, result.stdout)

    def test_the_architecture_draws_the_same_table(self):
        spec = importlib.util.spec_from_file_location("check_includes", CHECK)
        check = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(check)
        drawn = {}
        with open(os.path.join(ROOT, "docs", "architecture.md")) as doc:
            for line in doc:
                row = re.match(r"^\| `([a-z0-9/]+)/` \| (.*) \|$", line.strip())
                if row:
                    drawn[row.group(1)] = set(re.findall(r"`([a-z0-9/]+)/`", row.group(2)))
        drawn.pop(check.TESTS, None)
        self.assertEqual(drawn, check.ALLOWED)

    def test_the_repository_follows_its_layers(self):
        result = run(ROOT)
        self.assertEqual(result.returncode, 0, result.stdout)


if __name__ == "__main__":
    unittest.main()
