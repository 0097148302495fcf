#!/usr/bin/env python3
"""Smoke test of the shipped program itself: build/win32/app/Kestrune.exe,
the 32-bit console program, started as a user would start it, in a fresh
64-bit Wine prefix (so a WOW64 process, as on Windows 10 x64), on the bare
machine that Wine presents: no simulated board, no display, no server.

What this machine leads to: the host's own processor answers CPUID, and Wine
has no physical memory, PCI space or disk layout to offer. So the run ends
with 1 at a gate: at the processor gate when the host is not a Kaby Lake
(the chipset reads as absent), or at the UEFI gate when it is (Wine reports
no partition style). The driver loader runs first in either case and leaves
its service behind: a demand-start kernel service "VelDrv101" whose image is
the Windows directory's SysWOW64\\Drivers\\VelDrv101.sys, the folder of a
32-bit program on 64-bit Windows.

The program's folder also holds a "wininet.dll" that is no library at all,
as a planted one would sit there. Wine resolves a program's static imports
from the program's folder first: a build that imported WININET.DLL (as
releases before this check did) does not start with it (measured: Wine
ends it with 53 after "Loading library WININET.DLL ... failed
(c000012f)"); this one must run as usual. A "version.dll" cannot be planted
here: Wine's own user32.dll imports version.dll, and Wine resolves that
from the program's folder too, so under Wine any program with a broken
version.dll beside it fails before its first instruction (measured), which
no program can prevent and Windows does not do (its known DLLs' imports
come from the system folder). That the program loads version.dll from the
system folder only is carried by the import-table check of the build
(check_product.py) and the loads with LOAD_LIBRARY_SEARCH_SYSTEM32.

Usage: product_smoke.py KESTRUNE_EXE WORK_DIR TEMPLATE_PREFIX [X64_IMAGE]
With X64_IMAGE, the driver file must hold exactly that image (the one the
program carries for 64-bit Windows); without it, the program carries no
image and no driver file may be written.
"""
import os
import shutil
import subprocess
import sys

import wine_paths

BANNER = (b"==========================================\r\n"
          b"  Velnor Kestrune Utility v1.0.0\r\n"
          b"==========================================\r\n")
STATE_KEY = r"HKCU\Software\Velnor\Kestrune"
SERVICE_KEY = r"HKLM\System\CurrentControlSet\Services\VelDrv101"
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"

failures = []
passes = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what)
    (passes if condition else failures).append(what)


def host_is_kaby_lake():
    """The processor gate's rule, read from the host's own description."""
    fields = {}
    with open("/proc/cpuinfo") as info:
        for line in info:
            if not line.strip():
                break
            key, _, value = line.partition(":")
            fields[key.strip()] = value.strip()
    return (fields.get("vendor_id") == "GenuineIntel" and fields.get("cpu family") == "6"
            and fields.get("model") == str(0x9E))


class Prefix:
    def __init__(self, path, template):
        self.path = path = os.path.abspath(path)
        shutil.rmtree(path, ignore_errors=True)
        shutil.copytree(template, path, symlinks=True)
        self.env = dict(os.environ, WINEPREFIX=path, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                        LANG="C.UTF-8", LC_ALL="C.UTF-8")
        self.env.pop("DISPLAY", None)  # no display: every message box returns at once
        subprocess.run([WINESERVER, "-p"], env=self.env, check=True)
        # The system services that the first program starts outlive it: they
        # get /dev/null, or they would hold the output pipe of a later run.
        subprocess.run(["timeout", "-k", "10", "300", WINE, "cmd", "/c", "exit"], env=self.env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def run(self, *args, cwd=None, timeout=600):
        return subprocess.run(["timeout", "-k", "10", str(timeout), WINE, *args], env=self.env, cwd=cwd,
                              capture_output=True, stdin=subprocess.DEVNULL)

    def query(self, key, name, *view):
        """The value's type and text as reg.exe shows them, or None."""
        out = self.run("reg", "query", key, "/v", name, *view, timeout=120).stdout.decode("latin-1")
        for line in out.splitlines():
            parts = line.split(None, 2)
            if len(parts) >= 2 and parts[0].lower() == name.lower():
                return parts[1], (parts[2].strip() if len(parts) == 3 else "")
        return None

    def stop(self):
        subprocess.run([WINESERVER, "-k"], env=self.env)


def main(exe, work, template, x64_image=None):
    prefix = Prefix(os.path.join(work, "wineprefix"), os.path.abspath(template))
    try:
        folder = os.path.join(prefix.path, "drive_c", "Kestrune")
        os.makedirs(folder)
        shutil.copy(exe, os.path.join(folder, "Kestrune.exe"))
        with open(os.path.join(folder, "wininet.dll"), "wb") as out:
            out.write(b"MZ planted beside the program")
        result = prefix.run("C:\\Kestrune\\Kestrune.exe", cwd=folder)

        gate = "UEFI" if host_is_kaby_lake() else "processor"
        print("host processor leads to the %s gate" % gate)
        check(result.stdout.startswith(BANNER), "banner bytes: %r" % result.stdout[:len(BANNER) + 20])
        check(result.returncode == 1, "exit code 1 (%d)" % result.returncode)
        check(prefix.query(STATE_KEY, "EXERetCode") == ("REG_DWORD", "0x1"),
              "EXERetCode 1: %s" % (prefix.query(STATE_KEY, "EXERetCode"),))
        for name in ("InstallStatus", "BiosUpdate", "OptanePath"):
            check(prefix.query(STATE_KEY, name) is None, name + " not written before the gates are passed")

        image_path = prefix.query(SERVICE_KEY, "ImagePath", "/reg:64")
        check(image_path is not None and image_path[1].lower() == r"c:\windows\syswow64\drivers\veldrv101.sys",
              "service VelDrv101 with its image under SysWOW64\\Drivers: %s" % (image_path,))
        check(prefix.query(SERVICE_KEY, "Type", "/reg:64") == ("REG_DWORD", "0x1"), "a kernel driver service")
        check(prefix.query(SERVICE_KEY, "Start", "/reg:64") == ("REG_DWORD", "0x3"), "started on demand")

        driver_file = wine_paths.host_path(prefix.path, r"windows\syswow64\drivers\VelDrv101.sys")
        if x64_image:
            with open(x64_image, "rb") as expected:
                carried = expected.read()
            written = open(driver_file, "rb").read() if os.path.exists(driver_file) else None
            check(written == carried, "the driver file is the carried x64 image (%d bytes)" % len(carried))
        else:
            check(not os.path.exists(driver_file), "no driver file: the program carries no image")
    finally:
        prefix.stop()
    print("product smoke: %d passed, %d failed" % (len(passes), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
