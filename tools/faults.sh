#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# SPDX-FileCopyrightText: 2026 Move & Rename developers
# Makes deliberate one-line faults in src/, one at a time, in a scratch clone of the committed
# tree, runs the whole suite (./test) on each, and reports the faults that no test caught. Each
# fault is a mistake somebody could plausibly make; one that the suite misses is a gap in the
# tests. A new behaviour deserves a fault of its own here.
#
# Usage: tools/faults.sh [WORD]   only the faults whose description contains WORD
# Exit status: 0 every fault was caught; 1 some fault was not; 2 a fault no longer applies to
# the code (its text changed: update the list) or the unchanged tree fails its own tests.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
only=${1:-}

descriptions=() files=() olds=() news=()
# fault DESCRIPTION FILE OLD NEW: OLD must occur exactly once in FILE.
fault() { descriptions+=("$1") files+=("$2") olds+=("$3") news+=("$4"); }

# The naming engine.
fault "a repeated placeholder keeps its last slot" src/naming/naming.cpp \
    'if (!placeholderMap.contains(index))' 'if (true)'
fault "dots kept in captured fields" src/naming/naming.cpp \
    "[](QChar c) { return c == u'.' ? QChar(u' ') : c; }" '[](QChar c) { return c; }'
fault "the extension taken from the first dot" src/naming/naming.cpp \
    "const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot" "const qsizetype dot = fileName.indexOf(u'.');
    return dot"
fault "a missing separator does not end matching" src/naming/naming.cpp \
    'for (int k = 1; g >= 0 && k <= usedSlots; ++k)' 'for (int k = 1; k <= usedSlots; ++k)'
fault "a final placeholder captures nothing" src/naming/naming.cpp \
    'k == slotCount ? text.size() - e : 0' '0'
fault "release tags found only in lower case" src/naming/naming.cpp \
    "return u >= u'A' && u <= u'Z' ? u + (u'a' - u'A') : u;" 'return u;'
fault "a tag that starts after the cut is accepted" src/naming/naming.cpp \
    'if (p < 0 || p > cuts[j]) {' 'if (p < 0) {'
fault "the root kept at the front of the suggestion" src/naming/naming.cpp \
    'if (!rootPath.isEmpty() && prefix.startsWith(rootPath, Qt::CaseSensitive))' 'if (false)'

# The folder scan.
fault "subfolders sorted case-sensitively" src/files/scan.cpp \
    'const int byCase = CompareIgnoringCase(name(a), name(b));' \
    'const int byCase = name(a).compare(name(b));'
fault "equal beginnings passed by two units more than were compared" src/files/scan.cpp \
    'std::memcmp(a.data() + same, b.data() + same, 8)' \
    'std::memcmp(a.data() + same, b.data() + same, 4)'
fault "a folder and its file joined without a slash" src/files/scan.cpp \
    "const bool slash = !folder.isEmpty() && !folder.endsWith(QLatin1Char('/'));" \
    "const bool slash = !folder.isEmpty() && folder.endsWith(QLatin1Char('/'));"
fault "the smallest file chosen" src/files/scan.cpp \
    'if (listing.found && size < bestSize)' 'if (listing.found && size > bestSize)'
fault "a tie in size won by the later name" src/files/scan.cpp \
    'QFile::decodeName(rawName) >= QFile::decodeName(listing.name.c_str()))' \
    'QFile::decodeName(rawName) <= QFile::decodeName(listing.name.c_str()))'
fault "hidden files counted" src/files/scan.cpp \
    "if (entry->d_name[0] == '.') //" \
    "if (entry->d_name[0] == '.' && (!entry->d_name[1] || entry->d_name[1] == '.')) //"
fault "an empty root turned into /" src/files/scan.cpp \
    "if (root.isEmpty() || root.endsWith(QLatin1Char('/')))" "if (root.endsWith(QLatin1Char('/')))"
fault "a name that is not valid UTF-8 moved all the same" src/files/scan.cpp \
    'if (!listing.found || (why && !Representable(bestName, listing.name.c_str()))) {' \
    'if (!listing.found) {'
fault "a sidecar's stem compared with its letter case" src/files/scan.cpp \
    'if (name.startsWith(prefix, Qt::CaseInsensitive))' 'if (name.startsWith(prefix))'

# The scan's folders listed several at once.
fault "parallel scan: a release put in the next folder's row" src/files/inorder.h \
    'take(i, slot);' 'take(i, answers[(i + 1) % window]);'
fault "parallel scan: an answer taken twice, another lost" src/files/inorder.h \
    'answered[i % window] = false;' ''
fault "parallel scan: an answer taken before a helper gave it" src/files/inorder.h \
    'ready.wait(lock, [&] { return bool(answered[i % window]); });' ''
fault "parallel scan: a folder whose type only a stat tells left out" src/files/scan.cpp \
    'toAsk.emplace_back(entry->d_name);' ';'

# The safe move.
fault "the rename replaces what is at the target" src/files/safemove.cpp \
    'return ::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE);' \
    'return ::renameat2(fromDir, from, toDir, to, 0);'
fault "the placeholder not checked before the rename over it" src/files/safemove.cpp \
    'if (!StillOurs(toDir, to, placeholder))' 'if (false)'
fault "a copy across file systems keeps no mode" src/files/safemove.cpp \
    'if (::fchmod(out.get(), before.st_mode & 07777) != 0)' 'if (false)'
fault "a source changed during the copy goes unnoticed" src/files/safemove.cpp \
    'if (after.st_size != before.st_size || !SameTime(after.st_mtim, before.st_mtim))' 'if (false)'
fault "a published copy kept when the source cannot be removed" src/files/safemove.cpp \
    'Unpublish(dirFd.get(), name.constData(), written);
        return FailErrno(error, "remove source", err);' \
    'return FailErrno(error, "remove source", err);'

# The journal and the undo.
fault "undo trusts a journal's line that a file moved" src/journal/undo.cpp \
    'const bool atTargetIsMoved = atTarget && differs.isEmpty();' \
    'const bool atTargetIsMoved = atTarget && (differs.isEmpty() || entry.moved == true);'
fault "a torn last line of a journal refused" src/journal/journal.cpp \
    'if (last && number > 1)' 'if (false)'
fault "a journal readable by others" src/journal/journal.cpp \
    'O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);' \
    'O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);'
fault "a row's main file not put back when a sidecar fails" src/journal/journal.cpp \
    'for (int j = i - 1; j >= 0; --j) {' 'for (int j = i - 1; j >= 1; --j) {'
fault "an undone journal undone again" src/cli/cli.cpp \
    'if (!journal || journal->undone) {' 'if (!journal) {'
fault "a placeholder left by a killed run stays after an undo" src/journal/undo.cpp \
    'if (row.action == Action::Tidy && files::IsPlaceholder(entry.target, startedNs))' 'if (false)'

# The window.
fault "Process moves with QFile::rename" src/gui/renamefiles.cpp \
    'const bool moved = files::MoveFile(source, target);' \
    'const bool moved = QFile::rename(source, target);'
fault "Process left enabled" src/gui/renamefiles.cpp \
    'processButton->setEnabled(false);' 'processButton->setEnabled(true);'
fault "a failed row removed" src/gui/renamefiles.cpp 'if (moved) {' 'if (true) {'
fault "unticked rows moved" src/gui/renamefiles.cpp \
    'if (item->checkState(0) != Qt::Checked) {' 'if (false) {'
fault "column 0 editable" src/gui/gui.cpp \
    'fileTree->setItemDelegateForColumn(0, new NoEditDelegate(this));' ''
fault "a name typed by hand survives the next keystroke" src/gui/releaserow.cpp \
    '++generation;' ''
fault "a row's tick cannot be taken off" src/gui/releaserow.cpp 'tick = state;' ''
fault "a name typed by hand ignored" src/gui/releaserow.cpp \
    'if (column == 2 && IsText(role) && typedIn != naming->generation) {' \
    'if (column == 2 && IsText(role)) {'
fault "the suggestion leaves the output pattern as it was" src/gui/selectfolders.cpp \
    'outputPatternEdit->setText(QStringLiteral("%1"));' ''
fault "a cancelled dialog leaves the root as it was" src/gui/selectfolders.cpp \
    'const bool accepted = dialog.exec() != 0;' \
    'const bool accepted = dialog.exec() != 0; if (!accepted) return;'

# The command line.
fault "the command line exits 0 after a failure" src/cli/cli.cpp \
    '        out << ToJson(plan, options.apply).toJson(QJsonDocument::Indented);
    return failures > 0 ? 1 : 0;' \
    '        out << ToJson(plan, options.apply).toJson(QJsonDocument::Indented);
    return 0;'
fault "two rows with one target both planned" src/plan/plan.cpp 'taken.insert(clean);' ''
fault "a dangling link at the target not seen" src/plan/plan.cpp \
    'return ::lstat(QFile::encodeName(path).constData(), &st) == 0;' \
    'return ::stat(QFile::encodeName(path).constData(), &st) == 0;'
fault "a single release folder gets a suggested pattern" src/cli/cli.cpp \
    'if (plan.suggested && plan.rows.size() < 2) {' 'if (false) {'
fault "skipped folders not listed" src/cli/cli.cpp \
    'if (!plan.skipped.isEmpty()) {' 'if (false) {'

# Each fault must still name code that is there, once, before anything is built.
stale=()
for i in "${!descriptions[@]}"; do
    OLD=${olds[$i]} perl -0777 -ne '$n = () = /\Q$ENV{OLD}\E/g; exit($n != 1)' \
        "$top/${files[$i]}" || stale+=("${descriptions[$i]} (${files[$i]})")
done
if [ ${#stale[@]} -gt 0 ]; then
    printf 'no longer applies: %s\n' "${stale[@]}"
    exit 2
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
git clone -q "$top" "$scratch/tree"
cd "$scratch/tree"
echo "building and testing the unchanged tree in $scratch/tree"
if ! ./test >"$scratch/clean.log" 2>&1; then
    tail -30 "$scratch/clean.log"
    echo "the unchanged tree fails its tests; nothing to learn from faults"
    exit 2
fi

uncaught=()
for i in "${!descriptions[@]}"; do
    what=${descriptions[$i]}
    [[ -z $only || $what == *"$only"* ]] || continue
    OLD=${olds[$i]} NEW=${news[$i]} perl -0777 -i -pe 's/\Q$ENV{OLD}\E/$ENV{NEW}/' "${files[$i]}"
    if ./test >"$scratch/fault.log" 2>&1; then
        uncaught+=("$what (${files[$i]})")
        printf '%-62s NOT CAUGHT\n' "$what"
    else
        # What caught it: the suites that failed, or the build itself.
        caught=$(sed -n 's/^[[:space:]]*[0-9]* - \([a-z_]*\) (.*/\1/p' "$scratch/fault.log" |
            paste -sd ' ')
        printf '%-62s caught by %s\n' "$what" "${caught:-the build}"
    fi
    git checkout -q -- src
done

[ ${#uncaught[@]} -eq 0 ] || { printf 'not caught: %s\n' "${uncaught[@]}"; exit 1; }
echo "every fault was caught"
