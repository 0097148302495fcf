#!/usr/bin/env bash
# Prepares a fresh Debian 12 machine for every build and test of Kestrune:
# system packages (with Debian's i386 architecture, for the 32-bit Wine that
# runs the product as the WOW64 process it is on Windows 10 x64), the
# third-party sources built by the project itself (zlib's minizip and
# pugixml, from Debian source packages), and a Wine prefix set to Windows 10.
# Safe to run again; finished steps are skipped.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps="$root/.deps"
mkdir -p "$deps"

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev file
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev nlohmann-json3-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
  mingw-w64-tools libz-mingw-w64-dev
  wine64 wine32:i386 xvfb xdotool x11-utils unzip zip python3 clang-format
  osslsigncode openssl
)

# wine32 is an i386 package: the architecture must be known before apt
# can install it.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture"
  dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# 32-bit programs. Wine's 32-bit loader is a Linux i386 program; a kernel
# whose 32-bit emulation is off (ia32_emulation, as on some virtual
# machines) refuses it with "Exec format error". There it runs through
# qemu's user-mode emulator, registered for i386 programs with binfmt_misc
# (registrations last until the machine restarts, so this runs every time).
# Debian 12's qemu (7.2) ignores MAP_FIXED_NOREPLACE, on which Wine's
# address-space reservation relies: each Windows process start then makes
# some 65,000 mappings and takes about a minute. The qemu of Debian 12's
# backports (10.0) honours it and starts a process in about a second; its
# emulator is one static program, unpacked into .deps without installing
# the package, so /etc/apt and the system's packages stay as they are.
qemu_i386="$deps/qemu/usr/bin/qemu-i386"
fetch_qemu() {
  local apt="$deps/apt-backports"
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/sources.list.d"
  local codename uri
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  uri=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null)
  printf 'Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "${uri:-http://deb.debian.org/debian}" "$codename" > "$apt/sources.list.d/backports.sources"
  : > "$apt/sources.list"
  local opts=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/sources.list.d"
              -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache")
  apt-get "${opts[@]}" update -qq
  rm -f "$apt"/qemu-user_*.deb
  (cd "$apt" && { apt-get "${opts[@]}" download -qq "qemu-user/$codename-backports" >/dev/null 2>&1 \
     || apt-get "${opts[@]}" download "qemu-user/$codename-backports"; })
  rm -rf "$deps/qemu"
  dpkg -x "$apt"/qemu-user_*.deb "$deps/qemu"
}
if ! /usr/lib/wine/wine --version >/dev/null 2>&1 || grep -qs "^interpreter" /proc/sys/fs/binfmt_misc/kestrune-i386; then
  if [ ! -x "$qemu_i386" ]; then
    echo "setup: this kernel runs no 32-bit programs; fetching qemu's i386 emulator from backports"
    fetch_qemu
  fi
  binfmt=/proc/sys/fs/binfmt_misc
  [ -f "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
  # An earlier registration may name another emulator (an older setup's, or
  # another clone's): it is made anew for this one.
  if ! grep -qx "interpreter $qemu_i386" "$binfmt/kestrune-i386" 2>/dev/null; then
    [ ! -f "$binfmt/kestrune-i386" ] || echo -1 > "$binfmt/kestrune-i386"
    echo ":kestrune-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$qemu_i386:FC" \
      > "$binfmt/register"
  fi
  /usr/lib/wine/wine --version >/dev/null 2>&1 || { echo "setup: 32-bit Wine cannot start" >&2; exit 1; }
fi

# Source packages through a private apt state, so /etc/apt stays untouched.
fetch_source() { # name=version, directory glob that marks it fetched
  local spec=$1 marker=$2
  compgen -G "$deps/src/$marker" >/dev/null && return 0
  local apt="$deps/apt"
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/sources.list.d" "$deps/src"
  if [ ! -f "$apt/sources.list.d/src.sources" ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources > "$apt/sources.list.d/src.sources"
    : > "$apt/sources.list"
  fi
  local opts=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/sources.list.d"
              -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache")
  [ -n "$(ls -A "$apt/lists" 2>/dev/null | grep -v partial)" ] || apt-get "${opts[@]}" update -qq
  (cd "$deps/src" && apt-get "${opts[@]}" source -qq "$spec" >/dev/null 2>&1 \
     || apt-get "${opts[@]}" source "$spec")
}
fetch_source zlib=1:1.2.13.dfsg-1 'zlib-1.2.13*'
fetch_source pugixml 'pugixml-1.*'

# Wine prefix template, Windows 10, no Mono/Gecko; each build copies it. It
# serves both word sizes: made while the 32-bit Wine is installed, its
# SysWOW64 holds the 32-bit system (a template made before that has an
# empty SysWOW64 and is made anew). Windows 10 x64 has a SysWOW64\Drivers
# folder that a fresh Wine prefix lacks; the driver loader writes there.
tmpl="$deps/wineprefix"
if [ ! -f "$tmpl/.kestrune-ready" ] || [ ! -f "$tmpl/drive_c/windows/syswow64/kernel32.dll" ]; then
  rm -rf "$tmpl"
  export WINEPREFIX="$tmpl" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
  timeout -k 10 300 /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1 || true
  timeout -k 10 60 /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine' /v Version /d win10 /f </dev/null >/dev/null 2>&1
  timeout -k 10 60 /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
  /usr/lib/wine/wineserver -k || true
  mkdir -p "$tmpl/drive_c/windows/syswow64/drivers"
  touch "$tmpl/.kestrune-ready"
fi
echo "setup: ready"
