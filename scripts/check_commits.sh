#!/usr/bin/env bash
# The messages of the commits on this branch that its base lacks (the base:
# the first argument, main by default): a subject of at most 72 characters
# that says what changed, then a body that says why. Merges are left out,
# and commits the base holds already are never checked: history stays.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "${KESTRUNE_ROOT:-$root}"
base=${1:-main}
if ! git rev-parse -q --verify "$base^{commit}" >/dev/null; then
  echo "no branch $base here: no commits to check"
  exit 0
fi
status=0
count=0
for commit in $(git rev-list --no-merges "$base..HEAD"); do
  count=$((count + 1))
  subject=$(git log -1 --format=%s "$commit")
  short=$(git rev-parse --short "$commit")
  if [ "${#subject}" -gt 72 ]; then
    echo "$short: a subject of ${#subject} characters (at most 72): $subject"
    status=1
  fi
  if [ -z "$(git log -1 --format=%b "$commit" | tr -d '[:space:]')" ]; then
    echo "$short: no body that says why: $subject"
    status=1
  fi
done
[ $status -ne 0 ] || echo "commit messages of $count commit(s) since $base: subjects of at most 72 characters, with a body"
exit $status
