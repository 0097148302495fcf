#!/usr/bin/env python3
"""End-to-end scenarios: the real program (KestruneSim.exe: the product with
a simulated board as its machine) under wine64, against a local HTTP server,
with stand-in programs for the BIOS flash tool and Intel's setup program.

Usage: scenarios.py BUILD_DIR SOURCE_DIR [unittest arguments]
"""
import os
import shutil
import subprocess
import sys
import time
import unittest
import zipfile

BUILD = os.path.abspath(sys.argv.pop(1))
SOURCE = os.path.abspath(sys.argv.pop(1))
WINE_RUN = os.path.join(BUILD, "wine-run.sh")
PREFIX = os.path.join(BUILD, "wineprefix")
SIM = os.path.join(BUILD, "app", "KestruneSim.exe")
STANDIN = os.path.join(BUILD, "tests", "e2e", "kestrune-standin.exe")
BOARDS = os.path.join(SOURCE, "tests", "boards")
STATE_KEY = r"HKCU\Software\Velnor\Kestrune"
IRST_KEY = r"HKLM\Software\Intel\IRST"
RST_CODE = "{11111111-2222-3333-4444-555555555555}"


def wine(*args, cwd=None, env=None, timeout=120):
    full_env = dict(os.environ, **(env or {}))
    return subprocess.run([WINE_RUN, *args], cwd=cwd, env=full_env, capture_output=True, timeout=timeout,
                          stdin=subprocess.DEVNULL)


def windows_path(unix_path):
    drive_c = os.path.join(PREFIX, "drive_c")
    relative = os.path.relpath(unix_path, drive_c)
    return "C:\\" + relative.replace("/", "\\")


class Registry:
    @staticmethod
    def query(key, name):
        out = wine("reg", "query", key, "/v", name).stdout.decode("latin-1")
        for line in out.splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[0].lower() == name.lower():
                kind, value = parts[1], parts[2].strip()
                if kind == "REG_DWORD":
                    number = int(value, 16)
                    return number - (1 << 32) if number >= 1 << 31 else number
                return value
            if len(parts) == 2 and parts[0].lower() == name.lower():
                return ""
        return None

    @staticmethod
    def set_string(key, name, value, view="/reg:32"):
        wine("reg", "add", key, "/v", name, "/d", value, "/f", view)

    @staticmethod
    def delete_key(key, view=None):
        wine("reg", "delete", key, "/f", *([view] if view else []))


class Server:
    """The maker's web and package servers."""

    def __init__(self, root):
        self.root = root
        os.makedirs(os.path.join(root, "catalogue"), exist_ok=True)
        self.process = subprocess.Popen([sys.executable, os.path.join(SOURCE, "tests", "e2e", "http_server.py"), root],
                                        stdout=subprocess.PIPE, stdin=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, text=True)
        self.port = int(self.process.stdout.readline())
        self.base = "http://127.0.0.1:%d" % self.port

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)
        self.process.stdout.close()

    def requests(self):
        log = os.path.join(self.root, "requests.log")
        if not os.path.exists(log):
            return []
        with open(log) as lines:
            return [line.split(" agent=")[0] for line in lines]

    def publish_catalogue(self, model, package_path):
        xml = ('<?xml version="1.0" encoding="utf-8"?>\n<LiveUpdate>\n'
               '  <Download URL="Server1"><Server1>%s</Server1></Download>\n'
               '  <Bios Date="2017/05/02" Version="P2.10">\n'
               '    <Description>Optane memory support</Description>\n'
               '    <File Version="P2.10" Size="8">%s</File>\n'
               '    <CriticalUpdate>1</CriticalUpdate>\n'
               '  </Bios>\n</LiveUpdate>\n') % (self.base, package_path)
        with open(os.path.join(self.root, "catalogue", model.replace("/", "_") + ".xml"), "w") as out:
            out.write(xml)

    def publish_package(self, path, members):
        target = os.path.join(self.root, path.lstrip("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as archive:
            for name, source in members.items():
                archive.write(source, name)

    def answer(self, path, status):
        with open(os.path.join(self.root, "status.txt"), "a") as out:
            out.write("%s %d\n" % (path, status))


class Scenario(unittest.TestCase):
    """One folder on the simulated machine's C: drive, one server, one log of child starts."""

    def setUp(self):
        name = self.id().split(".")[-1]
        self.work = os.path.join(PREFIX, "drive_c", "e2e", name)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(os.path.join(self.work, "Optane"))
        shutil.copy(STANDIN, os.path.join(self.work, "Optane", "SetupOptaneMemory.exe"))
        shutil.rmtree(os.path.join(BUILD, "e2e", name), ignore_errors=True)
        self.server = Server(os.path.join(BUILD, "e2e", name, "server"))
        self.addCleanup(self.server.stop)
        self.starts = os.path.join(BUILD, "e2e", name, "starts.log")
        if os.path.exists(self.starts):
            os.remove(self.starts)
        Registry.delete_key(STATE_KEY)
        Registry.delete_key(IRST_KEY, "/reg:32")
        Registry.delete_key(IRST_KEY, "/reg:64")

    def run_program(self, board, *switches, cwd=None, exit_code=0):
        env = {
            "KESTRUNE_BOARD": os.path.join(BOARDS, board),
            "KESTRUNE_WEB_BASE": self.server.base,
            "KESTRUNE_PACKAGE_BASE": self.server.base,
            "KESTRUNE_STANDIN_LOG": self.starts,
            "KESTRUNE_STANDIN_EXIT": str(exit_code),
        }
        result = wine(SIM, *switches, cwd=cwd or self.work, env=env)
        output = result.stdout.decode("latin-1").replace("\r\n", "\n")
        return result.returncode, output

    def run_until_progress(self, board, cwd):
        """Runs until the progress line shows, then ends the process as the restart would."""
        env = dict(os.environ, KESTRUNE_BOARD=os.path.join(BOARDS, board), KESTRUNE_WEB_BASE=self.server.base,
                   KESTRUNE_PACKAGE_BASE=self.server.base, KESTRUNE_STANDIN_LOG=self.starts,
                   KESTRUNE_STANDIN_EXIT="0")
        # Nothing of this run may keep the suite's own output open: Intel's
        # setup (not waited for) outlives the run.
        process = subprocess.Popen([WINE_RUN, SIM], cwd=cwd, env=env, stdout=subprocess.PIPE,
                                   stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        seen = b""
        deadline = time.monotonic() + 60
        while b"Installing Optane Memory Driver" not in seen and time.monotonic() < deadline:
            chunk = process.stdout.read1(4096)
            if not chunk:
                break
            seen += chunk
        process.kill()
        process.wait()
        process.stdout.close()
        return seen.decode("latin-1").replace("\r\n", "\n")

    def child_starts(self):
        if not os.path.exists(self.starts):
            return []
        with open(self.starts, encoding="latin-1") as lines:
            return [line.rstrip("\n").split("|") for line in lines]

    def state(self, name):
        return Registry.query(STATE_KEY, name)


MODEL = "Z270 Forge"
PACKAGE_PATH = "/bios/ROM/Z270Forge/Z270F210.zip"  # the first ROM becomes WIN
SERVED_PACKAGE = "/bios/WIN/Z270Forge/Z270F210.zip"
NOT_READY = "kabylake-z270-no-optane.json"
READY = "kabylake-z270-optane.json"
BANNER = ("==========================================\n"
          "  Velnor Kestrune Utility v1.0.0\n"
          "==========================================\n")


class BiosRoad(Scenario):
    def publish(self):
        self.server.publish_catalogue(MODEL, PACKAGE_PATH)
        self.server.publish_package(SERVED_PACKAGE, {"Flash.exe": STANDIN, "Z270F210.bin": STANDIN})

    def test_full_sequence_across_three_restarts(self):
        self.publish()
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
        self.assertEqual(len(self.child_starts()), 1)  # MsiExec is the system's, not a stand-in
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
        self.assertEqual(len(starts), 2)
        self.assertTrue(starts[1][1].endswith(" -s -b"), starts[1])

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

    def test_package_folder_that_cannot_be_listed(self):
        self.server.publish_catalogue(MODEL, PACKAGE_PATH)
        target = os.path.join(self.server.root, SERVED_PACKAGE.lstrip("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as out:
            out.write(b"not a zip archive")
        code, out = self.run_program(NOT_READY, "/SP")
        self.assertIn("Error(2) opening " + windows_path(os.path.join(self.work, "ROM")) + "\n", out)
        self.assertEqual(code, 2)
        self.assertEqual(self.state("EXERetCode"), 1)
        self.assertEqual(self.child_starts(), [])


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


if __name__ == "__main__":
    unittest.main(verbosity=2)
