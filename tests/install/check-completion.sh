#!/usr/bin/env bash
# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# The bash completion offers exactly the options charge-recorder's --help
# lists, completes prefixes, and suggests numbers after --interval.
#   check-completion.sh COMPLETION_SCRIPT CHARGE_RECORDER
set -uo pipefail
script=$1
recorder=$2
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion || { echo "FAIL: bash-completion is not installed" >&2; exit 1; }
# shellcheck disable=SC1090
source "$script"

# complete WORD... : the candidates for the last word of the command line.
complete_line() {
    COMP_WORDS=(charge-recorder "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _charge_recorder charge-recorder "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | sort
}

status=0
expect() {
    local what=$1 want=$2 got=$3
    if [ "$want" != "$got" ]; then
        echo "FAIL: $what" >&2
        diff <(echo "$want") <(echo "$got") >&2
        status=1
    fi
}

want=$("$recorder" --help | grep -oE -- '--[a-z-]+' | sort -u)
expect "every option after --" "$want" "$(complete_line -- | sed 's/=$//')"
expect "a prefix" "$(printf '%s\n' --idle-current --idle-time)" "$(complete_line --idle)"
expect "numbers after --interval" "$(printf '%s\n' 30 300 3600)" "$(complete_line --interval 3)"
expect "no option as the interval" "" "$(complete_line --interval --)"
exit $status
