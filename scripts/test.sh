#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds every preset and runs every test:
# the native unit tests (sanitizers on), the Windows test programs under
# wine64, and the checks of the product build.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/setup.sh

for preset in native win64 win32; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

status=0
for preset in native win64; do
  echo "== test $preset"
  # Wine tests share one prefix and a display; a test that fails is run
  # once more before it counts as failed.
  ctest --preset "$preset" --repeat until-pass:2 || status=1
done
/usr/lib/wine/wineserver -k 2>/dev/null || true

echo "== product build"
python3 tests/e2e/check_product.py build/win32/app/Kestrune.exe || status=1

echo "== fuzz"
bash scripts/fuzz.sh || status=1
exit $status
