# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# bash completion for kvsystem2-probe                       -*- shell-script -*-

_kvsystem2_probe()
{
    local cur prev words cword
    _init_completion || return

    # The probe takes no arguments, and --help or --version alone ends it:
    # nothing is offered after a word of any kind.
    ((cword == 1)) || return
    COMPREPLY=($(compgen -W '--help --version' -- "$cur"))
} &&
    complete -F _kvsystem2_probe kvsystem2-probe

# ex: filetype=sh
