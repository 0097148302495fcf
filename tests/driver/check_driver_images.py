#!/usr/bin/env python3
"""Checks the driver's kernel images as Windows, and a reviewer of a driver
for it, would before loading them.

    check_driver_images.py X64.sys X86.sys [PROGRAM.exe]

For each image: the machine type (x64, then x86), the native subsystem,
imports from ntoskrnl.exe and HAL.dll only and none of the kernel functions
on Microsoft's banned list for drivers, a correct PE checksum (Windows
refuses a driver whose checksum is wrong), DYNAMIC_BASE and NX_COMPAT set,
page-aligned sections, no section both writable and executable, and a
VERSIONINFO resource with file and product version 1.0.0.0 and a file
description naming the driver. The x64 image must also have unwind data
for every function: every byte of its code lies in a function of the
exception directory, but for the padding between functions, the linker's
jumps to imported functions and its empty constructor lists. With a program, also that it carries
both images byte for byte. Exit 0 when all checks pass."""
import struct
import sys

MACHINES = {0x8664: "x64", 0x014C: "x86"}
ALLOWED_IMPORTS = {"ntoskrnl.exe", "hal.dll"}
# Banned for drivers (code analysis C30029 and C28751): mappings and
# contiguous memory that may be executable, and the pool allocations that
# ExAllocatePool2 and ExAllocatePool3 replace.
BANNED_IMPORTS = {
    "MmMapIoSpace",
    "MmAllocateContiguousMemory",
    "MmAllocateContiguousMemorySpecifyCache",
    "ExAllocatePool",
    "ExAllocatePoolWithTag",
    "ExAllocatePoolWithQuota",
    "ExAllocatePoolWithQuotaTag",
    "ExAllocatePoolWithTagPriority",
}
DRIVER_NAME = "VelDrv101"
VERSION = "1.0.0.0"
DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100
MEM_EXECUTE = 0x20000000
MEM_WRITE = 0x80000000
SUBSYSTEM_NATIVE = 1
RT_VERSION = 16
FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD
# Padding between functions: int3, zero fill and the NOP encodings.
PADDING = [bytes([0xCC]), bytes([0x00]), bytes([0x90]), bytes.fromhex("6690"), bytes.fromhex("0f1f00"),
           bytes.fromhex("0f1f4000"), bytes.fromhex("0f1f440000"), bytes.fromhex("660f1f440000"),
           bytes.fromhex("0f1f8000000000"), bytes.fromhex("0f1f840000000000"), bytes.fromhex("660f1f840000000000"),
           bytes.fromhex("662e0f1f840000000000")]
# GNU ld's empty constructor and destructor lists at the end of the code:
# data, never called (the driver has no constructors).
EMPTY_CONSTRUCTOR_LIST = bytes([0xFF] * 8 + [0x00] * 8)


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


class Image:
    """The parts of a PE image the checks read."""

    def __init__(self, data):
        self.data = data
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        self.machine, count, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, self.pe + 4)
        self.opt = self.pe + 24
        self.wide = struct.unpack_from("<H", data, self.opt)[0] == 0x20B
        self.entry = struct.unpack_from("<I", data, self.opt + 16)[0]
        self.checksum_offset = self.opt + 64
        self.directories = self.opt + (112 if self.wide else 96)
        self.sections = []
        for i in range(count):
            at = self.opt + optional_size + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode("ascii", "replace")
            virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", data, at + 8)
            flags = struct.unpack_from("<I", data, at + 36)[0]
            self.sections.append((name, rva, max(virtual_size, raw_size), virtual_size, raw_offset, flags))

    def directory(self, index):
        return struct.unpack_from("<II", self.data, self.directories + 8 * index)

    def offset_of(self, rva):
        for _, start, size, _, raw, _ in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA 0x{rva:X} lies in no section")

    def text_at(self, rva):
        at = self.offset_of(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def imports(self):
        """{dll: [function names]} of the import directory."""
        result = {}
        rva, _ = self.directory(1)
        if not rva:
            return result
        at = self.offset_of(rva)
        width = 8 if self.wide else 4
        by_name_mask = 1 << (63 if self.wide else 31)
        while True:
            lookup, _, _, name_rva, address_table = struct.unpack_from("<IIIII", self.data, at)
            if not name_rva:
                break
            functions = []
            entry = self.offset_of(lookup or address_table)
            while True:
                value = struct.unpack_from("<Q" if self.wide else "<I", self.data, entry)[0]
                if not value:
                    break
                functions.append(f"#{value & 0xFFFF}" if value & by_name_mask else self.text_at(value + 2))
                entry += width
            result[self.text_at(name_rva)] = functions
            at += 20
        return result

    def import_address_range(self):
        rva, size = self.directory(12)
        return rva, rva + size


def version_info(image):
    """(file version, product version, {name: value}) of the VERSIONINFO
    resource, or None when there is none."""
    root_rva, size = image.directory(2)
    if not root_rva or not size:
        return None
    root = image.offset_of(root_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", image.data, directory + 12)
        for i in range(named + ids):
            yield struct.unpack_from("<II", image.data, directory + 16 + 8 * i)

    def first_leaf(offset):
        for _, target in entries(offset):
            if target & 0x80000000:
                return first_leaf(root + (target & 0x7FFFFFFF))
            data_rva, data_size = struct.unpack_from("<II", image.data, root + target)
            return image.data[image.offset_of(data_rva):image.offset_of(data_rva) + data_size]
        return None

    block = None
    for name, target in entries(root):
        if name == RT_VERSION and target & 0x80000000:
            block = first_leaf(root + (target & 0x7FFFFFFF))
    if block is None:
        return None

    def parse(at):
        """One node: (key, value bytes, children, end)."""
        length, value_length, kind = struct.unpack_from("<HHH", block, at)
        key_end = at + 6
        while block[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = block[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        value_size = value_length * 2 if kind == 1 else value_length
        value = block[value_at:value_at + value_size]
        children = []
        child = (value_at + value_size + 3) & ~3
        while child < at + length:
            node = parse(child)
            children.append(node)
            child = (node[3] + 3) & ~3
        return key, value, children, at + length

    key, fixed, children, _ = parse(0)
    if key != "VS_VERSION_INFO" or len(fixed) < 52 or struct.unpack_from("<I", fixed)[0] != FIXED_FILE_INFO_SIGNATURE:
        return None
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", fixed, 8)

    def dotted(ms, ls):
        return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"

    strings = {}
    for child_key, _, tables, _ in children:
        if child_key == "StringFileInfo":
            for _, _, values, _ in tables:
                for name, value, _, _ in values:
                    strings[name] = value.decode("utf-16-le").rstrip("\0")
    return dotted(file_ms, file_ls), dotted(product_ms, product_ls), strings


def version_faults(image):
    info = version_info(image)
    if info is None:
        return ["no VERSIONINFO resource"]
    file_version, product_version, strings = info
    faults = []
    if file_version != VERSION or strings.get("FileVersion") != VERSION:
        faults.append(f"file version {file_version} / {strings.get('FileVersion')!r}, expected {VERSION}")
    if product_version != VERSION or strings.get("ProductVersion") != VERSION:
        faults.append(f"product version {product_version} / {strings.get('ProductVersion')!r}, expected {VERSION}")
    if DRIVER_NAME not in strings.get("FileDescription", ""):
        faults.append(f"file description {strings.get('FileDescription')!r} does not name {DRIVER_NAME}")
    return faults


def unwind_faults(image):
    """Every byte of the x64 image's code lies in a function of the exception
    directory, or is padding or a jump through the import address table."""
    rva, size = image.directory(3)
    if not rva or not size:
        return ["no unwind data (no exception directory)"]
    if size % 12:
        return [f"exception directory of {size} bytes is no whole number of entries"]
    table = image.offset_of(rva)
    functions = [struct.unpack_from("<III", image.data, table + 12 * i) for i in range(size // 12)]
    faults = []
    previous_end = 0
    for begin, end, unwind in functions:
        if not begin < end or begin < previous_end:
            faults.append(f"unwind entry 0x{begin:X}-0x{end:X} is empty, unsorted or overlaps the one before")
        previous_end = end
        try:
            version = image.data[image.offset_of(unwind)] & 7
        except ValueError:
            version = None
        if version != 1:
            faults.append(f"function at 0x{begin:X} has no valid unwind information")
    if not any(begin <= image.entry < end for begin, end, _ in functions):
        faults.append(f"the entry point 0x{image.entry:X} has no unwind data")
    iat_begin, iat_end = image.import_address_range()
    covered = sorted((begin, end) for begin, end, _ in functions)
    for name, start, _, virtual_size, _, flags in image.sections:
        if not flags & MEM_EXECUTE:
            continue
        at = start
        end = start + virtual_size
        code = image.data[image.offset_of(start):image.offset_of(start) + virtual_size]
        while at < end:
            inside = next((e for b, e in covered if b <= at < e), None)
            if inside is not None:
                at = inside
                continue
            piece = code[at - start:]
            pad = next((p for p in [EMPTY_CONSTRUCTOR_LIST] + PADDING if piece.startswith(p)), None)
            if pad is not None:
                at += len(pad)
                continue
            if piece[:2] == b"\xff\x25" and len(piece) >= 6:
                target = at + 6 + struct.unpack_from("<i", piece, 2)[0]
                if iat_begin <= target < iat_end:
                    at += 6
                    continue
            faults.append(f"code at 0x{at:X} in {name} lies in no function with unwind data")
            break
    return faults


def check_image(path, expected_machine):
    data = open(path, "rb").read()
    if data[:2] != b"MZ":
        return [f"{path}: not an MZ image"]
    if data[struct.unpack_from("<I", data, 0x3C)[0]:][:4] != b"PE\0\0":
        return [f"{path}: no PE signature"]
    image = Image(data)
    faults = []
    if MACHINES.get(image.machine) != expected_machine:
        faults.append(f"machine 0x{image.machine:04X}, expected {expected_machine}")
    section_alignment = struct.unpack_from("<I", data, image.opt + 32)[0]
    checksum = struct.unpack_from("<I", data, image.checksum_offset)[0]
    subsystem, dll_characteristics = struct.unpack_from("<HH", data, image.opt + 68)
    if subsystem != SUBSYSTEM_NATIVE:
        faults.append(f"subsystem {subsystem}, expected native (1)")
    if not dll_characteristics & DYNAMIC_BASE:
        faults.append("DYNAMIC_BASE not set")
    if not dll_characteristics & NX_COMPAT:
        faults.append("NX_COMPAT not set")
    computed = pe_checksum(data, image.checksum_offset)
    if checksum != computed:
        faults.append(f"checksum 0x{checksum:08X}, computed 0x{computed:08X}")
    if section_alignment != 0x1000:
        faults.append(f"section alignment 0x{section_alignment:X}, expected 0x1000")
    for name, _, _, _, _, flags in image.sections:
        if flags & MEM_WRITE and flags & MEM_EXECUTE:
            faults.append(f"section {name} is writable and executable")

    imports = image.imports()
    unexpected = [name for name in imports if name.lower() not in ALLOWED_IMPORTS]
    if unexpected:
        faults.append(f"imports from {', '.join(unexpected)}")
    if not imports:
        faults.append("no imports at all")
    banned = sorted(f for functions in imports.values() for f in functions if f in BANNED_IMPORTS)
    if banned:
        faults.append(f"imports banned functions: {', '.join(banned)}")
    faults += version_faults(image)
    if expected_machine == "x64":
        faults += unwind_faults(image)
    functions = sum(len(f) for f in imports.values())
    print(f"{path}: {expected_machine}, {len(data)} bytes, {functions} imports from {', '.join(imports)}, "
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
