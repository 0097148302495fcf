#!/usr/bin/env python3
"""kestrune-probe.exe --capture under Wine, through the program's own driver
as Wine's kernel loads it: Wine's machine is what it captures (its processor
through CPUID, its synthetic SMBIOS copy, a system volume on no disk; no
physical memory, PCI space or SMI behind the driver). The replay of the
captured file must print the live probe's keys, the driver's apart.

The 32-bit program on 64-bit Windows loads the x64 image, which Wine's
32-bit driver host refuses: in a 32-bit build (--no-driver) the capture and
the live probe run without the driver, the file says so, and the replay
must still print the live probe's keys.

usage: capture_wine.py BUILD_DIR [--no-driver]
"""
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import wine_paths  # noqa: E402

BUILD = os.path.abspath(sys.argv[1])
WITH_DRIVER = "--no-driver" not in sys.argv[2:]
WINE_RUN = os.path.join(BUILD, "wine-run.sh")
PREFIX = os.path.join(BUILD, "wineprefix")
PROBE = os.path.join(BUILD, "tools", "kestrune-probe.exe")
WINESERVER = "/usr/lib/wine/wineserver"
WORK = os.path.join(BUILD, "wine-capture")


def wine(*args):
    return subprocess.run([WINE_RUN, *args], capture_output=True, timeout=600, stdin=subprocess.DEVNULL)


def fresh_machine():
    """Wine as after a boot, with the driver never put on it: Wine's driver
    host opens the driver's device for the first program after its server
    starts, and no driver file of another test of this prefix is left."""
    wine("cmd", "/c", "exit")  # the build's prefix, before a file goes into it
    subprocess.run([WINESERVER, "-k"], env=dict(os.environ, WINEPREFIX=PREFIX), capture_output=True, timeout=60)
    subprocess.run([WINESERVER, "-w"], env=dict(os.environ, WINEPREFIX=PREFIX), capture_output=True, timeout=60)
    for folder in ("system32", "syswow64"):
        leftover = wine_paths.host_path(PREFIX, "windows\\%s\\drivers\\VelDrv101.sys" % folder)
        if os.path.exists(leftover):
            os.remove(leftover)


def leave_machine():
    """The prefix as the other tests of this build expect it: the probe
    leaves its driver service and file behind, as the product does."""
    wine("sc", "stop", "VelDrv101")
    wine("sc", "delete", "VelDrv101")
    fresh_machine()


def keys(output):
    text = output.decode("latin-1").replace("\r\n", "\n")
    return [line for line in text.splitlines() if line and not line.startswith("driver.")]


def main():
    os.makedirs(WORK, exist_ok=True)
    board = os.path.join(WORK, "wine-machine.json")
    if os.path.exists(board):
        os.remove(board)
    capture = fresh_machine() or wine(PROBE, "--capture", "Z:" + board.replace("/", "\\"))
    live = fresh_machine() or wine(PROBE)
    problems = []
    if live.returncode != 0 or capture.returncode != 0:
        problems.append("probe exit %d, capture exit %d: %s" % (live.returncode, capture.returncode,
                                                                capture.stderr.decode("latin-1")))
    elif not os.path.exists(board):
        problems.append("the capture wrote no file")
    else:
        with open(board) as file:
            captured = json.load(file)
        replay = wine(PROBE, "Z:" + board.replace("/", "\\"))
        if captured.get("capture", {}).get("source") != "windows" or "captured on " not in captured.get("name", ""):
            problems.append("the file does not say where it comes from: %r" % captured.get("capture"))
        missing = captured.get("capture", {}).get("missing", [])
        driver_missing = any(line.startswith("driver:") for line in missing)
        driver_open = b"driver.open=1" in live.stdout
        if WITH_DRIVER and (driver_missing or not driver_open):
            problems.append("the driver did not open for the capture or the live probe: %s" % missing)
        if not WITH_DRIVER and (not driver_missing or driver_open):
            problems.append("a driver opened, or the file does not say it was missing: %s" % missing)
        if "cpu.vendor=" + captured["cpu"]["vendor"] not in keys(live.stdout):
            problems.append("the captured processor %r is not the live one" % captured["cpu"])
        if replay.returncode != 0 or keys(replay.stdout) != keys(live.stdout):
            problems.append("the replay (exit %d) differs from the live probe:\nlive:\n%s\nreplay:\n%s\n%s" % (
                replay.returncode, "\n".join(keys(live.stdout)), "\n".join(keys(replay.stdout)),
                replay.stderr.decode("latin-1")))
        print("left out:", *captured.get("capture", {}).get("missing", []), sep="\n  ")
    print(live.stdout.decode("latin-1"))
    for problem in problems:
        print("FAIL: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    try:
        status = main()
    finally:
        leave_machine()
    sys.exit(status)
