#!/usr/bin/env bash
# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# kvsystem2-handset's systemd user unit and D-Bus activation file:
# systemd-analyze verify finds nothing to say, both name the same bus name
# and program, and the unit's command starts the service.
#   check-handset-unit.sh UNIT ACTIVATION_FILE
set -uo pipefail
unit=$1
activation=$2
command -v systemd-analyze >/dev/null || { echo "SKIP: systemd-analyze is not installed"; exit 77; }
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/runtime"
cp "$unit" "$work/"
status=0

said=$(cd "$work" && XDG_RUNTIME_DIR=$work/runtime systemd-analyze verify --user --man=no \
    "./$(basename "$unit")" 2>&1)
[ $? -eq 0 ] && [ -z "$said" ] || { echo "FAIL: systemd-analyze verify: $said" >&2; status=1; }

name=$(sed -n 's/^Name=//p' "$activation")
[ "$name" = "$(sed -n 's/^BusName=//p' "$unit")" ] \
    || { echo "FAIL: the unit's BusName is not $name" >&2; status=1; }
[ "$(sed -n 's/^SystemdService=//p' "$activation")" = "$(basename "$unit")" ] \
    || { echo "FAIL: the activation file does not name $(basename "$unit")" >&2; status=1; }
program=$(sed -n 's/^Exec=//p' "$activation")
grep -q "^ExecStart=.* $program\$" "$unit" || { echo "FAIL: the unit does not start $program" >&2; status=1; }

# The command as systemd runs it ($$ is a dollar sign), with an option,
# answers --help.
line=$(sed -n 's/^ExecStart=//p' "$unit" | sed 's/\$\$/$/g')
KVSYSTEM_HANDSET_OPTIONS=--help sh -c "exec $line" | grep '^Usage: kvsystem2-handset' >/dev/null \
    || { echo "FAIL: the unit's command does not pass its options" >&2; status=1; }
exit $status
