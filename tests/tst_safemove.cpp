// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "safemove.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

bool WriteFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// Type, mode, mtime (ns) and content of whatever is at path.
QByteArray Snapshot(const QString &path)
{
    struct stat st;
    QFile file(path);
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return "absent";
    const bool regular = S_ISREG(st.st_mode) && file.open(QIODevice::ReadOnly);
    return QString::asprintf("%o %ld.%09ld ", st.st_mode, st.st_mtim.tv_sec, st.st_mtim.tv_nsec)
               .toLatin1() +
           (regular ? file.readAll() : "");
}

} // namespace

class TestSafeMove : public QObject
{
    Q_OBJECT

private slots:
    // All or nothing, and nothing at the target is ever replaced: the file arrives whole with its
    // mode and mtime, or the source stays as it is and the target folder holds nothing new.
    void move_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("reason");
        for (const char *how : {"same file system", "across file systems", "appears during copy"})
            for (const char *kind : {"file", "folder", "symlink", "dangling symlink", "fifo"})
                QTest::addRow("%s at target, %s", kind, how)
                    << QString(kind) + '/' + how << "target exists";
        const auto sys = [](QString what, int err) { return what + ": " + qt_error_string(err); };
        const QString changed = "source changed during copy";
        QTest::newRow("several buffers") << "" << QString();
        // The hidden temporary name must still fit the 255-byte limit.
        QTest::newRow("longest name") << "long name" << QString();
        QTest::newRow("target disk full") << "full" << sys("copy", ENOSPC);
        // The copy is already published when the source refuses to go: it must be taken back.
        QTest::newRow("source cannot be removed") << "locked" << sys("remove source", EPERM);
        QTest::newRow("source still being written") << "grows" << changed;
        QTest::newRow("source rewritten in place") << "rewritten" << changed;
    }
    void move()
    {
        QFETCH(QString, fault);
        QFETCH(QString, reason);
        QTemporaryDir local, shm("/dev/shm/tst_safemove-XXXXXX"); // fresh for every row
        QVERIFY(local.isValid());
        const bool apart = shm.isValid() && QStorageInfo(local.path()) != QStorageInfo(shm.path());
        const bool oneFs = fault.endsWith("same file system") || fault == "full";
        const QString destDir = oneFs ? local.filePath("to") : apart ? shm.path() : QString();
        if (destDir.isEmpty())
            QSKIP("/dev/shm is missing or on the temp folder's file system");
        QVERIFY(QDir().mkpath(destDir));
        QStringList undo{"true"}; // run on every way out, including failed checks
        const auto guard = qScopeGuard([&] { QProcess::execute(undo.takeFirst(), undo); });
        if (fault == "full") {
            if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", destDir}))
                QSKIP("cannot mount a small tmpfs (the message is in the log)");
            undo = QStringList{"umount", destDir};
        }
        const QString source = local.filePath("source"); // where chattr works
        const QString name = fault == "long name" ? "x" + QString(127, QChar(0xE9)) : "clip.mp4";
        const QString dest = destDir + "/" + name;
        // Several copy buffers and more than the full disk takes; a period that divides no buffer
        // size, so that a misplaced or repeated chunk shows.
        const int size = fault.isEmpty() || fault == "full" ? (3 << 20) + 123 : 50;
        QVERIFY(WriteFile(source, QByteArray("0123456").repeated(size / 7 + 1).left(size)));
        QCOMPARE(::chmod(QFile::encodeName(source).constData(), 0640), 0);
        const timespec times[2] = {{1000000000, 111111111}, {1234567890, 987654321}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(source).constData(), times, 0), 0);
        QByteArray before = Snapshot(source), destBefore = "absent";
        if (fault == "locked") {
            if (QProcess::execute("chattr", {"+i", source}) != 0)
                QSKIP("chattr +i is refused here (the message is in the log)");
            undo = QStringList{"chattr", "-i", source};
        }
        const QString kind = fault.section('/', 0, 0);
        const auto make = [&] {
            // The live link points at the source, so that writing through it would show.
            QVERIFY(kind == "file"     ? WriteFile(dest, "somebody else's file")
                    : kind == "folder" ? QDir().mkdir(dest)
                    : kind == "fifo"   ? ::mkfifo(QFile::encodeName(dest).constData(), 0644) == 0
                                     : QFile::link(kind == "symlink" ? source : "/nowhere", dest));
            destBefore = Snapshot(dest);
        };
        if (fault.contains("file system"))
            make();
        QPair<qint64, qint64> last; // a finished copy must have reported all of it
        const auto progress = [&](qint64 done, qint64 total) {
            QFile file(source); // changed as the copy starts; what the writer made must be kept
            last = {done, total};
            if (done == 0 && fault.endsWith("during copy"))
                make();
            if (done == 0 && (fault == "grows" || fault == "rewritten")) {
                QVERIFY(file.open(fault == "grows" ? QIODevice::Append : QIODevice::ReadWrite));
                QVERIFY(file.write("new") == 3 && file.flush());
                before = Snapshot(source);
            }
        };

        QString error = "stale";
        const bool moved = files::MoveFile(source, dest, &error, progress);
        const QByteArray after = Snapshot(dest);
        QCOMPARE(error, reason);
        QCOMPARE(Snapshot(source), moved ? "absent" : before);
        QCOMPARE(after, moved ? before : destBefore);
        QVERIFY(!moved || last == qMakePair(qint64(size), qint64(size)));
        // Hidden entries too: that is where a left-over temporary copy would be.
        QCOMPARE(QDir(destDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                         QDir::NoDotAndDotDot),
                 after == "absent" ? QStringList() : QStringList{name});
    }
};

QTEST_GUILESS_MAIN(TestSafeMove)
#include "tst_safemove.moc"
