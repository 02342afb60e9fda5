// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "confine.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace web {

namespace {

// Containers and old kernels may refuse openat2 (ENOSYS, or EPERM from a seccomp filter).
int WalkBeneath(int rootFd, const QByteArray &path, int flags)
{
    int fd = ::fcntl(rootFd, F_DUPFD_CLOEXEC, 0);
    const QList<QByteArray> parts = path.split('/');
    for (int i = 0; fd >= 0 && i < parts.size(); ++i) {
        const QByteArray &part = parts.at(i);
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            ::close(fd);
            errno = EXDEV;
            return -1;
        }
        const bool last = i == parts.size() - 1;
        const int next = ::openat(fd, part.constData(),
                                  (last ? flags : O_PATH | O_DIRECTORY) | O_NOFOLLOW | O_CLOEXEC);
        const int err = errno;
        ::close(fd);
        fd = next;
        errno = err;
    }
    return fd;
}

} // namespace

QString PathProblem(const QString &relative)
{
    if (relative.contains(QChar(0)))
        return QStringLiteral("NUL byte in a path");
    if (relative.startsWith(QLatin1Char('/')))
        return QStringLiteral("absolute path");
    for (const QStringView part : QStringView(relative).split(QLatin1Char('/'))) {
        if (part == QLatin1String(".."))
            return QStringLiteral("'..' is not allowed in a path");
    }
    return QString();
}

int OpenBeneath(int rootFd, const QString &relative, int flags)
{
    const QByteArray path = relative.isEmpty() ? QByteArray(".") : QFile::encodeName(relative);
    open_how how = {};
    how.flags = quint64(flags | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, rootFd, path.constData(), &how, sizeof how);
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM))
        return int(fd);
    return WalkBeneath(rootFd, path, flags);
}

bool Beneath(int rootFd, const QString &relative, bool followLast)
{
    const int fd = OpenBeneath(rootFd, relative, O_PATH | (followLast ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool Escaped(int err)
{
    return err == EXDEV || err == ELOOP;
}

} // namespace web
