#!/usr/bin/env bash
# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# The bash completion of charge-recorder, charge-plot, charge-exporter,
# kvsystem2-probe, kvsystem2-snapshot, kvsystem2-handset and kvsystem2-ctl offers the options their --help
# lists, never one already given, nothing after --help or --version, and
# what each option takes: numbers, panel names, files, directories.
#   check-tools-completion.sh COMPLETION_DIR BIN_DIR
set -uo pipefail
completions=$(cd "$1" && pwd)
bin=$(cd "$2" && pwd)
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion || { echo "FAIL: bash-completion is not installed" >&2; exit 1; }
for program in charge-recorder charge-plot charge-exporter kvsystem2-probe kvsystem2-snapshot \
    kvsystem2-handset kvsystem2-ctl; do
    # shellcheck disable=SC1090
    source "$completions/$program.bash"
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/snapshots" && touch "$work/phone.umockdev" "$work/desk.json"
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

want=$(options_of charge-recorder)
expect "every option of the recorder" "$want" "$(complete_line charge-recorder -- | sed 's/=$//')"
expect "a prefix" "$(printf '%s\n' --idle-current --idle-time)" "$(complete_line charge-recorder --idle)"
expect "numbers after --interval" "$(printf '%s\n' 30 300 3600)" "$(complete_line charge-recorder --interval 3)"
expect "no option as the interval" "" "$(complete_line charge-recorder --interval --)"

want=$(options_of charge-plot)
expect "every long option of the plot" "$want" "$(complete_line charge-plot -- | grep -- '^--' | sed 's/=$//')"
expect "a plot option given is not offered again" "$(echo "$want" | grep -vx -- '--size')" \
    "$(complete_line charge-plot --size=800 -- | grep -- '^--' | sed 's/=$//')"
expect "-o given, --output is not offered" "" "$(complete_line charge-plot -o x.svg --out)"
expect "the next panel after a comma" "voltage,uses" "$(complete_line charge-plot --panels voltage,u)"

want=$(options_of charge-exporter)
expect "every option of the exporter" "$want" "$(complete_line charge-exporter -- | sed 's/=$//')"
expect "no second --textfile" "--device=" "$(complete_line charge-exporter --textfile=a.prom --d)"
expect "nothing after the exporter's --help" "" "$(complete_line charge-exporter --help --)"
expect "every option of the handset service" "$(options_of kvsystem2-handset)" \
    "$(complete_line kvsystem2-handset -- | sed 's/=$//')"
expect "--live excludes --scenario" "" "$(complete_line kvsystem2-handset --live --sc)"
expect "a scenario file for the service" "desk.json" "$(complete_line kvsystem2-handset --scenario d)"
# The console's commands as its --help lists them (lines of two blanks and a word).
want=$( (
    "$bin/kvsystem2-ctl" --help | sed -n 's/^  \([a-z][a-z-]*\).*/\1/p' | grep -v '^-'
    printf '%s\n' --help --version
) | sort -u)
expect "every command of the console" "$want" "$(complete_line kvsystem2-ctl '')"
expect "the sides posture-demo prints" "$(printf '%s\n' bottom-down bottom-up face-down face-up left-up right-up)" \
    "$(complete_line kvsystem2-ctl orientation '')"
expect "a tap's type after its axis" "$(printf '%s\n' double single)" "$(complete_line kvsystem2-ctl tap x '')"
expect "a scenario file to play" "desk.json" "$(complete_line kvsystem2-ctl play d)"
expect "no words where a number goes" "" "$(complete_line kvsystem2-ctl light '')"
exit $status
