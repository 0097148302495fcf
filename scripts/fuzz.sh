#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for a fixed time on its seed
# corpus (tests/fuzz/corpus/<target>/). New inputs go to a scratch folder,
# so the repository's corpus stays as committed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
seconds=${KESTRUNE_FUZZ_SECONDS:-15}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
status=0
for target in build/fuzz/tests/fuzz/*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=$(basename "$target")
  scratch=$(mktemp -d)
  seeds="tests/fuzz/corpus/$name"
  echo "== fuzz $name (${seconds}s)"
  if ! "$target" -max_total_time="$seconds" -print_final_stats=0 "$scratch" ${seeds:+$( [ -d "$seeds" ] && echo "$seeds")} \
       >"$scratch.log" 2>&1; then
    tail -40 "$scratch.log"
    status=1
  else
    grep -E '^#[0-9]+.*DONE' "$scratch.log" | tail -1 || true
  fi
  rm -rf "$scratch" "$scratch.log"
done
exit $status
