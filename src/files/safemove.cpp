// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#ifndef _GNU_SOURCE
#define _GNU_SOURCE // renameat2 and RENAME_NOREPLACE in <stdio.h>
#endif

#include "safemove.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace files {
namespace {

constexpr size_t kCopyChunk = 1 << 20;
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

// The ways a copy can go, in the order they are tried. Once the kernel refuses a way for the
// two files, the copy goes on by the next.
enum class CopyWay { FileSystem, Kernel, Buffer };

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
        buffer.resize(kCopyChunk);
    }
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

bool CopyAcross(const QByteArray &src, const struct stat &srcLink, const QByteArray &dst,
                QString *error, const CopyProgress &progress)
{
    if (!S_ISREG(srcLink.st_mode))
        return Fail(error, QStringLiteral("source is not a regular file"));

    const QByteArray dir = Folder(dst);
    const QByteArray name = dst.mid(dst.lastIndexOf('/') + 1);
    if (name.isEmpty() || name == "." || name == "..")
        return Fail(error, QStringLiteral("target has no file name"));
    // A source that cannot be removed (read-only card, no permission) would make the whole copy
    // wasted work; better to say so before copying gigabytes. The unlink below still decides.
    if (::access(Folder(src).constData(), W_OK | X_OK) != 0)
        return FailErrno(error, "remove source", errno);

    Fd in(::open(src.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (in.get() < 0)
        return FailErrno(error, "open source", errno);
    struct stat before;
    if (::fstat(in.get(), &before) != 0)
        return FailErrno(error, "open source", errno);
    if (!S_ISREG(before.st_mode) || before.st_ino != srcLink.st_ino ||
        before.st_dev != srcLink.st_dev)
        return Fail(error, QStringLiteral("source changed during copy"));

    Fd dirFd(::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() < 0)
        return FailErrno(error, "target folder", errno);

    TempFile temp(dirFd.get());
    Fd out;
    const QByteArray stem = TempPrefix(name);
    for (int attempt = 0; attempt < kTempNameAttempts && out.get() < 0; ++attempt) {
        const QByteArray tempName =
            stem + QByteArray::number(QRandomGenerator::global()->generate(), 16) + ".part";
        const int fd = ::openat(dirFd.get(), tempName.constData(),
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
    CopyWay way = CopyWay::FileSystem;
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
    struct stat written;
    if (::fstat(in.get(), &after) != 0)
        return FailErrno(error, "read source", errno);
    if (after.st_size != before.st_size || !SameTime(after.st_mtim, before.st_mtim))
        return Fail(error, QStringLiteral("source changed during copy"));
    if (::fstat(out.get(), &written) != 0)
        return FailErrno(error, "copy", errno);
    if (copied != total || written.st_size != total)
        return Fail(error, QStringLiteral("copy is incomplete"));

    if (::fsync(out.get()) != 0)
        return FailErrno(error, "copy", errno);
    if (out.close() != 0)
        return FailErrno(error, "copy", errno);

    const char *step = nullptr;
    if (const int err = Publish(dirFd.get(), temp.name(), dirFd.get(), name.constData(),
                                "remove temporary copy", &step))
        return err == EEXIST ? Fail(error, QStringLiteral("target exists"))
                             : FailErrno(error, step, err);
    temp.release();

    // The new name must be on disk before the only other copy goes away. Some file systems
    // cannot sync folders at all (EINVAL); their data is as safe as they can make it.
    if (::fsync(dirFd.get()) != 0 && errno != EINVAL) {
        const int err = errno;
        Unpublish(dirFd.get(), name.constData(), written);
        return FailErrno(error, "sync target folder", err);
    }
    if (::unlink(src.constData()) != 0) {
        const int err = errno;
        Unpublish(dirFd.get(), name.constData(), written);
        return FailErrno(error, "remove source", err);
    }
    return true;
}

} // namespace

bool MoveFile(const QString &source, const QString &target, QString *error,
              const CopyProgress &progress)
{
    if (error)
        error->clear();
    const QByteArray src = QFile::encodeName(source);
    const QByteArray dst = QFile::encodeName(target);

    if (src.isEmpty())
        return Fail(error, QStringLiteral("source does not exist"));
    if (dst.isEmpty())
        return Fail(error, QStringLiteral("no target given"));

    // What keeps an existing target safe is that publishing, like every later step, refuses to
    // replace anything; no check beforehand could, as a file may appear right after it.
    const char *step = nullptr;
    const int err =
        Publish(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), "remove source", &step);
    if (err == 0)
        return true;
    if (err == EEXIST)
        return Fail(error, QStringLiteral("target exists"));
    struct stat srcStat;
    if (::lstat(src.constData(), &srcStat) != 0) {
        if (errno == ENOENT)
            return Fail(error, QStringLiteral("source does not exist"));
        return FailErrno(error, "source", errno);
    }
    if (err == ENOENT)
        return Fail(error, QStringLiteral("target folder does not exist"));
    if (err == EXDEV) {
        if (!S_ISREG(srcStat.st_mode))
            return Fail(error, QStringLiteral("source is not a regular file"));
        // Spares a long copy that could only fail at its end; the copy is safe without it.
        struct stat dstStat;
        if (::lstat(dst.constData(), &dstStat) == 0)
            return Fail(error, QStringLiteral("target exists"));
        return CopyAcross(src, srcStat, dst, error, progress);
    }
    return FailErrno(error, step, err);
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
