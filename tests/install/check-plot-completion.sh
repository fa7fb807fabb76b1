#!/usr/bin/env bash
# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# charge-plot's bash completion offers the options its --help lists, never
# one already given, and completes panel names after a comma.
#   check-plot-completion.sh COMPLETION_SCRIPT CHARGE_PLOT
set -uo pipefail
script=$1
plot=$2
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion || { echo "FAIL: bash-completion is not installed" >&2; exit 1; }
# shellcheck disable=SC1090
source "$script"

complete_line() {
    COMP_WORDS=(charge-plot "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _charge_plot charge-plot "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | sort
}

status=0
expect() {
    if [ "$2" != "$3" ]; then
        echo "FAIL: $1" >&2
        diff <(echo "$2") <(echo "$3") >&2
        status=1
    fi
}

want=$("$plot" --help | grep -oE -- '--[a-z-]+' | sort -u)
expect "every long option after --" "$want" "$(complete_line -- | grep -- '^--' | sed 's/=$//')"
expect "an option given is not offered again" "$(echo "$want" | grep -vx -- '--size')" \
    "$(complete_line --size=800 -- | grep -- '^--' | sed 's/=$//')"
expect "-o given, --output is not offered" "" "$(complete_line -o x.svg --out)"
expect "the next panel after a comma" "voltage,uses" "$(complete_line --panels voltage,u)"
exit $status
