#!/usr/bin/env bash
# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# Every manual page renders without a warning from man or groff, and
# charge-recorder(1) documents every option the program's --help lists, as
# does each further PAGE for its PROGRAM.
#   check-manpages.sh MAN_SOURCE_DIR CHARGE_RECORDER [PAGE PROGRAM]...
set -euo pipefail
dir=$1
recorder=$2
export LC_ALL=C.UTF-8 MANWIDTH=80
status=0
pages=("$dir"/*.[1-8])
[ ${#pages[@]} -ge 3 ] || { echo "FAIL: expected at least three pages in $dir" >&2; exit 1; }
for page in "${pages[@]}"; do
    warnings=$(man --warnings -l "$page" 2>&1 >/dev/null)
    if [ -n "$warnings" ]; then
        echo "FAIL: $(basename "$page"):" >&2
        echo "$warnings" >&2
        status=1
    fi
    [ "$(man -l "$page" 2>/dev/null | wc -l)" -gt 10 ] || { echo "FAIL: $(basename "$page") renders empty" >&2; status=1; }
done

# The options as the program knows them against the page's text.
rendered=$(man -l "$dir/charge-recorder.1" 2>/dev/null | col -b)
for option in $("$recorder" --help | grep -oE -- '--[a-z-]+' | sort -u); do
    grep -qe "$option" <<<"$rendered" || { echo "FAIL: charge-recorder(1) does not mention $option" >&2; status=1; }
done
shift 2
while [ $# -ge 2 ]; do
    rendered=$(man -l "$dir/$1" 2>/dev/null | col -b)
    for option in $("$2" --help | grep -oE -- '--[a-z-]+' | sort -u); do
        grep -qe "$option" <<<"$rendered" || { echo "FAIL: $1 does not mention $option" >&2; status=1; }
    done
    shift 2
done
exit $status
