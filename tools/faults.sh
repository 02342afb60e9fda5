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
# fault [SUITES] DESCRIPTION FILE OLD NEW: OLD must occur exactly once in FILE; SUITES (the CTest
# suites that must catch it, comma-separated) is not used here yet.
fault() {
    [ $# -eq 5 ] && shift
    descriptions+=("$1") files+=("$2") olds+=("$3") news+=("$4")
}

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
fault "a tag's first letter compared in its case only" src/naming/naming.cpp \
    'data[p] < 0x80 && (data[p] | 0x20) != firstWithCaseBit)' 'data[p] < 0x80 && data[p] != tag[0])'
fault "a tag that starts after the cut is accepted" src/naming/naming.cpp \
    'accepted = p >= 0 && p <= cuts[j];' 'accepted = p >= 0;'
fault "a row's tag taken from the first row's place though its ending differs" \
    src/naming/naming.cpp 'sameEnd[j] > tagTail ?' 'sameEnd[j] >= 0 ?'
fault "a row that ends alike shares its whole like ending before the cut" \
    src/naming/naming.cpp 'walk = std::min(walk, sameEnd[j] - tail);' 'walk = std::min(walk, sameEnd[j]);'
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
fault "a folder's listing read only as far as its first answer" src/files/scan.cpp \
    'at += record->d_reclen;' 'at += record->d_reclen; } return; {'
fault "hidden files counted" src/files/scan.cpp \
    "if (name[0] == '.') //" \
    "if (name[0] == '.' && (!name[1] || name[1] == '.')) //"
fault "an empty root turned into /" src/files/scan.cpp \
    "if (root.isEmpty() || root.endsWith(QLatin1Char('/')))" "if (root.endsWith(QLatin1Char('/')))"
fault "a name that is not valid UTF-8 moved all the same" src/files/scan.cpp \
    'if (!listing.found || (why && !Representable(bestName, listing.name.c_str()))) {' \
    'if (!listing.found) {'
fault "a sidecar's stem compared with its letter case" src/files/scan.cpp \
    'if (name.startsWith(prefix, Qt::CaseInsensitive))' 'if (name.startsWith(prefix))'
fault "a sidecar's stem needs no dot after it" src/files/scan.cpp \
    "const QString prefix = stem + QLatin1Char('.');" 'const QString prefix = stem;'
fault "the chosen file its own sidecar" src/files/scan.cpp \
    'if (name == chosen.mid(slash + 1) || !Representable(name, raw))' \
    'if (!Representable(name, raw))'
fault "a subtitle's extension compared with its letter case" src/files/scan.cpp \
    'return dot >= 0 && kinds.contains(name.mid(dot + 1), Qt::CaseInsensitive);' \
    'return dot >= 0 && kinds.contains(name.mid(dot + 1));'
fault "a Subs folder's name compared with its letter case" src/files/scan.cpp \
    'if (sub.compare(QLatin1String("Subs"), Qt::CaseInsensitive) != 0 &&' \
    'if (sub.compare(QLatin1String("Subs")) != 0 &&'
fault "a Subtitles folder's name compared with its letter case" src/files/scan.cpp \
    'sub.compare(QLatin1String("Subtitles"), Qt::CaseInsensitive) != 0)' \
    'sub.compare(QLatin1String("Subtitles")) != 0)'
fault "any file of a Subs folder taken as a subtitle" src/files/scan.cpp \
    'if (Representable(name, raw) && isSubtitle(name))' 'if (Representable(name, raw))'

# The scan's folders listed several at once.
fault "parallel scan: a release put in the next folder's row" src/files/inorder.h \
    'take(i, slot);' 'take(i, answers[(i + 1) % window]);'
fault "parallel scan: an answer taken twice, another lost" src/files/inorder.h \
    'answered[i % window] = false;' ''
fault "parallel scan: an answer taken before a helper gave it" src/files/inorder.h \
    'ready.wait(lock, [&] { return bool(answered[i % window]); });' ''
fault "parallel scan: a folder whose type only a stat tells left out" src/files/scan.cpp \
    'toAsk.emplace_back(name, !typeKnown);' ';'

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
    'Unpublish(folder.get(), copyName.constData(), written);
        return FailErrno(error, "remove source", err);' \
    'return FailErrno(error, "remove source", err);'
fault "the plain copy writes its whole buffer after a short read" src/files/safemove.cpp \
    'return WriteAll(out, buffer.data(), static_cast<size_t>(n)) ? n : -1;' \
    'return WriteAll(out, buffer.data(), buffer.size()) ? n : -1;'
fault "a hard link that replaces what is at the target" src/files/safemove.cpp \
    '    if (::linkat(AT_FDCWD, src.constData(), dirFd, name.constData(), 0) == 0)' \
    '    ::unlinkat(dirFd, name.constData(), 0);
    if (::linkat(AT_FDCWD, src.constData(), dirFd, name.constData(), 0) == 0)'
fault "a symbolic link that replaces what is at the target" src/files/safemove.cpp \
    'return ::symlinkat(linkText.constData(), dirFd, name.constData()) == 0 ||' \
    'return (::unlinkat(dirFd, name.constData(), 0),
                ::symlinkat(linkText.constData(), dirFd, name.constData()) == 0) ||'
fault "a symbolic link holds the absolute path of its source" src/files/safemove.cpp \
    'return QDir(QFileInfo(QDir::cleanPath(target)).path())' \
    'return QDir::cleanPath(source);
    QDir(QFileInfo(QDir::cleanPath(target)).path())'
fault "hardlink-or-copy copies where a link could be made" src/files/safemove.cpp \
    'const bool noLink = err == EXDEV || LinksUnsupported(err);' 'const bool noLink = true;'
fault "a hard link across file systems fails without its reason" src/files/safemove.cpp \
    'if (err == EXDEV)
        return Fail(error, QStringLiteral("hard links cannot cross file systems"));' ''
fault "a link on the way out of the root followed" src/files/safemove.cpp \
    'how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;' 'how.resolve = 0;'
fault "the walk without openat2 follows links" src/files/safemove.cpp \
    'next = ::openat(current.get(), part.constData(), wanted | O_NOFOLLOW | O_CLOEXEC);' \
    'next = ::openat(current.get(), part.constData(), wanted | O_CLOEXEC);'
fault "a .. target allowed" src/files/safemove.cpp \
    'relative.endsWith("/..") || relative.contains("/../");' 'false;'
fault "a folder that was there before the run recorded as made" src/files/safemove.cpp \
    '        int next = OpenBeneath(baseFd, prefix, kFolder);' \
    '        if (log.making)
            log.making(QFile::decodeName(prefix));
        int next = OpenBeneath(baseFd, prefix, kFolder);'

# The journal and the undo.
fault "undo trusts a journal's line that a file moved" src/journal/undo.cpp \
    'const bool atTargetIsMoved = atTarget && differs.isEmpty();' \
    'const bool atTargetIsMoved = atTarget && (differs.isEmpty() || entry.moved == true);'
fault "outcome lines still waiting when the journal closes lost" src/journal/journal.cpp \
    'Writer::~Writer()
{
    WritePending();' 'Writer::~Writer()
{'
fault "no source's identity kept before a run, moves included" src/plan/plan.cpp \
    'plan.action != files::Action::Hardlink && plan.action != files::Action::Symlink;' 'false;'
fault "a torn last line of a journal refused" src/journal/journal.cpp \
    'if (last && number > 1)' 'if (false)'
fault "a journal readable by others" src/journal/journal.cpp \
    'O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);' \
    'O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);'
fault "a row's main file not put back when a sidecar fails" src/journal/journal.cpp \
    'for (int j = i - 1; j >= 0; --j) {' 'for (int j = i - 1; j >= 1; --j) {'
fault "an undone journal undone again" src/cli/cli.cpp \
    'if (!journal || journal->undone) {' 'if (!journal) {'
fault "an undo that removes a copy someone changed" src/journal/undo.cpp \
    'atTarget.mtimeNs != source->mtimeNs || !SameContent(entry.source, entry.target))' \
    'atTarget.mtimeNs != source->mtimeNs)'
fault "an undo that removes a hard link no longer the source's" src/journal/undo.cpp \
    'return sameInode ? QString()' 'return true ? QString()'
fault "an undo that removes a symbolic link someone changed" src/journal/undo.cpp \
    'return n >= 0 && QByteArray(text, int(n)) ==' 'return n >= 0 || QByteArray(text, int(n)) =='
fault "an undo that leaves the folders a run made" src/journal/undo.cpp \
    'if (QFileInfo(row.target).isDir())' 'if (false)'
fault "an undo puts a file back through a link out of the root" src/journal/undo.cpp \
    'done = files::PlaceFile(files::Action::Move, row.target, base, relative, nullptr,' \
    'done = files::PlaceFile(files::Action::Move, row.target, QStringLiteral("/"),
                                    row.source.mid(1), nullptr,'
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
    'if (!item || !item->Ticked()) {' 'if (!item) {'
fault "a link whose file is gone moved all the same" src/gui/renamefiles.cpp \
    'if (item->MayBeLink() && !QFile::exists(source)) {' 'if (false) {'
fault "a vanished source warned about" src/gui/renamefiles.cpp \
    'if (!moved && !QFile::exists(source)) {' 'if (false) {'
fault "a link chosen by the scan taken for a plain file" src/files/scan.cpp \
    'visit(name, qint64(st.st_size), !typeKnown);' \
    'visit(name, qint64(st.st_size), false);'
fault "the table left hidden after Process" src/gui/repaintthrottle.cpp \
    'view->setAttribute(Qt::WA_WState_Visible, true);' \
    'view->setAttribute(Qt::WA_WState_Visible, false);'
fault "column 0 editable" src/gui/gui.cpp \
    'fileTree->setItemDelegateForColumn(0, new NoEditDelegate(this));' ''
fault "a name typed by hand survives the next keystroke" src/gui/releaserow.cpp \
    '++generation;' ''
fault "a row's tick cannot be taken off" src/gui/releaserow.cpp 'tick = state;' ''
fault "a name typed by hand ignored" src/gui/releaserow.cpp \
    'if (typedIn == naming->generation) // a name typed by hand' \
    'if (false) // a name typed by hand'
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
fault "a target listed in its folder counted free" src/plan/plan.cpp \
    'if (*listing && !(*listing)->contains(' 'if (*listing && (*listing)->contains('
fault "a name taken in another letter case counted free where case is ignored" src/plan/plan.cpp \
    "if (c >= u'A' && c <= u'Z')" 'if (false)'
fault "two rows with one target both planned" src/plan/plan.cpp 'taken.insert(clean);' ''
fault "a captured field's / makes a folder" src/plan/plan.cpp \
    "if (target.count(QLatin1Char('/')) != slashes || target.startsWith(QLatin1Char('/')))" \
    "if (target.startsWith(QLatin1Char('/')))"
fault "a file where a folder is needed not seen" src/plan/plan.cpp \
    '        return Conflict::NotFolder;' '        return Conflict::Outside;'
fault "sidecars moved whatever their row's action" src/plan/plan.cpp \
    'files.append({index, sidecar.file.path, sidecar.targetPath, {}, plan.action, {}, {}});' \
    'files.append({index, sidecar.file.path, sidecar.targetPath, {}, files::Action::Move, {}, {}});'
fault "a release folder outside the root named by its path" src/files/scan.cpp \
    'return clean.mid(clean.lastIndexOf(QLatin1Char('"'"'/'"'"')) + 1);' 'return clean;'
fault "a dangling link at the target not seen" src/plan/plan.cpp \
    'return ::lstat(QFile::encodeName(targetPath).constData(), &st) == 0;' \
    'return ::stat(QFile::encodeName(targetPath).constData(), &st) == 0;'
fault "a single release folder gets a suggested pattern" src/cli/cli.cpp \
    'if (plan.suggested && plan.rows.size() < 2) {' 'if (false) {'
fault "skipped folders not listed" src/cli/cli.cpp \
    'if (!plan.skipped.isEmpty()) {' 'if (false) {'

# The web server.
fault "the web server takes any Host" src/web/routes.cpp \
    'if (!allowedHosts.contains(HostPart(host)))' 'if (false)'
fault "the web server takes a foreign Origin" src/web/routes.cpp \
    'if (req.Has("origin") &&' 'if (false &&'
fault "the web server takes a change without a JSON body" src/web/routes.cpp \
    'if (req.method == "POST" &&' 'if (false &&'
fault "the web server needs no session" src/web/routes.cpp \
    'if (!options.passwordHash.isEmpty() && req.path != "/api/login" &&' 'if (false &&'
fault "the web server compares a session cookie by its first byte" src/web/login.cpp \
    'sodium_memcmp(session.token.data(), token.data(), token.size()) == 0' \
    'sodium_memcmp(session.token.data(), token.data(), 1) == 0'
fault "the web server has no rate limit on passwords" src/web/login.cpp \
    'if (now < mine.blockedUntil ||' 'if (false &&'
fault "the web server allows '..' in a client's path" src/web/confine.cpp \
    'if (part == QLatin1String(".."))' 'if (false)'
fault "the web server scans a file linked from outside" src/files/scan.cpp \
    'if (bounds && listing.found && listing.mayBeLink) {' 'if (false) {'
fault "the web server scans a folder linked from outside" src/files/scan.cpp \
    'const int dirFd = bounds ?' 'const int dirFd = false ?'
fault "a scan's release that leads out of its bounds handed on all the same" src/files/scan.cpp \
    'if (listing.outside)
                return;' ''
fault "the web server's duplicates ignore rows above the screen" src/web/api.cpp \
    'return scan->firstClaim.value(qHash(clean), INT_MAX) < mine;' 'return false;'
fault "the web server ignores the action asked for" src/web/api.cpp \
    '        plan.action = *how;' '        (void)how;'
fault "the web server keeps moved rows in the scan" src/web/api.cpp \
    '[&moved](const ScanData::Release &r) { return moved.contains(r.id); });' \
    '[&moved](const ScanData::Release &r) { return false; });'
fault "a journal in use written all the same" src/journal/journal.cpp \
    'if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {' 'if (false) {'

# The web page.
fault "the page keeps a name typed by hand past the next keystroke" src/web/page/page.js \
    '    state.typed.clear();
    stopEditing(false);' '    stopEditing(false);'
fault "the page sends unticked rows to be moved" src/web/page/page.js \
    'unticked: [...state.unticked],' 'unticked: [],'
fault "the page sends no name typed by hand" src/web/page/page.js \
    'targets: Object.fromEntries(state.typed)};' 'targets: {}};'
fault "the page drops the reason a row failed" src/web/page/page.js \
    "state.failed.set(outcome.row, outcome.error || 'failed');" ''
fault "the page draws every row into the document" src/web/page/page.js \
    'const count = Math.ceil(scroller.clientHeight / state.rowHeight) + 1;' \
    'const count = state.total + 1;'

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
fault web_attack "the hash queue unbounded" src/web/login.cpp \
    'if (hashing >= kHashing && waiting >= kWaiting)' 'if (false)'
fault web_attack "a forwarded address believed from anyone" src/web/login.cpp \
    'if (forwardedFor.empty() || !trustedProxies.contains(QString::fromStdString(peer)))' \
    'if (forwardedFor.empty())'
fault web_api "a session ends after a fixed time though used" src/web/login.cpp \
    'session.used = now;' '(void)now;'
fault web_api "a login block that never ends" src/web/login.cpp \
    'mine.blockedUntil = now + window;' 'mine.blockedUntil = now + std::chrono::hours(1);'
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
