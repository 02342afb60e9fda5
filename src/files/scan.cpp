// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "scan.h"

#include "inorder.h"
#include "safemove.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Folders are read with getdents64 and one stat per entry, as `find` does: listing through QDir
// builds a file-info object per entry and costs many times more, and the scan is what a user
// waits for after choosing folders.

namespace files {

namespace {

// Calls entry(name, d_type) for every entry of the open folder dirFd, "." and ".." included.
// getdents64 itself rather than fdopendir and readdir: those add a stat and two fcntl calls per
// folder, nearly as many system calls again as listing a release folder takes. A listing that
// fails part way ends there, as readdir's does.
template<typename Entry>
void ReadEntries(int dirFd, Entry entry)
{
    alignas(alignof(dirent64)) char buffer[32768];
    for (;;) {
        const ssize_t filled = ::getdents64(dirFd, buffer, sizeof buffer);
        if (filled <= 0)
            return;
        for (ssize_t at = 0; at < filled;) {
            const auto *record = reinterpret_cast<const dirent64 *>(buffer + at);
            entry(record->d_name, record->d_type);
            at += record->d_reclen;
        }
    }
}

// Calls visit(name, size, mayBeLink, id) for every non-hidden entry of the open folder dirFd that
// is of the wanted type (S_IFDIR or S_IFREG), links counting as what they point at; mayBeLink is
// false only where the listing said the entry is no link, and id is the entry's own (a link's,
// not what it points at), known only for what was asked about. Closes dirFd. With helpers, the
// entries that need a stat are asked that many at once, and visited when all were listed.
template<typename Visit>
void ForEachEntry(int dirFd, mode_t wanted, Visit visit, int helpers = 0)
{
    if (dirFd < 0)
        return;
    struct Answer
    {
        qint64 size;
        FileId id;
    };
    // The entry itself first, so that its identity is its own; only a link is followed after.
    const auto ask = [dirFd, wanted](const char *name) -> std::optional<Answer> {
        struct stat st;
        if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return std::nullopt;
        const FileId id{quint64(st.st_dev), quint64(st.st_ino)};
        if (S_ISLNK(st.st_mode) && ::fstatat(dirFd, name, &st, 0) != 0)
            return std::nullopt;
        if ((st.st_mode & S_IFMT) != wanted)
            return std::nullopt;
        return Answer{qint64(st.st_size), id};
    };
    std::vector<std::pair<std::string, bool>> toAsk;
    ReadEntries(dirFd, [&](const char *name, unsigned char type) {
        if (name[0] == '.') // hidden entries, "." and ".."
            return;
        // The folder listing already tells most types; links, and file systems that do not
        // say, are asked. Only files need their size.
        const bool typeKnown = type != DT_UNKNOWN && type != DT_LNK;
        if (typeKnown && mode_t(DTTOIF(type)) != wanted)
            return;
        if (typeKnown && wanted != S_IFREG)
            visit(name, qint64(0), false, FileId());
        else if (helpers > 0)
            toAsk.emplace_back(name, !typeKnown);
        else if (const std::optional<Answer> answer = ask(name))
            visit(name, answer->size, !typeKnown, answer->id);
    });
    InOrder<std::optional<Answer>>(
        qsizetype(toAsk.size()), helpers,
        [&](qsizetype i, std::optional<Answer> &answer) { answer = ask(toAsk[i].first.c_str()); },
        [&](qsizetype i, const std::optional<Answer> &answer) {
            if (answer)
                visit(toAsk[i].first.c_str(), answer->size, toAsk[i].second, answer->id);
        });
    ::close(dirFd);
}

// The order of QStringView::compare with Qt::CaseInsensitive, found sooner: release names are
// mostly ASCII, whose letters fold by arithmetic, and only from the first unit beyond ASCII on
// does Qt fold the rest through its tables. Sorting 100,000 folders took most of a preview.
int CompareIgnoringCase(QStringView a, QStringView b)
{
    const auto folded = [](char16_t u) { return u >= u'A' && u <= u'Z' ? u + (u'a' - u'A') : u; };
    const qsizetype common = std::min(a.size(), b.size());
    // Names in one season share a long beginning, and units equal as they are are equal folded:
    // those are passed four at a time, each four in one comparison.
    qsizetype same = 0;
    while (same + 4 <= common && std::memcmp(a.data() + same, b.data() + same, 8) == 0)
        same += 4;
    for (qsizetype i = same; i < common; ++i) {
        const char16_t x = a[i].unicode(), y = b[i].unicode();
        if (x == y)
            continue;
        if (x >= 0x80 || y >= 0x80)
            return a.mid(i).compare(b.mid(i), Qt::CaseInsensitive);
        if (folded(x) != folded(y))
            return folded(x) < folded(y) ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

int OpenFolder(const QString &path, int flags = O_RDONLY)
{
    return ::open(QFile::encodeName(path).constData(), flags | O_DIRECTORY | O_CLOEXEC);
}

// Nearly always a release folder's text is a plain name, which leaves nothing to clean; cleaning
// a path costs more than the rest of what a scan or a move does with a row.
bool PlainName(const QString &relative)
{
    return !relative.isEmpty() && !relative.contains(QLatin1Char('/')) &&
           relative != QLatin1String(".") && relative != QLatin1String("..");
}

// The folder a release folder's text names, resolved against the clean absolute root it was
// found under.
QString AbsoluteFolder(const QString &absoluteRoot, const QString &relative)
{
    if (PlainName(relative))
        return absoluteRoot.endsWith(QLatin1Char('/')) ? absoluteRoot + relative
                                                       : absoluteRoot + QLatin1Char('/') + relative;
    return QDir::cleanPath(
        QDir::isAbsolutePath(relative) ? relative : absoluteRoot + QLatin1Char('/') + relative);
}

// Whether folderPath lies under rootPath, compared ignoring case; a relative path is taken to.
// Compared as is first: mostly it matches so, and folding letters costs more.
bool UnderRoot(const QString &rootPath, const QString &folderPath)
{
    return folderPath.startsWith(rootPath) ||
           folderPath.startsWith(rootPath, Qt::CaseInsensitive) ||
           !QDir::isAbsolutePath(folderPath);
}

// The folder's text in the table: its path less a leading root. A folder that does not lie under
// the root is named by its own name, as if it lay directly under it, so that no pattern ever
// sees a path.
QString RelativeFolder(const QString &rootPath, const QString &folderPath)
{
    if (!UnderRoot(rootPath, folderPath)) {
        const QString clean = QDir::cleanPath(folderPath);
        return clean.mid(clean.lastIndexOf(QLatin1Char('/')) + 1);
    }
    return folderPath.startsWith(rootPath) || folderPath.startsWith(rootPath, Qt::CaseInsensitive)
               ? folderPath.mid(rootPath.size())
               : folderPath;
}

// name in folder, as WithTrailingSlash(folder) + name makes it, in one string rather than two:
// it is made for every row of a scan.
QString InFolder(const QString &folder, const QString &name)
{
    const bool slash = !folder.isEmpty() && !folder.endsWith(QLatin1Char('/'));
    QString path;
    path.reserve(folder.size() + slash + name.size());
    path.append(folder);
    if (slash)
        path.append(QLatin1Char('/'));
    return path.append(name);
}

// InFolder(AbsoluteFolder(absoluteRoot, folder), name) for a plain folder name, as one string.
QString InPlainFolder(const QString &absoluteRoot, const QString &folder, const QString &name)
{
    const bool slash = !absoluteRoot.endsWith(QLatin1Char('/'));
    QString path;
    path.reserve(absoluteRoot.size() + slash + folder.size() + 1 + name.size());
    path.append(absoluteRoot);
    if (slash)
        path.append(QLatin1Char('/'));
    return path.append(folder).append(QLatin1Char('/')).append(name);
}

// Whether name, read from the disk as raw, encodes back to the same bytes.
bool Representable(const QString &name, const char *raw)
{
    // Reading a name turns every byte that is not valid UTF-8 into U+FFFD, and only then can
    // the round trip fail.
    return !name.contains(QChar::ReplacementCharacter) || QFile::encodeName(name) == raw;
}

// What the listing of a release folder tells, learnt on any thread. The texts that outlive the
// scan are made on the scan's own thread, from these, so that they sit where its memory does.
struct Listing
{
    QString path;   // the folder's path as given, let go of once taken
    QString folder; // the folder it names, absolute
    int error = 0;  // why it could not be opened; 0 when it was
    bool found = false;
    std::string name; // its largest plain, non-hidden file, as named on the disk
    bool mayBeLink = false;
    FileId id;
    bool outside = false; // it, or its chosen file, is not seen to stay within the bounds
};

// The absolute path opened beneath bounds; -1 with errno EXDEV or ELOOP where it would leave them.
int OpenWithin(const Bounds &bounds, const QString &path, int flags)
{
    if (!path.startsWith(bounds.slashed) && path != bounds.slashed.chopped(1)) {
        errno = EXDEV;
        return -1;
    }
    return OpenBeneath(bounds.fd, QFile::encodeName(path.mid(bounds.slashed.size())), flags);
}

// Lists the release folder listing.path into listing. A folder below the root is opened beneath
// it (within), one elsewhere, as the user chose it, by its path. The largest file; ties go to
// the name that sorts first, compared case-sensitively. Names are decoded only to break a tie.
void ListFolder(const QString &absoluteRoot, const QString &rootPath, const Bounds &within,
                bool strict, Listing &listing)
{
    const bool under = UnderRoot(rootPath, listing.path);
    listing.folder = under ? AbsoluteFolder(absoluteRoot, RelativeFolder(rootPath, listing.path))
                           : QDir::cleanPath(listing.path);
    listing.found = false;
    // Either fails for anything that is not a folder.
    const int dirFd = under || strict ? OpenWithin(within, listing.folder, O_RDONLY | O_DIRECTORY)
                                      : OpenFolder(listing.folder);
    listing.error = dirFd < 0 ? errno : 0;
    listing.outside = dirFd < 0 && (errno == EXDEV || errno == ELOOP);
    if (dirFd < 0)
        return;
    qint64 bestSize = -1;
    ForEachEntry(dirFd, S_IFREG,
                 [&](const char *rawName, qint64 size, bool mayBeLink, const FileId &id) {
                     if (listing.found && size < bestSize)
                         return;
                     if (listing.found && size == bestSize &&
                         QFile::decodeName(rawName) >= QFile::decodeName(listing.name.c_str()))
                         return;
                     listing.found = true;
                     bestSize = size;
                     listing.name = rawName;
                     listing.mayBeLink = mayBeLink;
                     listing.id = id;
                 });
    // A file that is no link lies in its folder, which was opened within the bounds.
    if (strict && listing.found && listing.mayBeLink) {
        const int fd = OpenWithin(
            within, InFolder(listing.folder, QFile::decodeName(listing.name.c_str())), O_PATH);
        listing.outside = fd < 0;
        if (fd >= 0)
            ::close(fd);
    }
}

// The release that listing found. Without why, as the window scans; with it, a chosen file whose
// name is not representable yields nothing, and why says what a folder that yields nothing lacks.
std::optional<ReleaseFile> Release(const Listing &listing, const QString &relative, Skip *why)
{
    if (listing.error != 0) {
        // A folder name that was not valid UTF-8 lost its bytes when it was read.
        if (why)
            *why = listing.outside ? Skip::Outside
                   : listing.error == ENOENT && listing.folder.contains(QChar::ReplacementCharacter)
                       ? Skip::NameNotRepresentable
                       : Skip::Unreadable;
        return std::nullopt;
    }
    const QString bestName = QFile::decodeName(listing.name.c_str());
    if (!listing.found || (why && !Representable(bestName, listing.name.c_str()))) {
        if (why)
            *why = listing.found ? Skip::NameNotRepresentable : Skip::NoFile;
        return std::nullopt;
    }
    return ReleaseFile{relative, InFolder(listing.folder, bestName), bestName, listing.mayBeLink,
                       listing.id};
}

} // namespace

QStringList Subfolders(const QString &folder, const Bounds *within)
{
    const int dirFd = folder.isEmpty() ? -1
                      : within         ? OpenWithin(*within, folder, O_RDONLY | O_DIRECTORY)
                                       : OpenFolder(folder);
    if (dirFd < 0)
        return {};
    const QString base = WithTrailingSlash(folder);
    QStringList paths;
    // On a share the listing seldom tells types, and each entry's stat is a round trip.
    ForEachEntry(
        dirFd, S_IFDIR,
        [&](const char *rawName, qint64, bool, const FileId &) {
            paths.append(base + QFile::decodeName(rawName));
        },
        ScanHelpers);
    // Ordered by name ignoring letter case, as a folder listing is; names that differ only in
    // case keep a fixed order. Sorting the paths themselves keeps one string per folder.
    const auto name = [&base](const QString &path) { return QStringView(path).mid(base.size()); };
    std::sort(paths.begin(), paths.end(), [&](const QString &a, const QString &b) {
        const int byCase = CompareIgnoringCase(name(a), name(b));
        return byCase != 0 ? byCase < 0 : a < b;
    });
    return paths;
}

QString WithTrailingSlash(const QString &root)
{
    // An empty root means the working folder; turning it into "/" would make the file-system
    // root the destination of every move.
    if (root.isEmpty() || root.endsWith(QLatin1Char('/')))
        return root;
    return root + QLatin1Char('/');
}

void ScanReleaseFolders(const QString &rootPath, QStringList &&folderPaths,
                        const std::function<void(ReleaseFile &&)> &found,
                        QList<SkippedFolder> *skipped, const Bounds *bounds)
{
    const QString absoluteRoot = QDir(rootPath).absolutePath();
    // Without bounds of the caller's, the root is held open for the folders below it.
    Bounds own{bounds ? -1 : OpenFolder(absoluteRoot, O_PATH), WithTrailingSlash(absoluteRoot)};
    const auto closeRoot = qScopeGuard([&own] {
        if (own.fd >= 0)
            ::close(own.fd);
    });
    const Bounds &within = bounds ? *bounds : own;
    Skip why = Skip::NoFile;
    // Held here, so that the list goes as soon as the scan ends, not when the caller's does.
    QStringList folders = std::move(folderPaths);
    QString *paths = folders.data(); // shared with nothing, so that helpers may take them
    // Several folders are listed at once, as on a share each question waits for an answer;
    // their releases are still handed on one by one, in order, on this thread.
    InOrder<Listing>(
        folders.size(), ScanHelpers,
        [&](qsizetype i, Listing &listing) {
            listing.path = std::exchange(paths[i], QString());
            ListFolder(absoluteRoot, rootPath, within, bounds != nullptr, listing);
        },
        [&](qsizetype, Listing &listing) {
            if (listing.outside && bounds)
                return;
            const QString relative = RelativeFolder(rootPath, std::exchange(listing.path, {}));
            if (auto release = Release(listing, relative, skipped ? &why : nullptr))
                found(std::move(*release));
            else if (skipped)
                skipped->append({relative, why});
        });
}

QString ChosenFilePath(const QString &absoluteRoot, const QString &folder, const QString &fileName)
{
    // Made again for every row that "Process" moves.
    return PlainName(folder) ? InPlainFolder(absoluteRoot, folder, fileName)
                             : InFolder(AbsoluteFolder(absoluteRoot, folder), fileName);
}

QString SkipName(Skip reason)
{
    switch (reason) {
    case Skip::NoFile:
        break;
    case Skip::Unreadable:
        return QStringLiteral("unreadable");
    case Skip::NameNotRepresentable:
        return QStringLiteral("name not representable");
    case Skip::Outside:
        return QStringLiteral("outside the root");
    }
    return QStringLiteral("no file");
}

QList<Sidecar> Sidecars(const QString &chosen, const QString &stem, const Bounds *within)
{
    const qsizetype slash = chosen.lastIndexOf(QLatin1Char('/'));
    const QString folder = chosen.left(slash + 1);
    if (within && !folder.startsWith(within->slashed))
        within = nullptr; // a release folder outside the root, as the user chose it
    const auto open = [within](const QString &path) {
        return within ? OpenWithin(*within, path, O_RDONLY | O_DIRECTORY) : OpenFolder(path);
    };
    const QString prefix = stem + QLatin1Char('.');
    const auto isSubtitle = [](const QString &name) {
        static const QStringList kinds{QStringLiteral("srt"), QStringLiteral("ass"),
                                       QStringLiteral("ssa"), QStringLiteral("sub"),
                                       QStringLiteral("idx"), QStringLiteral("vtt"),
                                       QStringLiteral("sup")};
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        return dot >= 0 && kinds.contains(name.mid(dot + 1), Qt::CaseInsensitive);
    };
    QList<Sidecar> byStem;
    QList<Sidecar> subtitles;
    ForEachEntry(open(folder), S_IFREG, [&](const char *raw, qint64, bool, const FileId &id) {
        const QString name = QFile::decodeName(raw);
        if (name == chosen.mid(slash + 1) || !Representable(name, raw))
            return;
        if (name.startsWith(prefix, Qt::CaseInsensitive))
            byStem.append({folder + name, name, name.mid(stem.size()), id});
        else if (isSubtitle(name))
            subtitles.append({folder + name, name, QLatin1Char('.') + name, id});
    });
    for (const QString &subfolder : Subfolders(folder, within)) {
        const QString sub = subfolder.mid(folder.size());
        if (sub.compare(QLatin1String("Subs"), Qt::CaseInsensitive) != 0 &&
            sub.compare(QLatin1String("Subtitles"), Qt::CaseInsensitive) != 0)
            continue;
        ForEachEntry(
            open(subfolder), S_IFREG, [&](const char *raw, qint64, bool, const FileId &id) {
                const QString name = QFile::decodeName(raw);
                if (Representable(name, raw) && isSubtitle(name))
                    subtitles.append({subfolder + QLatin1Char('/') + name,
                                      sub + QLatin1Char('/') + name, QLatin1Char('.') + name, id});
            });
    }
    // Each rule's files by name, so that their order does not hang on the folder listing.
    const auto byName = [](const Sidecar &a, const Sidecar &b) { return a.name < b.name; };
    std::sort(byStem.begin(), byStem.end(), byName);
    std::sort(subtitles.begin(), subtitles.end(), byName);
    return byStem + subtitles;
}

} // namespace files
