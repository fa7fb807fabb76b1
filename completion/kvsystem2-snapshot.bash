# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# bash completion for kvsystem2-snapshot                    -*- shell-script -*-

_kvsystem2_snapshot()
{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        --umockdev)
            _filedir
            return
            ;;
    esac
    $split && return

    # What the words before this one already gave: an option is not offered
    # twice, --help and --version end the program, and one DIR is taken.
    local i options=(--umockdev=) dir=
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --help | --version) return ;;
            --umockdev=*) options=() ;;
            --umockdev) options=() && ((i++)) ;; # and its FILE
            -*) ;;
            *) dir=yes ;;
        esac
    done
    ((cword == 1)) && options+=(--help --version)
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '${options[*]}' -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
    elif [[ -z $dir ]]; then
        _filedir -d
    fi
} &&
    complete -F _kvsystem2_snapshot kvsystem2-snapshot

# ex: filetype=sh
