#!/usr/bin/env bash
# The manual pages in man/ format without a single warning, by groff's strictest reading and as
# man(1) shows them.
set -euo pipefail
cd "$(dirname "$0")/.."

status=0
for page in man/*.1; do
  warnings="$(groff -ww -man -z "$page" 2>&1)$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)"
  if [ -n "$warnings" ]; then
    echo "$page:" >&2
    echo "$warnings" >&2
    status=1
  fi
done
exit $status
