#!/usr/bin/env bash
# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# charge-recorder's systemd user unit: systemd-analyze verify finds nothing
# to say, and its command appends rows and a header per start to
# kvsystem2/battery.csv in the data directory, which it creates.
#   check-user-unit.sh UNIT   (the unit that names the program in the build tree)
set -uo pipefail
unit=$1
command -v systemd-analyze >/dev/null || { echo "SKIP: systemd-analyze is not installed"; exit 77; }
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/runtime"
cp "$unit" "$work/"
status=0

said=$(cd "$work" && XDG_RUNTIME_DIR=$work/runtime systemd-analyze verify --user --man=no \
    "./$(basename "$unit")" 2>&1)
[ $? -eq 0 ] && [ -z "$said" ] || { echo "FAIL: systemd-analyze verify: $said" >&2; status=1; }

# The command as systemd runs it: $$ is a dollar sign, the rest is sh's.
line=$(sed -n 's/^ExecStart=//p' "$unit" | sed 's/\$\$/$/g')
for run in 1 2; do
    (cd "$work" && XDG_DATA_HOME=$work/data CHARGE_RECORDER_OPTIONS="--interval=1 --battery-pct" \
        timeout 2.5 sh -c "exec $line") 2>"$work/stderr"
done
log=$work/data/kvsystem2/battery.csv
[ -s "$work/stderr" ] && { echo "FAIL: the command said: $(cat "$work/stderr")" >&2; status=1; }
[ "$(grep -c '^TIME, CAPA_PCT$' "$log" 2>/dev/null)" = 2 ] \
    || { echo "FAIL: not two runs appended to $log" >&2; status=1; }
[ "$(grep -vc '^TIME' "$log" 2>/dev/null)" -ge 2 ] || { echo "FAIL: no rows in $log" >&2; status=1; }
exit $status
