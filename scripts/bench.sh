#!/usr/bin/env bash
# Builds the benchmarks optimised and without sanitizers and runs them:
# ExtractZip against Info-ZIP's unzip and against a plain zlib inflate of the
# same members into memory, on one 64 MiB package (the three figures and the
# two ratios are printed last), and the parse of a 1,000-driver catalogue.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
cmake --preset bench >/dev/null
cmake --build --preset bench -j2
build/bench/tests/bench/update_bench "$@"
