#!/usr/bin/env python3
"""Writes the raw firmware pieces the shipped boards are made of: ACPI
tables (as a dump of a real machine would hold them) and board identity
blocks. Run it from anywhere; it writes into tables/ next to itself. The
board's loader fixes the RSDT, the FADT's pointers and every checksum, so
the tables here carry placeholder pointers and checksums."""

import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "tables")


def header(signature, body, revision=1):
    length = 36 + len(body)
    head = signature.encode() + struct.pack("<IBB", length, revision, 0)
    head += b"VELNOR" + b"Z270FRGE" + struct.pack("<I", 0x01072009) + b"AMI " + struct.pack("<I", 0x00010013)
    assert len(head) == 36
    return head + body


def fadt():
    # Revision 4, 244 bytes. FIRMWARE_CTRL and DSDT hold the dumped
    # machine's addresses; the board points them at its own copies.
    body = bytearray(244 - 36)
    def put(offset, fmt, value):
        struct.pack_into(fmt, body, offset - 36, value)
    put(36, "<I", 0x8ADC6F80)   # FIRMWARE_CTRL of the dumped machine
    put(40, "<I", 0x8AD2A188)   # DSDT of the dumped machine
    put(45, "<B", 2)            # preferred PM profile: desktop
    put(46, "<H", 9)            # SCI_INT
    put(48, "<I", 0xB2)         # SMI_CMD
    put(52, "<B", 0xA0)         # ACPI_ENABLE
    put(53, "<B", 0xA1)         # ACPI_DISABLE
    put(54, "<B", 0x00)         # S4BIOS_REQ
    put(55, "<B", 0x00)         # PSTATE_CNT
    put(56, "<I", 0x1800)       # PM1a_EVT_BLK
    put(64, "<I", 0x1804)       # PM1a_CNT_BLK
    put(76, "<I", 0x1808)       # PM_TMR_BLK
    put(80, "<I", 0x1880)       # GPE0_BLK
    put(88, "<B", 4)            # PM1_EVT_LEN
    put(89, "<B", 2)            # PM1_CNT_LEN
    put(91, "<B", 4)            # PM_TMR_LEN
    put(92, "<B", 32)           # GPE0_BLK_LEN
    put(112, "<I", 0x000084A5)  # flags, TMR_VAL_EXT (0x100) set
    put(140, "<Q", 0x8AD2A188)  # X_DSDT of the dumped machine
    return header("FACP", bytes(body), 4)


def facs():
    table = bytearray(64)
    table[0:4] = b"FACS"
    struct.pack_into("<II", table, 4, 64, 0x12345678)  # length, hardware signature
    table[32] = 2  # version
    return bytes(table)


def dsdt():
    # Scope (\_SB_) {}
    return header("DSDT", bytes([0x10, 0x06, 0x5C, 0x5F, 0x53, 0x42, 0x5F]), 2)


def madt():
    body = struct.pack("<II", 0xFEE00000, 1)
    for cpu in range(4):
        body += struct.pack("<BBBBI", 0, 8, cpu, cpu, 1)  # processor local APIC
    body += struct.pack("<BBBBII", 1, 12, 2, 0, 0xFEC00000, 0)  # I/O APIC, interrupt base 0
    body += struct.pack("<BBBBIH", 2, 10, 0, 0, 2, 0)  # interrupt source override
    return header("APIC", body, 3)


def mcfg():
    body = bytes(8) + struct.pack("<QHBBI", 0xE0000000, 0, 0, 0xFF, 0)
    return header("MCFG", body, 1)


def aaft(modules):
    entries = bytes([7, 3, 1])  # function 7, one data byte
    records = b"".join(name.encode().ljust(8, b"\0") + struct.pack("<I", version) for name, version in modules)
    entries += struct.pack("<BI", 26, 5 + len(records)) + records
    return header("AAFT", entries, 1)


def identity(model, prefix, major, minor, suffix, year, month, day):
    block = bytearray(64)
    block[0:8] = b"$CN1368$"
    name = model.encode()
    assert len(name) < 0x2A - 0x0A
    block[0x0A:0x0A + len(name)] = name
    block[0x2A] = ord(prefix)
    block[0x2B] = major
    block[0x2C] = minor
    block[0x2D] = ord(suffix) if suffix else 0
    struct.pack_into("<HBB", block, 0x2E, year, month, day)
    block[0x37] = 1
    block[0x38] = 0
    block[0x3F] = (-sum(block)) & 0xFF  # the 64 bytes sum to 0
    assert sum(block) % 256 == 0
    return bytes(block)


def main():
    os.makedirs(HERE, exist_ok=True)
    lacking = [("ME", 11), ("GOP", 9), ("RAIDDXE", 15)]
    ready = lacking + [("OPTANE", 1)]
    files = {
        "facp.bin": fadt(),
        "facs.bin": facs(),
        "dsdt.bin": dsdt(),
        "apic.bin": madt(),
        "mcfg.bin": mcfg(),
        "aaft-no-optane.bin": aaft(lacking),
        "aaft-optane.bin": aaft(ready),
        "identity-p140.bin": identity("Z270 Forge", "P", 1, 40, None, 2017, 3, 24),
        "identity-p210.bin": identity("Z270 Forge", "P", 2, 10, None, 2017, 9, 12),
        "identity-x370.bin": identity("X370 Forge", "P", 3, 20, None, 2018, 1, 8),
    }
    for name, data in files.items():
        with open(os.path.join(HERE, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
