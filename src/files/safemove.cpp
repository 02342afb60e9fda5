// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#ifndef _GNU_SOURCE
#define _GNU_SOURCE // renameat2 and RENAME_NOREPLACE in <stdio.h>
#endif

#include "safemove.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace files {

namespace {

const char *const kActionNames[] = {"move", "copy", "hardlink", "symlink", "hardlink-or-copy"};

} // namespace

QString ActionName(Action action)
{
    return QString::fromLatin1(kActionNames[int(action)]);
}

QString ActionDone(Action action)
{
    const char *const words[] = {"moved", "copied", "hard-linked", "symlinked", "hard-linked"};
    return QString::fromLatin1(words[int(action)]);
}

std::optional<Action> ActionFromName(const QString &name)
{
    const int index = int(ActionNames().indexOf(name));
    return index < 0 ? std::nullopt : std::optional<Action>(Action(index));
}

QStringList ActionNames()
{
    QStringList names;
    for (const char *name : kActionNames)
        names.append(QString::fromLatin1(name));
    return names;
}

namespace {

CopyWay firstCopyWay = CopyWay::FileSystem;

constexpr size_t kCopyChunk = 1 << 20;
// How the folders that files go into are opened.
constexpr int kFolder = O_RDONLY | O_DIRECTORY;
constexpr int kTempNameAttempts = 100;
constexpr mode_t kPlaceholderMode = 0600;
// Leaves room for the leading dot, the random part and ".part" within NAME_MAX (255 bytes).
constexpr int kMaxTempStem = 200;

bool Fail(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

bool FailErrno(QString *error, const char *what, int err)
{
    return Fail(error, QString::fromLatin1(what) + QStringLiteral(": ") +
                           QString::fromLocal8Bit(std::strerror(err)));
}

int RenameNoReplace(int fromDir, const char *from, int toDir, const char *to)
{
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 28))
    return ::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE);
#elif defined(SYS_renameat2)
    return static_cast<int>(::syscall(SYS_renameat2, fromDir, from, toDir, to, RENAME_NOREPLACE));
#else
    (void)fromDir, (void)from, (void)toDir, (void)to;
    errno = ENOSYS;
    return -1;
#endif
}

// The file system (or kernel) cannot rename without replacing, as opposed to the rename failing.
bool NoReplaceUnsupported(int err)
{
    return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP;
}

// The file system refuses hard links (network shares, FUSE mounts), as opposed to the link failing.
bool LinksUnsupported(int err)
{
    return err == EPERM || err == EOPNOTSUPP || err == ENOSYS || err == EMLINK;
}

class Fd
{
public:
    explicit Fd(int fd = -1)
        : fd_(fd)
    {}
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    // Closes now so that errors of delayed writes (NFS, full disks) are seen.
    int close()
    {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

// A file to act on: the folder that holds it, held open, and its name there.
struct At
{
    int dir;
    QByteArray name;
};

// Removes the temporary copy on every way out that does not publish it.
class TempFile
{
public:
    explicit TempFile(int dirFd)
        : dirFd_(dirFd)
    {}
    ~TempFile()
    {
        if (!name_.isEmpty())
            ::unlinkat(dirFd_, name_.constData(), 0);
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    void set(const QByteArray &name) { name_ = name; }
    const char *name() const { return name_.constData(); }
    void release() { name_.clear(); }

private:
    int dirFd_;
    QByteArray name_;
};

QByteArray TempStem(const QByteArray &name)
{
    if (name.size() <= kMaxTempStem)
        return name;
    int cut = kMaxTempStem;
    // Never split a UTF-8 sequence, so that a left-over name would still display sanely.
    while (cut > 0 && (static_cast<unsigned char>(name.at(cut)) & 0xC0) == 0x80)
        --cut;
    return name.left(cut);
}

// The temporary copy of name is this, a random hexadecimal number, then ".part".
QByteArray TempPrefix(const QByteArray &name)
{
    return QByteArray(".") + TempStem(name) + '.';
}

QByteArray Folder(const QByteArray &path)
{
    const int slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

bool WriteAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The kernel cannot copy so between these files, as opposed to the copy failing.
bool CopyWayRefused(int err)
{
    return err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP;
}

// Copies the next chunk of in to out, both at their file offsets: returns the number of bytes,
// 0 at the end of in, or -1 with errno set. copy_file_range lets the file systems copy by
// themselves (a clone, or a copy on the server); sendfile has the kernel move the pages from one
// file to the other without passing them through this process; plain reads and writes are left
// for whatever refuses both.
ssize_t CopyChunk(int in, int out, CopyWay &way, std::vector<char> &buffer)
{
    if (way == CopyWay::FileSystem) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, kCopyChunk, 0);
        if (n >= 0 || !CopyWayRefused(errno))
            return n;
        way = CopyWay::Kernel;
    }
    if (way == CopyWay::Kernel) {
        const ssize_t n = ::sendfile(out, in, nullptr, kCopyChunk);
        if (n >= 0 || !CopyWayRefused(errno))
            return n;
        way = CopyWay::Buffer;
    }
    if (buffer.empty())
        buffer.resize(kCopyChunk);
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n <= 0)
        return n;
    return WriteAll(out, buffer.data(), static_cast<size_t>(n)) ? n : -1;
}

bool SameTime(const timespec &a, const timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether name still holds the file that ours describes, unchanged in size.
bool StillOurs(int dirFd, const char *name, const struct stat &ours)
{
    struct stat st;
    return ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == ours.st_dev &&
           st.st_ino == ours.st_ino && st.st_size == ours.st_size;
}

// Removes name, provided it still holds our file (a published copy, a placeholder).
void Unpublish(int dirFd, const char *name, const struct stat &ours)
{
    if (StillOurs(dirFd, name, ours))
        ::unlinkat(dirFd, name, 0);
}

// Where the file system has neither a rename that refuses to replace nor hard links: takes the
// name with an empty placeholder of our own, which O_EXCL creates only where nothing is, then
// renames from over it.
int RenameOverPlaceholder(int fromDir, const char *from, int toDir, const char *to,
                          const char **step)
{
    *step = "create placeholder";
    Fd fd(::openat(toDir, to, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW,
                   kPlaceholderMode));
    struct stat placeholder;
    if (fd.get() < 0 || ::fstat(fd.get(), &placeholder) != 0)
        return errno;
    // Closed before the rename: some shares refuse to replace a file that is open.
    fd.close();
    *step = "rename";
    // No call renames over one given file only, so the name is checked first. The moment
    // between this check and the rename is the only window in which a file that someone else
    // puts there would be replaced; before it, the name holds nothing but our placeholder.
    if (!StillOurs(toDir, to, placeholder))
        return EEXIST;
    if (::renameat(fromDir, from, toDir, to) == 0)
        return 0;
    const int err = errno;
    Unpublish(toDir, to, placeholder);
    return err;
}

// Gives the file at from the name to, never replacing anything there: a rename that refuses to
// replace; where the file system refuses that flag, a hard link then an unlink of from; where it
// refuses hard links too, a rename over a placeholder. Returns 0, or the errno of the step that
// failed (named in step, fromWhat for the unlink of from) with from in place and to as it was.
int Publish(int fromDir, const char *from, int toDir, const char *to, const char *fromWhat,
            const char **step)
{
    *step = "rename";
    if (RenameNoReplace(fromDir, from, toDir, to) == 0)
        return 0;
    if (!NoReplaceUnsupported(errno))
        return errno;
    *step = "link";
    if (::linkat(fromDir, from, toDir, to, 0) != 0)
        return LinksUnsupported(errno) ? RenameOverPlaceholder(fromDir, from, toDir, to, step)
                                       : errno;
    if (::unlinkat(fromDir, from, 0) != 0) {
        const int err = errno;
        ::unlinkat(toDir, to, 0);
        *step = fromWhat;
        return err;
    }
    return 0;
}

// Makes a copy of src (whose lstat is srcLink) as name in the folder dirFd: a hidden temporary
// file gets the content, mode and times, is checked and flushed to disk, then published under
// name without replacing anything, and the folder is flushed too. written receives the copy's
// stat, so that it can be taken back. On failure nothing new is left in the folder.
bool PublishCopy(const At &src, const struct stat &srcLink, int dirFd, const QByteArray &name,
                 struct stat *written, QString *error, const CopyProgress &progress)
{
    if (!S_ISREG(srcLink.st_mode))
        return Fail(error, QStringLiteral("source is not a regular file"));
    // Spares a long copy that could only fail at its end; the copy is safe without it.
    struct stat existing;
    if (::fstatat(dirFd, name.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0)
        return Fail(error, QStringLiteral("target exists"));

    Fd in(::openat(src.dir, src.name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (in.get() < 0)
        return FailErrno(error, "open source", errno);
    struct stat before;
    if (::fstat(in.get(), &before) != 0)
        return FailErrno(error, "open source", errno);
    if (!S_ISREG(before.st_mode) || before.st_ino != srcLink.st_ino ||
        before.st_dev != srcLink.st_dev)
        return Fail(error, QStringLiteral("source changed during copy"));

    TempFile temp(dirFd);
    Fd out;
    const QByteArray stem = TempPrefix(name);
    for (int attempt = 0; attempt < kTempNameAttempts && out.get() < 0; ++attempt) {
        const QByteArray tempName =
            stem + QByteArray::number(QRandomGenerator::global()->generate(), 16) + ".part";
        const int fd = ::openat(dirFd, tempName.constData(),
                                O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            temp.set(tempName);
            out.reset(fd);
        } else if (errno != EEXIST) {
            return FailErrno(error, "create copy", errno);
        }
    }
    if (out.get() < 0)
        return Fail(error, QStringLiteral("create copy: no free temporary name"));

#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    const qint64 total = before.st_size;
    qint64 copied = 0;
    if (progress)
        progress(0, total);
    CopyWay way = firstCopyWay;
    std::vector<char> buffer;
    for (;;) {
        const ssize_t n = CopyChunk(in.get(), out.get(), way, buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return FailErrno(error, "copy", errno);
        }
        if (n == 0)
            break;
        copied += n;
        if (progress)
            progress(copied, total);
    }

    // Ownership can only be kept by root; for anyone else the copy belongs to them, as with mv.
    // It comes before fchmod because a change of owner clears set-user-ID bits.
    (void)::fchown(out.get(), before.st_uid, before.st_gid);
    if (::fchmod(out.get(), before.st_mode & 07777) != 0)
        return FailErrno(error, "copy permissions", errno);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    if (::futimens(out.get(), times) != 0)
        return FailErrno(error, "copy times", errno);

    struct stat after;
    if (::fstat(in.get(), &after) != 0)
        return FailErrno(error, "read source", errno);
    if (after.st_size != before.st_size || !SameTime(after.st_mtim, before.st_mtim))
        return Fail(error, QStringLiteral("source changed during copy"));
    if (::fstat(out.get(), written) != 0)
        return FailErrno(error, "copy", errno);
    if (copied != total || written->st_size != total)
        return Fail(error, QStringLiteral("copy is incomplete"));

    if (::fsync(out.get()) != 0)
        return FailErrno(error, "copy", errno);
    if (out.close() != 0)
        return FailErrno(error, "copy", errno);

    const char *step = nullptr;
    if (const int err =
            Publish(dirFd, temp.name(), dirFd, name.constData(), "remove temporary copy", &step))
        return err == EEXIST ? Fail(error, QStringLiteral("target exists"))
                             : FailErrno(error, step, err);
    temp.release();

    // The new name must be on disk before the only other copy goes away. Some file systems
    // cannot sync folders at all (EINVAL); their data is as safe as they can make it.
    if (::fsync(dirFd) != 0 && errno != EINVAL) {
        const int err = errno;
        Unpublish(dirFd, name.constData(), *written);
        return FailErrno(error, "sync target folder", err);
    }
    return true;
}

// Why a call on src failed with err, where src itself may be what is wrong.
bool FailOnSource(const At &src, QString *error, const char *step, int err)
{
    struct stat st;
    if (::fstatat(src.dir, src.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Fail(error, QStringLiteral("source does not exist"))
                               : FailErrno(error, "source", errno);
    if (err == EEXIST)
        return Fail(error, QStringLiteral("target exists"));
    if (err == ENOENT)
        return Fail(error, QStringLiteral("target folder does not exist"));
    return FailErrno(error, step, err);
}

bool MoveInto(const At &src, int dirFd, const QByteArray &name, QString *error,
              const CopyProgress &progress)
{
    // What keeps an existing target safe is that publishing, like every later step, refuses to
    // replace anything; no check beforehand could, as a file may appear right after it.
    const char *step = nullptr;
    const int err =
        Publish(src.dir, src.name.constData(), dirFd, name.constData(), "remove source", &step);
    if (err == 0)
        return true;
    if (err == EEXIST)
        return Fail(error, QStringLiteral("target exists"));
    struct stat srcStat;
    if (err != EXDEV || ::fstatat(src.dir, src.name.constData(), &srcStat, AT_SYMLINK_NOFOLLOW))
        return FailOnSource(src, error, step, err);
    // A source that cannot be removed (read-only card, no permission) would make the whole copy
    // wasted work; better to say so before copying gigabytes. The unlink below still decides.
    if (S_ISREG(srcStat.st_mode) && ::faccessat(src.dir, ".", W_OK | X_OK, 0) != 0)
        return FailErrno(error, "remove source", errno);
    struct stat written;
    if (!PublishCopy(src, srcStat, dirFd, name, &written, error, progress))
        return false;
    if (::unlinkat(src.dir, src.name.constData(), 0) != 0) {
        const int err = errno;
        Unpublish(dirFd, name.constData(), written);
        return FailErrno(error, "remove source", err);
    }
    return true;
}

bool CopyInto(const At &src, int dirFd, const QByteArray &name, QString *error,
              const CopyProgress &progress)
{
    struct stat srcStat;
    struct stat written;
    if (::fstatat(src.dir, src.name.constData(), &srcStat, AT_SYMLINK_NOFOLLOW) != 0)
        return FailOnSource(src, error, "source", errno);
    return PublishCopy(src, srcStat, dirFd, name, &written, error, progress);
}

// Does action with src at name in dirFd; linkText is what a symbolic link holds.
bool Place(Action action, const At &src, int dirFd, const QByteArray &name,
           const QByteArray &linkText, Action *how, QString *error, const CopyProgress &progress)
{
    if (name.isEmpty() || name == "." || name == "..")
        return Fail(error, QStringLiteral("target has no file name"));
    if (how)
        *how = action == Action::HardlinkOrCopy ? Action::Hardlink : action;
    struct stat st;
    switch (action) {
    case Action::Move:
        return MoveInto(src, dirFd, name, error, progress);
    case Action::Copy:
        return CopyInto(src, dirFd, name, error, progress);
    case Action::Symlink:
        // A source that is gone would leave a dangling link.
        if (::fstatat(src.dir, src.name.constData(), &st, 0) != 0)
            return FailOnSource(src, error, "source", errno);
        return ::symlinkat(linkText.constData(), dirFd, name.constData()) == 0 ||
               FailOnSource(src, error, "symbolic link", errno);
    case Action::Hardlink:
    case Action::HardlinkOrCopy:
        break;
    }
    // linkat never replaces what is at the target.
    if (::linkat(src.dir, src.name.constData(), dirFd, name.constData(), 0) == 0)
        return true;
    const int err = errno;
    const bool noLink = err == EXDEV || LinksUnsupported(err);
    if (noLink && action == Action::HardlinkOrCopy) {
        if (how)
            *how = Action::Copy;
        return CopyInto(src, dirFd, name, error, progress);
    }
    if (err == EXDEV)
        return Fail(error, QString::fromLatin1(kNoCrossDeviceLink));
    if (noLink && ::fstatat(src.dir, src.name.constData(), &st, 0) == 0)
        return Fail(error, QStringLiteral("no hard link can be made here (the file system has "
                                          "none, or the file is not yours)"));
    return FailOnSource(src, error, "link", err);
}

// OpenBeneath, making the folders that are missing on the way; made gets each one made.
int OpenFolder(int baseFd, const QByteArray &relative, QList<QByteArray> &made,
               const FolderLog &log)
{
    const int fd = OpenBeneath(baseFd, relative, kFolder);
    if (fd >= 0 || errno != ENOENT)
        return fd;
    Fd current(::fcntl(baseFd, F_DUPFD_CLOEXEC, 0));
    QByteArray prefix;
    for (const QByteArray &part : relative.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        prefix += (prefix.isEmpty() ? QByteArray() : QByteArray("/")) + part;
        int next = OpenBeneath(baseFd, prefix, kFolder);
        if (next < 0 && errno == ENOENT) {
            const QString shown = QFile::decodeName(prefix);
            if (log.making)
                log.making(shown);
            if (::mkdirat(current.get(), part.constData(), 0777) == 0) {
                made.append(prefix);
                // The new folder must be on disk before a file in it is the only copy.
                if (::fsync(current.get()) != 0 && errno != EINVAL)
                    return -1;
            } else if (errno != EEXIST) {
                return -1;
            } else if (log.existed) {
                log.existed(shown);
            }
            // Made just now by name: a link put in its place meanwhile is not followed.
            next = ::openat(current.get(), part.constData(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0)
            return -1;
        current.reset(next);
    }
    return current.release();
}

// The reason for an errno of OpenBeneath or OpenFolder.
bool FailFolder(QString *error, int err)
{
    if (err == EXDEV || err == ELOOP)
        return Fail(error, QStringLiteral("outside the root"));
    if (err == ENOTDIR || err == EEXIST)
        return Fail(error, QStringLiteral("a file is where a folder is needed"));
    return FailErrno(error, "target folder", err);
}

// Whether a path relative to a base leads out of it by its text alone.
bool Escapes(const QByteArray &relative)
{
    return relative.startsWith('/') || relative == ".." || relative.startsWith("../") ||
           relative.endsWith("/..") || relative.contains("/../");
}

QByteArray FolderPart(const QByteArray &relative)
{
    const int slash = relative.lastIndexOf('/');
    return slash < 0 ? QByteArray() : relative.left(slash);
}

int RemoveAt(int baseFd, const QByteArray &relative, bool folder, FileId seen = {})
{
    const QByteArray dir = FolderPart(relative);
    Fd dirFd(dir.isEmpty() ? -1 : OpenBeneath(baseFd, dir, kFolder));
    if (!dir.isEmpty() && dirFd.get() < 0)
        return errno;
    const int at = dir.isEmpty() ? baseFd : dirFd.get();
    const QByteArray name = relative.mid(relative.lastIndexOf('/') + 1);
    struct stat st;
    if (seen.Known() && ::fstatat(at, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    if (seen.Known() && (quint64(st.st_dev) != seen.device || quint64(st.st_ino) != seen.inode))
        return ESTALE;
    return ::unlinkat(at, name.constData(), folder ? AT_REMOVEDIR : 0) == 0 ? 0 : errno;
}

} // namespace

int OpenBeneath(int baseFd, const QByteArray &relative, int flags)
{
    // Containers and old kernels may refuse openat2: ENOSYS, or EPERM from a seccomp filter.
    static std::atomic<bool> noOpenat2{false};
    if (!noOpenat2) {
        open_how how = {};
        how.flags = quint64(flags | O_CLOEXEC);
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
        const QByteArray path = relative.isEmpty() ? QByteArray(".") : relative;
        // EAGAIN: a rename elsewhere on the file system raced the lookup; it may be retried.
        for (int attempt = 0; attempt < 10; ++attempt) {
            const long fd = ::syscall(SYS_openat2, baseFd, path.constData(), &how, sizeof how);
            if (fd >= 0)
                return int(fd);
            if (errno != EAGAIN)
                break;
        }
        if (errno != ENOSYS && errno != EPERM)
            return -1;
        noOpenat2 = true;
    }
    const QList<QByteArray> parts = relative.split('/');
    qsizetype last = parts.size() - 1;
    while (last >= 0 && (parts.at(last).isEmpty() || parts.at(last) == "."))
        --last;
    Fd current(::fcntl(baseFd, F_DUPFD_CLOEXEC, 0));
    if (last < 0)
        return current.release();
    for (qsizetype i = 0; i <= last; ++i) {
        const QByteArray &part = parts.at(i);
        if (part.isEmpty() || part == ".")
            continue;
        // The folders on the way only need to be passed through; the last part opens as asked.
        const int wanted = i == last ? flags : O_PATH | O_DIRECTORY;
        int next = -1;
        errno = EXDEV;
        if (part != "..")
            next = ::openat(current.get(), part.constData(), wanted | O_NOFOLLOW | O_CLOEXEC);
        struct stat st;
        if (next < 0 && errno == ENOTDIR &&
            ::fstatat(current.get(), part.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(st.st_mode))
            errno = ELOOP;
        if (next < 0)
            return -1;
        current.reset(next);
    }
    // O_PATH with O_NOFOLLOW opens a link itself; the walk follows none, so it is no way in.
    struct stat st;
    if (::fstat(current.get(), &st) == 0 && S_ISLNK(st.st_mode)) {
        errno = ELOOP;
        return -1;
    }
    return current.release();
}

Base::Base(const QString &path)
    : path(path)
    , fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    , error(fd < 0 ? errno : 0)
{}

Base::Base(const QString &path, const Bounds &within)
    : path(path)
    , fd(path == within.slashed || path == within.slashed.chopped(1) ||
                 path.startsWith(within.slashed)
             ? OpenBeneath(within.fd, QFile::encodeName(path.mid(within.slashed.size())), kFolder)
             : (errno = EXDEV, -1))
    , error(fd < 0 ? errno : 0)
{}

Base::~Base()
{
    if (fd >= 0)
        ::close(fd);
}

namespace {

// Opens the folder of source beneath its base into holder and names the file in it, provided
// the name still holds the file that source.seen says, when it says one.
bool OpenSource(const SourceFile &source, Fd &holder, At &at, QString *error)
{
    const QByteArray relative = QFile::encodeName(source.relative);
    const QByteArray dir = FolderPart(relative);
    at.name = relative.mid(relative.lastIndexOf('/') + 1);
    if (at.name.isEmpty() || at.name == "." || at.name == "..")
        return Fail(error, QStringLiteral("source does not exist"));
    if (Escapes(relative))
        return Fail(error, QStringLiteral("outside the root"));
    if (source.base->Fd() < 0)
        return FailErrno(error, "source folder", source.base->Error());
    at.dir = source.base->Fd();
    if (!dir.isEmpty()) {
        holder.reset(OpenBeneath(source.base->Fd(), dir, kFolder));
        if (holder.get() < 0)
            return errno == ENOENT ? Fail(error, QStringLiteral("source does not exist"))
                   : errno == EXDEV || errno == ELOOP
                       ? Fail(error, QStringLiteral("outside the root"))
                       : FailErrno(error, "source folder", errno);
        at.dir = holder.get();
    }
    if (!source.seen.Known())
        return true;
    // The very file the scan saw, not one that took its name since, nor a link put there.
    struct stat st;
    if (::fstatat(at.dir, at.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Fail(error, QStringLiteral("source does not exist"))
                               : FailErrno(error, "source", errno);
    if (quint64(st.st_dev) != source.seen.device || quint64(st.st_ino) != source.seen.inode)
        return Fail(error, QStringLiteral("the file changed since the scan"));
    return true;
}

} // namespace

bool MoveFile(const SourceFile &source, const Base &folder, const QString &name, QString *error,
              const CopyProgress &progress)
{
    if (error)
        error->clear();
    Fd holder;
    At src;
    if (!OpenSource(source, holder, src, error))
        return false;
    if (folder.Fd() < 0)
        return FailErrno(error, "target folder", folder.Error());
    const QByteArray target = QFile::encodeName(name);
    if (target.isEmpty() || target == "." || target == ".." || target.contains('/'))
        return Fail(error, QStringLiteral("target has no file name"));
    return MoveInto(src, folder.Fd(), target, error, progress);
}

bool MoveFile(const QString &source, const QString &target, QString *error,
              const CopyProgress &progress)
{
    if (source.isEmpty())
        return Fail(error, QStringLiteral("source does not exist"));
    if (target.isEmpty())
        return Fail(error, QStringLiteral("no target given"));
    const QFileInfo from(source), to(target);
    const Base folder(from.path());
    return MoveFile({&folder, from.fileName()}, Base(to.path()), to.fileName(), error, progress);
}

bool PlaceFile(Action action, const QString &source, const QString &base,
               const QString &relativeTarget, Action *how, QString *error,
               const CopyProgress &progress, const FolderLog &folders)
{
    const QFileInfo from(source);
    const Base folder(from.path());
    return PlaceFile(action, {&folder, from.fileName()}, Base(base), relativeTarget, how, error,
                     progress, folders);
}

bool PlaceFile(Action action, const SourceFile &source, const Base &base,
               const QString &relativeTarget, Action *how, QString *error,
               const CopyProgress &progress, const FolderLog &folders)
{
    if (error)
        error->clear();
    const QByteArray relative = QFile::encodeName(relativeTarget);
    if (Escapes(relative))
        return Fail(error, QStringLiteral("outside the root"));
    if (base.Fd() < 0)
        return FailErrno(error, "root", base.Error());
    Fd holder;
    At src;
    if (!OpenSource(source, holder, src, error))
        return false;
    const QByteArray dir = FolderPart(relative);
    QList<QByteArray> made;
    Fd dirFd(dir.isEmpty() ? -1 : OpenFolder(base.Fd(), dir, made, folders));
    if (!dir.isEmpty() && dirFd.get() < 0) {
        const int err = errno;
        for (auto it = made.crbegin(); it != made.crend(); ++it)
            RemoveAt(base.Fd(), *it, true);
        return FailFolder(error, err);
    }
    const QByteArray linkText =
        action == Action::Symlink
            ? QFile::encodeName(LinkText(source.base->Path() + QLatin1Char('/') + source.relative,
                                         base.Path() + QLatin1Char('/') + relativeTarget))
            : QByteArray();
    const bool placed =
        Place(action, src, dir.isEmpty() ? base.Fd() : dirFd.get(),
              relative.mid(relative.lastIndexOf('/') + 1), linkText, how, error, progress);
    // Folders made for a file that did not come are taken away again, deepest first.
    for (auto it = made.crbegin(); !placed && it != made.crend(); ++it)
        RemoveAt(base.Fd(), *it, true);
    return placed;
}

QString LinkText(const QString &source, const QString &target)
{
    return QDir(QFileInfo(QDir::cleanPath(target)).path())
        .relativeFilePath(QDir::cleanPath(source));
}

FolderState CheckFolder(const QString &base, const QString &relativeFolder)
{
    const QByteArray relative = QFile::encodeName(relativeFolder);
    if (Escapes(relative))
        return FolderState::Outside;
    if (relative.isEmpty())
        return FolderState::Fine;
    Fd baseFd(::open(QFile::encodeName(base).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    Fd fd(baseFd.get() < 0 ? -1 : OpenBeneath(baseFd.get(), relative, kFolder));
    if (fd.get() >= 0 || baseFd.get() < 0 || errno == ENOENT)
        return FolderState::Fine;
    return errno == ENOTDIR ? FolderState::NotFolder : FolderState::Outside;
}

int RemoveBeneath(const Base &base, const QString &relativePath, bool folder, FileId seen)
{
    const QByteArray relative = QFile::encodeName(relativePath);
    if (Escapes(relative))
        return EXDEV;
    return base.Fd() < 0 ? base.Error() : RemoveAt(base.Fd(), relative, folder, seen);
}

void SetFirstCopyWay(CopyWay way)
{
    firstCopyWay = way;
}

bool IsPlaceholder(const QString &target, qint64 sinceNs)
{
    struct stat st;
    return ::lstat(QFile::encodeName(target).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           st.st_size == 0 && (st.st_mode & 07777) == kPlaceholderMode &&
           qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec >= sinceNs;
}

QStringList TemporaryCopies(const QString &target)
{
    const QByteArray dst = QFile::encodeName(target);
    const QByteArray prefix = TempPrefix(dst.mid(dst.lastIndexOf('/') + 1));
    QStringList copies;
    DIR *dir = ::opendir(Folder(dst).constData());
    if (!dir)
        return copies;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (!name.startsWith(prefix) || !name.endsWith(".part"))
            continue;
        const QByteArray random = name.mid(prefix.size(), name.size() - prefix.size() - 5);
        const bool hex = !random.isEmpty() && std::all_of(random.begin(), random.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        });
        if (hex)
            copies.append(QFile::decodeName(Folder(dst) + '/' + name));
    }
    ::closedir(dir);
    return copies;
}

} // namespace files
