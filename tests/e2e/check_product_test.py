#!/usr/bin/env python3
"""The product check fails on images with one fault each: the built program,
changed in one point, must give exactly the fault named in the row. An
image that imports VERSION.dll or WININET.dll statically is one whose import
table names it: a library name of the built table is overwritten with it.

    check_product_test.py Kestrune.exe"""
import os
import struct
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_product as check  # noqa: E402


def rename_import(old, new):
    def change(data):
        at = data.index(old.encode() + b"\0")
        data[at:at + len(old)] = new.encode().ljust(len(old), b"\0")
    return change


def clear_flag(bit):
    def change(data):
        optional = struct.unpack_from("<I", data, 0x3C)[0] + 24
        value = struct.unpack_from("<H", data, optional + 70)[0]
        struct.pack_into("<H", data, optional + 70, value & ~bit)
    return change


CASES = [
    # name, change, expected fault
    ("the program as built", None, None),
    ("VERSION.dll imported statically", rename_import("SETUPAPI.dll", "VERSION.dll"),
     "imports only known DLLs; not: VERSION.DLL"),
    ("WININET.dll imported statically", rename_import("SHELL32.dll", "WININET.dll"),
     "imports only known DLLs; not: WININET.DLL"),
    ("no TERMINAL_SERVER_AWARE", clear_flag(0x8000), "has TERMINAL_SERVER_AWARE"),
    ("no DYNAMIC_BASE", clear_flag(0x0040), "has DYNAMIC_BASE"),
    ("no NX_COMPAT", clear_flag(0x0100), "has NX_COMPAT"),
    ("no NO_SEH", clear_flag(0x0400), "has NO_SEH"),
]


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    original = open(argv[1], "rb").read()
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        for name, change, expected in CASES:
            data = bytearray(original)
            if change is not None:
                change(data)
            path = os.path.join(folder, "Kestrune.exe")
            with open(path, "wb") as out:
                out.write(data)
            faults = check.check_product(path, report=lambda line: None)
            ok = faults == [] if expected is None else len(faults) == 1 and expected in faults[0]
            print(f"{'ok' if ok else 'FAILED'}: {name}: {faults if faults else 'no fault'}")
            failures += 0 if ok else 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
