# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# bash completion for charge-recorder                      -*- shell-script -*-

_charge_recorder()
{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        --interval)
            # Seconds between rows: suggest a few, any number works.
            COMPREPLY=($(compgen -W '1 5 10 30 60 300 600 3600' -- "$cur"))
            return
            ;;
    esac
    $split && return

    COMPREPLY=($(compgen -W '--charger-type --charging-state --charging-time
        --battery-state --battery-bars --battery-pct --battery-mah
        --battery-voltage --battery-current --battery-avg-current
        --coulomb-counter --talk-current --talk-time --active-current
        --active-time --idle-current --idle-time --interval= --numerical
        --help' -- "$cur"))
    [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
} &&
    complete -F _charge_recorder charge-recorder

# ex: filetype=sh
