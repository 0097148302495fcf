#!/usr/bin/env python3
"""The image check fails on images with one fault each: the built images,
each changed in one point (and its PE checksum made right again, unless the
checksum is the fault), must give exactly the fault named in the row.

    check_driver_images_test.py X64.sys X86.sys"""
import os
import struct
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_driver_images as check  # noqa: E402


def with_checksum(data):
    image = check.Image(bytes(data))
    struct.pack_into("<I", data, image.checksum_offset, check.pe_checksum(bytes(data), image.checksum_offset))
    return data


def rename_import(old, new):
    def change(data):
        at = data.index(old.encode() + b"\0")
        data[at:at + len(old)] = new.encode().ljust(len(old), b"\0")
    return change


def clear_directory(index):
    def change(data):
        image = check.Image(bytes(data))
        struct.pack_into("<II", data, image.directories + 8 * index, 0, 0)
    return change


def drop_unwind_entry(data):
    """The exception directory without one function from its middle."""
    image = check.Image(bytes(data))
    rva, size = image.directory(3)
    table = image.offset_of(rva)
    middle = table + 12 * (size // 24)
    data[middle:table + size] = data[middle + 12:table + size] + b"\0" * 12
    struct.pack_into("<II", data, image.directories + 24, rva, size - 12)


def replace_text(old, new):
    def change(data):
        encoded = old.encode("utf-16-le")
        at = data.index(encoded)
        data[at:at + len(encoded)] = new.encode("utf-16-le")
    return change


def version_field(offset, value):
    """A word of VS_FIXEDFILEINFO (offset inside it) set to value."""
    def change(data):
        at = data.index(struct.pack("<I", check.FIXED_FILE_INFO_SIGNATURE))
        struct.pack_into("<I", data, at + offset, value)
    return change


def flip_padding_byte(data):
    data[-1] ^= 0xFF


CASES = [
    # name, image (0 x64, 1 x86), change, expected fault, checksum made right
    ("the images as built", 0, None, None, True),
    ("the x86 image as built", 1, None, None, True),
    ("a banned mapping", 0, rename_import("MmFreeContiguousMemory", "MmMapIoSpace"),
     "imports banned functions: MmMapIoSpace", True),
    ("a banned pool allocation in the x86 image", 1, rename_import("RtlCreateSecurityDescriptor",
                                                                    "ExAllocatePoolWithTag"),
     "imports banned functions: ExAllocatePoolWithTag", True),
    ("a banned contiguous allocation", 0, rename_import("RtlCreateSecurityDescriptor", "MmAllocateContiguousMemory"),
     "imports banned functions: MmAllocateContiguousMemory", True),
    ("imports from another module", 0, rename_import("HAL.dll", "XAL.dll"), "imports from XAL.dll", True),
    ("no VERSIONINFO", 0, clear_directory(2), "no VERSIONINFO resource", True),
    ("no VERSIONINFO in the x86 image", 1, clear_directory(2), "no VERSIONINFO resource", True),
    ("another file version", 0, version_field(12, 1), "file version 1.0.0.1", True),
    ("another product version", 0, version_field(16, 0x00020000), "product version 2.0.0.0", True),
    ("a description that does not name the driver", 0, replace_text("VelDrv101 hardware", "Kernel    hardware"),
     "file description 'Kernel    hardware access driver' does not name VelDrv101", True),
    ("no unwind data", 0, clear_directory(3), "no unwind data (no exception directory)", True),
    ("a function without unwind data", 0, drop_unwind_entry, "lies in no function with unwind data", True),
    ("a wrong checksum", 0, flip_padding_byte, "checksum 0x", False),
]


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    originals = [open(path, "rb").read() for path in argv[1:3]]
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        for name, which, change, expected, fix_checksum in CASES:
            data = bytearray(originals[which])
            if change is not None:
                change(data)
            if fix_checksum:
                data = with_checksum(data)
            path = os.path.join(folder, "image.sys")
            with open(path, "wb") as out:
                out.write(data)
            faults = check.check_image(path, "x64" if which == 0 else "x86")
            ok = faults == [] if expected is None else len(faults) == 1 and expected in faults[0]
            print(f"{'ok' if ok else 'FAILED'}: {name}: {faults if faults else 'no fault'}")
            failures += 0 if ok else 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
