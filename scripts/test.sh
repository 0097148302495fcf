#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds every preset and runs every test:
# the native unit tests (sanitizers on), the 64-bit Windows test programs
# under Wine, the 32-bit ones as WOW64 processes (the product's
# configuration), the checks of the product build and a start of the
# product itself, a capture of this machine replayed, and the fuzz targets.
# First the code's own rules (includes, formatting, commit messages). Each
# stage prints how long it took; the summary names the flaky tests.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

stage_name=""
stage_start=$SECONDS
stage() { # name: ends the running stage with its time and starts the next
  [ -z "$stage_name" ] || echo "-- $stage_name took $((SECONDS - stage_start)) s"
  stage_name=$1
  stage_start=$SECONDS
  echo "== $1"
}

stage "setup"
bash scripts/setup.sh

status=0
# The code's own rules: includes follow the layers (docs/architecture.md),
# every file is clang-format clean, and the commits this branch adds to main
# have short subjects and a body.
stage "checks"
python3 scripts/check_includes.py || status=1
bash scripts/check_format.sh || status=1
bash scripts/check_commits.sh main || status=1

for preset in native win64 wow64 win32; do
  stage "build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

# A test that fails is run once more before it counts as failed (Wine
# tests share one prefix and a display); one that passes only then is
# named in the summary as flaky.
flaky_file=$(mktemp)
for preset in native win64 wow64; do
  stage "test $preset"
  KESTRUNE_FLAKY_FILE=$flaky_file bash scripts/run_tests.sh "$preset" || status=1
  [ "$preset" = native ] || WINEPREFIX="$root/build/$preset/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
done

# The product: only known DLLs imported, its mitigation flags, manifest and
# version; and the check itself, on copies with one fault each (VERSION.dll
# imported statically among them).
stage "product build"
python3 tests/e2e/check_product.py build/win32/app/Kestrune.exe || status=1
python3 tests/e2e/check_product_test.py build/win32/app/Kestrune.exe || status=1

stage "product smoke"
python3 tests/e2e/product_smoke.py build/win32/app/Kestrune.exe build/win32/smoke .deps/wineprefix \
  build/win32/driver/VelDrv101-x64.sys || status=1

# This machine captured into a board file, replayed through kestrune-probe
# and checked against what the machine itself says, then KestruneSim.exe
# run on it to the ending its processor and chipset lead to.
stage "capture replay"
python3 tests/tools/capture_replay.py build/native/tools/kestrune-probe build/native/capture --sim build/wow64 || status=1
WINEPREFIX="$root/build/wow64/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true

# The driver's kernel images, and the product carrying both of them.
stage "driver images"
python3 tests/driver/check_driver_images.py build/win32/driver/VelDrv101-x64.sys \
  build/win32/driver/VelDrv101-x86.sys build/win32/app/Kestrune.exe || status=1

stage "fuzz"
bash scripts/fuzz.sh || status=1
stage "done"
echo "-- all stages took $SECONDS s"
if [ -s "$flaky_file" ]; then
  echo "-- flaky (passed only when run again): $(tr '\n' ' ' <"$flaky_file")"
else
  echo "-- flaky: none"
fi
rm -f "$flaky_file"
exit $status
