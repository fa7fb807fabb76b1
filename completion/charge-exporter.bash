# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# bash completion for charge-exporter                      -*- shell-script -*-

_charge_exporter()
{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        --textfile | -t)
            _filedir prom
            return
            ;;
        --device | -d)
            COMPREPLY=($(compgen -A hostname -- "$cur"))
            return
            ;;
    esac
    $split && return

    # Each option once; --help and --version stand alone.
    local option options=()
    [[ " ${words[*]} " == *" "@(--help|--version|-h|-V)" "* ]] && return
    for option in --textfile= --device=; do
        [[ " ${words[*]} " == *" ${option%=}"[=\ ]* ]] || options+=("$option")
    done
    ((cword == 1)) && options+=(--help --version)
    COMPREPLY=($(compgen -W '${options[*]}' -- "$cur"))
    [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
} &&
    complete -F _charge_exporter charge-exporter

# ex: filetype=sh
