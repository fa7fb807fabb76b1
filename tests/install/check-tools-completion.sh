#!/usr/bin/env bash
# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# The bash completion of kvsystem2-probe and kvsystem2-snapshot offers the
# options their --help lists, never one already given, nothing after
# --help or --version, files after --umockdev and directories for DIR.
#   check-tools-completion.sh COMPLETION_DIR BIN_DIR
set -uo pipefail
completions=$(cd "$1" && pwd)
bin=$(cd "$2" && pwd)
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion || { echo "FAIL: bash-completion is not installed" >&2; exit 1; }
# shellcheck disable=SC1090
source "$completions/kvsystem2-probe.bash"
# shellcheck disable=SC1090
source "$completions/kvsystem2-snapshot.bash"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/snapshots" && touch "$work/phone.umockdev"
cd "$work" || exit 1

# complete PROGRAM WORD... : the candidates for the last word, one a line.
complete_line() {
    local program=$1
    shift
    COMP_WORDS=("$program" "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    # compopt outside a real completion only complains.
    "_${program//-/_}" "$program" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
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
options_of() { "$bin/$1" --help | grep -oE -- '--[a-z-]+' | sort -u; }

expect "every option of the probe" "$(options_of kvsystem2-probe)" "$(complete_line kvsystem2-probe --)"
expect "nothing after the probe's --help" "" "$(complete_line kvsystem2-probe --help --)"
expect "every option of the snapshot" "$(options_of kvsystem2-snapshot)" \
    "$(complete_line kvsystem2-snapshot -- | sed 's/=$//')"
expect "no second --umockdev" "" "$(complete_line kvsystem2-snapshot --umockdev=phone.umockdev --)"
expect "no --help after another word" "--umockdev=" "$(complete_line kvsystem2-snapshot snapshots --)"
expect "nothing after --version" "" "$(complete_line kvsystem2-snapshot --version '')"
expect "a file after --umockdev" "phone.umockdev" "$(complete_line kvsystem2-snapshot --umockdev ph)"
expect "a directory for DIR" "snapshots" "$(complete_line kvsystem2-snapshot --umockdev phone.umockdev s)"
expect "one DIR only" "" "$(complete_line kvsystem2-snapshot snapshots s)"
exit $status
