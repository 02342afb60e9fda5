#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# SPDX-FileCopyrightText: 2026 Move & Rename developers
# Installs the build into a scratch prefix and checks that what landed there works on its own:
# the window starts, the command line tool answers --version, its manual page and its bash
# completion know every option that --help lists, the menu entry validates.
# Usage: install_test.sh BUILD_DIR EXPECT_CLI(0|1) VERSION
set -euo pipefail
build=$1 expect_cli=$2 version=$3
skip=77

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix

"${CMAKE:-cmake}" --install "$build" --prefix "$prefix" >"$tmp/install.log" ||
    { cat "$tmp/install.log"; exit 1; }

fail() { echo "FAIL: $*"; exit 1; }

app=$prefix/bin/move-rename
[ -x "$app" ] || fail "$app was not installed"
# A window that is still up after two seconds has started; timeout then ends it with 124.
# Run from elsewhere so nothing can be picked up from the build folder.
status=0
(cd "$tmp" && QT_QPA_PLATFORM=offscreen timeout -k 5 2 "$app" "$tmp") || status=$?
[ "$status" -eq 124 ] || fail "move-rename exited with $status within two seconds"
echo "move-rename still running after 2 s"

cli=$prefix/bin/move-rename-cli
skipped=()
if [ "$expect_cli" = 1 ]; then
    [ -x "$cli" ] || fail "$cli was not installed"
    out=$("$cli" --version) || fail "move-rename-cli --version exited with $?"
    echo "move-rename-cli --version: $out"
    [[ $out == *"$version"* ]] || fail "--version does not show $version"

    # The options a help text or a manual page shown by man lists: the leading "-x, --long"
    # of every indented line that starts with a dash.
    listed() {
        awk '/^ +-/ { for (i = 1; $i ~ /^-/; i++) { o = $i; sub(/,$/, "", o); print o
                                                    if ($i !~ /,$/) break } }' | sort -u
    }
    options=$("$cli" --help | listed)
    if command -v man >/dev/null; then
        page=$prefix/share/man/man1/move-rename-cli.1.gz
        # In a UTF-8 locale man shows a plain "-" as a hyphen: an option must be written "\-".
        missing=$(comm -23 <(echo "$options") <(LC_ALL=C.UTF-8 man -l "$page" | listed))
        [ -z "$missing" ] || fail "the manual page lacks options that --help lists:
$missing"
        echo "the manual page lists every option"
    else
        skipped+=("man not found (Debian package man-db)")
    fi

    if [ -f /usr/share/bash-completion/bash_completion ]; then
        # What bash offers for the words given, the last being completed, in a folder that
        # holds one folder and one file, with the completion found where bash-completion looks.
        mkdir -p "$tmp/tree/Season" && touch "$tmp/tree/file"
        offered() {
            (cd "$tmp/tree" && PATH=$prefix/bin:$PATH XDG_DATA_DIRS=$prefix/share \
                BASH_COMPLETION_USER_DIR=$tmp bash -c '
                    source /usr/share/bash-completion/bash_completion
                    __load_completion move-rename-cli || { echo "(none found)"; exit; }
                    COMP_WORDS=(move-rename-cli "$@") COMP_CWORD=$#
                    COMP_LINE=${COMP_WORDS[*]} COMP_POINT=${#COMP_LINE}
                    $(complete -p move-rename-cli | cut -d" " -f3) move-rename-cli "${@: -1}" \
                        "${COMP_WORDS[-2]}"
                    printf "%s\n" "${COMPREPLY[@]}"' bash "$@") | sort
        }
        check() {
            local want=$1 got
            shift
            got=$(offered "$@")
            [ "$got" = "$want" ] ||
                fail "completing 'move-rename-cli $*' offers '$got', not '$want'"
        }
        check "$(grep -e '^--' <<<"$options")" --
        check Season ''
        check Season --root ''
        check '' --filename ''
        check "$(printf '%s\n' Season file | sort)" --undo ''
        echo "bash completion offers every long option, and folders for FOLDER and --root"
    else
        skipped+=("bash-completion not found (Debian package bash-completion)")
    fi
elif [ -e "$cli" ]; then
    fail "move-rename-cli was installed although the build has no such target"
fi

desktop=$prefix/share/applications/move-rename.desktop
icon=$prefix/share/icons/hicolor/scalable/apps/move-rename.svg
[ -f "$desktop" ] || fail "$desktop was not installed"
[ -s "$icon" ] || fail "$icon was not installed"
grep -qx 'Exec=move-rename %f' "$desktop" || fail "the menu entry does not start move-rename"
grep -qx 'Icon=move-rename' "$desktop" || fail "the menu entry does not name the icon"

if command -v desktop-file-validate >/dev/null; then
    # Hints count too: an entry without a main category lands in a catch-all menu section, and
    # the validator reports that without failing.
    status=0
    messages=$(desktop-file-validate "$desktop" 2>&1) || status=$?
    [ "$status" -eq 0 ] && [ -z "$messages" ] ||
        fail "desktop-file-validate complains about the menu entry:
$messages"
    echo "menu entry validates"
else
    skipped+=("desktop-file-validate not found (Debian package desktop-file-utils)")
fi

[ ${#skipped[@]} -eq 0 ] || { printf 'SKIP: %s\n' "${skipped[@]}"; exit "$skip"; }
