#!/usr/bin/env bash
# Renders each manual page with warnings enabled; any warning is a failure.
# Usage: check-manpages.sh MAN MAN_FOLDER
set -uo pipefail
man=$1
failures=0
pages=0
for page in "$2"/*.1; do
  pages=$((pages + 1))
  warnings=$(MANWIDTH=80 "$man" --warnings -l "$page" 2>&1 >/dev/null)
  status=$?
  if [[ $status -ne 0 || -n $warnings ]]; then
    failures=$((failures + 1))
    printf 'FAIL: %s (status %d)\n%s\n' "$page" "$status" "$warnings"
  fi
done
echo "manual pages: $((pages - failures)) passed, $failures failed"
[[ $pages -gt 0 && $failures -eq 0 ]]
