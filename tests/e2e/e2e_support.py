#!/usr/bin/env python3
"""What the end-to-end suites share: the real program (KestruneSim.exe: the
product with a simulated board as its machine) under Wine, against a local
HTTP server, with stand-in programs for the BIOS flash tool and Intel's setup
program. The build folder decides the word size: build/wow64 runs the 32-bit
program as the WOW64 process it is on Windows 10 x64, build/win64 a 64-bit
build of the same program.

Every suite is started as SUITE.py BUILD_DIR SOURCE_DIR [unittest arguments];
importing this module takes the first two arguments.
"""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import time
import unittest
import zipfile

import wine_paths

BUILD = os.path.abspath(sys.argv.pop(1))
SOURCE = os.path.abspath(sys.argv.pop(1))
WINE_RUN = os.path.join(BUILD, "wine-run.sh")
PREFIX = os.path.join(BUILD, "wineprefix")
SIM = os.path.join(BUILD, "app", "KestruneSim.exe")
STANDIN = os.path.join(BUILD, "tests", "e2e", "kestrune-standin.exe")
BOARDS = os.path.join(SOURCE, "tests", "boards")
STATE_KEY = r"HKCU\Software\Velnor\Kestrune"
IRST_KEY = r"HKLM\Software\Intel\IRST"
RST_CODE = "{11111111-2222-3333-4444-555555555555}"


# Upper bound of one program run: generous, for machines that emulate 32-bit
# code (see scripts/setup.sh) and start each program more slowly.
RUN_TIMEOUT = 600


def wine(*args, cwd=None, env=None, timeout=RUN_TIMEOUT):
    full_env = dict(os.environ, **(env or {}))
    return subprocess.run([WINE_RUN, *args], cwd=cwd, env=full_env, capture_output=True, timeout=timeout,
                          stdin=subprocess.DEVNULL)


def windows_path(unix_path):
    drive_c = os.path.join(PREFIX, "drive_c")
    relative = os.path.relpath(unix_path, drive_c)
    return "C:\\" + relative.replace("/", "\\")


class Registry:
    @staticmethod
    def query(key, name):
        out = wine("reg", "query", key, "/v", name).stdout.decode("latin-1")
        for line in out.splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[0].lower() == name.lower():
                kind, value = parts[1], parts[2].strip()
                if kind == "REG_DWORD":
                    number = int(value, 16)
                    return number - (1 << 32) if number >= 1 << 31 else number
                return value
            if len(parts) == 2 and parts[0].lower() == name.lower():
                return ""
        return None

    @staticmethod
    def set_string(key, name, value, view="/reg:32"):
        wine("reg", "add", key, "/v", name, "/d", value, "/f", view)

    @staticmethod
    def delete_key(key, view=None):
        wine("reg", "delete", key, "/f", *([view] if view else []))


class Server:
    """The maker's web and package servers."""

    def __init__(self, root):
        self.root = root
        os.makedirs(os.path.join(root, "catalogue"), exist_ok=True)
        self.process = subprocess.Popen([sys.executable, os.path.join(SOURCE, "tests", "e2e", "http_server.py"), root],
                                        stdout=subprocess.PIPE, stdin=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, text=True)
        self.port = int(self.process.stdout.readline())
        self.base = "http://127.0.0.1:%d" % self.port

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)
        self.process.stdout.close()

    def requests(self):
        log = os.path.join(self.root, "requests.log")
        if not os.path.exists(log):
            return []
        with open(log) as lines:
            return [line.split(" agent=")[0] for line in lines]

    def publish_catalogue(self, model, package_path):
        xml = ('<?xml version="1.0" encoding="utf-8"?>\n<LiveUpdate>\n'
               '  <Download URL="Server1"><Server1>%s</Server1></Download>\n'
               '  <Bios Date="2017/05/02" Version="P2.10">\n'
               '    <Description>Optane memory support</Description>\n'
               '    <File Version="P2.10" Size="8">%s</File>\n'
               '    <CriticalUpdate>1</CriticalUpdate>\n'
               '  </Bios>\n</LiveUpdate>\n') % (self.base, package_path)
        with open(os.path.join(self.root, "catalogue", model.replace("/", "_") + ".xml"), "w") as out:
            out.write(xml)

    def publish_package(self, path, members):
        target = os.path.join(self.root, path.lstrip("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as archive:
            for name, source in members.items():
                archive.write(source, name)

    def answer(self, path, status):
        with open(os.path.join(self.root, "status.txt"), "a") as out:
            out.write("%s %d\n" % (path, status))


class TestCertificates:
    """A code-signing root made for the test run, two signers under it, and
    the root made trusted in the build's Wine prefix (its machine store is
    the registry's SystemCertificates\\Root, as on Windows)."""

    ROOT = "Kestrune Test Root"
    MAKER = "Kestrune Test Flash Signer"
    OTHER = "Other Maker Test Signer"

    def __init__(self, folder):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        self.root = self._make(self.ROOT, None)
        for name in (self.MAKER, self.OTHER):
            self._make(name, self.ROOT)

    def _path(self, name, suffix):
        return os.path.join(self.folder, name.replace(" ", "_") + suffix)

    def _openssl(self, *args):
        subprocess.run(["openssl", *args], check=True, capture_output=True)

    def _make(self, name, issuer):
        config = self._path(name, ".cnf")
        with open(config, "w") as out:
            out.write("[req]\ndistinguished_name = dn\n[dn]\n[ext]\n")
            if issuer is None:
                out.write("basicConstraints = critical,CA:TRUE\nkeyUsage = critical,keyCertSign,cRLSign\n"
                          "subjectKeyIdentifier = hash\n")
            else:
                out.write("basicConstraints = critical,CA:FALSE\nkeyUsage = critical,digitalSignature\n"
                          "extendedKeyUsage = codeSigning\nsubjectKeyIdentifier = hash\n"
                          "authorityKeyIdentifier = keyid\n")
        key, cert = self._path(name, ".key"), self._path(name, ".pem")
        if issuer is None:
            self._openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "7",
                          "-subj", "/CN=" + name, "-config", config, "-extensions", "ext")
        else:
            request = self._path(name, ".csr")
            self._openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", request, "-subj",
                          "/CN=" + name, "-config", config)
            self._openssl("x509", "-req", "-in", request, "-CA", self._path(issuer, ".pem"), "-CAkey",
                          self._path(issuer, ".key"), "-set_serial", str(int(time.time() * 1000)), "-out", cert,
                          "-days", "7", "-extfile", config, "-extensions", "ext")
        return cert

    def der(self, name):
        return subprocess.run(["openssl", "x509", "-in", self._path(name, ".pem"), "-outform", "DER"], check=True,
                              capture_output=True).stdout

    def thumbprint(self, name):
        return hashlib.sha256(self.der(name)).hexdigest().upper()

    def sign(self, source, target, name):
        chain = self._path(name, ".chain.pem")
        with open(chain, "w") as out:
            for part in (name, self.ROOT):
                with open(self._path(part, ".pem")) as pem:
                    out.write(pem.read())
        if os.path.exists(target):
            os.remove(target)
        subprocess.run(["osslsigncode", "sign", "-certs", chain, "-key", self._path(name, ".key"), "-n", "Flash",
                        "-in", source, "-out", target], check=True, capture_output=True)

    def trust_root(self):
        """Adds the root to the machine's trusted roots: a certificate is a key
        named after its SHA-1 hash whose "Blob" is the serialised certificate
        (property 32, CERT_CERT_PROP_ID, holding the encoded certificate)."""
        der = self.der(self.ROOT)
        blob = struct.pack("<III", 32, 1, len(der)) + der
        key = r"HKEY_LOCAL_MACHINE\Software\Microsoft\SystemCertificates\Root\Certificates\%s" % (
            hashlib.sha1(der).hexdigest().upper())
        reg = os.path.join(PREFIX, "drive_c", "kestrune-test-root.reg")
        with open(reg, "w", newline="\r\n") as out:
            out.write("Windows Registry Editor Version 5.00\n\n[%s]\n\"Blob\"=hex:%s\n" %
                      (key, ",".join("%02x" % b for b in blob)))
        for view in ("/reg:32", "/reg:64"):
            wine("reg", "import", windows_path(reg), view)
        return key

    @staticmethod
    def distrust_root(key):
        for view in ("/reg:32", "/reg:64"):
            wine("reg", "delete", key, "/f", view)


_setup_program = None


def setup_program():
    """Intel's setup program as the suites start it: the stand-in, signed by
    a test certificate, and the signer list that names it (what
    KESTRUNE_SETUP_SIGNERS tells KestruneSim.exe, as a release build names
    Intel's), and the certificates that made it. Made once per suite."""
    global _setup_program
    if _setup_program is None:
        folder = os.path.join(BUILD, "e2e", "setup-certificates")
        certificates = TestCertificates(folder)
        path = os.path.join(folder, "SetupOptaneMemory.exe")
        certificates.sign(STANDIN, path, TestCertificates.MAKER)
        _setup_program = (path, certificates.thumbprint(TestCertificates.MAKER), certificates)
    return _setup_program


def program_environment(board, server, starts, exit_code=0):
    """What KestruneSim.exe is told: its board, the servers, the setup
    program's signer, and where the stand-ins log their starts."""
    return {
        "KESTRUNE_BOARD": os.path.join(BOARDS, board),
        "KESTRUNE_WEB_BASE": server.base,
        "KESTRUNE_PACKAGE_BASE": server.base,
        "KESTRUNE_SETUP_SIGNERS": setup_program()[1],
        "KESTRUNE_STANDIN_LOG": starts,
        "KESTRUNE_STANDIN_EXIT": str(exit_code),
    }


# Where the 32-bit program places the copy that its restart entry starts.
PROTECTED_COPY = os.path.join(PREFIX, "drive_c", "Program Files (x86)", "Velnor", "Kestrune", "KestruneSim.exe")


class Scenario(unittest.TestCase):
    """One folder on the simulated machine's C: drive, one server, one log of child starts."""

    def setUp(self):
        # The first Wine call makes the build's prefix: before any folder goes into it.
        Registry.delete_key(STATE_KEY)
        Registry.delete_key(IRST_KEY, "/reg:32")
        Registry.delete_key(IRST_KEY, "/reg:64")
        # Each scenario starts with a stale driver file, as on a machine that
        # ran an earlier release: the board's kernel loads only the program's
        # own image, so every run that reaches the hardware proves that the
        # loader replaced the file before it started the service.
        drivers = wine_paths.host_path(PREFIX, r"windows\syswow64\drivers")
        os.makedirs(drivers, exist_ok=True)
        with open(os.path.join(drivers, "VelDrv101.sys"), "wb") as stale:
            stale.write(b"MZ\x90\x00 an earlier release's driver")
        name = self.id().split(".")[-1]
        self.work = os.path.join(PREFIX, "drive_c", "e2e", name)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(os.path.join(self.work, "Optane"))
        shutil.copy(setup_program()[0], os.path.join(self.work, "Optane", "SetupOptaneMemory.exe"))
        shutil.rmtree(os.path.join(BUILD, "e2e", name), ignore_errors=True)
        self.server = Server(os.path.join(BUILD, "e2e", name, "server"))
        self.addCleanup(self.server.stop)
        self.starts = os.path.join(BUILD, "e2e", name, "starts.log")
        if os.path.exists(self.starts):
            os.remove(self.starts)

    def environment(self, board, exit_code=0):
        return program_environment(board, self.server, self.starts, exit_code)

    def run_program(self, board, *switches, cwd=None, exit_code=0, env=None):
        result = wine(SIM, *switches, cwd=cwd or self.work, env=dict(self.environment(board, exit_code), **(env or {})))
        output = result.stdout.decode("latin-1").replace("\r\n", "\n")
        return result.returncode, output

    def run_until_progress(self, board, cwd):
        """Runs until the progress line shows, then ends the process as the restart would."""
        env = dict(os.environ, **self.environment(board))
        # Nothing of this run may keep the suite's own output open: Intel's
        # setup (not waited for) outlives the run.
        process = subprocess.Popen([WINE_RUN, SIM], cwd=cwd, env=env, stdout=subprocess.PIPE,
                                   stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        seen = b""
        deadline = time.monotonic() + RUN_TIMEOUT
        while b"Installing Optane Memory Driver" not in seen and time.monotonic() < deadline:
            chunk = process.stdout.read1(4096)
            if not chunk:
                break
            seen += chunk
        process.kill()
        process.wait()
        process.stdout.close()
        return seen.decode("latin-1").replace("\r\n", "\n")

    def stand_in_for_msiexec(self):
        """Puts the stand-in where the 32-bit program finds MsiExec (System32 is
        SysWOW64 to it), for this scenario: Wine's own MsiExec knows neither the
        product nor "/forcerestart" and ends with a failure."""
        target = os.path.join(PREFIX, "drive_c", "windows", "syswow64", "msiexec.exe")
        saved = target + ".kestrune-saved"
        shutil.copy(target, saved)
        self.addCleanup(os.replace, saved, target)
        shutil.copy(STANDIN, target)

    def child_starts(self):
        if not os.path.exists(self.starts):
            return []
        with open(self.starts, encoding="latin-1") as lines:
            return [line.rstrip("\n").split("|") for line in lines]

    def state(self, name):
        return Registry.query(STATE_KEY, name)


    def publish(self):
        """The catalogue and BIOS package that the BIOS road downloads."""
        self.server.publish_catalogue(MODEL, PACKAGE_PATH)
        self.server.publish_package(SERVED_PACKAGE, {"Flash.exe": STANDIN, "Z270F210.bin": STANDIN})


MODEL = "Z270 Forge"
PACKAGE_PATH = "/bios/ROM/Z270Forge/Z270F210.zip"  # the first ROM becomes WIN
SERVED_PACKAGE = "/bios/WIN/Z270Forge/Z270F210.zip"
NOT_READY = "kabylake-z270-no-optane.json"
READY = "kabylake-z270-optane.json"
BANNER = ("==========================================\n"
          "  Velnor Kestrune Utility v1.0.0\n"
          "==========================================\n")
