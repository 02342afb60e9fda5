#include "safemove.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray Path(const QString &path)
{
    return QFile::encodeName(path);
}

QByteArray Pattern(qint64 size)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(42);
    for (char &c : data)
        c = static_cast<char>(generator.bounded(256));
    return data;
}

bool WriteFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QString Sha(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QStringLiteral("unreadable");
    return QString::fromLatin1(hash.result().toHex());
}

QStringList Entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                               QDir::NoDotAndDotDot);
}

// Type, identity and content of whatever is at path, to prove it was left alone.
QString Snapshot(const QString &path)
{
    struct stat st;
    if (::lstat(Path(path).constData(), &st) != 0)
        return QStringLiteral("absent");
    const QString inode = QString::number(st.st_ino) + QLatin1Char(' ');
    if (S_ISREG(st.st_mode))
        return inode + QStringLiteral("file ") + Sha(path);
    if (S_ISDIR(st.st_mode))
        return inode + QStringLiteral("folder ") + Entries(path).join(QLatin1Char(','));
    if (S_ISLNK(st.st_mode))
        return inode + QStringLiteral("link ") + QFile::symLinkTarget(path);
    return inode + QStringLiteral("other ") + QString::number(st.st_mode, 8);
}

bool Make(const QString &kind, const QString &path, const QString &scratch)
{
    const QByteArray p = Path(path);
    if (kind == QLatin1String("file"))
        return WriteFile(path, "somebody else's file");
    if (kind == QLatin1String("folder"))
        return QDir().mkdir(path) && WriteFile(path + QStringLiteral("/inner"), "x");
    if (kind == QLatin1String("symlink"))
        return WriteFile(scratch, "pointed at") && QFile::link(scratch, path);
    if (kind == QLatin1String("dangling symlink"))
        return ::symlink("/nonexistent/target", p.constData()) == 0;
    if (kind == QLatin1String("fifo"))
        return ::mkfifo(p.constData(), 0644) == 0;
    return false;
}

int Run(QStringList command, QString *output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command.takeFirst(), command);
    if (!process.waitForFinished(30000))
        return -1;
    if (output)
        *output = QString::fromLocal8Bit(process.readAll()).trimmed();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// Runs its command on every way out of a test, including failed checks.
struct Undo
{
    QStringList command;
    ~Undo()
    {
        if (!command.isEmpty())
            Run(command);
    }
};

dev_t Device(const QString &path)
{
    struct stat st;
    return ::stat(Path(path).constData(), &st) == 0 ? st.st_dev : 0;
}

} // namespace

class TestSafeMove : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir local_;
    QTemporaryDir shm_{QStringLiteral("/dev/shm/tst_safemove-XXXXXX")};
    // A fresh folder per test inside each temporary dir, so failed tests leave no crosstalk.
    QString localDir_;
    QString shmDir_;
    int counter_ = 0;

    const char *oneFileSystem() const
    {
        if (!shm_.isValid())
            return "/dev/shm is not available";
        if (Device(local_.path()) == Device(shm_.path()))
            return "the temp folder and /dev/shm are on the same file system";
        return nullptr;
    }

private slots:
    void init()
    {
        QVERIFY(local_.isValid());
        const QString name = QStringLiteral("t%1").arg(++counter_);
        localDir_ = local_.filePath(name);
        shmDir_ = shm_.filePath(name);
        QVERIFY(QDir().mkdir(localDir_));
        QVERIFY(!shm_.isValid() || QDir().mkdir(shmDir_));
    }

    void withinFileSystem_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("symlink");
        QTest::newRow("plain file") << QStringLiteral("b.jpg") << QByteArray("pixels") << false;
        QTest::newRow("into subfolder, non-ASCII name")
            << QStringLiteral("sub/Été – 1.jpg") << Pattern(70000) << false;
        QTest::newRow("empty file") << QStringLiteral("empty") << QByteArray() << false;
        QTest::newRow("symlink moves as a link") << QStringLiteral("link") << QByteArray() << true;
    }
    void withinFileSystem()
    {
        QFETCH(QString, target);
        QFETCH(QByteArray, content);
        QFETCH(bool, symlink);
        QVERIFY(QDir(localDir_).mkdir(QStringLiteral("sub")));
        const QString source = localDir_ + QStringLiteral("/a");
        const QString dest = localDir_ + QLatin1Char('/') + target;
        QVERIFY(symlink ? QFile::link(QStringLiteral("../elsewhere"), source)
                        : WriteFile(source, content));
        const QString before = Snapshot(source); // the inode is kept: a rename, not a copy

        QString error = QStringLiteral("stale");
        QVERIFY2(files::MoveFile(source, dest, &error), qPrintable(error));
        QCOMPARE(error, QString());
        QCOMPARE(Snapshot(dest), before);
        QCOMPARE(Snapshot(source), QStringLiteral("absent"));
    }

    void existingTarget_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("how"); // 0 same fs, 1 across, 2 appears during the copy
        const char *kinds[] = {"file", "folder", "symlink", "dangling symlink", "fifo"};
        const char *hows[] = {"same file system", "across file systems", "appears during copy"};
        for (int how = 0; how < 3; ++how)
            for (const char *kind : kinds)
                QTest::addRow("%s, %s", kind, hows[how]) << QString::fromLatin1(kind) << how;
    }
    void existingTarget()
    {
        QFETCH(QString, kind);
        QFETCH(int, how);
        if (const char *why = how > 0 ? oneFileSystem() : nullptr)
            QSKIP(why);
        const QString source = (how > 0 ? shmDir_ : localDir_) + QStringLiteral("/src.mov");
        const QString dest = localDir_ + QStringLiteral("/dest.mov");
        const QString scratch = local_.filePath(QStringLiteral("scratch-%1").arg(counter_));
        QVERIFY(WriteFile(source, Pattern(3 << 20)));
        const QString sourceBefore = Snapshot(source);
        QString destBefore;
        bool made = false;
        files::CopyProgress progress;
        if (how == 2) {
            progress = [&](qint64, qint64) {
                if (!made) {
                    made = Make(kind, dest, scratch);
                    destBefore = Snapshot(dest);
                }
            };
        } else {
            QVERIFY(made = Make(kind, dest, scratch));
            destBefore = Snapshot(dest);
        }

        QString error;
        QVERIFY(!files::MoveFile(source, dest, &error, progress));
        QVERIFY(made);
        QCOMPARE(error, QStringLiteral("target exists"));
        QCOMPARE(Snapshot(dest), destBefore);
        QCOMPARE(Snapshot(source), sourceBefore);
        QStringList expected{QStringLiteral("dest.mov")}; // and no temporary file
        if (how == 0)
            expected << QStringLiteral("src.mov");
        QCOMPARE(Entries(localDir_), expected);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("source"); // what the source is, if anything
        QTest::addColumn<QString>("folder"); // what the target's folder is, if anything
        QTest::addColumn<bool>("across");
        QTest::addColumn<QString>("reason");
        const char *notRegular = "source is not a regular file";
        const char *noFolder = "target folder does not exist";
        QTest::newRow("source missing") << ""
                                        << "folder" << false << "source does not exist";
        QTest::newRow("source is a folder") << "folder"
                                            << "folder" << false << notRegular;
        QTest::newRow("source is a fifo") << "fifo"
                                          << "folder" << false << notRegular;
        QTest::newRow("symlink source, across") << "symlink"
                                                << "folder" << true << notRegular;
        QTest::newRow("target folder missing") << "file"
                                               << "" << false << noFolder;
        QTest::newRow("target folder missing, across") << "file"
                                                       << "" << true << noFolder;
        QTest::newRow("target folder is a file")
            << "file"
            << "file" << false
            << QStringLiteral("rename: ") + QString::fromLocal8Bit(std::strerror(ENOTDIR));
    }
    void refused()
    {
        QFETCH(QString, source);
        QFETCH(QString, folder);
        QFETCH(bool, across);
        QFETCH(QString, reason);
        if (const char *why = across ? oneFileSystem() : nullptr)
            QSKIP(why);
        const QString from = localDir_ + QStringLiteral("/src");
        const QString to = (across ? shmDir_ : localDir_) + QStringLiteral("/to");
        const QString dest = to + QStringLiteral("/dest");
        const QString scratch = localDir_ + QStringLiteral("/scratch");
        QVERIFY(source.isEmpty() || Make(source, from, scratch));
        QVERIFY(folder.isEmpty() || Make(folder, to, scratch));
        const QString sourceBefore = Snapshot(from);
        const QString folderBefore = Snapshot(to);

        QString error;
        QVERIFY(!files::MoveFile(from, dest, &error));
        QCOMPARE(error, reason);
        QCOMPARE(Snapshot(from), sourceBefore);
        QCOMPARE(Snapshot(to), folderBefore);
    }

    void locked_data()
    {
        QTest::addColumn<QString>("locked");
        QTest::addColumn<bool>("across");
        QTest::addColumn<QString>("failedStep");
        QTest::addColumn<bool>("copied");
        QTest::newRow("target folder, same fs") << "target folder" << false << "rename" << false;
        QTest::newRow("target folder, across fs")
            << "target folder" << true << "create copy" << false;
        QTest::newRow("source folder, same fs") << "source folder" << false << "rename" << false;
        QTest::newRow("source folder, across fs")
            << "source folder" << true << "remove source" << false;
        QTest::newRow("source file, same fs") << "source file" << false << "rename" << false;
        // The copy is already published when the source refuses to go: it must be taken back.
        QTest::newRow("source file, across fs, copy taken back")
            << "source file" << true << "remove source" << true;
    }
    void locked()
    {
        QFETCH(QString, locked);
        QFETCH(bool, across);
        QFETCH(QString, failedStep);
        QFETCH(bool, copied);
        if (const char *why = across ? oneFileSystem() : nullptr)
            QSKIP(why);
        // chattr works on the temp folder's file system; the other side may be /dev/shm.
        const QString lockedDir = localDir_ + QStringLiteral("/locked");
        const QString otherDir = (across ? shmDir_ : localDir_) + QStringLiteral("/other");
        QVERIFY(QDir().mkdir(lockedDir) && QDir().mkdir(otherDir));
        const bool targetLocked = locked == QLatin1String("target folder");
        const QString source = (targetLocked ? otherDir : lockedDir) + QStringLiteral("/src.mkv");
        const QString dest = (targetLocked ? lockedDir : otherDir) + QStringLiteral("/dest.mkv");
        const QString lockPath = locked == QLatin1String("source file") ? source : lockedDir;
        QVERIFY(WriteFile(source, Pattern(200000)));
        const QString sourceBefore = Snapshot(source);
        const QString chattr = QStringLiteral("chattr");
        Undo unlock;
        QString output;
        if (Run({chattr, QStringLiteral("+i"), lockPath}, &output) != 0)
            QSKIP(qPrintable(QStringLiteral("chattr +i is refused here: ") + output));
        unlock.command = QStringList{chattr, QStringLiteral("-i"), lockPath};

        QString error;
        bool progressed = false;
        const auto progress = [&](qint64, qint64) { progressed = true; };
        QVERIFY(!files::MoveFile(source, dest, &error, progress));
        QCOMPARE(error,
                 failedStep + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(EPERM)));
        QCOMPARE(progressed, copied);
        QCOMPARE(Snapshot(source), sourceBefore);
        QCOMPARE(Entries(targetLocked ? lockedDir : otherDir), QStringList());
    }

    void acrossFileSystems_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("size");
        QTest::newRow("several buffers") << QStringLiteral("clip.mp4") << qint64((3 << 20) + 123);
        QTest::newRow("empty") << QStringLiteral("empty.bin") << qint64(0);
        // The temporary name must still fit the 255-byte limit.
        QTest::newRow("longest name")
            << QStringLiteral("x") + QString(127, QChar(0xE9)) << qint64(5000);
    }
    void acrossFileSystems()
    {
        QFETCH(QString, name);
        QFETCH(qint64, size);
        if (const char *why = oneFileSystem())
            QSKIP(why);
        const QString source = shmDir_ + QStringLiteral("/source");
        const QString dest = localDir_ + QLatin1Char('/') + name;
        QVERIFY(WriteFile(source, Pattern(size)));
        const QString hash = Sha(source);
        QCOMPARE(::chmod(Path(source).constData(), 0640), 0);
        const bool root = ::geteuid() == 0;
        if (root)
            QCOMPARE(::chown(Path(source).constData(), 4321, 8765), 0);
        const timespec times[2] = {{1000000000, 111111111}, {1234567890, 987654321}};
        QCOMPARE(::utimensat(AT_FDCWD, Path(source).constData(), times, 0), 0);

        QList<QPair<qint64, qint64>> calls;
        QString error;
        QVERIFY2(files::MoveFile(source, dest, &error,
                                 [&](qint64 done, qint64 total) {
                                     calls.append({done, total});
                                 }),
                 qPrintable(error));
        QCOMPARE(error, QString());
        struct stat st; // before anything reads the copy and touches its access time
        QCOMPARE(::lstat(Path(dest).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0640u);
        QCOMPARE(st.st_mtim.tv_sec, times[1].tv_sec);
        QCOMPARE(st.st_mtim.tv_nsec, times[1].tv_nsec);
        QCOMPARE(st.st_atim.tv_sec, times[0].tv_sec);
        QCOMPARE(st.st_atim.tv_nsec, times[0].tv_nsec);
        if (root) {
            QCOMPARE(st.st_uid, uid_t(4321));
            QCOMPARE(st.st_gid, gid_t(8765));
        }
        QCOMPARE(Sha(dest), hash);
        QCOMPARE(Snapshot(source), QStringLiteral("absent"));
        QCOMPARE(Entries(localDir_), QStringList{name});
        QVERIFY(!calls.isEmpty());
        QCOMPARE(calls.last(), qMakePair(size, size));
        for (int i = 1; i < calls.size(); ++i)
            QVERIFY(calls[i].first >= calls[i - 1].first && calls[i].second == size);
    }

    void sourceChangedDuringCopy_data()
    {
        QTest::addColumn<bool>("grows");
        QTest::newRow("still being written") << true;
        QTest::newRow("rewritten in place") << false;
    }
    void sourceChangedDuringCopy()
    {
        QFETCH(bool, grows);
        if (const char *why = oneFileSystem())
            QSKIP(why);
        const QString source = shmDir_ + QStringLiteral("/recording.ts");
        const QString dest = localDir_ + QStringLiteral("/recording.ts");
        QVERIFY(WriteFile(source, Pattern(3 << 20)));
        const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, Path(source).constData(), old, 0), 0);
        bool changed = false;
        const auto change = [&](qint64, qint64) {
            QFile file(source);
            if (!changed && file.open(grows ? QIODevice::Append : QIODevice::ReadWrite))
                changed = file.write("new") == 3;
        };

        QString error;
        QVERIFY(!files::MoveFile(source, dest, &error, change));
        QVERIFY(changed);
        QCOMPARE(error, QStringLiteral("source changed during copy"));
        QCOMPARE(Entries(localDir_), QStringList());
        QCOMPARE(QFileInfo(source).size(), (3 << 20) + (grows ? 3 : 0));
    }

    void ontoFullFileSystem()
    {
        const QString full = localDir_ + QStringLiteral("/full");
        QVERIFY(QDir().mkdir(full));
        Undo unmount;
        QString output;
        if (Run(QStringLiteral("mount -t tmpfs -o size=1m tmpfs").split(QLatin1Char(' ')) << full,
                &output) != 0)
            QSKIP(qPrintable(QStringLiteral("cannot mount a small tmpfs: ") + output));
        unmount.command = QStringList{QStringLiteral("umount"), full};
        const QString source = localDir_ + QStringLiteral("/big.mov");
        QVERIFY(WriteFile(source, Pattern(3 << 20)));
        const QString sourceBefore = Snapshot(source);

        QString error;
        QVERIFY(!files::MoveFile(source, full + QStringLiteral("/big.mov"), &error));
        QCOMPARE(error, QStringLiteral("copy: ") + QString::fromLocal8Bit(std::strerror(ENOSPC)));
        QCOMPARE(Entries(full), QStringList());
        QCOMPARE(Snapshot(source), sourceBefore);
    }
};

QTEST_GUILESS_MAIN(TestSafeMove)
#include "tst_safemove.moc"
