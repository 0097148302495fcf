#!/usr/bin/env python3
"""scripts/check_commits.sh on a small repository: only the branch's own commits count."""
import os
import subprocess
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPT = os.path.join(ROOT, "scripts", "check_commits.sh")


def git(root, *args):
    env = dict(os.environ, GIT_AUTHOR_NAME="t", GIT_AUTHOR_EMAIL="t@example.com", GIT_COMMITTER_NAME="t",
               GIT_COMMITTER_EMAIL="t@example.com")
    subprocess.run(["git", "-C", root, *args], check=True, capture_output=True, env=env)


class CheckCommitsTest(unittest.TestCase):
    def test_messages_of_the_branch(self):
        long_subject = "x" * 73
        # (the branch's commit message, passes)
        cases = [
            ("Say what changed\n\nSay why.", True),
            ("x" * 72 + "\n\nWhy.", True),
            (long_subject + "\n\nWhy.", False),
            ("Say what changed", False),
            ("Say what changed\n\n  \n", False),
        ]
        for message, passes in cases:
            with self.subTest(message=message), tempfile.TemporaryDirectory() as root:
                git(root, "init", "-q", "-b", "main")
                # History on the base is never checked, however it reads.
                git(root, "commit", "-q", "--allow-empty", "-m", long_subject)
                git(root, "checkout", "-q", "-b", "topic")
                git(root, "commit", "-q", "--allow-empty", "-m", message)
                result = subprocess.run(["bash", SCRIPT, "main"], env=dict(os.environ, KESTRUNE_ROOT=root),
                                        capture_output=True, text=True)
                self.assertEqual(result.returncode, 0 if passes else 1, result.stdout + result.stderr)


if __name__ == "__main__":
    unittest.main()
