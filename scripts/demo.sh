#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds the product and its simulated
# twin, and plays a whole installation under Wine: four starts with three
# restarts between them, on a simulated board against a local server.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/setup.sh >/dev/null
echo "Building (the first build takes a few minutes)..."
for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done
echo "The product: build/win32/app/Kestrune.exe"
status=0
python3 scripts/demo.py build/win64 . || status=$?
/usr/lib/wine/wineserver -k 2>/dev/null || true
exit $status
