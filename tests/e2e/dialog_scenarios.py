#!/usr/bin/env python3
"""End-to-end scenarios with message boxes: the real program under Wine on a
virtual X display (Xvfb), where each run blocks on its question until the
test answers it with a key press.

One display serves the whole suite. The suite starts it, runs each scenario
with a fresh wineserver of the build's prefix on it, and always stops both
again, so the other suites keep running without a display.

Usage: dialog_scenarios.py BUILD_DIR SOURCE_DIR [unittest arguments]
"""
import os
import select
import subprocess
import time
import unittest

from e2e_support import (BOARDS, NOT_READY, PREFIX, SERVED_PACKAGE, SIM, WINE_RUN, Scenario)

WINESERVER = "/usr/lib/wine/wineserver"
CAPTION = "Kestrune"
DISPLAY_TIMEOUT = 30  # seconds until Xvfb must accept clients
# Upper bounds, not waits: generous, for machines that emulate 32-bit code
# (see scripts/setup.sh) and start each program more slowly.
BOX_TIMEOUT = 300  # seconds until a box must show
EXIT_TIMEOUT = 300  # seconds until the run must end once answered
YES = "Return"
NO = "n"


class Display:
    """An Xvfb server on a display number it chose itself."""

    def __init__(self):
        read_end, write_end = os.pipe()
        try:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)
        except BaseException:
            os.close(read_end)
            raise
        finally:
            os.close(write_end)
        # Xvfb writes the display number once it accepts clients, or ends
        # (closing the pipe) when it cannot start.
        number = b""
        try:
            deadline = time.monotonic() + DISPLAY_TIMEOUT
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                ready, _, _ = select.select([read_end], [], [], deadline - time.monotonic())
                chunk = os.read(read_end, 16) if ready else b""
                if not chunk:
                    break
                number += chunk
        finally:
            os.close(read_end)
        if not number.strip().isdigit():
            self.stop()
            raise RuntimeError("Xvfb did not start within %d s (no display number)" % DISPLAY_TIMEOUT)
        self.name = ":" + number.strip().decode()

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def stop_wineserver():
    """Ends the prefix's wineserver and everything it runs; the next program
    started through wine-run.sh brings up a new one in the current environment."""
    env = dict(os.environ, WINEPREFIX=PREFIX)
    subprocess.run([WINESERVER, "-k"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=30)
    subprocess.run([WINESERVER, "-w"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=30)


_saved_display = None


def setUpModule():
    global _saved_display
    _saved_display = os.environ.get("DISPLAY")
    display = Display()
    unittest.addModuleCleanup(display.stop)
    unittest.addModuleCleanup(restore_environment)
    unittest.addModuleCleanup(stop_wineserver)
    os.environ["DISPLAY"] = display.name


def restore_environment():
    if _saved_display is None:
        os.environ.pop("DISPLAY", None)
    else:
        os.environ["DISPLAY"] = _saved_display


def xdotool(*args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True, stdin=subprocess.DEVNULL,
                          timeout=10)


def boxes():
    """The visible top-level windows captioned like the program's message boxes."""
    found = xdotool("search", "--onlyvisible", "--name", "^%s$" % CAPTION)
    return [line for line in found.stdout.split() if line.isdigit()]


class DialogScenario(Scenario):
    def setUp(self):
        # A fresh wineserver for each scenario: Wine's desktop then uses this
        # display, and no key press meant for an earlier box is left in its
        # input to answer this scenario's box.
        stop_wineserver()
        super().setUp()

    def start_program(self, board, *switches):
        env = dict(os.environ, **self.environment(board))
        self.output_path = os.path.join(os.path.dirname(self.starts), "output.txt")
        # The output goes to a file: no pipe that a Wine background process could keep open.
        with open(self.output_path, "wb") as output:
            self.process = subprocess.Popen([WINE_RUN, SIM, *switches], cwd=self.work, env=env, stdout=output,
                                            stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(self.end_program)

    def end_program(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def output(self):
        with open(self.output_path, "rb") as output:
            return output.read().decode("latin-1").replace("\r\n", "\n")

    def fail_run(self, why):
        self.end_program()
        self.fail("%s\nprogram output:\n%s" % (why, self.output()))

    def wait_for_box(self):
        deadline = time.monotonic() + BOX_TIMEOUT
        while time.monotonic() < deadline:
            found = boxes()
            if found:
                self.assertEqual(len(found), 1, "more than one %r window: %s" % (CAPTION, found))
                return found[0]
            if self.process.poll() is not None:
                self.fail_run("the program ended (exit %d) without showing a %r box" %
                              (self.process.returncode, CAPTION))
            time.sleep(0.1)
        self.fail_run("no %r box within %d s" % (CAPTION, BOX_TIMEOUT))

    def answer(self, box, key):
        """Presses the key in the box until the box is gone (a key sent while
        the box is still being mapped can be lost)."""
        deadline = time.monotonic() + BOX_TIMEOUT
        while time.monotonic() < deadline:
            xdotool("key", "--window", box, key)
            pressed = time.monotonic()
            while time.monotonic() < pressed + 2:
                if box not in boxes():
                    return
                time.sleep(0.1)
        self.fail_run("the %r box %s did not close on %r within %d s" % (CAPTION, box, key, BOX_TIMEOUT))

    def wait_for_exit(self):
        try:
            code = self.process.wait(timeout=EXIT_TIMEOUT)
        except subprocess.TimeoutExpired:
            self.fail_run("the program did not end within %d s after the answer; open %r boxes: %s" %
                          (EXIT_TIMEOUT, CAPTION, boxes()))
        return code, self.output()


class BiosQuestion(DialogScenario):
    def test_answered_no_ends_the_run_before_any_download(self):
        self.publish()
        self.start_program(NOT_READY)
        self.answer(self.wait_for_box(), NO)
        code, out = self.wait_for_exit()
        self.assertEqual(code, 2, out)
        self.assertEqual(self.state("EXERetCode"), 2)
        self.assertEqual(self.state("BiosUpdate"), None)
        self.assertEqual(self.server.requests(), [])
        self.assertFalse(os.path.exists(os.path.join(self.work, "Z270 Forge.xml")))
        self.assertFalse(os.path.exists(os.path.join(self.work, "Z270F210.zip")))
        self.assertFalse(os.path.exists(os.path.join(self.work, "ROM")))
        self.assertEqual(self.child_starts(), [])
        self.assertNotIn("Ready to Update BIOS", out)

    def test_answered_yes_goes_on_to_the_flash_tool(self):
        self.publish()
        self.start_program(NOT_READY)
        self.answer(self.wait_for_box(), YES)
        code, out = self.wait_for_exit()
        self.assertEqual(code, 255, out)
        self.assertIn("Ready to Update BIOS\n", out)
        self.assertEqual(self.state("EXERetCode"), -1)
        self.assertEqual(self.state("BiosUpdate"), 1)
        self.assertEqual(self.server.requests(), ["/support/LiveUpdate.asp?Model=Z270%20Forge", SERVED_PACKAGE])
        self.assertTrue(os.path.isfile(os.path.join(self.work, "ROM", "Flash.exe")))
        flash = self.child_starts()
        self.assertEqual(len(flash), 1)
        self.assertTrue(flash[0][1].endswith(" /S /C"), flash[0])


class Unattended(DialogScenario):
    def test_silent_run_shows_no_box_when_the_driver_cannot_be_loaded(self):
        # The loader's own box would wait for a person that an installer
        # running "/SP" does not have: the run ends without it.
        self.start_program("kabylake-z270-no-driver.json", "/SP")
        seen = set()
        deadline = time.monotonic() + EXIT_TIMEOUT
        while self.process.poll() is None and time.monotonic() < deadline:
            for caption in ("Error", CAPTION):
                if xdotool("search", "--onlyvisible", "--name", "^%s$" % caption).stdout.split():
                    seen.add(caption)
            time.sleep(0.2)
        self.assertEqual(seen, set())
        code, out = self.wait_for_exit()
        self.assertEqual(code, 1, out)
        self.assertEqual(self.state("EXERetCode"), 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
