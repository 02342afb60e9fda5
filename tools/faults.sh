#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# SPDX-FileCopyrightText: 2026 Move & Rename developers
# Makes deliberate one-line faults in src/, one at a time, and runs the suites that must catch
# each one. Each fault is a mistake somebody could plausibly make; one that its suites miss is a
# gap in the tests, even where another suite would have caught it by chance. A new behaviour
# deserves a fault of its own here.
#
# The working tree, committed or not, is copied into scratch trees that are built once; then
# each fault changes its line, rebuilds only what its suites run, runs only those suites (a
# fault that names none runs them all) and puts the line back. The faults' files are shared out
# among the trees, which work side by side; faults of one file follow each other, so that
# putting a line back and making the next fault cost one compile.
#
# Usage: tools/faults.sh [--changed [REV]] [--jobs N] [WORD]
#   WORD           only the faults whose description contains WORD
#   --changed REV  only the faults whose file changed since REV, uncommitted changes included;
#                  without REV, since the commit main held when this checkout was made (what
#                  had landed): run this before every submission
#   --jobs N       scratch trees side by side (default 2)
# Exit status: 0 every fault was caught; 1 some fault was not; 2 a fault no longer applies to
# the code (its text changed: update the list), or the unchanged tree fails its own tests.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
started=$SECONDS

only='' changed='' jobs=2
while [ $# -gt 0 ]; do
    case $1 in
        --changed)
            if [ $# -gt 1 ] && git -C "$top" rev-parse -q --verify "$2^{commit}" >/dev/null; then
                changed=$2
                shift
            else
                # The oldest entry of main's reflog is where main stood when the checkout was made.
                changed=$(git -C "$top" reflog show --format=%H main -- 2>/dev/null | tail -1)
                changed=${changed:-HEAD}
            fi ;;
        --jobs) jobs=$2; shift ;;
        -*) echo "usage: $0 [--changed [REV]] [--jobs N] [WORD]" >&2; exit 2 ;;
        *) only=$1 ;;
    esac
    shift
done

suites=() descriptions=() files=() olds=() news=()
# fault SUITES DESCRIPTION FILE OLD NEW: OLD must occur exactly once in FILE; SUITES are the
# CTest names, comma-separated, of the suites that must catch it ("all" for every suite).
fault() { suites+=("$1") descriptions+=("$2") files+=("$3") olds+=("$4") news+=("$5"); }

# The naming engine.
fault naming "a repeated placeholder keeps its last slot" src/naming/naming.cpp \
    'if (!placeholderMap.contains(index))' 'if (true)'
fault naming "dots kept in captured fields" src/naming/naming.cpp \
    "[](QChar c) { return c == u'.' ? QChar(u' ') : c; }" '[](QChar c) { return c; }'
fault naming "the extension taken from the first dot" src/naming/naming.cpp \
    "const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot" "const qsizetype dot = fileName.indexOf(u'.');
    return dot"
fault naming "a missing separator does not end matching" src/naming/naming.cpp \
    'for (int k = 1; g >= 0 && k <= usedSlots; ++k)' 'for (int k = 1; k <= usedSlots; ++k)'
fault naming "a final placeholder captures nothing" src/naming/naming.cpp \
    'k == slotCount ? text.size() - e : 0' '0'
fault naming "release tags found only in lower case" src/naming/naming.cpp \
    "return u >= u'A' && u <= u'Z' ? u + (u'a' - u'A') : u;" 'return u;'
fault naming "a tag's first letter compared in its case only" src/naming/naming.cpp \
    'data[p] < 0x80 && (data[p] | 0x20) != firstWithCaseBit)' 'data[p] < 0x80 && data[p] != tag[0])'
fault naming "a tag that starts after the cut is accepted" src/naming/naming.cpp \
    'accepted = p >= 0 && p <= cuts[j];' 'accepted = p >= 0;'
fault naming "a row's tag taken from the first row's place though its ending differs" \
    src/naming/naming.cpp 'sameEnd[j] > tagTail ?' 'sameEnd[j] >= 0 ?'
fault naming "a row that ends alike shares its whole like ending before the cut" \
    src/naming/naming.cpp 'walk = std::min(walk, sameEnd[j] - tail);' \
    'walk = std::min(walk, qsizetype(sameEnd[j]));'
fault fuzz_replay "a placeholder's number taken as its index" src/naming/naming.cpp \
    'index = ok && number > 0 ? number - 1 : -1;' 'index = ok && number > 0 ? number : -1;'
fault naming "the root kept at the front of the suggestion" src/naming/naming.cpp \
    'if (!rootPath.isEmpty() && prefix.startsWith(rootPath, Qt::CaseSensitive))' 'if (false)'

# The folder scan.
fault scan "subfolders sorted case-sensitively" src/files/scan.cpp \
    'const int byCase = CompareIgnoringCase(name(a), name(b));' \
    'const int byCase = name(a).compare(name(b));'
fault scan "equal beginnings passed by two units more than were compared" src/files/scan.cpp \
    'std::memcmp(a.data() + same, b.data() + same, 8)' \
    'std::memcmp(a.data() + same, b.data() + same, 4)'
fault scan "a folder and its file joined without a slash" src/files/scan.cpp \
    "const bool slash = !folder.isEmpty() && !folder.endsWith(QLatin1Char('/'));" \
    "const bool slash = !folder.isEmpty() && folder.endsWith(QLatin1Char('/'));"
fault scan "the smallest file chosen" src/files/scan.cpp \
    'if (listing.found && size < bestSize)' 'if (listing.found && size > bestSize)'
fault scan "a tie in size won by the later name" src/files/scan.cpp \
    'QFile::decodeName(rawName) >= QFile::decodeName(listing.name.c_str()))' \
    'QFile::decodeName(rawName) <= QFile::decodeName(listing.name.c_str()))'
fault scan "a folder's listing read only as far as its first answer" src/files/scan.cpp \
    'at += record->d_reclen;' 'at += record->d_reclen; } return; {'
fault cli "hidden files counted" src/files/scan.cpp \
    "if (name[0] == '.') //" \
    "if (name[0] == '.' && (!name[1] || name[1] == '.')) //"
fault window,cli "an empty root turned into /" src/files/scan.cpp \
    "if (root.isEmpty() || root.endsWith(QLatin1Char('/')))" "if (root.endsWith(QLatin1Char('/')))"
fault cli "a name that is not valid UTF-8 moved all the same" src/files/scan.cpp \
    'if (!listing.found || (why && !Representable(bestName, listing.name.c_str()))) {' \
    'if (!listing.found) {'
fault cli "a sidecar's stem compared with its letter case" src/files/scan.cpp \
    'if (name.startsWith(prefix, Qt::CaseInsensitive))' 'if (name.startsWith(prefix))'
fault cli "a sidecar's stem needs no dot after it" src/files/scan.cpp \
    "const QString prefix = stem + QLatin1Char('.');" 'const QString prefix = stem;'
fault cli "the chosen file its own sidecar" src/files/scan.cpp \
    'if (name == chosen.mid(slash + 1) || !Representable(name, raw))' \
    'if (!Representable(name, raw))'
fault cli "a subtitle's extension compared with its letter case" src/files/scan.cpp \
    'return dot >= 0 && kinds.contains(name.mid(dot + 1), Qt::CaseInsensitive);' \
    'return dot >= 0 && kinds.contains(name.mid(dot + 1));'
fault cli "a Subs folder's name compared with its letter case" src/files/scan.cpp \
    'if (sub.compare(QLatin1String("Subs"), Qt::CaseInsensitive) != 0 &&' \
    'if (sub.compare(QLatin1String("Subs")) != 0 &&'
fault cli "a Subtitles folder's name compared with its letter case" src/files/scan.cpp \
    'sub.compare(QLatin1String("Subtitles"), Qt::CaseInsensitive) != 0)' \
    'sub.compare(QLatin1String("Subtitles")) != 0)'
fault cli "any file of a Subs folder taken as a subtitle" src/files/scan.cpp \
    'if (Representable(name, raw) && isSubtitle(name))' 'if (Representable(name, raw))'

# The scan's folders listed several at once.
fault scan "parallel scan: a release put in the next folder's row" src/files/inorder.h \
    'take(i, slot);' 'take(i, answers[(i + 1) % window]);'
fault scan "parallel scan: an answer taken twice, another lost" src/files/inorder.h \
    'answered[i % window] = false;' ''
fault scan "parallel scan: an answer taken before a helper gave it" src/files/inorder.h \
    'ready.wait(lock, [&] { return bool(answered[i % window]); });' ''
fault scan "parallel scan: a folder whose type only a stat tells left out" src/files/scan.cpp \
    'toAsk.emplace_back(name, !typeKnown);' ';'

# The safe move.
fault safemove "the rename replaces what is at the target" src/files/safemove.cpp \
    'return ::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE);' \
    'return ::renameat2(fromDir, from, toDir, to, 0);'
fault safemove "the placeholder not checked before the rename over it" src/files/safemove.cpp \
    'if (!StillOurs(toDir, to, placeholder))' 'if (false)'
fault safemove "a copy across file systems keeps no mode" src/files/safemove.cpp \
    'if (::fchmod(out.get(), before.st_mode & 07777) != 0)' 'if (false)'
fault safemove "a source changed during the copy goes unnoticed" src/files/safemove.cpp \
    'if (after.st_size != before.st_size || !SameTime(after.st_mtim, before.st_mtim))' 'if (false)'
fault safemove "a published copy kept when the source cannot be removed" src/files/safemove.cpp \
    'Unpublish(dirFd, name.constData(), written);
        return FailErrno(error, "remove source", err);' \
    'return FailErrno(error, "remove source", err);'
fault safemove "the plain copy writes its whole buffer after a short read" src/files/safemove.cpp \
    'return WriteAll(out, buffer.data(), static_cast<size_t>(n)) ? n : -1;' \
    'return WriteAll(out, buffer.data(), buffer.size()) ? n : -1;'
fault safemove "a hard link that replaces what is at the target" src/files/safemove.cpp \
    '    if (::linkat(src.dir, src.name.constData(), dirFd, name.constData(), 0) == 0)' \
    '    ::unlinkat(dirFd, name.constData(), 0);
    if (::linkat(src.dir, src.name.constData(), dirFd, name.constData(), 0) == 0)'
fault safemove "a symbolic link that replaces what is at the target" src/files/safemove.cpp \
    'return ::symlinkat(linkText.constData(), dirFd, name.constData()) == 0 ||' \
    'return (::unlinkat(dirFd, name.constData(), 0),
                ::symlinkat(linkText.constData(), dirFd, name.constData()) == 0) ||'
fault cli "a symbolic link holds the absolute path of its source" src/files/safemove.cpp \
    'return QDir(QFileInfo(QDir::cleanPath(target)).path())' \
    'return QDir::cleanPath(source);
    QDir(QFileInfo(QDir::cleanPath(target)).path())'
fault safemove "hardlink-or-copy copies where a link could be made" src/files/safemove.cpp \
    'const bool noLink = err == EXDEV || LinksUnsupported(err);' 'const bool noLink = true;'
fault cli "a hard link across file systems fails without its reason" src/files/safemove.cpp \
    'if (err == EXDEV)
        return Fail(error, QString::fromLatin1(kNoCrossDeviceLink));' ''
fault cli "a link on the way out of the root followed" src/files/safemove.cpp \
    'how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;' 'how.resolve = 0;'
fault cli "the walk without openat2 follows links" src/files/safemove.cpp \
    'next = ::openat(current.get(), part.constData(), wanted | O_NOFOLLOW | O_CLOEXEC);' \
    'next = ::openat(current.get(), part.constData(), wanted | O_CLOEXEC);'
fault cli "a .. target allowed" src/files/safemove.cpp \
    'relative.endsWith("/..") || relative.contains("/../");' 'false;'
fault cli "a folder that was there before the run recorded as made" src/files/safemove.cpp \
    '        int next = OpenBeneath(baseFd, prefix, kFolder);' \
    '        if (log.making)
            log.making(QFile::decodeName(prefix));
        int next = OpenBeneath(baseFd, prefix, kFolder);'

# The journal and the undo.
fault cli "undo trusts a journal's line that a file moved" src/journal/undo.cpp \
    'const bool atTargetIsMoved = atTarget && differs.isEmpty();' \
    'const bool atTargetIsMoved = atTarget && (differs.isEmpty() || entry.moved == true);'
fault cli "outcome lines still waiting when the journal closes lost" src/journal/journal.cpp \
    'Writer::~Writer()
{
    WritePending();' 'Writer::~Writer()
{'
fault cli "no source's identity kept before a run, moves included" src/plan/plan.cpp \
    'plan.action != files::Action::Hardlink && plan.action != files::Action::Symlink;' 'false;'
fault cli "a torn last line of a journal refused" src/journal/journal.cpp \
    'if (last && number > 1)' 'if (false)'
fault cli_killed "a journal readable by others" src/journal/journal.cpp \
    'O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);' \
    'O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);'
fault cli "a row's main file not put back when a sidecar fails" src/journal/journal.cpp \
    'for (int j = i - 1; j >= 0; --j) {' 'for (int j = i - 1; j >= 1; --j) {'
fault cli "an undone journal undone again" src/cli/cli.cpp \
    'if (!journal || journal->undone) {' 'if (!journal) {'
fault cli "an undo that removes a copy someone changed" src/journal/undo.cpp \
    'atTarget.mtimeNs != source->mtimeNs || !SameContent(entry.source, entry.target))' \
    'atTarget.mtimeNs != source->mtimeNs)'
fault cli "an undo that removes a hard link no longer the source's" src/journal/undo.cpp \
    'return sameInode ? QString()' 'return true ? QString()'
fault cli "an undo that removes a symbolic link someone changed" src/journal/undo.cpp \
    'return n >= 0 && QByteArray(text, int(n)) ==' 'return n >= 0 || QByteArray(text, int(n)) =='
fault cli "an undo that leaves the folders a run made" src/journal/undo.cpp \
    '>= 0) && QFileInfo(row.target).isDir())' '>= 0) && false)'
fault cli "an undo puts a file back through a link out of the root" src/journal/undo.cpp \
    'open(BaseFor(row.source, root, &relative));' \
    'open((BaseFor(row.source, root, &relative), relative = row.source.mid(1), QStringLiteral("/")));'
fault cli_killed "a placeholder left by a killed run stays after an undo" src/journal/undo.cpp \
    'if (row.action == Action::Tidy && files::IsPlaceholder(entry.target, startedNs))' 'if (false)'

# The window.
fault process "Process moves with QFile::rename" src/gui/renamefiles.cpp \
    'const bool moved = Move(rootBase, slashed, source, target);' \
    'const bool moved = QFile::rename(source, target);'
fault process "Process left enabled" src/gui/renamefiles.cpp \
    'processButton->setEnabled(false);' 'processButton->setEnabled(true);'
fault process "a failed row removed" src/gui/renamefiles.cpp 'if (moved) {' 'if (true) {'
fault process "unticked rows moved" src/gui/renamefiles.cpp \
    'if (!item || !item->Ticked()) {' 'if (!item) {'
fault process "a link whose file is gone moved all the same" src/gui/renamefiles.cpp \
    'if (item->MayBeLink() && !QFile::exists(source)) {' 'if (false) {'
fault process "a vanished source warned about" src/gui/renamefiles.cpp \
    'if (!moved && !QFile::exists(source)) {' 'if (false) {'
fault process "a link chosen by the scan taken for a plain file" src/files/scan.cpp \
    'visit(name, answer->size, !typeKnown, answer->id);' \
    'visit(name, answer->size, false, answer->id);'
fault process "the table left hidden after Process" src/gui/repaintthrottle.cpp \
    'view->setAttribute(Qt::WA_WState_Visible, true);' \
    'view->setAttribute(Qt::WA_WState_Visible, false);'
fault window "column 0 editable" src/gui/gui.cpp \
    'fileTree->setItemDelegateForColumn(0, new NoEditDelegate(this));' ''
fault window "a name typed by hand survives the next keystroke" src/gui/releaserow.cpp \
    '++generation;' ''
fault window "a row's tick cannot be taken off" src/gui/releaserow.cpp 'tick = state;' ''
fault window "a name typed by hand ignored" src/gui/releaserow.cpp \
    'if (typedIn == naming->generation) // a name typed by hand' \
    'if (false) // a name typed by hand'
fault window "the suggestion leaves the output pattern as it was" src/gui/selectfolders.cpp \
    'outputPatternEdit->setText(QStringLiteral("%1"));' ''
fault window "a cancelled dialog leaves the root as it was" src/gui/selectfolders.cpp \
    'const bool accepted = dialog.exec() != 0;' \
    'const bool accepted = dialog.exec() != 0; if (!accepted) return;'

# The command line.
fault cli "the command line exits 0 after a failure" src/cli/cli.cpp \
    '                   .toJson(QJsonDocument::Indented);
    return failures > 0 ? 1 : 0;' \
    '                   .toJson(QJsonDocument::Indented);
    return 0;'
fault cli "a target listed in its folder counted free" src/plan/plan.cpp \
    'if (listing && !listing->contains(Folded(' 'if (listing && listing->contains(Folded('
fault cli "a name taken in another letter case counted free where case is ignored" src/plan/plan.cpp \
    "if (c >= u'A' && c <= u'Z')" 'if (false)'
fault cli "two rows with one target both planned" src/plan/plan.cpp 'taken.insert(clean);' ''
fault cli "a captured field's / makes a folder" src/plan/plan.cpp \
    "if (target.count(QLatin1Char('/')) != slashes || target.startsWith(QLatin1Char('/')))" \
    "if (target.startsWith(QLatin1Char('/')))"
fault cli "a file where a folder is needed not seen" src/plan/plan.cpp \
    '        return Conflict::NotFolder;' '        return Conflict::Outside;'
fault cli "sidecars moved whatever their row's action" src/plan/plan.cpp \
    'files.append({index, sidecar.file.path, sidecar.targetPath, {}, plan.action, {}, {}});' \
    'files.append({index, sidecar.file.path, sidecar.targetPath, {}, files::Action::Move, {}, {}});'
fault cli "a release folder outside the root named by its path" src/files/scan.cpp \
    'return clean.mid(clean.lastIndexOf(QLatin1Char('"'"'/'"'"')) + 1);' 'return clean;'
fault cli "a dangling link at the target not seen" src/plan/plan.cpp \
    'return ::lstat(QFile::encodeName(targetPath).constData(), &st) == 0;' \
    'return ::stat(QFile::encodeName(targetPath).constData(), &st) == 0;'
fault cli "a single release folder gets a suggested pattern" src/cli/cli.cpp \
    'if (!library && plan.suggested && plan.rows.size() < 2) {' 'if (false) {'
fault cli "skipped folders not listed" src/cli/cli.cpp \
    'if (skipped.isEmpty() && onlySample.isEmpty())
        return;' 'return;'

# The web server.
fault web_api "the web server takes any Host" src/web/routes.cpp \
    'if (!allowedHosts.contains(HostPart(host)) && !reachedAt)' 'if (false)'
fault web_api "the web server takes a foreign Origin" src/web/routes.cpp \
    'if (req.Has("origin") &&' 'if (false &&'
fault web_api "the web server takes a change without a JSON body" src/web/routes.cpp \
    'if (req.method == "POST" &&' 'if (false &&'
fault web_api "the web server needs no session" src/web/routes.cpp \
    'if (!options.passwordHash.isEmpty() && req.path != "/api/login" &&' 'if (false &&'
fault web_api "the web server compares a session cookie by its first byte" src/web/login.cpp \
    'sodium_memcmp(session.token.data(), token.data(), token.size()) == 0' \
    'sodium_memcmp(session.token.data(), token.data(), 1) == 0'
fault web_api "the web server has no rate limit on passwords" src/web/login.cpp \
    'if (now < mine.blockedUntil ||' 'if (false &&'
fault web_api "the web server allows '..' in a client's path" src/web/confine.cpp \
    'if (part == QLatin1String(".."))' 'if (false)'
fault web_api "the web server scans a file linked from outside" src/files/scan.cpp \
    'if (strict && listing.found && listing.mayBeLink) {' 'if (false) {'
fault web_api "the web server scans a folder linked from outside" src/files/scan.cpp \
    'const int dirFd = under || strict ?' 'const int dirFd = false ?'
fault web_api "a scan's release that leads out of its bounds handed on all the same" src/files/scan.cpp \
    'if (listing.outside && bounds)
                return;' ''
fault web_api "the web server's duplicates ignore rows above the screen" src/web/api.cpp \
    'scan->firstClaim.value(hashOf(clean), INT_MAX) < i ||' 'false ||'
fault web_api "the web server's sidecar duplicates ignore sidecars above the screen" \
    src/web/api.cpp '(sidecars && sidecarAbove(clean, i));' 'false;'
fault web_api "the web server reads the sidecars of every row above the screen" src/web/api.cpp \
    'scan->stems.values(hashOf(QStringView(clean).left(dot)))' 'scan->stems.values()'
fault web_api "the web server ignores the action asked for" src/web/api.cpp \
    '        plan.action = *how;' '        (void)how;'
fault web_api "the web server keeps moved rows in the scan" src/web/api.cpp \
    '[&moved](const ScanData::Release &r) { return moved.contains(r.id); });' \
    '[&moved](const ScanData::Release &r) { return false; });'
fault web_api "a journal in use written all the same" src/journal/journal.cpp \
    'if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {' 'if (false) {'

# The web page.
fault page "the page keeps a name typed by hand past the next keystroke" src/web/page/page.js \
    '    state.typed.clear();
    state.failed.clear();
    stopEditing(false);' '    state.failed.clear();
    stopEditing(false);'
fault page "the page sends unticked rows to be moved" src/web/page/page.js \
    'unticked: [...state.unticked],' 'unticked: [],'
fault page "the page sends no name typed by hand" src/web/page/page.js \
    'targets: Object.fromEntries(state.typed), ...destination()};' \
    'targets: {}, ...destination()};'
fault page "the page drops the reason a row failed" src/web/page/page.js \
    "state.failed.set(outcome.row, outcome.error || 'failed');" ''
fault page "the page draws every row into the document" src/web/page/page.js \
    'const count = Math.ceil(scroller.clientHeight / state.rowHeight) + 1;' \
    'const count = state.total + 1;'

# The page's rows after a run, its targets, its layout when its width changes.
fault page "the page shows why a row failed instead of its live conflict" src/web/page/page.js \
    ": [conflict, row.note, failed && \`not moved: \${failed}\`].filter(Boolean).join('; ');" \
    ": failed ? \`not moved: \${failed}\` : conflict;"
fault page "the page keeps a row's failure past a change of its target" src/web/page/page.js \
    '    state.failed.clear();
    stopEditing(false);' '    stopEditing(false);'
fault page "the page measures its rows once, whatever its width" src/web/page/page.js \
    'if (!height || height === state.rowHeight) return;' 'if (!height || state.rowHeight) return;'
fault page "the page cuts a target's file name with its folders" src/web/page/page.css \
    '.name { display: flex; min-width: 0; }' \
    '.name { display: block; min-width: 0; overflow: hidden; text-overflow: ellipsis; }'

# What the tests were made able to catch.
fault cli "a folder made with a fixed mode, whatever the umask" src/files/safemove.cpp \
    'if (::mkdirat(current.get(), part.constData(), 0777) == 0) {' \
    'if (::mkdirat(current.get(), part.constData(), 0755) == 0) {'
fault cli "JSON says a link was made, whatever each file got" src/cli/cli.cpp \
    'HowJson(row.moved, row.how)' 'HowJson(row.moved, files::Action::Hardlink)'
fault cli_killed "an undo cut off during a copy back leaves its partial copy beside the source" \
    src/journal/undo.cpp \
    'files::TemporaryCopies(entry.target) + files::TemporaryCopies(entry.source))' \
    'files::TemporaryCopies(entry.target))'
fault page "the web server gives no reason for a row that failed" src/web/api.cpp \
    '{QStringLiteral("error"), moved ? QJsonValue() : QJsonValue(error)}}));' \
    '{QStringLiteral("error"), QJsonValue()}}));'

# The fields of a release name and the library.
fault naming "a run of episodes read backwards" src/naming/release.cpp \
    'episode <= m.last ||' 'episode < 0 ||'
fault naming "a year read from a name's first word" src/naming/release.cpp \
    'if (p != firstWord) {' 'if (true) {'
fault naming "a film's first year taken, not its last" src/naming/release.cpp \
    'if (y > 0 && !DateFollows(text, p)) {' 'if (y > 0 && !DateFollows(text, p) && lastYearAt < 0) {'
fault naming "a date read as a film's year" src/naming/release.cpp \
    'if (y > 0 && !DateFollows(text, p)) {' 'if (y > 0) {'
fault naming "words after the first release tag read too" src/naming/release.cpp \
    'if (IsTag(text, p))' 'if (false)'
fault naming "WEB alone taken for a tag" src/naming/release.cpp \
    'return text.WordAt(p, "web") && (' 'return text.WordAt(p, "web") || ('
fault naming "a colon kept in a show or title" src/naming/release.cpp \
    "        case u':':
" ''
fault naming "a show's year left out of its name" src/naming/release.cpp \
    'fields.show += QStringLiteral(" (%1)").arg(fields.year);' ';'
fault naming "sample found inside a longer word" src/naming/release.cpp \
    "(p == 0 || !IsLetterOrDigit(text.At(p - 1)))" 'true'
fault naming "a number's width ignored" src/naming/release.cpp \
    'for (qsizetype pad = width - digits.size(); pad > 0; --pad)' 'for (qsizetype pad = 0; pad > 0; --pad)'
fault naming,cli "a run's last episode left out of its name" src/naming/release.cpp \
    'if (fields.lastEpisode != fields.episode) {' 'if (false) {'
fault cli "a sample moved as a sidecar" src/plan/library.cpp \
    'return naming::IsSample(sidecar.file.name);' 'return false;'
fault cli "a release folder holding only a sample placed" src/plan/library.cpp \
    'if (IsSampleRelease(release.folder, release.fileName)) {' 'if (false) {'
fault cli "a show's folder in the library spelled anew" src/plan/library.cpp \
    'QHash<QString, QString> spellings = ShowFolders(root);' 'QHash<QString, QString> spellings;'
fault cli "the last spelling of a show wins" src/plan/library.cpp \
    'if (spelling == spellings.cend())
                spelling = spellings.insert(key, fields.show);' 'spelling = spellings.insert(key, fields.show);'
fault cli "a placeholder in a film's title filled in its heading" src/plan/library.cpp \
    'first.title % QLatin1String(" (") % QString::number(first.year) % QLatin1Char('"'"')'"'"');' \
    'QStringLiteral("%1 (%2)").arg(first.title).arg(first.year);'
fault cli "a target taken as free wherever the root lists anything" src/plan/plan.cpp \
    'return names && !names->contains(Folded(relativeFolder.left(relativeFolder.indexOf(u'"'"'/'"'"'))));' 'return names.has_value();'

# Files reached through folders held open beneath a root, and only while they are what was seen.
fault cli,web_api "a source's folder opened by following links" src/files/safemove.cpp \
    'holder.reset(OpenBeneath(source.base->Fd(), dir, kFolder));' \
    'holder.reset(::openat(source.base->Fd(), dir.constData(), kFolder | O_CLOEXEC));'
fault cli,web_api "a source moved whatever file has its name now" src/files/safemove.cpp \
    'if (!source.seen.Known())
        return true;' 'if (true)
        return true;'
fault cli "a run forgets which file the scan saw" src/plan/plan.cpp \
    '{{base, relative, identityKept ? seen.at(i) : files::FileId()}, targets.at(i)});' \
    '{{base, relative}, targets.at(i)});'
fault cli "a release folder below the root listed by its path" src/files/scan.cpp \
    'const int dirFd = under || strict ?' 'const int dirFd = strict ?'
fault cli "an undo moves back a target replaced after its check" src/journal/undo.cpp \
    '{rootBase.get(), made, row.seen}' '{rootBase.get(), made}'
fault web_api "the web server's undo believes any journal's paths" src/web/api.cpp \
    'journal::PlanUndo(*journal, &within)' 'journal::PlanUndo(*journal)'
fault web_api "the web server's history lists a journal with a path outside its roots" \
    src/web/api.cpp 'if (!journal || !Inside(*journal, within))' 'if (!journal)'

# The web server against hostile clients, its settings and its login.
fault web_attack "the header limit raised to 1 GB" src/web/transport.h \
    'static constexpr size_t kMaxHeader = 16 * 1024;' \
    'static constexpr size_t kMaxHeader = size_t(1) << 30;'
fault web_attack "header fields not counted" src/web/transport.cpp \
    'if (fields > Limits::kMaxFields)' 'if (false)'
fault web_api,web_attack "no body limit" src/web/transport.cpp \
    'parser->body_limit(Limits::kMaxBody);' 'parser->body_limit(std::uint64_t(1) << 40);'
fault web_attack "a Content-Encoding taken" src/web/transport.cpp \
    'if (request.Has("content-encoding"))' 'if (false)'
fault web_attack "a POST without a length read until the connection ends" \
    src/web/transport.cpp 'if (request.method == "POST" && !parser.content_length()' \
    'if (false && !parser.content_length()'
fault web_api,web_attack "no deadline for the header block" src/web/transport.cpp \
    'started = Clock::now();
        Lowest().expires_after(seconds(Limits::kHeaderSeconds));' \
    'started = Clock::now();
        Lowest().expires_never();'
fault web_attack "no cap on connections from one address" src/web/transport.cpp \
    '|| mine >= Limits::kPerAddress' '|| false'
fault web_attack "a request the transport refuses logged without its method" \
    src/web/transport.cpp 'request.method = std::string(parser->get().method_string());' \
    'request.method = "";'
fault web_attack "a login counted only once its hash is done" src/web/login.cpp \
    'int(mine.failures.size()) + mine.underWay >= kMaxFailures' \
    'int(mine.failures.size()) >= kMaxFailures'
fault web_attack "eight passwords hashed at once" src/web/login.h \
    'static constexpr int kHashing = 2;' 'static constexpr int kHashing = 8;'
# Logins waiting for a hash: no more hashed at once, and served an address at a time.
fault web_attack "every login hashed at once, none waiting" src/web/login.cpp \
    'if (hashing < kHashing)
        HashWaiting(lock);' 'HashWaiting(lock);'
fault web_attack "waiting logins taken an address at a time, not in turn" src/web/login.cpp \
    'if (!addresses[address].waiting.empty())
            turns.push_back(address);' 'if (!addresses[address].waiting.empty())
            turns.push_front(address);'
fault web_attack "a forwarded address believed from anyone" src/web/login.cpp \
    'if (forwardedFor.empty() || !trustedProxies.contains(QString::fromStdString(peer)))' \
    'if (forwardedFor.empty())'
fault web_api "a session ends after a fixed time though used" src/web/login.cpp \
    'session.used = now;' '(void)now;'
fault web_api "a login block that never ends" src/web/login.cpp \
    'address.blockedUntil = now + window;' \
    'address.blockedUntil = now + std::chrono::hours(1);'
fault web_api "a settings file its group may read taken" src/web/settings.cpp \
    '(st.st_mode & 077) != 0' '(st.st_mode & 007) != 0'
fault web_api "host lines kept in their case" src/web/settings.cpp \
    'settings.hosts.append(value.toLower());' 'settings.hosts.append(value);'
fault web_api "the password hashed with two passes" src/web/settings.cpp \
    'constexpr unsigned long long kPasses = 3;' 'constexpr unsigned long long kPasses = 2;'
fault web_api "a --listen name not resolved" src/web/main.cpp \
    'options.host = Resolve(name);' 'options.host = name;'
fault web_api "the settings' host lines ignored" src/web/main.cpp \
    'options.hostNames += settings->hosts;' 'options.hostNames += QStringList();'
fault web_api "plain HTTP served though TLS was asked for" src/web/routes.cpp \
    'options.tlsCert, options.tlsKey}' 'QString(), QString()}'
fault web_api "a stalled request fells the server" src/web/transport.cpp \
    '            Log(status == 0 ? 400 : 408);' '            if (status == 408) std::abort();'
fault web_api "a malformed request's connection reset" src/web/transport.cpp \
    '        Send(Refusal(status), true);
    }' '        if (status == 400) {
            Lowest().socket().set_option(net::socket_base::linger(true, 0));
            return Close();
        }
        Send(Refusal(status), true);
    }'
fault web_api "the reason a row failed replaced by a word" src/web/api.cpp \
    '{QStringLiteral("error"), moved ? QJsonValue() : QJsonValue(error)}' \
    '{QStringLiteral("error"), moved ? QJsonValue() : QJsonValue(QStringLiteral("failed"))}'

# What a newcomer's page meets: names typed by hand, one release chosen, rows left out.
fault web_api "a typed name's sidecars cut by an extension it lacks" src/plan/plan.cpp \
    'return target.endsWith(extension, Qt::CaseInsensitive)' 'return true'
fault page "the page drops the extension of a name typed without one" src/web/page/page.js \
    'extensionOf(typed) ? typed : typed + editing.extension' 'typed'
fault web_api "a sample's release left out for another reason" src/plan/plan.cpp \
    'if (IsSampleRelease(folder, fileNames.at(i)))' 'if (false)'
fault web_api "a release whose file is no video taken into the batch" src/plan/plan.cpp \
    'else if (!naming::IsVideo(fileNames.at(i)))' 'else if (false)'
fault web_api "a release unlike the others taken into the batch" src/plan/plan.cpp \
    'if (count.value(common) < 2)' 'if (true)'
fault web_api "the suggestion made from the rows left out too" src/web/api.cpp \
    'plan::SuggestedPattern(batch, scan->base);' 'plan::SuggestedPattern(texts, scan->base);'
fault page "the page ticks a row left out of the batch" src/web/page/page.js \
    'for (const r of leftOut) state.unticked.add(r.row);' ''
fault web_api "one folder chosen as a release taken for its subfolders" src/web/api.cpp \
    'plan::TakeFolders(chosen, release.toBool(), QString(), &bounds);' \
    'plan::TakeFolders(chosen, false, QString(), &bounds);'
fault web_api "a folder's video file not seen by the chooser" src/web/api.cpp \
    'found = true;' ''
fault web_api "a release folder's sample taken for a release of its own" src/web/api.cpp \
    'return !naming::IsSample(name.toString()) &&' 'return'
fault web_api "a season that holds a moved episode taken for one release" src/web/api.cpp \
    'HoldsVideo(root.fd, Join(path, name.toString()));' 'false;'
fault page "the chooser's one release never asked for" src/web/page/page.js \
    "const release = ticked.length <= 1 && \$('chooser-one').checked;" 'const release = false;'
# The web server as a newcomer meets it: its port, its password, its Host on every address.
fault web_api "a port in use reported as any other failure to listen" src/web/transport.cpp \
    'failed == net::error::address_in_use' 'false'
fault web_api "a short password stored" src/web/main.cpp \
    'if (QString::fromUtf8(password).toUcs4().size() >= kShortestPassword)' 'if (true)'
fault web_api "a short password at a terminal not asked again" src/web/main.cpp \
    'if (!terminal || !std::cin)' 'if (true)'
fault web_api "on every address, the address reached at refused as the Host" src/web/routes.cpp \
    'everyAddress && HostPart(host) ==' 'false && HostPart(host) =='
fault web_api "the Host compared with the client's address, not the server's" \
    src/web/transport.cpp 'Lowest().socket().local_endpoint(ignored)' \
    'Lowest().socket().remote_endpoint(ignored)'
fault web_api "on \"::\", an IPv4 client's address taken as mapped" src/web/transport.cpp \
    'local.is_v6() && local.to_v6().is_v4_mapped()' 'false'
fault web_api "a browser refused by its Host gets JSON" src/web/routes.cpp \
    'return req.Header("accept").find("text/html") != std::string::npos ||' 'return false &&'

# The history and the undo preview, as the page shows them.
fault web_api,page "the history counts a run's rows in its action's name, not what was done" \
    src/web/api.cpp '++done[files::ActionDone(entry.how.value_or(entry.action))];' \
    '++done[QStringLiteral("moved")];'
fault web_api,page "the history names no folder" src/web/api.cpp \
    '{QStringLiteral("folder"), RunFolder(*journal, within)},' \
    '{QStringLiteral("folder"), QString()},'
fault web_api,page "an undo's folders not told from its files" src/web/api.cpp \
    'if (row.source.isEmpty()) // a folder the run made' 'if (false)'
fault page "a run that changed nothing offers Undo" src/web/page/page.js \
    'if (j.moved === 0) return item;' 'if (false) return item;'
fault page "the undo preview opens scrolled to its end" src/web/page/page.css \
    '.undo-list { max-height: 50vh; overflow-y: auto; }' '.undo-list { }'

# The library in the web server and its page.
fault web_api "the library's unticked rows placed all the same" src/web/api.cpp \
    'return skip.contains(idOf.value(row.release.folder));' 'return false;'
fault web_api "a library group's own patterns ignored" src/plan/library.cpp \
    'if (const auto mine = own.constFind(group.key); mine != own.cend()) {' \
    'if (const auto mine = own.constFind(group.key); mine == own.cend() && false) {'
fault web_api "a malformed library pattern let through" src/web/api.cpp \
    'const QString problem = naming::FieldPatterns::Problem(output.toString());' \
    'const QString problem;'
fault page "the library's rows show no fields" src/web/page/library.js \
    'fields.textContent = fieldsText(row.fields);' "fields.textContent = '';"
fault page "a library group's edited pattern never sent" src/web/page/library.js \
    'groups: library.own, ...destination()}});' 'groups: {}, ...destination()}});'
fault page "the library sends the plain table's ticks" src/web/page/library.js \
    "unticked: [...library.unticked]," "unticked: [...state.unticked],"
fault page "Process places nothing of the library" src/web/page/page.js \
    'const placing = libraryOn() ? libraryRun() : null;' 'const placing = null;'

# "Move to": the targets under another root than the releases', what a row's action comes to.
fault web_api "the root chosen to move to ignored" src/web/api.cpp \
    'destination = {roots.at(*id), roots.at(*id)->slashed};' 'destination = {scan.root, scan.base};'
fault web_api "releases in another root opened beneath the targets' root" src/plan/plan.cpp \
    'elsewhere.push_back(plan.sourcesWithin' 'elsewhere.push_back(false'
fault web_api "the rows of one root kept for another" src/web/api.cpp \
    "QChar(sidecars ? u'1' : u'0') + QChar(0) + to->base;" "QChar(sidecars ? u'1' : u'0');"
fault web_api,page "no row says a hard link cannot cross file systems" src/plan/plan.cpp \
    'if (!file.Known() || targetDevice == 0 || file.device == targetDevice)' 'if (true)'
fault web_api,page "a copy said to be hard-linked" src/web/api.cpp \
    'outcome(ids.at(index), row.moved, row.error, files::ActionDone(row.how));' \
    'outcome(ids.at(index), row.moved, row.error, files::ActionDone(plan.action));'
fault page "the plain table's rows asked for beneath the folder opened" src/web/page/page.js \
    '...destination(), ...more});' '...more});'
fault page "the plain table's run placed beneath the folder opened" src/web/page/page.js \
    'targets: Object.fromEntries(state.typed), ...destination()};' \
    'targets: Object.fromEntries(state.typed)};'
fault page "the library placed beneath the folder opened" src/web/page/library.js \
    'unticked: [...library.unticked],
                   ...destination()},' 'unticked: [...library.unticked]},'
fault page "the library's rows say nothing of their action" src/web/page/library.js \
    '[row.conflict, row.note].filter(Boolean)' '[row.conflict].filter(Boolean)'
fault page "the run's counts in one word whatever was done" src/web/page/page.js \
    'counts.done[outcome.how] = (counts.done[outcome.how] || 0) + 1;' \
    "counts.done.moved = (counts.done.moved || 0) + 1;"
fault page "a run in another root named as if in the one opened" src/web/page/page.js \
    'const root = state.roots.length > 1 && state.roots' 'const root = false && state.roots'

# Duplicates found by name ahead of the scroll, in a search cheap enough for every row.
fault naming "a separator that ends the name is not found" src/naming/naming.cpp \
    'begin + text.size() - separator.size() + 1; // the last start' \
    'begin + text.size() - separator.size(); // the last start'
fault naming "a separator found by its first character alone" src/naming/naming.cpp \
    'if (std::equal(rest, restEnd, at + 1))' 'if (true)'
fault naming "each separator searched for from the name's start" src/naming/naming.cpp \
    'std::find(begin + from, end, *separator.utf16());' 'std::find(begin, end, *separator.utf16());'
fault web_api "a target with a \"./\" part indexed as it stands" src/web/api.cpp \
    "(path[i - 1] == u'/' || path[i - 1] == u'.')" "path[i - 1] == u'/'"
fault web_api "a pass ahead with other patterns carries on the index of the ones kept" \
    src/web/api.cpp 'if (key != scan->indexKey) {' 'if (key != scan->indexKey && !ahead) {'

# The rest is read whole before it runs, so that editing this file during a run (a fault's text
# brought up to date) cannot change what the run does.
{
summary() {
    local elapsed=$((SECONDS - started))
    printf '%d caught, %d not caught, %d stale in %dm %02ds\n' "$1" "$2" "$3" \
        $((elapsed / 60)) $((elapsed % 60))
}
# Each fault must still name code that is there, once, before anything is built.
stale=()
for i in "${!descriptions[@]}"; do
    OLD=${olds[$i]} perl -0777 -ne '$n = () = /\Q$ENV{OLD}\E/g; exit($n != 1)' \
        "$top/${files[$i]}" || stale+=("${descriptions[$i]} (${files[$i]})")
done
if [ ${#stale[@]} -gt 0 ]; then
    printf 'no longer applies: %s\n' "${stale[@]}"
    summary 0 0 ${#stale[@]}
    exit 2
fi

# The faults to run, grouped by file: the files in the order they first appear.
declare -A wanted=()
if [ -n "$changed" ]; then
    while IFS= read -r path; do wanted[$path]=1; done < <(
        git -C "$top" diff --name-only "$changed" --
        git -C "$top" ls-files --others --exclude-standard)
fi
order=() groups=()
declare -A group=()
for i in "${!descriptions[@]}"; do
    [[ -z $only || ${descriptions[$i]} == *"$only"* ]] || continue
    [[ -z $changed || -n ${wanted[${files[$i]}]:-} ]] || continue
    file=${files[$i]}
    if [ -z "${group[$file]:-}" ]; then
        group[$file]=${#groups[@]}
        groups+=("")
        order+=("$file")
    fi
    groups[${group[$file]}]+="$i "
done
count=0
for g in "${groups[@]}"; do set -- $g; count=$((count + $#)); done
if [ "$count" -eq 0 ]; then
    echo "no fault to run"
    summary 0 0 0
    exit 0
fi
[ "$jobs" -le "${#groups[@]}" ] || jobs=${#groups[@]}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
echo "$count faults in ${#groups[@]} files, $jobs trees side by side in $scratch"

# Each tree is built once, without debugging information and lightly optimised, which halves a
# compile; the first one also runs the whole suite unchanged, so that a failure means the fault.
prepare() {
    local tree=$scratch/tree$1
    mkdir -p "$tree"
    git -C "$top" ls-files -z -co --exclude-standard |
        tar -C "$top" --null -T - -cf - | tar -C "$tree" -xf -
    cmake -S "$tree" -B "$tree/build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CXX_FLAGS_RELEASE='-O1 -DNDEBUG' >"$scratch/configure$1.log" 2>&1
    if [ "$1" -eq 0 ]; then
        "$tree/test" >"$scratch/clean.log" 2>&1
    else
        cmake --build "$tree/build" -j "$(nproc)" >"$scratch/clean$1.log" 2>&1
    fi
}
# The first tree installs what is missing, so the others wait for it before building.
if ! prepare 0; then
    tail -30 "$scratch/clean.log"
    echo "the unchanged tree fails its tests; nothing to learn from faults"
    exit 2
fi
others=()
for ((w = 1; w < jobs; ++w)); do prepare "$w" & others+=($!); done
for pid in ${others[@]+"${others[@]}"}; do wait "$pid" || { echo "a scratch tree does not build"; exit 2; }; done
echo "the unchanged tree passes its tests ($((SECONDS - started)) s)"

# Whole files to the tree with the least work so far, the costliest files first. A fault costs
# its build (about 10 s) and the time its suites took in the unchanged run, which CTest keeps.
declare -A cost=()
while read -r name _ seconds; do
    cost[$name]=${seconds%.*}
done < <(grep -v '^-' "$scratch/tree0/build/Testing/Temporary/CTestCostData.txt")
weight() {
    local suite total=10
    for suite in ${1//,/ }; do
        if [ "$suite" = all ]; then
            for suite in "${!cost[@]}"; do total=$((total + cost[$suite])); done
        else
            total=$((total + ${cost[$suite]:-30}))
        fi
    done
    echo "$total"
}
declare -a queue=() load=()
for ((w = 0; w < jobs; ++w)); do queue[w]='' load[w]=0; done
for g in $(for g in "${!groups[@]}"; do
               w=0
               for i in ${groups[$g]}; do w=$((w + $(weight "${suites[$i]}"))); done
               echo "$w $g"
           done | sort -rn | cut -d' ' -f2); do
    least=0
    for ((w = 1; w < jobs; ++w)); do [ "${load[w]}" -lt "${load[least]}" ] && least=$w; done
    queue[least]+="${groups[$g]}"
    for i in ${groups[$g]}; do load[least]=$((load[least] + $(weight "${suites[$i]}"))); done
done

# The targets a suite runs: the programs of its command that the build makes; none for a
# suite that runs the whole build (the install check), which then builds everything.
targets() {
    local build=$1 suite word found=()
    for suite in ${2//,/ }; do
        [ "$suite" = all ] && return
        while read -r word; do
            [[ $word == "$build"/* && -x $word && ! -d $word ]] && found+=("$(basename "$word")")
        done < <(ctest --test-dir "$build" -N -V -R "^$suite\$" | sed -n 's/.*Test command: //p' |
                 tr -d '"' | tr ' ' '\n')
        [ ${#found[@]} -gt 0 ] || return 0
    done
    echo "--target ${found[*]}"
}

# Runs the faults given, in one tree; prints a line each and writes "caught" or "missed" to
# the tree's results.
run() {
    local worker=$1 tree=$scratch/tree$1 i what file build suite regex took caught
    build=$tree/build
    shift
    cd "$tree"
    for i in "$@"; do
        what=${descriptions[$i]} file=${files[$i]} suite=${suites[$i]} took=$SECONDS
        cp "$file" "$scratch/clean.$worker"
        OLD=${olds[$i]} NEW=${news[$i]} perl -0777 -i -pe 's/\Q$ENV{OLD}\E/$ENV{NEW}/' "$file"
        regex=''
        [ "$suite" = all ] || regex="^(${suite//,/|})\$"
        # shellcheck disable=SC2046
        if ! cmake --build "$build" -j "$(( $(nproc) / jobs > 0 ? $(nproc) / jobs : 1 ))" \
                $(targets "$build" "$suite") >"$tree/fault.log" 2>&1; then
            caught='the build'
        elif QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure \
                ${regex:+-R "$regex"} >"$tree/fault.log" 2>&1; then
            caught=''
        else
            caught=$(sed -n 's/^[[:space:]]*[0-9]* - \([a-z_]*\) (.*/\1/p' "$tree/fault.log" |
                     paste -sd ' ')
            caught=${caught:-$suite}
        fi
        # Put back with a new time, so that the next build compiles it again.
        cat "$scratch/clean.$worker" >"$file"
        if [ -n "$caught" ]; then
            printf '%-66s caught by %s (%d s)\n' "$what" "$caught" $((SECONDS - took))
            echo caught >>"$tree/results"
        else
            printf '%-66s NOT CAUGHT by %s (%d s)\n' "$what" "$suite" $((SECONDS - took))
            echo "missed $what (${files[$i]}: $suite)" >>"$tree/results"
        fi
    done
}
workers=()
for ((w = 0; w < jobs; ++w)); do
    # shellcheck disable=SC2086
    run "$w" ${queue[w]} &
    workers+=($!)
done
for pid in "${workers[@]}"; do wait "$pid"; done

results=$(cat "$scratch"/tree*/results 2>/dev/null || true)
caught=$(grep -c '^caught$' <<<"$results" || true)
missed=$(grep '^missed ' <<<"$results" | sed 's/^missed /not caught: /' || true)
[ -z "$missed" ] || echo "$missed"
summary "$caught" "$(grep -c . <<<"$missed" || true)" 0
[ -z "$missed" ]
exit
}
