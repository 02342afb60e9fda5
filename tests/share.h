// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

// A share without hard links and without renames that refuse to replace, for the file tests to
// run their tables on as well as on the local disk: share.py serves a temporary folder through
// FUSE for the whole test run.

#include "skips.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

struct Share
{
    QTemporaryDir backing, mountPoint;
    QProcess server;
    bool refused = false; // FUSE or mounting is refused here: the share's rows skip, saying so
    static constexpr char kRefused[] =
        "FUSE or mounting is refused here (the message is in the log)";

    // Mounts the share with share.py's options, or finds that FUSE or mounting is refused here.
    // False when the server failed otherwise; its messages are in the log.
    bool Mount(const QStringList &options = {})
    {
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start(QStringLiteral(SHARE_PATH),
                     options + QStringList{backing.path(), mountPoint.path()});
        if (server.waitForReadyRead(30000))
            return true;
        server.waitForFinished(1000);
        return refused = server.exitStatus() == QProcess::NormalExit && server.exitCode() == 77;
    }

    // The server unmounts once its input closes, as it also does when the test dies.
    ~Share()
    {
        server.closeWriteChannel();
        server.waitForFinished(10000);
    }

    // A template for a row's QTemporaryDir, on the share or in the usual temporary folder.
    QString Template(bool onShare) const
    {
        return (onShare ? mountPoint.path() : QDir::tempPath()) + "/tst-XXXXXX";
    }

    // Where the share keeps path (to mount a small file system behind it); others are kept as is.
    QString Behind(const QString &path) const
    {
        const QString top = mountPoint.path() + '/';
        return path.startsWith(top) ? backing.filePath(path.mid(top.size())) : path;
    }
};

// Adds a table row on the local disk or, with onShare, the same row on the share.
inline QTestData &Row(bool onShare, const QString &tag)
{
    return QTest::newRow(qPrintable((onShare ? "on the share: " : "") + tag)) << onShare;
}
