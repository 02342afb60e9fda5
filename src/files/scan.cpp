// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "scan.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Folders are read with readdir and one stat per entry, as `find` does: listing through QDir
// builds a file-info object per entry and costs many times more, and the scan is what a user
// waits for after choosing folders.

namespace files {

namespace {

// Calls visit(name, size) for every non-hidden entry of the open folder dirFd that is of the
// wanted type (S_IFDIR or S_IFREG), links counting as what they point at. Closes dirFd.
template<typename Visit>
void ForEachEntry(int dirFd, mode_t wanted, Visit visit)
{
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') // hidden entries, "." and ".."
            continue;
        // The folder listing already tells most types; links, and file systems that do not
        // say, are asked. Only files need their size.
        const bool typeKnown = entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK;
        if (typeKnown && mode_t(DTTOIF(entry->d_type)) != wanted)
            continue;
        struct stat st = {};
        if (!typeKnown || wanted == S_IFREG) {
            if (::fstatat(dirFd, entry->d_name, &st, 0) != 0 || (st.st_mode & S_IFMT) != wanted)
                continue;
        }
        visit(entry->d_name, qint64(st.st_size));
    }
    ::closedir(dir);
}

// The order of QStringView::compare with Qt::CaseInsensitive, found sooner: release names are
// mostly ASCII, whose letters fold by arithmetic, and only from the first unit beyond ASCII on
// does Qt fold the rest through its tables. Sorting 100,000 folders took most of a preview.
int CompareIgnoringCase(QStringView a, QStringView b)
{
    const auto folded = [](char16_t u) { return u >= u'A' && u <= u'Z' ? u + (u'a' - u'A') : u; };
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
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

int OpenFolder(const QString &path)
{
    return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// The folder a release folder's text names, resolved against the clean absolute root it was
// found under.
QString AbsoluteFolder(const QString &absoluteRoot, const QString &relative)
{
    // Nearly always the text is a plain name, which leaves nothing to clean; cleaning a path
    // costs more than the rest of what a scan or a move does with a row.
    const bool plainName = !relative.isEmpty() && !relative.contains(QLatin1Char('/')) &&
                           relative != QLatin1String(".") && relative != QLatin1String("..");
    if (plainName)
        return absoluteRoot.endsWith(QLatin1Char('/')) ? absoluteRoot + relative
                                                       : absoluteRoot + QLatin1Char('/') + relative;
    return QDir::cleanPath(
        QDir::isAbsolutePath(relative) ? relative : absoluteRoot + QLatin1Char('/') + relative);
}

std::optional<ReleaseFile> ScanFolder(const QString &absoluteRoot, const QString &rootPath,
                                      const QString &folderPath)
{
    // The folder's text in the table: its path less a leading root, compared ignoring case.
    // Compared as is first: mostly it matches so, and folding letters costs more.
    const QString relative =
        folderPath.startsWith(rootPath) || folderPath.startsWith(rootPath, Qt::CaseInsensitive)
            ? folderPath.mid(rootPath.size())
            : folderPath;
    const QString folder = AbsoluteFolder(absoluteRoot, relative);
    const int dirFd = OpenFolder(folder); // fails for anything that is not a folder
    if (dirFd < 0)
        return std::nullopt;

    // The largest file; ties go to the name that sorts first, compared case-sensitively. Names
    // are decoded only to break a tie, and once at the end.
    bool found = false;
    qint64 bestSize = -1;
    QByteArray bestRawName;
    ForEachEntry(dirFd, S_IFREG, [&](const char *rawName, qint64 size) {
        if (found && size < bestSize)
            return;
        if (found && size == bestSize &&
            QFile::decodeName(rawName) >= QFile::decodeName(bestRawName))
            return;
        found = true;
        bestSize = size;
        bestRawName = rawName;
    });
    if (!found)
        return std::nullopt;
    const QString bestName = QFile::decodeName(bestRawName);
    return ReleaseFile{relative, WithTrailingSlash(folder) + bestName, bestName};
}

} // namespace

QStringList Subfolders(const QString &folder)
{
    const int dirFd = folder.isEmpty() ? -1 : OpenFolder(folder);
    if (dirFd < 0)
        return {};
    const QString base = WithTrailingSlash(folder);
    QStringList paths;
    ForEachEntry(dirFd, S_IFDIR, [&](const char *rawName, qint64) {
        paths.append(base + QFile::decodeName(rawName));
    });
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

std::optional<ReleaseFile> ScanReleaseFolder(const QString &rootPath, const QString &folderPath)
{
    return ScanFolder(QDir(rootPath).absolutePath(), rootPath, folderPath);
}

QList<ReleaseFile> ScanReleaseFolders(const QString &rootPath, const QStringList &folderPaths)
{
    QList<ReleaseFile> releases;
    releases.reserve(folderPaths.size());
    ScanReleaseFolders(rootPath, QStringList(folderPaths),
                       [&](ReleaseFile &&release) { releases.append(std::move(release)); });
    return releases;
}

void ScanReleaseFolders(const QString &rootPath, QStringList &&folderPaths,
                        const std::function<void(ReleaseFile &&)> &found)
{
    const QString absoluteRoot = QDir(rootPath).absolutePath();
    for (QString &path : folderPaths) {
        if (auto release = ScanFolder(absoluteRoot, rootPath, std::exchange(path, QString())))
            found(std::move(*release));
    }
}

QString ChosenFilePath(const QString &absoluteRoot, const QString &folder, const QString &fileName)
{
    return WithTrailingSlash(AbsoluteFolder(absoluteRoot, folder)) + fileName;
}

} // namespace files
