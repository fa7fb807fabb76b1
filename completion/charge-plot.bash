# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# bash completion for charge-plot                          -*- shell-script -*-

_charge_plot()
{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        -o | --output)
            _filedir '@(svg|png)'
            return
            ;;
        --panels)
            # Names separated by commas: complete the one being typed.
            local done=${cur%"${cur##*,}"}
            COMPREPLY=($(compgen -P "$done" -W 'charge capacity voltage current
                uses remaining states' -- "${cur##*,}"))
            compopt -o nospace 2>/dev/null
            return
            ;;
        --size)
            COMPREPLY=($(compgen -W '1200 1920x1080 800x600' -- "$cur"))
            return
            ;;
        --from | --to | --label | -h | --help | --version)
            return
            ;;
    esac
    $split && return

    if [[ $cur == -* ]]; then
        # Options already on the line are not offered again.
        # -o and --output are one option.
        local option name given=" ${words[*]:1:cword-1} " offered=()
        for option in -o --output= --from= --to= --size= --panels= --help --version; do
            for name in ${option%=} $([[ $option == -o ]] && echo --output) \
                $([[ $option == --output= ]] && echo -o); do
                [[ $given == *" $name"[=\ ]* ]] && continue 2
            done
            offered+=("$option")
        done
        # --label names the log after it: one for each log.
        offered+=(--label=)
        COMPREPLY=($(compgen -W '${offered[*]}' -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace 2>/dev/null
        return
    fi
    _filedir csv
} &&
    complete -F _charge_plot charge-plot

# ex: filetype=sh
