#!/usr/bin/env bash
# Fails when a C or C++ file of the repository is not as clang-format writes
# it (the repository's .clang-format; clang-format 14, as Debian 12 ships
# it: another version may place a few things otherwise). With --fix it
# formats them instead.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
format=$(command -v clang-format-14 || command -v clang-format)
mapfile -t files < <(git ls-files -co --exclude-standard -- '*.c' '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  "$format" -i "${files[@]}"
  exit 0
fi
if ! "$format" --dry-run -Werror "${files[@]}"; then
  echo "not clang-format clean: scripts/check_format.sh --fix formats the files above"
  exit 1
fi
echo "clang-format clean (${#files[@]} files)"
