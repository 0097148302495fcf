#!/usr/bin/env python3
"""Checks the product build: a PE32 i386 console program that imports only
libraries Windows keeps among its known DLLs (any other is loaded at run
time from the system folder), carries the mitigation flags the toolchain can
give it, its manifest and version resource."""
import re
import struct
import subprocess
import sys

# Windows 10's known DLLs (HKLM\SYSTEM\CurrentControlSet\Control\Session
# Manager\KnownDLLs): always taken from the system folder, never from the
# program's own. VERSION, WININET, WINTRUST and CRYPT32 are not among them.
KNOWN_DLLS = {"ADVAPI32.DLL", "CLBCATQ.DLL", "COMBASE.DLL", "COMDLG32.DLL", "COML2.DLL", "DIFXAPI.DLL", "GDI32.DLL",
              "GDIPLUS.DLL", "IMAGEHLP.DLL", "IMM32.DLL", "KERNEL32.DLL", "MSCTF.DLL", "MSVCRT.DLL", "NORMALIZ.DLL",
              "NSI.DLL", "OLE32.DLL", "OLEAUT32.DLL", "PSAPI.DLL", "RPCRT4.DLL", "SECHOST.DLL", "SETUPAPI.DLL",
              "SHCORE.DLL", "SHELL32.DLL", "SHLWAPI.DLL", "USER32.DLL", "WLDAP32.DLL", "WS2_32.DLL"}
# DllCharacteristics the image must carry.
FLAGS = {0x0040: "DYNAMIC_BASE", 0x0100: "NX_COMPAT", 0x0400: "NO_SEH", 0x8000: "TERMINAL_SERVER_AWARE"}
SUPPORTED_OS = ["e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"]


def check_product(path, report=print):
    """The faults of the image at path, each as the text of its failed check."""
    failures = []

    def check(condition, what):
        report(("ok   " if condition else "FAIL ") + what)
        if not condition:
            failures.append(what)

    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    check(data[pe:pe + 4] == b"PE\0\0", "PE signature")
    machine = struct.unpack_from("<H", data, pe + 4)[0]
    check(machine == 0x14C, "machine i386 (0x%X)" % machine)
    optional = pe + 24
    check(struct.unpack_from("<H", data, optional)[0] == 0x10B, "PE32 optional header")
    check(struct.unpack_from("<H", data, optional + 68)[0] == 3, "console subsystem")
    characteristics = struct.unpack_from("<H", data, optional + 70)[0]
    for bit, name in sorted(FLAGS.items()):
        check(characteristics & bit != 0, "DllCharacteristics 0x%04X has %s" % (characteristics, name))

    dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", path], capture_output=True, text=True).stdout
    dlls = {name.upper() for name in re.findall(r"DLL Name: (\S+)", dump)}
    check(bool(dlls), "imports libraries: " + ", ".join(sorted(dlls)))
    check(dlls <= KNOWN_DLLS, "imports only known DLLs; not: " + ", ".join(sorted(dlls - KNOWN_DLLS)))
    delay_rva, delay_size = struct.unpack_from("<II", data, optional + 96 + 13 * 8)
    check(delay_size == 0, "no delay-loaded imports (the program loads its other libraries itself)")

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
    return failures


def main(path):
    failures = check_product(path)
    print("product: %d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
