#!/usr/bin/env bash
# Builds the benchmarks optimised and without sanitizers and runs them:
# ExtractZip against Info-ZIP's unzip on one 64 MiB package (the ratio is
# printed last) and the parse of a 1,000-driver catalogue.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
cmake --preset bench >/dev/null
cmake --build --preset bench -j2
build/bench/tests/bench/update_bench "$@"
