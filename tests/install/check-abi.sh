#!/usr/bin/env bash
# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# The library exports its public classes and nothing else, and its ABI is
# the recorded one.
#   check-abi.sh LIBRARY PUBLIC_HEADER_DIR RECORD            compare
#   check-abi.sh --update LIBRARY PUBLIC_HEADER_DIR RECORD   write the record
# A change to the record is a deliberate step: an addition keeps the SONAME,
# a change or removal needs a new one (kvsystem/CMakeLists.txt, SOVERSION).
set -euo pipefail
update=0
if [ "${1:-}" = --update ]; then
    update=1
    shift
fi
library=$1
headers=$2
record=$3
status=0

# 1. Every exported symbol that names one of our types names a public one;
#    any other symbol we define strongly is a leak (weak ones are template
#    code from the C++ library's and Qt's headers).
public=$(grep -hoE '^(class KVSYSTEM2_EXPORT|struct) Kv[A-Za-z]+' "$headers"/*.h | awk '{print $NF}' | sort -u)
[ -n "$public" ] || { echo "FAIL: no public classes found in $headers" >&2; exit 1; }
while read -r kind symbol; do
    names=$(grep -oE 'Vorna::[A-Za-z_]+' <<<"$symbol" | sed 's/^Vorna:://' | sort -u || true)
    if [ -z "$names" ]; then
        case $kind in
            [VWuvw]) ;;
            *) echo "FAIL: exported, not ours to export: $symbol" >&2; status=1 ;;
        esac
        continue
    fi
    for name in $names; do
        grep -qx "$name" <<<"$public" || { echo "FAIL: internal code exported: $symbol" >&2; status=1; }
    done
done < <(nm -DC --defined-only "$library" | awk '{$1=""; sub(/^ /,""); print}')

# 2. The ABI of the public headers against the record.
dump=$(mktemp)
trap 'rm -f "$dump"' EXIT
# Types outside the library are left out (see the suppression file beside
# the record); so are types that no exported function reaches.
suppressions=$(dirname "$record")/outside-types.suppr
abidw --no-corpus-path --no-show-locs --no-comp-dir-path --headers-dir "$headers" \
    --drop-private-types --exported-interfaces-only --suppressions "$suppressions" \
    --out-file "$dump" "$library"
if [ $update = 1 ]; then
    cp "$dump" "$record"
    echo "recorded the ABI of $library in $record"
    exit $status
fi
[ -f "$record" ] || { echo "FAIL: no ABI record $record; write one with $0 --update" >&2; exit 1; }
set +e
abidiff --no-show-locs --suppressions "$suppressions" "$record" "$dump"
diffstatus=$?
set -e
if [ $diffstatus -ne 0 ]; then
    echo "FAIL: the ABI of $library differs from $record (abidiff status $diffstatus)." >&2
    echo "If the change is meant: an addition keeps the SONAME, a change or removal" >&2
    echo "needs a new one; then record it: $0 --update $library $headers $record" >&2
    status=1
fi
exit $status
