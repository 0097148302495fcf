#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds the program and starts it under
# Wine, showing what a user sees.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/setup.sh
for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done
echo "Built the product: build/win32/app/Kestrune.exe"
echo "Starting the x64 build under Wine:"
set +e
build/win64/wine-run.sh build/win64/app/Kestrune.exe /SP
code=$?
set -e
echo "Exit code: $code"
/usr/lib/wine/wineserver -k 2>/dev/null || true
