#!/usr/bin/env bash
# Runs one preset's tests (ctest). A test that fails is run once more on its
# own: Wine tests share one prefix and a display. A test that passes only
# then is flaky: it does not fail the run, but it is named on a line
# "flaky: <preset>/<name>" and, when KESTRUNE_FLAKY_FILE names a file,
# added to it for the summary. Exits 1 when a test fails twice.
set -uo pipefail
preset=$1
# KESTRUNE_ROOT: the folder that holds CMakePresets.json and build/ (the
# repository by default).
root=${KESTRUNE_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
cd "$root"
failed_log=build/$preset/Testing/Temporary/LastTestsFailed.log

rm -f "$failed_log"
if ctest --preset "$preset"; then
  exit 0
fi
if [ ! -s "$failed_log" ]; then
  echo "ctest --preset $preset failed, but no test did"
  exit 1
fi
# The reruns write the log anew: read it first.
mapfile -t failed < <(cut -d: -f2- "$failed_log")
status=0
for name in "${failed[@]}"; do
  [ -n "$name" ] || continue
  echo "== $preset: $name failed; once more"
  if ctest --preset "$preset" -R "^${name}\$"; then
    echo "flaky: $preset/$name"
    [ -z "${KESTRUNE_FLAKY_FILE:-}" ] || echo "$preset/$name" >>"$KESTRUNE_FLAKY_FILE"
  else
    status=1
  fi
done
exit $status
