#!/usr/bin/env python3
"""scripts/run_tests.sh against a stand-in for ctest that fails the tests it is told to."""
import os
import subprocess
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPT = os.path.join(ROOT, "scripts", "run_tests.sh")

# The stand-in: a whole run fails the tests in FAILS_FIRST (and writes
# ctest's log of failed tests), a run of one test fails it when it is in
# FAILS_AGAIN. BROKEN_CTEST fails without running a test.
CTEST = r"""#!/usr/bin/env python3
import os, sys
args = sys.argv[1:]
preset = args[args.index("--preset") + 1]
if os.environ.get("BROKEN_CTEST"):
    sys.exit(8)
log = os.path.join("build", preset, "Testing", "Temporary", "LastTestsFailed.log")
os.makedirs(os.path.dirname(log), exist_ok=True)
if "-R" in args:
    name = args[args.index("-R") + 1].strip("^$")
    failed = [name] if name in os.environ.get("FAILS_AGAIN", "").split() else []
else:
    failed = os.environ.get("FAILS_FIRST", "").split()
if failed:
    with open(log, "w") as out:
        out.writelines(f"{i + 1}:{name}\n" for i, name in enumerate(failed))
print("ran", " ".join(args))
sys.exit(8 if failed else 0)
"""


class RunTestsTest(unittest.TestCase):
    def test_reruns_and_flaky_names(self):
        # (fails on the whole run, fails again alone, broken ctest, exit code, flaky names)
        cases = [
            ("", "", False, 0, []),
            ("wine_a", "", False, 0, ["native/wine_a"]),
            ("wine_a wine_b", "wine_b", False, 1, ["native/wine_a"]),
            ("wine_b", "wine_b", False, 1, []),
            ("", "", True, 1, []),
        ]
        for first, again, broken, code, flaky in cases:
            with self.subTest(first=first, again=again, broken=broken), tempfile.TemporaryDirectory() as root:
                bin_dir = os.path.join(root, "bin")
                os.makedirs(bin_dir)
                with open(os.path.join(bin_dir, "ctest"), "w") as ctest:
                    ctest.write(CTEST)
                os.chmod(os.path.join(bin_dir, "ctest"), 0o755)
                flaky_file = os.path.join(root, "flaky")
                env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"], KESTRUNE_ROOT=root,
                           KESTRUNE_FLAKY_FILE=flaky_file, FAILS_FIRST=first, FAILS_AGAIN=again,
                           BROKEN_CTEST="1" if broken else "")
                result = subprocess.run(["bash", SCRIPT, "native"], env=env, capture_output=True, text=True)
                self.assertEqual(result.returncode, code, result.stdout + result.stderr)
                listed = open(flaky_file).read().split() if os.path.exists(flaky_file) else []
                self.assertEqual(listed, flaky)
                for name in flaky:
                    self.assertIn("flaky: " + name, result.stdout)
                self.assertEqual(result.stdout.count("flaky: "), len(flaky))


if __name__ == "__main__":
    unittest.main()
