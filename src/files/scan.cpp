#include "scan.h"

#include <QDir>
#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

QStringList Subfolders(const QString &folder)
{
    const QDir dir(folder);
    if (folder.isEmpty() || !dir.exists())
        return {};
    // Hidden folders are left out; the order is by name, ignoring letter case.
    const QStringList names =
        dir.entryList(QDir::AllDirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    QStringList paths;
    paths.reserve(names.size());
    const QString base = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    for (const QString &name : names)
        paths.append(base + name);
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

namespace {

QString RelativeToRoot(const QString &rootPath, const QString &folderPath)
{
    if (folderPath.startsWith(rootPath, Qt::CaseInsensitive))
        return folderPath.mid(rootPath.size());
    return folderPath;
}

// The folder the relative path names, resolved the way QDir::cd resolves it: against the root
// unless absolute, then made absolute and clean. Empty when it is not an existing folder.
QString EnterFolder(const QString &rootPath, const QString &relative)
{
    QDir dir(rootPath);
    if (!dir.cd(relative))
        return {};
    return QDir::cleanPath(dir.absolutePath());
}

} // namespace

std::optional<ReleaseFile> ScanReleaseFolder(const QString &rootPath, const QString &folderPath)
{
    const QString relative = RelativeToRoot(rootPath, folderPath);
    const QString folder = EnterFolder(rootPath, relative);
    if (folder.isEmpty())
        return std::nullopt;

    // One readdir pass with a stat per entry, as `find` does: listing through QDir costs several
    // times more per file, and the scan is what a user waits for after choosing folders.
    const int dirFd = ::open(QFile::encodeName(folder).constData(),
                             O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return std::nullopt;
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return std::nullopt;
    }

    bool found = false;
    qint64 bestSize = -1;
    QString bestName;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') // hidden files, "." and ".."
            continue;
        if (entry->d_type != DT_REG && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
            continue;
        struct stat st;
        // Links count as the file they point to, as in a folder listing.
        if (::fstatat(dirFd, entry->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode))
            continue;
        const qint64 size = st.st_size;
        if (found && size < bestSize)
            continue;
        const QString name = QFile::decodeName(entry->d_name);
        if (found && size == bestSize && name >= bestName) // ties: first name, case-sensitively
            continue;
        found = true;
        bestSize = size;
        bestName = name;
    }
    ::closedir(dir);

    if (!found)
        return std::nullopt;
    return ReleaseFile{relative, WithTrailingSlash(folder) + bestName, bestName};
}

QList<ReleaseFile> ScanReleaseFolders(const QString &rootPath, const QStringList &folderPaths)
{
    QList<ReleaseFile> releases;
    releases.reserve(folderPaths.size());
    for (const QString &path : folderPaths) {
        if (auto release = ScanReleaseFolder(rootPath, path))
            releases.append(std::move(*release));
    }
    return releases;
}

} // namespace files
