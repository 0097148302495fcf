#!/usr/bin/env python3
"""Checks the product build: a PE32 i386 console program that imports only
system libraries and carries its manifest and version resource."""
import re
import struct
import subprocess
import sys

SYSTEM_DLLS = {"ADVAPI32.DLL", "KERNEL32.DLL", "MSVCRT.DLL", "USER32.DLL", "VERSION.DLL", "OLE32.DLL",
               "OLEAUT32.DLL", "WININET.DLL", "SETUPAPI.DLL", "SHELL32.DLL", "GDI32.DLL", "COMCTL32.DLL",
               "WINTRUST.DLL", "CRYPT32.DLL"}
SUPPORTED_OS = ["e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"]

failures = []
passes = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what)
    (passes if condition else failures).append(what)


def main(path):
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    check(data[pe:pe + 4] == b"PE\0\0", "PE signature")
    machine = struct.unpack_from("<H", data, pe + 4)[0]
    check(machine == 0x14C, "machine i386 (0x%X)" % machine)
    optional = pe + 24
    check(struct.unpack_from("<H", data, optional)[0] == 0x10B, "PE32 optional header")
    check(struct.unpack_from("<H", data, optional + 68)[0] == 3, "console subsystem")

    dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", path], capture_output=True, text=True).stdout
    dlls = {name.upper() for name in re.findall(r"DLL Name: (\S+)", dump)}
    check(bool(dlls) and dlls <= SYSTEM_DLLS, "imports only system libraries: " + ", ".join(sorted(dlls)))

    text = data.decode("latin-1")
    check('level="requireAdministrator"' in text, "manifest asks for administrator rights")
    check("Microsoft.Windows.Common-Controls" in text and 'version="6.0.0.0"' in text, "common controls 6")
    for guid in SUPPORTED_OS:
        check(guid in text.lower(), "supportedOS " + guid)

    at = data.find("VS_VERSION_INFO".encode("utf-16-le"))
    check(at >= 0, "version resource")
    fixed = data.find(struct.pack("<I", 0xFEEF04BD), at)
    if fixed >= 0:
        file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", data, fixed + 8)
        check((file_ms, file_ls) == (0x00010000, 0), "file version 1.0.0.0")
        check((product_ms, product_ls) == (0x00010000, 0), "product version 1.0.0.0")
    for name in ["CompanyName", "FileDescription", "ProductName", "LegalCopyright"]:
        key = data.find(name.encode("utf-16-le"), at)
        check(key >= 0, "version string " + name + " present")
    print("product: %d passed, %d failed" % (len(passes), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
