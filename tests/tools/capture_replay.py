#!/usr/bin/env python3
"""Captures the Linux machine this runs on with `kestrune-probe --capture`,
replays the board file with `kestrune-probe FILE`, and checks the replayed
keys against what the machine itself says, read here without the program:

- the processor's vendor and signature from /proc/cpuinfo;
- the chipset identifier from PCI 0:31.0's configuration file (all ones
  when the machine has no such function);
- the ACPI table signatures from /sys/firmware/acpi/tables;
- the SMI command port from the FADT's bytes (offset 48).

It also checks that the file names the machine and the time, that it says
what the machine lacked, that two replays agree, and that a board whose
processor or chipset was altered is caught. With --sim it runs the program
itself (KestruneSim.exe of that Windows test build, under Wine) on the board
and checks the ending that the processor and chipset lead to.

usage: capture_replay.py PROBE WORK_DIR [--sim WINDOWS_TEST_BUILD]
Run as root on a live system (the PCI files and efivars need it).
"""
import datetime
import json
import os
import re
import socket
import subprocess
import sys

SYSFS_ACPI = "/sys/firmware/acpi/tables"
LPC_CONFIG = "/sys/bus/pci/devices/0000:00:1f.0/config"
EFIVAR = "/sys/firmware/efi/efivars/VelnorPlatformConfig-ec87d643-eba4-4bb5-a1e5-3f3e36b20da9"
CHIPSETS_200 = {0xA2C4, 0xA2C5, 0xA2C6, 0xA2C7, 0xA2C8}
# Signatures of the table list that are the walk's own roots, or entries
# the driver cannot read (a FADT's FACS address of 0).
ROOTS = {"RSD ", "RSDT", "XSDT", "????"}


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, timeout=600, stdin=subprocess.DEVNULL, **kwargs)


def probe_keys(probe, board):
    result = run([probe, board])
    if result.returncode != 0:
        raise AssertionError("kestrune-probe %s failed (%d): %s" % (board, result.returncode, result.stderr.decode()))
    keys = {}
    for line in result.stdout.decode("latin-1").splitlines():
        key, _, value = line.partition("=")
        keys[key] = value
    return result.stdout, keys


def cpuinfo():
    """Vendor and leaf-1 signature of processor 0, as the kernel shows them."""
    fields = {}
    with open("/proc/cpuinfo") as info:
        for line in info:
            if not line.strip():
                break
            name, _, value = line.partition(":")
            fields[name.strip()] = value.strip()
    family = int(fields["cpu family"])
    model = int(fields["model"])
    stepping = int(fields["stepping"]) if fields.get("stepping", "").isdigit() else None
    base_family, ext_family = (family, 0) if family < 0xF else (0xF, family - 0xF)
    base_model, ext_model = (model & 0xF, model >> 4) if base_family in (6, 0xF) else (model, 0)
    signature = (base_model << 4) | (base_family << 8) | (ext_model << 16) | (ext_family << 20) | (stepping or 0)
    # The processor type (bits 12-13) and the reserved bits are not shown;
    # an unknown stepping leaves bits 0-3 out too.
    mask = 0x0FFFCFFF & (0xFFFFFFFF if stepping is not None else 0xFFFFFFF0)
    return fields["vendor_id"], signature, mask


def chipset():
    try:
        with open(LPC_CONFIG, "rb") as config:
            head = config.read(4)
    except OSError:
        return 0xFFFF
    return int.from_bytes(head[2:4], "little") if len(head) == 4 else 0xFFFF


def acpi_tables():
    """The signature of every table the kernel lists, and the first FADT's SMI_CMD."""
    signatures = set()
    smi_port = None
    try:
        names = sorted(os.listdir(SYSFS_ACPI))
    except OSError:
        names = []
    for name in names:
        path = os.path.join(SYSFS_ACPI, name)
        if not os.path.isfile(path):
            continue
        with open(path, "rb") as table:
            data = table.read()
        if len(data) < 36:
            continue
        signature = data[:4].decode("latin-1")
        signatures.add(signature)
        if signature == "FACP" and len(data) >= 52 and smi_port is None:
            smi_port = int.from_bytes(data[48:50], "little")
    return signatures, smi_port or 0


def disagreements(keys):
    """What the replayed keys say differently from the machine itself."""
    problems = []
    vendor, signature, mask = cpuinfo()
    if keys.get("cpu.vendor") != vendor:
        problems.append("cpu.vendor %r, /proc/cpuinfo says %r" % (keys.get("cpu.vendor"), vendor))
    replayed = int(keys.get("cpu.signature", "0x0"), 16)
    if replayed & mask != signature & mask:
        problems.append("cpu.signature 0x%08X, /proc/cpuinfo says 0x%08X (mask 0x%08X)" % (replayed, signature, mask))
    expected_chipset = "0x%04X" % chipset()
    if keys.get("pci.chipset") != expected_chipset:
        problems.append("pci.chipset %s, %s says %s" % (keys.get("pci.chipset"), LPC_CONFIG, expected_chipset))
    signatures, smi_port = acpi_tables()
    listed = {s for s in keys.get("acpi.tables", "").split("|") if s} - ROOTS
    if listed != signatures:
        problems.append("acpi.tables %s, %s holds %s" % (sorted(listed), SYSFS_ACPI, sorted(signatures)))
    if keys.get("acpi.smi_port") != "0x%X" % smi_port:
        problems.append("acpi.smi_port %s, the FADT says 0x%X" % (keys.get("acpi.smi_port"), smi_port))
    return problems


def check_file(board_path):
    with open(board_path) as file:
        board = json.load(file)
    name = board.get("name", "")
    today = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d")
    host = socket.gethostname()
    problems = []
    if host not in name or today not in name:
        problems.append("name %r does not name %r and %s" % (name, host, today))
    missing = board.get("capture", {}).get("missing", [])
    said = "\n".join(missing)
    lacks = [
        (not os.path.exists(EFIVAR), "smi: no variable VelnorPlatformConfig"),
        (not os.path.isdir("/sys/firmware/dmi/tables"), "smbios: no /sys/firmware/dmi/tables"),
        ("memory" not in board, "bios area:"),
    ]
    for lacking, line in lacks:
        if lacking and line not in said:
            problems.append("the file does not say %r; it says: %s" % (line, missing))
    return board, problems


def altered(board, work, field):
    """A copy of the board whose processor signature or chipset was changed."""
    changed = json.loads(json.dumps(board))
    if field == "cpu":
        changed["cpu"]["signature"] = "0x%08X" % (int(changed["cpu"]["signature"], 16) ^ 0x10)
    else:
        lpc = [f for f in changed.get("pci", []) if (f["bus"], f["device"], f["function"]) == (0, 31, 0)]
        if lpc:
            lpc[0]["config"] = "8680C4A2" + lpc[0]["config"][8:]
        else:
            changed.setdefault("pci", []).append({"bus": 0, "device": 31, "function": 0, "config": "8680C4A2"})
    path = os.path.join(work, "altered-%s.json" % field)
    with open(path, "w") as file:
        json.dump(changed, file)
    return path


def expected_ending(keys):
    kaby_lake = keys["cpu.vendor"] == "GenuineIntel" and int(keys["cpu.signature"], 16) & 0xFFFFFFF0 == 0x906E0
    if kaby_lake:
        return None
    return "Unsupport non-Kabylake CPU!" if int(keys["pci.chipset"], 16) in CHIPSETS_200 else \
        "Unsupport non-200 series model!"


def run_program(build, board_path, work):
    """KestruneSim.exe of a Windows test build on the captured board, under
    Wine with no display: the message box it shows fails at once, and the
    relay trace of the call carries the message; the exit code is the run's."""
    wine_run = os.path.join(build, "wine-run.sh")
    run([wine_run, "cmd", "/c", "exit"])  # the build's prefix and its server
    env = dict(os.environ, KESTRUNE_BOARD="Z:" + board_path.replace("/", "\\"), WINEDEBUG="+relay",
               WINEPREFIX=os.path.join(build, "wineprefix"), WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="C.UTF-8")
    env.pop("DISPLAY", None)
    result = run(["/usr/lib/wine/wine64", os.path.join(build, "app", "KestruneSim.exe")], cwd=work, env=env)
    boxes = [line for line in result.stderr.decode("latin-1").splitlines() if "user32.MessageBoxA(" in line]
    return result.returncode, result.stdout.decode("latin-1") + "\n".join(boxes)


def main():
    args = sys.argv[1:]
    sim = None
    if "--sim" in args:
        at = args.index("--sim")
        sim = os.path.abspath(args[at + 1])
        del args[at:at + 2]
    probe, work = os.path.abspath(args[0]), os.path.abspath(args[1])
    os.makedirs(work, exist_ok=True)
    board_path = os.path.join(work, "machine.json")
    capture = run([probe, "--capture", board_path])
    print(capture.stderr.decode("latin-1"), end="")
    if capture.returncode != 0:
        print("FAIL: kestrune-probe --capture exited with %d" % capture.returncode)
        return 1
    board, problems = check_file(board_path)
    first, keys = probe_keys(probe, board_path)
    second, _ = probe_keys(probe, board_path)
    if first != second:
        problems.append("two replays of the same board differ")
    problems += disagreements(keys)
    # The check itself must see a machine that is not this one.
    altered_boards = {}
    for field in ("cpu", "chipset"):
        altered_boards[field] = altered(board, work, field)
        _, other = probe_keys(probe, altered_boards[field])
        if not disagreements(other):
            problems.append("a board with an altered %s passed the check" % field)
    if sim:
        # This machine, and the same with a 200-series chipset: each run
        # ends as its processor and chipset lead it to.
        for path in (board_path, altered_boards["chipset"]):
            _, path_keys = probe_keys(probe, path)
            ending = expected_ending(path_keys)
            code, output = run_program(sim, path, work)
            print("KestruneSim.exe on %s: exit %d, expected %s" % (os.path.basename(path), code, ending))
            if ending is not None and (code != 1 or ending not in output):
                problems.append("KestruneSim.exe ended with %d, without %r:\n%s" % (code, ending, output[-2000:]))
            elif ending is None and "Unsupport non-" in output:
                problems.append("KestruneSim.exe refused the Kaby Lake processor:\n%s" % output[-2000:])
    print(first.decode("latin-1"), end="")
    for problem in problems:
        print("FAIL: " + problem)
    if not problems:
        print("PASS: the replay of this machine agrees with the machine")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
