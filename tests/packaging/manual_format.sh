#!/usr/bin/env bash
# The manual pages format without a single warning from groff, as Debian's lintian checks them.
#   manual_format.sh <page>...
set -euo pipefail
status=0
for page in "$@"; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    if [[ -n $warnings ]]; then
        echo "$page:" >&2
        echo "$warnings" >&2
        status=1
    fi
done
exit $status
