#!/usr/bin/env python3
"""Checks the driver's kernel images as Windows would before loading them.

    check_driver_images.py X64.sys X86.sys [PROGRAM.exe]

For each image: the machine type (x64, then x86), the native subsystem,
imports from ntoskrnl.exe and HAL.dll only, a correct PE checksum (Windows
refuses a driver whose checksum is wrong), DYNAMIC_BASE and NX_COMPAT set,
page-aligned sections and no section both writable and executable. With a
program, also that it carries both images byte for byte. Exit 0 when all
checks pass."""
import struct
import sys

MACHINES = {0x8664: "x64", 0x014C: "x86"}
ALLOWED_IMPORTS = {"ntoskrnl.exe", "hal.dll"}
DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100
MEM_EXECUTE = 0x20000000
MEM_WRITE = 0x80000000
SUBSYSTEM_NATIVE = 1


def pe_checksum(data, checksum_offset):
    total = 0
    padded = data + b"\0" * (len(data) % 2)
    for i in range(0, len(padded), 2):
        if i == checksum_offset or i == checksum_offset + 2:
            continue
        total += padded[i] | (padded[i + 1] << 8)
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def check_image(path, expected_machine):
    data = open(path, "rb").read()
    faults = []
    if data[:2] != b"MZ":
        return [f"{path}: not an MZ image"]
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return [f"{path}: no PE signature"]
    machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    if MACHINES.get(machine) != expected_machine:
        faults.append(f"machine 0x{machine:04X}, expected {expected_machine}")
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    wide = magic == 0x20B
    section_alignment = struct.unpack_from("<I", data, opt + 32)[0]
    checksum_offset = opt + 64
    checksum = struct.unpack_from("<I", data, checksum_offset)[0]
    subsystem, dll_characteristics = struct.unpack_from("<HH", data, opt + 68)
    directories = opt + (112 if wide else 96)
    import_rva, import_size = struct.unpack_from("<II", data, directories + 8)
    if subsystem != SUBSYSTEM_NATIVE:
        faults.append(f"subsystem {subsystem}, expected native (1)")
    if not dll_characteristics & DYNAMIC_BASE:
        faults.append("DYNAMIC_BASE not set")
    if not dll_characteristics & NX_COMPAT:
        faults.append("NX_COMPAT not set")
    computed = pe_checksum(data, checksum_offset)
    if checksum != computed:
        faults.append(f"checksum 0x{checksum:08X}, computed 0x{computed:08X}")
    if section_alignment != 0x1000:
        faults.append(f"section alignment 0x{section_alignment:X}, expected 0x1000")

    table = opt + optional_size
    mapped = []
    for i in range(sections):
        entry = table + 40 * i
        name = data[entry:entry + 8].rstrip(b"\0").decode("ascii", "replace")
        virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", data, entry + 8)
        flags = struct.unpack_from("<I", data, entry + 36)[0]
        if flags & MEM_WRITE and flags & MEM_EXECUTE:
            faults.append(f"section {name} is writable and executable")
        mapped.append((rva, max(virtual_size, raw_size), raw_offset))

    def offset_of(rva):
        for start, size, raw in mapped:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA 0x{rva:X} lies in no section")

    imports = []
    if import_rva:
        at = offset_of(import_rva)
        while True:
            descriptor = struct.unpack_from("<IIIII", data, at)
            if not any(descriptor):
                break
            name_at = offset_of(descriptor[3])
            imports.append(data[name_at:data.index(b"\0", name_at)].decode("ascii"))
            at += 20
    unexpected = [name for name in imports if name.lower() not in ALLOWED_IMPORTS]
    if unexpected:
        faults.append(f"imports from {', '.join(unexpected)}")
    if not imports:
        faults.append("no imports at all")
    print(f"{path}: {expected_machine}, {len(data)} bytes, imports {', '.join(imports)}, "
          f"checksum 0x{checksum:08X}, DllCharacteristics 0x{dll_characteristics:04X}")
    return [f"{path}: {fault}" for fault in faults]


def main(argv):
    if len(argv) not in (3, 4):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    faults = check_image(argv[1], "x64") + check_image(argv[2], "x86")
    if len(argv) == 4:
        program = open(argv[3], "rb").read()
        for image in argv[1:3]:
            if open(image, "rb").read() not in program:
                faults.append(f"{argv[3]} does not carry {image}")
    for fault in faults:
        print("FAULT", fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
