# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# bash completion for kvsystem2-handset                     -*- shell-script -*-

_kvsystem2_handset()
{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        --scenario)
            _filedir json
            return
            ;;
    esac
    $split && return

    # --live and --scenario exclude each other; --help and --version end it.
    local i options=(--live --scenario=)
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --help | --version) return ;;
            --live | --scenario=* | --scenario) options=() ;;
        esac
    done
    ((cword == 1)) && options+=(--help --version)
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '${options[*]}' -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
    fi
} &&
    complete -F _kvsystem2_handset kvsystem2-handset

# ex: filetype=sh
