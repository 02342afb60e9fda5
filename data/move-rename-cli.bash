# SPDX-License-Identifier: GPL-3.0-or-later
# SPDX-FileCopyrightText: 2026 Move & Rename developers
# bash completion for move-rename-cli. The options, and what value each takes, are read from the
# program's own --help at every completion, so they always match the program being completed.

_move_rename_cli()
{
    local cur prev words cword split
    _init_completion -s || return

    local help
    help=$(LC_ALL=C "$(dequote "$1")" --help 2>/dev/null) || return

    # An option that takes a value shows its name in --help: "--root DIR", or "--undo [JOURNAL]"
    # where the value may be left out.
    if [[ $prev =~ ^--?[[:alnum:]][[:alnum:]-]*$ ]]; then
        local value
        value=$(sed -nE "s/^ +(-[[:alnum:]], )?$prev \[?([A-Z]+)\]?( .*)?$/\2/p" <<<"$help")
        case $value in
            DIR) _filedir -d ;;
            *FILE* | JOURNAL) _filedir ;;
            ACTION)
                # The program names every action when it is given none it knows.
                local actions
                actions=$(LC_ALL=C "$(dequote "$1")" --action '' 2>&1 |
                    sed -nE "s/.*unknown action '' \((.*)\)$/\1/p" | tr -d ,)
                COMPREPLY=($(compgen -W '$actions' -- "$cur"))
                ;;
        esac
        # Any other value, such as a PATTERN, is free text.
        [[ $value ]] && return
    fi
    $split && return

    if [[ $cur == -* ]]; then
        # Only the option lines themselves: their descriptions and the prose around them name
        # options too.
        local options
        options=$(sed -nE '/^Options:/,/^$/ s/^  (-[[:alnum:]], )?(--[[:alnum:]-]+).*/\2/p' \
            <<<"$help")
        COMPREPLY=($(compgen -W '$options' -- "$cur"))
    else
        _filedir -d # FOLDER
    fi
}
complete -F _move_rename_cli move-rename-cli
