#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# SPDX-FileCopyrightText: 2026 Move & Rename developers
# Builds the Debian package from the build folder into a scratch folder and looks inside it:
# the control data (name, version, computed dependencies) and the files it would install; then
# lets Debian's own checkers judge it: lintian the package, appstreamcli its AppStream metadata,
# python3-debian its machine-readable copyright file.
# Usage: package_test.sh BUILD_DIR EXPECT_CLI(0|1) VERSION
set -euo pipefail
build=$1 expect_cli=$2 version=$3
skip=77

for tool in dpkg-deb dpkg-shlibdeps file; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool not found (Debian packages dpkg, dpkg-dev and file)"
        exit "$skip"
    fi
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

fail() { echo "FAIL: $*"; exit 1; }

# -B keeps the package and CPack's staging tree out of the build folder.
(cd "$build" && "${CPACK:-cpack}" -G DEB -B "$tmp/out") >"$tmp/cpack.log" 2>&1 ||
    { cat "$tmp/cpack.log"; fail "cpack -G DEB failed"; }
debs=("$tmp"/out/*.deb)
[ -f "${debs[0]}" ] && [ ${#debs[@]} -eq 1 ] || fail "expected one .deb, found: ${debs[*]}"
deb=${debs[0]}
echo "built $(basename "$deb")"

info=$(dpkg-deb -I "$deb")
echo "$info"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = move-rename ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Section)" = utils ] || fail "Section is '$(field Section)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
depends=$(field Depends)
[ -n "$depends" ] || fail "no Depends line: dependencies were not computed"
[[ $depends == *libqt6widgets6* ]] || fail "Depends lacks the Qt widgets library: $depends"
[[ $depends == *libc6* ]] || fail "Depends lacks libc6: $depends"

contents=$(dpkg-deb -c "$deb")
echo "$contents"
expect=(./usr/bin/move-rename
        ./usr/share/applications/move-rename.desktop
        ./usr/share/doc/move-rename/changelog.gz
        ./usr/share/doc/move-rename/copyright
        ./usr/share/icons/hicolor/scalable/apps/move-rename.svg
        ./usr/share/man/man1/move-rename.1.gz
        ./usr/share/metainfo/org.example.move_rename.metainfo.xml)
[ "$expect_cli" = 1 ] && expect+=(./usr/bin/move-rename-cli
                                  ./usr/share/bash-completion/completions/move-rename-cli
                                  ./usr/share/man/man1/move-rename-cli.1.gz)
# Exactly the program's own files: nothing missing, and no headers, static libraries or tests.
files=$(awk '$1 ~ /^-/ { print $NF }' <<<"$contents" | sort)
wanted=$(printf '%s\n' "${expect[@]}" | sort)
[ "$files" = "$wanted" ] ||
    fail "package files differ from the expected ones:
$(diff <(echo "$wanted") <(echo "$files") || true)"
echo "package looks complete"

root=$tmp/root
dpkg-deb -x "$deb" "$root"
skipped=()
# Errors and warnings fail; the informational tags are shown.
if command -v lintian >/dev/null; then
    echo "\$ lintian --fail-on error,warning --display-info $(basename "$deb")"
    lintian --fail-on error,warning --display-info "$deb" || fail "lintian found errors or warnings"
else
    skipped+=("lintian not found (Debian package lintian)")
fi
# validate-tree also checks that the metadata's launchable names the installed menu entry.
if command -v appstreamcli >/dev/null; then
    echo "\$ appstreamcli validate --no-net usr/share/metainfo/*.metainfo.xml"
    appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml ||
        fail "the AppStream metadata does not validate"
    echo "\$ appstreamcli validate-tree --no-net ROOT"
    appstreamcli validate-tree --no-net "$root" || fail "the installed tree does not validate"
else
    skipped+=("appstreamcli not found (Debian package appstream)")
fi
# A parser of the machine-readable format, strict about missing fields; a licence must have
# its text, in its Files paragraph or in a License paragraph of its own.
if /usr/bin/python3 -c 'import debian.copyright' 2>/dev/null; then
    /usr/bin/python3 - "$root/usr/share/doc/move-rename/copyright" <<'PYTHON' ||
import sys
from debian.copyright import Copyright
with open(sys.argv[1]) as file:
    copyright = Copyright(file, strict=True)
texts = {p.license.synopsis for p in copyright.all_license_paragraphs() if p.license.text}
for paragraph in copyright.all_files_paragraphs():
    license = paragraph.license
    if not license.text and license.synopsis not in texts:
        sys.exit(f"no text for licence {license.synopsis} of {' '.join(paragraph.files)}")
PYTHON
        fail "the copyright file is not in the machine-readable format"
    echo "the copyright file is machine-readable"
else
    skipped+=("the Python module debian not found (Debian package python3-debian)")
fi

[ ${#skipped[@]} -eq 0 ] || { printf 'SKIP: %s\n' "${skipped[@]}"; exit "$skip"; }
