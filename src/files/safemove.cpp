// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#ifndef _GNU_SOURCE
#define _GNU_SOURCE // renameat2 and RENAME_NOREPLACE in <stdio.h>
#endif

#include "safemove.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

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

// Removes the name we just published, provided it still is our copy.
void Unpublish(int dirFd, const char *name, const struct stat &ours)
{
    struct stat st;
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == ours.st_dev &&
        st.st_ino == ours.st_ino)
        ::unlinkat(dirFd, name, 0);
}

// Hard-links from to to (never replacing), then drops from. Used where the file system cannot
// rename without replacing.
bool LinkThenUnlink(int fromDir, const char *from, int toDir, const char *to, const char *fromWhat,
                    QString *error)
{
    if (::linkat(fromDir, from, toDir, to, 0) != 0) {
        if (errno == EEXIST)
            return Fail(error, QStringLiteral("target exists"));
        return FailErrno(error, "link", errno);
    }
    if (::unlinkat(fromDir, from, 0) != 0) {
        const int err = errno;
        ::unlinkat(toDir, to, 0);
        return FailErrno(error, fromWhat, err);
    }
    return true;
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
    const QByteArray stem = QByteArray(".") + TempStem(name) + '.';
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

    if (RenameNoReplace(dirFd.get(), temp.name(), dirFd.get(), name.constData()) == 0) {
        temp.release();
    } else if (errno == EEXIST) {
        return Fail(error, QStringLiteral("target exists"));
    } else if (!NoReplaceUnsupported(errno)) {
        return FailErrno(error, "publish copy", errno);
    } else {
        if (!LinkThenUnlink(dirFd.get(), temp.name(), dirFd.get(), name.constData(),
                            "remove temporary copy", error))
            return false;
        temp.release();
    }

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

    // What keeps an existing target safe is that this rename, like every later step, refuses
    // to replace anything; no check beforehand could, as a file may appear right after it.
    if (RenameNoReplace(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData()) == 0)
        return true;
    const int err = errno;
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
    if (!NoReplaceUnsupported(err))
        return FailErrno(error, "rename", err);
    return LinkThenUnlink(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), "remove source",
                          error);
}

} // namespace files
