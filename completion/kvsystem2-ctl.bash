# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# bash completion for kvsystem2-ctl                         -*- shell-script -*-

_kvsystem2_ctl()
{
    local cur prev words cword
    _init_completion || return

    if ((cword == 1)); then
        COMPREPLY=($(compgen -W 'light proximity orientation acceleration rotation magnetic
            heading tap battery voltage current charger display brightness thermal activity
            flight show play --help --version' -- "$cur"))
        return
    fi
    # The words a command takes at each place; numbers are not offered.
    local at=$((cword - 1)) choices=
    case ${words[1]}:$at in
        proximity:1) choices='near far' ;;
        orientation:1) choices='face-up face-down left-up right-up bottom-up bottom-down' ;;
        tap:1) choices='x y z' ;;
        tap:2) choices='single double' ;;
        battery:1 | voltage:1 | current:1) choices='model' ;;
        charger:1) choices='none wall usb usb-100ma model' ;;
        display:1) choices='on dimmed off' ;;
        thermal:1) choices='normal warning alert error' ;;
        activity:1) choices='active inactive' ;;
        flight:1) choices='on off' ;;
        play:1)
            _filedir json
            return
            ;;
    esac
    [[ -n $choices ]] && COMPREPLY=($(compgen -W "$choices" -- "$cur"))
} &&
    complete -F _kvsystem2_ctl kvsystem2-ctl

# ex: filetype=sh
