// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

// What the tests that move files share: files made on disk, and what is there read back to be
// compared before and after.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>

#include <sys/stat.h>

// Writes data, or size bytes, to path, making its folders first.
inline bool WriteFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly) &&
           file.write(data) == data.size();
}
inline bool WriteFile(const QString &path, qint64 size)
{
    return WriteFile(path, QByteArray(size, 'x'));
}

// What is at path itself, a link not followed: its mode, its modification time in nanoseconds,
// and its content or the link's target; "absent" where nothing is.
inline QByteArray Snapshot(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return "absent";
    QFile file(path);
    const QString head = QString::asprintf("%o %lld.%09ld ", st.st_mode, qint64(st.st_mtim.tv_sec),
                                           st.st_mtim.tv_nsec);
    return (head + file.symLinkTarget()).toUtf8() +
           (S_ISREG(st.st_mode) && file.open(QIODevice::ReadOnly) ? file.readAll() : "");
}

// A folder's snapshot: "folder" and its permission bits in octal.
inline QByteArray FolderSnapshot(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return "absent";
    return "folder " + QByteArray::number(st.st_mode & 07777, 8);
}

// The snapshot of every file and link under folder, hidden ones included, and with folders,
// every folder as "folder" and its mode (its time changes with what it holds).
inline QMap<QString, QByteArray> Tree(const QString &folder, bool folders = false)
{
    QMap<QString, QByteArray> entries;
    QDirIterator it(folder,
                    QDir::Files | QDir::Hidden | QDir::System |
                        (folders ? QDir::Dirs | QDir::NoDotAndDotDot : QDir::Filters()),
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        entries[path] = folders && it.fileInfo().isDir() && !it.fileInfo().isSymLink()
                            ? FolderSnapshot(path)
                            : Snapshot(path);
    }
    return entries;
}
