#!/usr/bin/env python3
"""Plays a whole installation under Wine: four starts of the program with
three restarts between them, on a simulated Velnor board whose BIOS lacks
Optane support, against a local copy of the maker's servers.

Usage: demo.py BUILD_DIR SOURCE_DIR
"""
import os
import shutil
import subprocess
import sys
import time
import zipfile

BUILD, SOURCE = (os.path.abspath(arg) for arg in sys.argv[1:3])
WINE_RUN = os.path.join(BUILD, "wine-run.sh")
PREFIX = os.path.join(BUILD, "wineprefix")
SIM = os.path.join(BUILD, "app", "KestruneSim.exe")
STANDIN = os.path.join(BUILD, "tests", "e2e", "kestrune-standin.exe")
BOARDS = os.path.join(SOURCE, "tests", "boards")
STATE_KEY = r"HKCU\Software\Velnor\Kestrune"
IRST_KEY = r"HKLM\Software\Intel\IRST"
STATE_VALUES = ["InstallStatus", "BiosUpdate", "InstallFinish", "EXERetCode", "OptanePath"]
MEANING = {0: "Installation complete!", 1: "refused or failed", 2: "declined by the user",
           -1: "a program that restarts the machine was started"}


def wine(*args, **kwargs):
    return subprocess.run([WINE_RUN, *args], capture_output=True, stdin=subprocess.DEVNULL, **kwargs)


def state():
    out = wine("reg", "query", STATE_KEY).stdout.decode("latin-1")
    values = {}
    for line in out.splitlines():
        parts = line.split(None, 2)
        if len(parts) >= 2 and parts[0] in STATE_VALUES:
            value = parts[2].strip() if len(parts) == 3 else ""
            if parts[1] == "REG_DWORD":
                number = int(value, 16)
                value = str(number - (1 << 32) if number >= 1 << 31 else number)
            values[parts[0]] = value
    return "  ".join("%s=%s" % (name, values[name]) for name in STATE_VALUES if name in values)


def show(title, output, code=None):
    print("\n--- %s " % title + "-" * max(0, 60 - len(title)))
    print(output.rstrip("\n"))
    if code is not None:
        code = code - 256 if code > 127 else code
        print("exit code %d: %s" % (code, MEANING.get(code, "")))
    print("install state: " + state())


def main():
    work = os.path.join(PREFIX, "drive_c", "KestruneDemo")
    system32 = os.path.join(PREFIX, "drive_c", "windows", "system32")
    served = os.path.join(BUILD, "demo-server")
    shutil.rmtree(work, ignore_errors=True)
    shutil.rmtree(served, ignore_errors=True)
    os.makedirs(os.path.join(work, "Optane"))
    shutil.copy(STANDIN, os.path.join(work, "Optane", "SetupOptaneMemory.exe"))

    # The maker's servers: the board's catalogue and its BIOS package.
    os.makedirs(os.path.join(served, "catalogue"))
    os.makedirs(os.path.join(served, "bios", "WIN"))
    server = subprocess.Popen([sys.executable, os.path.join(SOURCE, "tests", "e2e", "http_server.py"), served],
                              stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL, text=True)
    base = "http://127.0.0.1:%s" % server.stdout.readline().strip()
    with open(os.path.join(served, "catalogue", "Z270 Forge.xml"), "w") as out:
        out.write('<?xml version="1.0"?>\n<LiveUpdate>\n  <Download URL="Main"><Main>%s</Main></Download>\n'
                  '  <Bios Date="2017/05/02" Version="P2.10"><File Size="1">/bios/ROM/Z270F210.zip</File></Bios>\n'
                  '</LiveUpdate>\n' % base)
    with zipfile.ZipFile(os.path.join(served, "bios", "WIN", "Z270F210.zip"), "w", zipfile.ZIP_DEFLATED) as archive:
        archive.write(STANDIN, "Flash.exe")

    starts = os.path.join(BUILD, "demo-starts.log")
    if os.path.exists(starts):
        os.remove(starts)
    env = dict(os.environ, KESTRUNE_WEB_BASE=base, KESTRUNE_PACKAGE_BASE=base, KESTRUNE_STANDIN_LOG=starts)
    wine("reg", "delete", STATE_KEY, "/f")
    wine("reg", "add", IRST_KEY, "/v", "ProductCode", "/d", "{90150000-DEMO-0000-0000-000000000000}", "/f", "/reg:32")
    print("A Kaby Lake board (Z270 Forge, BIOS P1.40 without Optane support), Windows 10 64-bit,")
    print("Intel RST registered. The program starts from C:\\KestruneDemo, which holds Optane\\.")

    def run(board, cwd):
        env["KESTRUNE_BOARD"] = os.path.join(BOARDS, board)
        result = subprocess.run([WINE_RUN, SIM], cwd=cwd, env=env, capture_output=True, stdin=subprocess.DEVNULL)
        return result.stdout.decode("latin-1").replace("\r\n", "\n"), result.returncode

    output, code = run("kabylake-z270-no-optane.json", work)
    show("run 1: from C:\\KestruneDemo", output, code)
    print("(the flash tool restarts the machine; the board now carries BIOS P2.10)")

    output, code = run("kabylake-z270-optane.json", system32)
    show("run 2: at logon, from the system directory", output, code)
    wine("reg", "delete", IRST_KEY, "/f", "/reg:32")
    print("(the Windows Installer removes Intel RST and restarts the machine)")

    env["KESTRUNE_BOARD"] = os.path.join(BOARDS, "kabylake-z270-optane.json")
    process = subprocess.Popen([WINE_RUN, SIM], cwd=system32, env=env, stdout=subprocess.PIPE,
                               stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seen = b""
    deadline = time.monotonic() + 60
    while seen.count(b"...") < 4 and time.monotonic() < deadline:
        chunk = process.stdout.read1(4096)
        if not chunk:
            break
        seen += chunk
    process.kill()
    process.wait()
    process.stdout.close()
    show("run 3: at logon", seen.decode("latin-1").replace("\r\n", "\n").replace("\r", "\n"))
    print("(Intel's setup program installs the driver and restarts the machine)")

    output, code = run("kabylake-z270-optane.json", system32)
    show("run 4: at logon", output, code)

    print("\nPrograms the runs started:")
    with open(starts, encoding="latin-1") as lines:
        for line in lines:
            program, command_line, directory = line.rstrip("\n").split("|")
            print("  %s\n      command line: %s" % (program, command_line))
    server.terminate()
    server.wait()
    server.stdout.close()
    return 0 if code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
