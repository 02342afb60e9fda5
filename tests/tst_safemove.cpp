// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "ondisk.h"
#include "safemove.h"
#include "share.h"

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

Q_DECLARE_METATYPE(files::Action)

class TestSafeMove : public QObject
{
    Q_OBJECT

    Share share;

private slots:
    void initTestCase() { QVERIFY(share.Mount()); }

    // All or nothing, and nothing at the target is ever replaced: the file arrives whole with its
    // mode and mtime, or the source stays as it is and the target folder holds nothing new. On
    // the share, the target (and a source on the same file system) lie there.
    void move_data()
    {
        QTest::addColumn<bool>("onShare");
        QTest::addColumn<files::Action>("action");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("reason");
        using files::Action;
        const auto sys = [](QString what, int err) { return what + ": " + qt_error_string(err); };
        const QString changed = "source changed during copy", exists = "target exists";
        for (const bool onShare : {false, true}) {
            for (const char *how :
                 {"same file system", "across file systems", "appears during copy"})
                for (const char *kind : {"file", "folder", "symlink", "dangling symlink", "fifo"})
                    Row(onShare, QString("%1 at target, %2").arg(kind, how))
                        << Action::Move << QString(kind) + '/' + how << exists;
            // The other actions leave the source, and never replace anything either.
            for (const auto &[action, name] :
                 {std::pair(Action::Copy, "copy"), std::pair(Action::Hardlink, "hard link"),
                  std::pair(Action::Symlink, "symbolic link")})
                for (const char *kind : {"file", "folder", "symlink", "dangling symlink", "fifo"})
                    Row(onShare, QString("%1 at target, %2").arg(kind, name))
                        << action << QString(kind) + "/same file system" << exists;
            // The hidden temporary name must still fit the 255-byte limit. Each way of copying
            // in turn, as where the kernel refuses the ones before it.
            Row(onShare, "several buffers, longest name") << Action::Move << "" << QString();
            Row(onShare, "several buffers, by sendfile") << Action::Move << "way 1" << QString();
            Row(onShare, "several buffers, by reads and writes")
                << Action::Move << "way 2" << QString();
            Row(onShare, "target disk full") << Action::Move << "full" << sys("copy", ENOSPC);
            // The copy is already published when the source refuses to go: it must be taken back.
            Row(onShare, "source cannot be removed")
                << Action::Move << "locked" << sys("remove source", EPERM);
            Row(onShare, "source still being written") << Action::Move << "grows" << changed;
            Row(onShare, "source rewritten in place") << Action::Move << "rewritten" << changed;
        }
        // Another client takes the name as the share refuses the link, or while it holds our
        // placeholder right before the check.
        Row(true, "name taken by another client as the link fails")
            << Action::Move << "taken" << exists;
        Row(true, "placeholder replaced by another client") << Action::Move << "replaced" << exists;
        Row(true, "placeholder written to by another client")
            << Action::Move << "written" << exists;
    }
    void move()
    {
        QFETCH(bool, onShare);
        QFETCH(files::Action, action);
        QFETCH(QString, fault);
        QFETCH(QString, reason);
        if (onShare && share.refused)
            SKIP_ROW(share.kRefused);
        // Fresh for every row. The target lies on the far one, /dev/shm or the share; the source
        // on the local disk, or beside the target where the move stays on one file system.
        QTemporaryDir local, far(onShare ? share.Template(true) : "/dev/shm/tst_safemove-XXXXXX");
        QVERIFY(local.isValid() && (far.isValid() || !onShare));
        if (!far.isValid() || QStorageInfo(local.path()) == QStorageInfo(far.path()))
            SKIP_ROW("/dev/shm is missing or on the temp folder's file system");
        const bool contested = fault == "taken" || fault == "replaced" || fault == "written";
        const bool oneFs = fault.contains("same file system") || contested;
        const QString destDir = far.path() + "/to";
        QVERIFY(QDir().mkpath(destDir));
        QStringList undo{"true"}; // run on every way out, including failed checks
        const auto guard = qScopeGuard([&] { QProcess::execute(undo.takeFirst(), undo); });
        if (fault == "full") {
            const QString behind = share.Behind(destDir); // the share passes the full disk on
            if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", behind}))
                SKIP_ROW("cannot mount a small tmpfs (the message is in the log)");
            undo = QStringList{"umount", behind};
        }
        // Locally, where chattr works, unless it moves on the target's file system.
        const QString source = (oneFs ? far.path() : local.path()) + "/source";
        const bool ways = fault.isEmpty() || fault.startsWith("way ");
        files::SetFirstCopyWay(files::CopyWay(fault.mid(4).toInt()));
        const QString name = ways        ? "x" + QString(127, QChar(0xE9))
                             : contested ? fault + ".mp4" // calls the other client
                                         : "clip.mp4";
        const QString dest = destDir + "/" + name;
        // Several copy buffers and more than the full disk takes; a period that divides no buffer
        // size, so that a misplaced or repeated chunk shows.
        const int size = ways || fault == "full" ? (3 << 20) + 123 : 50;
        QVERIFY(WriteFile(source, QByteArray("0123456").repeated(size / 7 + 1).left(size)));
        QCOMPARE(::chmod(QFile::encodeName(source).constData(), 0640), 0);
        const timespec times[2] = {{1000000000, 111111111}, {1234567890, 987654321}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(source).constData(), times, 0), 0);
        QByteArray before = Snapshot(source), destBefore = "absent";
        if (fault == "locked") {
            if (QProcess::execute("chattr", {"+i", source}) != 0)
                SKIP_ROW("chattr +i is refused here (the message is in the log)");
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
            last = {done, total};
            if (done == 0 && fault.endsWith("during copy"))
                make();
            if (done == 0 && (fault == "grows" || fault == "rewritten")) {
                // Changed as the copy starts; what the writer made must be kept.
                QFile file(source);
                QVERIFY(file.open(fault == "grows" ? QIODevice::Append : QIODevice::ReadWrite) &&
                        file.write("new") == 3 && file.flush());
                before = Snapshot(source);
            }
        };

        QString error = "stale";
        const bool moved = action == files::Action::Move
                               ? files::MoveFile(source, dest, &error, progress)
                               : files::PlaceFile(action, source, destDir, name, nullptr, &error);
        const QByteArray after = Snapshot(dest);
        if (contested) { // their file stays, empty where it replaced our placeholder
            QVERIFY2(after.endsWith(fault == "replaced" ? " " : " theirs"), after.constData());
            destBefore = after;
        }
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

SKIP_AWARE_MAIN(QCoreApplication, TestSafeMove)
#include "tst_safemove.moc"
