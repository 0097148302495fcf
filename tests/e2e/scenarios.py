#!/usr/bin/env python3
"""End-to-end scenarios: the real program on simulated boards under Wine,
against a local HTTP server (see e2e_support.py), without a display, so that
every message box returns at once.

Usage: scenarios.py BUILD_DIR SOURCE_DIR [unittest arguments]
"""
import hashlib
import os
import shutil
import subprocess
import time
import unittest
import zipfile

from e2e_support import (BANNER, BUILD, IRST_KEY, MODEL, NOT_READY, PACKAGE_PATH, PREFIX, READY, RST_CODE, SERVED_PACKAGE,
                         RUN_TIMEOUT, SIM, SOURCE, STANDIN, STATE_KEY, WINE_RUN, Registry, Scenario, Server,
                         TestCertificates, wine,
                         windows_path)


class BiosRoad(Scenario):
    def test_full_sequence_across_three_restarts(self):
        self.publish()
        self.stand_in_for_msiexec()
        Registry.set_string(IRST_KEY, "ProductCode", RST_CODE)
        system32 = os.path.join(PREFIX, "drive_c", "windows", "system32")

        # Run 1: the BIOS lacks Optane support: the BIOS road.
        code, out = self.run_program(NOT_READY)
        self.assertTrue(out.startswith(BANNER), out)
        self.assertIn("SataMode=0\nReady to Update BIOS\n", out)
        self.assertEqual(code, 255)
        self.assertEqual(self.state("EXERetCode"), -1)
        self.assertEqual(self.state("BiosUpdate"), 1)
        self.assertEqual(self.server.requests(),
                         ["/support/LiveUpdate.asp?Model=Z270%20Forge", SERVED_PACKAGE])
        self.assertTrue(os.path.isfile(os.path.join(self.work, "Z270 Forge.xml")))
        self.assertTrue(os.path.isfile(os.path.join(self.work, "Z270F210.zip")))
        self.assertTrue(os.path.isfile(os.path.join(self.work, "ROM", "Flash.exe")))
        flash = self.child_starts()
        self.assertEqual(len(flash), 1)
        self.assertTrue(flash[0][1].endswith(" /S /C"), flash[0])
        self.assertIn("ROM", flash[0][0])
        setup = windows_path(os.path.join(self.work, "Optane", "SetupOptaneMemory.exe"))
        self.assertEqual(self.state("OptanePath"), setup)

        # Run 2, after the flash, from the system directory: uninstall Intel RST.
        code, out = self.run_program(READY, cwd=system32)
        self.assertEqual(code, 255)
        self.assertEqual(self.state("EXERetCode"), -1)
        self.assertEqual(self.state("BiosUpdate"), 0)
        self.assertEqual(self.state("InstallStatus"), None)
        uninstall = self.child_starts()[1]
        self.assertTrue(uninstall[1].endswith(" /x %s /quiet /forcerestart" % RST_CODE), uninstall)
        Registry.delete_key(IRST_KEY, "/reg:32")  # as the uninstaller would

        # Run 3: the BIOS is ready and no RST is registered: Intel's setup
        # starts and the progress line runs until the restart ends the run.
        out = self.run_until_progress(READY, cwd=system32)
        self.assertIn("Ready to Install Driver " + setup + "\n", out)
        self.assertIn("Installing Optane Memory Driver", out)
        self.assertEqual(self.state("InstallStatus"), 1)
        self.assertEqual(self.state("OptanePath"), "")
        self.assertEqual(self.state("EXERetCode"), -1)  # not written under the progress line
        starts = self.child_starts()
        self.assertEqual(len(starts), 3)
        self.assertTrue(starts[2][1].endswith(" -s -b"), starts[2])

        # Run 4: completion.
        code, out = self.run_program(READY, cwd=system32)
        self.assertEqual(code, 0)
        self.assertEqual(self.state("EXERetCode"), 0)
        self.assertEqual(self.state("InstallStatus"), 0)
        self.assertEqual(self.state("InstallFinish"), 1)

    def test_no_reboot_and_no_autorun(self):
        self.publish()
        code, _ = self.run_program(NOT_READY, "/NR", "/NA")
        self.assertEqual(code, 255)
        self.assertTrue(self.child_starts()[0][1].endswith(" /S /C /NR"))
        code, out = self.run_program(READY, "/NR")
        self.assertEqual(code, 255)
        self.assertNotIn("Installing Optane Memory Driver", out)
        self.assertTrue(self.child_starts()[1][1].endswith(" -s"), self.child_starts())

    def test_server_down(self):
        self.server.stop()
        started = time.monotonic()
        code, _ = self.run_program(NOT_READY, "/SP")
        self.assertEqual(code, 1)
        self.assertGreaterEqual(time.monotonic() - started, 3.0)  # four attempts, three pauses
        self.assertEqual(self.state("EXERetCode"), 1)
        self.assertEqual(self.state("BiosUpdate"), None)

    def test_package_not_found(self):
        self.server.publish_catalogue(MODEL, PACKAGE_PATH)
        code, _ = self.run_program(NOT_READY, "/SP")
        self.assertEqual(code, 1)
        self.assertEqual(self.server.requests().count(SERVED_PACKAGE), 4)
        self.assertFalse(os.path.exists(os.path.join(self.work, "ROM")))

    def test_package_that_is_no_archive_starts_nothing(self):
        # Neither the zip library nor the shell can unpack it: the run says so
        # with exit code 1 (never 2, which a calling installer reads as "No").
        self.server.publish_catalogue(MODEL, PACKAGE_PATH)
        target = os.path.join(self.server.root, SERVED_PACKAGE.lstrip("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as out:
            out.write(b"not a zip archive")
        code, out = self.run_program(NOT_READY, "/SP")
        self.assertEqual(code, 1, out)
        self.assertEqual(self.state("EXERetCode"), 1)
        self.assertIn(self.state("BiosUpdate"), (None, 0))
        self.assertEqual(self.child_starts(), [])

    def test_tool_comes_from_this_runs_package(self):
        # A ROM folder of an earlier release, with its own tool and a person's
        # notes: moved aside, never deleted; the package's upper-case tool runs.
        earlier = os.path.join(self.work, "ROM")
        os.makedirs(earlier)
        shutil.copy(STANDIN, os.path.join(earlier, "Old.exe"))
        with open(os.path.join(earlier, "notes.txt"), "w") as out:
            out.write("mine")
        self.server.publish_catalogue(MODEL, PACKAGE_PATH)
        self.server.publish_package(SERVED_PACKAGE, {"AFUWINx64.EXE": STANDIN, "Z270F210.bin": STANDIN})
        code, out = self.run_program(NOT_READY, "/SP")
        self.assertEqual(code, 255, out)
        flash = self.child_starts()
        self.assertEqual(len(flash), 1)
        self.assertIn("AFUWIN", flash[0][0].upper())
        aside = [name for name in os.listdir(self.work) if name.startswith("ROM.old-")]
        self.assertEqual(len(aside), 1, os.listdir(self.work))
        with open(os.path.join(self.work, aside[0], "notes.txt")) as kept:
            self.assertEqual(kept.read(), "mine")
        self.assertEqual(sorted(os.listdir(os.path.join(self.work, "ROM"))), ["AFUWINx64.EXE", "Z270F210.bin"])

    def test_refused_package_starts_nothing(self):
        # A hostile member refuses the whole archive: no tool of it runs.
        self.server.publish_catalogue(MODEL, PACKAGE_PATH)
        target = os.path.join(self.server.root, SERVED_PACKAGE.lstrip("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with zipfile.ZipFile(target, "w") as archive:
            archive.write(STANDIN, "Flash.exe")
            archive.writestr("../escaped.txt", "outside")
        code, out = self.run_program(NOT_READY, "/SP")
        self.assertEqual(code, 1, out)
        self.assertEqual(self.state("EXERetCode"), 1)
        self.assertIn(self.state("BiosUpdate"), (None, 0))
        self.assertEqual(self.child_starts(), [])
        self.assertFalse(os.path.exists(os.path.join(self.work, "..", "escaped.txt")))


class OneRunAtATime(Scenario):
    def test_second_run_while_the_flash_tool_runs(self):
        # Run 1's flash tool takes a while; run 2, started meanwhile (the
        # logon task beside a person's double-click), ends at once.
        self.publish()
        env = dict(os.environ, **self.environment(NOT_READY), KESTRUNE_STANDIN_SLEEP="60000")
        first = subprocess.Popen([WINE_RUN, SIM, "/SP"], cwd=self.work, env=env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(first.wait)
        self.addCleanup(first.terminate)
        deadline = time.monotonic() + RUN_TIMEOUT
        while not self.child_starts() and time.monotonic() < deadline and first.poll() is None:
            time.sleep(0.2)
        self.assertEqual(len(self.child_starts()), 1, "run 1 did not start its flash tool")
        state = {name: self.state(name) for name in ("BiosUpdate", "EXERetCode", "OptanePath", "InstallStatus")}

        for switches in (("/SP",), ()):
            with self.subTest(switches=switches):
                code, out = self.run_program(READY, *switches)
                self.assertEqual(code, 1, out)
                self.assertTrue(out.startswith(BANNER), out)
                self.assertNotIn("SataMode", out)
                self.assertEqual({name: self.state(name) for name in state}, state)
                self.assertEqual(len(self.child_starts()), 1)
        self.assertIsNone(first.poll(), "run 1 ended before run 2 was tried")
        self.assertEqual(state["BiosUpdate"], 1)
        self.assertEqual(state["EXERetCode"], None)

        # Run 1 goes on undisturbed and ends as a flash does.
        first.terminate()  # the restart that the flash tool performs
        first.wait()
        code, out = self.run_program(READY, "/SP")
        self.assertEqual(code, 255, out)  # the lock went with run 1's process: the driver road


class SignedFlashTool(Scenario):
    """A build that names the maker's signer starts only a flash tool that the
    maker signed, unchanged."""

    @classmethod
    def setUpClass(cls):
        cls.certificates = TestCertificates(os.path.join(BUILD, "e2e", "certificates"))
        cls.root_key = cls.certificates.trust_root()

    @classmethod
    def tearDownClass(cls):
        TestCertificates.distrust_root(cls.root_key)

    def tool(self, name, signer=None, change_a_byte=False):
        path = os.path.join(BUILD, "e2e", self.id().split(".")[-1], name)
        if signer is None:
            shutil.copy(STANDIN, path)
        else:
            self.certificates.sign(STANDIN, path, signer)
        if change_a_byte:
            with open(path, "r+b") as tool:
                tool.seek(os.path.getsize(path) // 3)
                byte = tool.read(1)
                tool.seek(-1, os.SEEK_CUR)
                tool.write(bytes([byte[0] ^ 0x01]))
        return path

    def flash(self, tool, signers):
        self.server.publish_catalogue(MODEL, PACKAGE_PATH)
        self.server.publish_package(SERVED_PACKAGE, {"Flash.exe": tool, "Z270F210.bin": STANDIN})
        if os.path.exists(self.starts):
            os.remove(self.starts)
        Registry.delete_key(STATE_KEY)
        # Revocation as the build configures it (the whole chain by default).
        return self.run_program(NOT_READY, "/SP", env={"KESTRUNE_FLASH_SIGNERS": signers})

    def test_tools_signed_changed_unsigned_and_foreign(self):
        maker = self.certificates.thumbprint(TestCertificates.MAKER)
        cases = [
            ("signed by the maker, listed by thumbprint", self.tool("signed.exe", TestCertificates.MAKER), maker, True),
            ("signed by the maker, listed by name", self.tool("signed.exe", TestCertificates.MAKER),
             "Someone Else;" + TestCertificates.MAKER, True),
            ("one byte changed after signing",
             self.tool("changed.exe", TestCertificates.MAKER, change_a_byte=True), maker, False),
            ("unsigned", self.tool("unsigned.exe"), maker, False),
            ("signed by another maker under the same trusted root",
             self.tool("foreign.exe", TestCertificates.OTHER), maker, False),
        ]
        for case, tool, signers, starts in cases:
            with self.subTest(case):
                code, out = self.flash(tool, signers)
                if starts:
                    self.assertEqual(code, 255, out)
                    self.assertEqual(len(self.child_starts()), 1)
                    self.assertEqual(self.state("BiosUpdate"), 1)
                else:
                    self.assertEqual(code, 1, out)
                    self.assertEqual(self.child_starts(), [])
                    self.assertIn(self.state("BiosUpdate"), (None, 0))
                    self.assertEqual(self.state("EXERetCode"), 1)
                    self.assertNotIn("Ready to Update BIOS", out)

    def test_build_without_signers_starts_an_unsigned_tool(self):
        code, out = self.flash(self.tool("unsigned.exe"), "")
        self.assertEqual(code, 255, out)
        self.assertEqual(len(self.child_starts()), 1)


class ReadyBoard(Scenario):
    def test_install_then_completion(self):
        code, out = self.run_program(READY, "/SP")
        self.assertEqual(code, 255)
        self.assertEqual(self.state("InstallStatus"), 1)
        start = self.child_starts()
        self.assertEqual(len(start), 1)
        self.assertTrue(start[0][1].endswith(" -s -b"))
        self.assertEqual(self.server.requests(), [])
        code, _ = self.run_program(READY, "/SP")
        self.assertEqual(code, 0)
        self.assertEqual(self.state("InstallFinish"), 1)


class FailuresToldAsFailures(Scenario):
    """Unusual catalogues and packages, and child programs that cannot start."""

    def publish_xml(self, xml):
        with open(os.path.join(self.server.root, "catalogue", MODEL + ".xml"), "w") as out:
            out.write(xml)

    def test_pretty_printed_catalogue(self):
        self.publish()
        self.publish_xml('<?xml version="1.0" encoding="utf-8"?>\n<LiveUpdate>\n'
                         '  <Download URL="Server1">\n    <Server1>\n      %s\n    </Server1>\n  </Download>\n'
                         '  <Bios Date="2017/05/02" Version="P2.10">\n'
                         '    <File Version="P2.10" Size="8">\n      %s\n    </File>\n'
                         '  </Bios>\n</LiveUpdate>\n' % (self.server.base, PACKAGE_PATH))
        code, out = self.run_program(NOT_READY, "/SP")
        self.assertEqual(code, 255, out)
        self.assertEqual(self.server.requests(), ["/support/LiveUpdate.asp?Model=Z270%20Forge", SERVED_PACKAGE])
        self.assertEqual(len(self.child_starts()), 1)

    def test_package_path_that_changes_the_host_or_port(self):
        other = Server(os.path.join(self.server.root, "..", "other"))
        self.addCleanup(other.stop)
        other.publish_package(SERVED_PACKAGE, {"Flash.exe": STANDIN})
        for path in ("@127.0.0.1:%d%s" % (other.port, SERVED_PACKAGE), ":%d%s" % (other.port, SERVED_PACKAGE)):
            with self.subTest(path=path):
                self.server.publish_catalogue(MODEL, path)
                code, out = self.run_program(NOT_READY, "/SP")
                self.assertEqual(code, 1, out)
                self.assertEqual(self.state("EXERetCode"), 1)
                self.assertEqual(other.requests(), [])
                self.assertFalse(os.path.exists(os.path.join(self.work, "ROM")))
        self.assertEqual(self.server.requests(), ["/support/LiveUpdate.asp?Model=Z270%20Forge"] * 2)

    def test_flash_tool_that_cannot_start(self):
        self.server.publish_catalogue(MODEL, PACKAGE_PATH)
        for members in ({"Z270F210.bin": STANDIN}, {"readme.exe.txt": os.path.join(SOURCE, "README.md")}):
            with self.subTest(members=list(members)):
                self.server.publish_package(SERVED_PACKAGE, members)
                code, out = self.run_program(NOT_READY, "/SP")
                self.assertEqual(code, 1, out)
                self.assertEqual(self.state("EXERetCode"), 1)
                self.assertIn(self.state("BiosUpdate"), (None, 0))
                self.assertEqual(self.child_starts(), [])
        # The next run does not take the failed start for a flash: the BIOS road again.
        self.server.publish_package(SERVED_PACKAGE, {"Flash.exe": STANDIN})
        code, _ = self.run_program(NOT_READY, "/SP")
        self.assertEqual(code, 255)
        self.assertTrue(self.child_starts()[0][1].endswith(" /S /C"))

    def test_setup_program_that_cannot_start(self):
        setup = os.path.join(self.work, "Optane", "SetupOptaneMemory.exe")
        with open(setup, "w") as out:
            out.write("not a program")
        for switches in (("/SP",), ("/NR",), ()):
            with self.subTest(switches=switches):
                code, out = self.run_program(READY, *switches)
                self.assertEqual(code, 1, out)
                self.assertNotIn("Installing Optane Memory Driver", out)
                self.assertEqual(self.state("EXERetCode"), 1)
                self.assertEqual(self.state("InstallStatus"), 0)
                self.assertEqual(self.state("OptanePath"), "")

    def test_uninstaller_that_fails(self):
        # MsiExec answers a failure and restarts nothing: the entry registered
        # for the restart goes, and the run says so.
        self.stand_in_for_msiexec()
        Registry.set_string(IRST_KEY, "ProductCode", RST_CODE)
        code, out = self.run_program(READY, "/SP", exit_code=1603)
        self.assertEqual(code, 1, out)
        self.assertEqual(self.state("EXERetCode"), 1)
        self.assertEqual(len(self.child_starts()), 1)
        self.assertIn("msiexec", self.child_starts()[0][0].lower())

    def test_setup_program_that_fails(self):
        # It starts and ends with a failure, and no restart comes: the progress
        # line ends, and the next run reports no completion.
        for switches in (("/SP",), ()):
            with self.subTest(switches=switches):
                code, out = self.run_program(READY, *switches, exit_code=1603)
                self.assertEqual(code, 1, out)
                self.assertEqual(self.state("EXERetCode"), 1)
                self.assertEqual(self.state("InstallStatus"), 0)
        code, out = self.run_program(READY, "/SP")
        self.assertEqual(code, 255, out)
        self.assertNotIn("Installation complete", out)

    def test_stale_remembered_setup_path(self):
        # Run 1 remembered a kit folder that its wrapper then deleted; the run
        # after the restart cannot start it; the kit started again from another
        # folder finishes the installation.
        system32 = os.path.join(PREFIX, "drive_c", "windows", "system32")
        Registry.set_string(STATE_KEY, "OptanePath", r"C:\e2e\deleted-kit\Optane\SetupOptaneMemory.exe")
        code, out = self.run_program(READY, "/SP", cwd=system32)
        self.assertEqual(code, 1, out)
        self.assertEqual(self.state("OptanePath"), "")
        code, out = self.run_program(READY, "/SP")
        self.assertEqual(code, 255, out)
        self.assertEqual(len(self.child_starts()), 1)
        self.assertIn(windows_path(self.work), self.child_starts()[0][0])


class Gates(Scenario):
    def assert_refused(self, board, *switches):
        code, out = self.run_program(board, *switches)
        self.assertEqual(code, 1, out)
        self.assertEqual(self.state("EXERetCode"), 1)
        self.assertEqual(self.state("BiosUpdate"), None)
        self.assertEqual(self.state("InstallStatus"), None)
        self.assertEqual(self.child_starts(), [])
        return out

    def test_processor_on_a_200_series_chipset(self):
        self.assert_refused("skylake-z270.json", "/SP")

    def test_other_chipset(self):
        self.assert_refused("amd-x370.json", "/SP")

    def test_system_disk_not_gpt(self):
        self.assert_refused("kabylake-z270-mbr.json", "/SP")

    def test_empty_card_reader_before_the_gpt_system_disk(self):
        self.publish()
        code, out = self.run_program("kabylake-z270-reader-first.json", "/SP")
        self.assertEqual(code, 255, out)
        self.assertEqual(len(self.child_starts()), 1)

    def test_sata_mode_not_ahci(self):
        out = self.assert_refused("kabylake-z270-raid.json", "/SP")
        self.assertIn("SataMode=", out)
        self.assertNotIn("SataMode=0", out)

    def test_sata_gate_skipped_after_a_completed_installation(self):
        wine("reg", "add", STATE_KEY, "/v", "InstallFinish", "/t", "REG_DWORD", "/d", "1", "/f")
        self.run_program("kabylake-z270-raid.json", "/SP")
        # Past the SATA gate, on to the BIOS road (which finds no catalogue here).
        self.assertEqual(len(self.server.requests()), 4)
        self.assertTrue(self.server.requests()[0].startswith("/support/LiveUpdate.asp?Model="))


class SupportSwitches(Scenario):
    """On every scenario board, "/SCAN" predicts what the real run then does
    and leaves the install state and the folder as they were; the real run's
    "/LOG" holds its findings and its road or ending."""

    BOARDS = [NOT_READY, READY, "skylake-z270.json", "amd-x370.json", "kabylake-z270-mbr.json",
              "kabylake-z270-raid.json", "kabylake-z270-reader-first.json", "kabylake-z270-no-driver.json"]

    def snapshot(self):
        state = wine("reg", "query", STATE_KEY, "/s")
        files = []
        for folder, _, names in os.walk(self.work):
            for name in names:
                path = os.path.join(folder, name)
                with open(path, "rb") as data:
                    files.append((os.path.relpath(path, self.work), hashlib.sha256(data.read()).hexdigest()))
        return state.returncode, state.stdout, sorted(files)

    def test_scan_predicts_the_real_run_and_leaves_no_trace(self):
        self.publish()
        logs = os.path.join(PREFIX, "drive_c", "e2e-logs")
        os.makedirs(logs, exist_ok=True)
        for board in self.BOARDS:
            with self.subTest(board=board):
                Registry.delete_key(STATE_KEY)
                shutil.rmtree(os.path.join(self.work, "ROM"), ignore_errors=True)
                if os.path.exists(self.starts):
                    os.remove(self.starts)
                requests = len(self.server.requests())
                before = self.snapshot()
                code, out = self.run_program(board, "/SCAN")
                self.assertEqual(self.snapshot(), before, out)
                self.assertEqual(self.child_starts(), [])
                self.assertEqual(len(self.server.requests()), requests)
                prediction = [line for line in out.splitlines() if line.startswith("Scan: the run would ")]
                self.assertEqual(len(prediction), 1, out)
                prediction = prediction[0][len("Scan: the run would "):]

                log = os.path.join(logs, board.replace(".json", ".log"))
                if os.path.exists(log):
                    os.remove(log)
                real, real_out = self.run_program(board, "/SP", "/LOG=" + windows_path(log))
                with open(log, encoding="latin-1") as text:
                    logged = text.read()
                self.assertIn(" found: processor: Kaby Lake ", logged)
                starts = self.child_starts()
                if prediction.startswith("take "):
                    self.assertEqual(code, 0, out)
                    self.assertIn(" road: " + prediction[len("take "):] + "\n", logged)
                    self.assertIn(" found: SATA mode: ", logged)
                    self.assertIn(" found: AAFT modules: ", logged)
                    # The road's program, unless the road ended before it
                    # (a board without identity finds no catalogue).
                    tool = "ROM" if "BIOS road" in prediction else "SetupOptaneMemory"
                    self.assertEqual([start[0] for start in starts if tool not in start[0]], [], real_out)
                    self.assertEqual(len(starts), 1 if real == 255 else 0, real_out)
                else:
                    ending = prediction[len("end with "):]
                    self.assertEqual(code, 0 if ending.startswith("0:") else 1, out)
                    self.assertEqual(real, int(ending.split(":")[0]), real_out)
                    self.assertIn(" end: exit code " + ending + "\n", logged)
                    self.assertEqual(starts, [])


if __name__ == "__main__":
    os.environ.pop("DISPLAY", None)  # no display: every message box returns at once
    unittest.main(verbosity=2)
