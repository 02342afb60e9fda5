// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "confine.h"

#include "safemove.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace web {

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
    return files::OpenBeneath(rootFd, QFile::encodeName(relative), flags);
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
