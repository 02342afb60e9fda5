#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# SPDX-FileCopyrightText: 2026 Move & Rename developers
# Installs the build into a scratch prefix and checks that what landed there works on its own:
# the window starts, the command line tool and the web server answer --version, their manual
# pages and the command line's bash completion know every option that --help lists, the menu
# entry and the web server's systemd service validate. Then builds the Debian package and looks
# inside it (control data, the files it would install) and lets Debian's own checkers judge it:
# lintian the package, appstreamcli its AppStream metadata, python3-debian its machine-readable
# copyright file.
# Usage: install_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2 tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/root/usr cli=$tmp/root/usr/bin/move-rename-cli web=$tmp/root/usr/bin/move-rename-web
fail() { echo "FAIL: $*"; exit 1; }

# ./test installs every checker; where one is missing, nothing is checked.
skip() { echo "SKIP: $1 not found"; exit 77; }
for tool in man desktop-file-validate dpkg-deb dpkg-shlibdeps file lintian appstreamcli \
    systemd-analyze; do
    command -v "$tool" >/dev/null || skip "$tool"
done
[ -f /usr/share/bash-completion/bash_completion ] || skip bash-completion
/usr/bin/python3 -c 'import debian.copyright' 2>/dev/null || skip python3-debian

"${CMAKE:-cmake}" --install "$build" --prefix "$prefix" >"$tmp/log" || { cat "$tmp/log"; exit 1; }
# A window that is still up after two seconds has started; timeout then ends it with 124.
# Run from elsewhere so nothing can be picked up from the build folder.
(cd "$tmp" && QT_QPA_PLATFORM=offscreen timeout -k 5 2 "$prefix/bin/move-rename" .; [ $? = 124 ]) ||
    fail "move-rename did not stay up for two seconds"
# The options that a help text, or a manual page shown by man, lists: the leading "-x, --long"
# of every indented line that starts with a dash.
listed() { grep -oE '^ +-[^ ]+(, -[^ ]+)*' | grep -oE -- '-[^ ,]+' | sort -u; }
for program in "$cli" "$web"; do
    out=$("$program" --version) && [[ $out == *"$version"* ]] ||
        fail "$program --version says '$out', not $version"
    # In a UTF-8 locale man shows a plain "-" as a hyphen: an option must be written "\-".
    page=$(LC_ALL=C.UTF-8 man -l "$prefix/share/man/man1/${program##*/}.1.gz")
    missing=$(comm -23 <("$program" --help | listed) <(listed <<<"$page"))
    [ -z "$missing" ] || fail "the manual page of $program lacks options that --help lists: $missing"
done
options=$("$cli" --help | listed)

# The service, as systemd would load it, with the installed server and manual page; its
# exposure as systemd-analyze rates it (0 safest, 10 unprotected) stays low.
unit=$prefix/lib/systemd/system/move-rename-web@.service
mkdir "$tmp/unit" && sed "s|^ExecStart=/usr/bin/|ExecStart=$prefix/bin/|" "$unit" \
    >"$tmp/unit/move-rename-web@alice.service"
messages=$(MANPATH=$prefix/share/man systemd-analyze verify \
    "$tmp/unit/move-rename-web@alice.service" 2>&1) && [ -z "$messages" ] || fail "systemd-analyze verify complains about the service: $messages"
exposure=$(systemd-analyze security --offline=true "$tmp/unit/move-rename-web@alice.service" |
    sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 2.0) }' ||
    fail "systemd-analyze security rates the service's exposure ${exposure:-?}, above 2.0"

# What bash offers for the words given, the last being completed, in a folder that holds one
# folder and one file, with the completion found where bash-completion looks.
mkdir -p "$tmp/tree/Season" && touch "$tmp/tree/file"
offers() {
    got=$(cd "$tmp/tree" && PATH=$prefix/bin:$PATH XDG_DATA_DIRS=$prefix/share \
        BASH_COMPLETION_USER_DIR=$tmp bash -c '
            source /usr/share/bash-completion/bash_completion
            __load_completion move-rename-cli || { echo "(none found)"; exit; }
            COMP_WORDS=(move-rename-cli "$@") COMP_CWORD=$#
            COMP_LINE=${COMP_WORDS[*]} COMP_POINT=${#COMP_LINE}
            $(complete -p move-rename-cli | cut -d" " -f3) move-rename-cli "${@: -1}" \
                "${COMP_WORDS[-2]}"
            printf "%s\n" "${COMPREPLY[@]}"' bash "${@:2}" | sort)
    [ "$got" = "$1" ] || fail "completing 'move-rename-cli ${*:2}' offers '$got', not '$1'"
}
offers "$(grep -e '^--' <<<"$options")" --
offers Season ''
offers Season --root ''
offers '' --filename ''
offers "$(printf '%s\n' hardlink hardlink-or-copy)" --action hard
offers "$(printf '%s\n' Season file | sort)" --undo ''

desktop=$prefix/share/applications/move-rename.desktop
[ -s "$prefix/share/icons/hicolor/scalable/apps/move-rename.svg" ] || fail "no icon installed"
grep -qx 'Exec=move-rename %f' "$desktop" && grep -qx 'Icon=move-rename' "$desktop" ||
    fail "the menu entry does not start move-rename with its icon"
# Hints count too: an entry without a main category lands in a catch-all menu section, and the
# validator reports that without failing.
messages=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$messages" ] ||
    fail "desktop-file-validate complains about the menu entry: $messages"

# The AppStream metadata, and that its launchable names the installed menu entry.
appstreamcli validate-tree --no-net "$tmp/root" || fail "the AppStream metadata does not validate"
# A parser of the machine-readable format, strict about missing fields; a licence must have its
# text, in its Files paragraph or in a License paragraph of its own.
/usr/bin/python3 - "$prefix/share/doc/move-rename/copyright" <<'PYTHON' ||
import sys
from debian.copyright import Copyright
copyright = Copyright(open(sys.argv[1]), strict=True)
texts = {p.license.synopsis for p in copyright.all_license_paragraphs() if p.license.text}
needed = {p.license.synopsis for p in copyright.all_files_paragraphs() if not p.license.text}
sys.exit(f"no text for the licences {needed - texts}" if needed - texts else 0)
PYTHON
    fail "the copyright file is not in the machine-readable format"

# -B keeps the package and CPack's staging tree out of the build folder.
(cd "$build" && "${CPACK:-cpack}" -G DEB -B "$tmp/out") >"$tmp/log" 2>&1 ||
    { cat "$tmp/log"; fail "cpack -G DEB failed"; }
deb=$(echo "$tmp"/out/*.deb)
[ -f "$deb" ] || fail "expected one .deb, found: $deb"
control=$(dpkg-deb -W --showformat '${Package} ${Version} ${Section} ${Depends}' "$deb")
[[ $control == "move-rename $version utils "*libc6*libqt6widgets6* ]] ||
    fail "not move-rename $version in utils, depending on libc6 and the Qt widgets: $control"
# Exactly the program's own files: nothing missing, and no headers, static libraries or tests.
files=$(dpkg-deb -c "$deb" | awk '$1 ~ /^-/ { print $NF }' | sort)
wanted=$(printf './usr/%s\n' bin/move-rename bin/move-rename-cli bin/move-rename-web \
    lib/systemd/system/move-rename-web@.service share/man/man1/move-rename-web.1.gz \
    share/applications/move-rename.desktop share/bash-completion/completions/move-rename-cli \
    share/doc/move-rename/changelog.gz share/doc/move-rename/copyright \
    share/icons/hicolor/scalable/apps/move-rename.svg share/man/man1/move-rename.1.gz \
    share/man/man1/move-rename-cli.1.gz share/metainfo/org.example.move_rename.metainfo.xml | sort)
[ "$files" = "$wanted" ] || fail "the package's files differ from the expected ones:
$(diff <(echo "$wanted") <(echo "$files"))"

# Errors and warnings fail; the informational tags are shown.
lintian --fail-on error,warning --display-info "$deb" || fail "lintian found errors or warnings"
