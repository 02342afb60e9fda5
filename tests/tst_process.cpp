#include "windowdriver.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>

// "Process" driven through the real window, on real files: what moves where, which rows stay,
// which warnings are written and what becomes of the button.
namespace {

using Snapshot = QMap<QString, QByteArray>; // path -> hash of the content

QByteArray Sha(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : "unreadable";
}

// Every file under folder, hidden ones (left-over temporary copies) included.
Snapshot Files(const QString &folder)
{
    Snapshot files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path, Sha(path));
    }
    return files;
}

// What the folder should hold once each source has gone to its target.
Snapshot Moved(Snapshot files, const QList<QPair<QString, QString>> &moves)
{
    for (const auto &[source, target] : moves)
        files.insert(target, files.take(source));
    return files;
}

QByteArray Warning(const QString &source, const QString &target)
{
    return "not possible to rename file '" + source.toLocal8Bit() + "' to '" +
           target.toLocal8Bit() + "'";
}

// Runs a command, its output going to the test's log; the exit code, or -1 if it did not run.
int Run(const QStringList &command)
{
    return QProcess::execute(command.first(), command.mid(1));
}

// Runs its command on every way out of a test, failed checks included.
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
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_dev : 0;
}

// Types text into a row's target cell through the cell editor, as a person does.
bool EditTarget(QTreeWidget *tree, int row, const QString &text)
{
    tree->setCurrentIndex(tree->model()->index(row, 2));
    QTest::keyClick(tree, Qt::Key_F2);
    QLineEdit *editor = nullptr;
    for (QLineEdit *edit : tree->viewport()->findChildren<QLineEdit *>())
        editor = edit->isVisible() ? edit : editor; // closed editors linger until deleted
    if (!editor)
        return false;
    editor->selectAll();
    QTest::keyClick(editor, Qt::Key_Delete);
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, Qt::Key_Return);
    return QTest::qWaitFor([&] { return tree->topLevelItem(row)->text(2) == text; });
}

// Clicks "Process" and tells whether the walk let pending events run before it returned.
bool Process(WindowDriver &window)
{
    bool returned = false;
    bool ranInside = false;
    QTimer::singleShot(0, &window.gui, [&] { ranInside = !returned; });
    QTest::mouseClick(window.process, Qt::LeftButton);
    returned = true;
    QCoreApplication::processEvents();
    return ranInside;
}

} // namespace

class tst_Process : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void faults_data();
    void faults();
    void nestedClick();
    void acrossFileSystems_data();
    void acrossFileSystems();
    void randomised_data();
    void randomised();

private:
    QTemporaryDir temp;
    QString dir;  // a fresh folder per test
    QString root; // dir/root, the folder the scan opens
    int counter = 0;

    // One release folder per name under the root, each holding one file of its own content.
    QStringList MakeReleases(const QStringList &folders, qint64 size = 0) const
    {
        QStringList sources;
        for (int i = 0; i < folders.size(); ++i) {
            sources << root + '/' + folders[i] + '/' + folders[i] + ".mkv";
            if (!WriteFile(sources.last(), size ? size : 1000 + 7 * i, char('a' + i)))
                return {};
        }
        QDir().mkpath(root + "/Empty"); // so that even no release yields a scan
        return sources;
    }

    // Opens the root through the dialog: every release folder in it becomes a ticked row.
    QString Scan(WindowDriver &window) const
    {
        QString error;
        window.OpenFolders({dir, {QStringLiteral("root")}, true}, &error);
        return error;
    }
};

void tst_Process::init()
{
    QVERIFY(temp.isValid());
    dir = temp.filePath(QString::number(++counter));
    root = dir + "/root";
    QVERIFY(QDir().mkpath(root));
    // Only the warnings a test announces may appear.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("not possible to rename")));
}

void tst_Process::faults_data()
{
    QTest::addColumn<QStringList>("targets"); // typed into column 2 of rows A, B, ...
    QTest::addColumn<QString>("fault");       // what changes after the scan
    // Per row: "=> path" moved there, "!! path" warned with that target, "" kept silently,
    // "-" unticked. {root} is the root, {dir} the folder that holds it.
    QTest::addColumn<QStringList>("outcome");
    QTest::addColumn<bool>("enabled"); // "Process" afterwards
    QTest::addColumn<bool>("pumped");  // events ran during the walk

    const QStringList name{"name.mkv"}, kept{""};
    QTest::newRow("target exists: left alone, row stays")
        << QStringList{"taken.mkv"} << "taken" << QStringList{"!! {root}/taken.mkv"} << false
        << true;
    QTest::newRow("two rows, one target: the first moves")
        << QStringList{"same.mkv", "same.mkv"} << ""
        << QStringList{"=> {root}/same.mkv", "!! {root}/same.mkv"} << false << true;
    QTest::newRow("target folder missing")
        << QStringList{"sub/name.mkv"} << "" << QStringList{"!! {root}/sub/name.mkv"} << false
        << true;
    QTest::newRow("target folder under the root exists")
        << QStringList{"sub/name.mkv"} << "mkdir sub" << QStringList{"=> {root}/sub/name.mkv"}
        << false << true;
    QTest::newRow("root refuses changes")
        << name << "immutable root" << QStringList{"!! {root}/name.mkv"} << false << true;
    QTest::newRow("source vanished: silent, no events")
        << name << "vanish A" << kept << false << false;
    QTest::newRow("source vanished: the next row still moves")
        << QStringList{"a.mkv", "b.mkv"} << "vanish A" << QStringList{"", "=> {root}/b.mkv"}
        << false << true;
    QTest::newRow("root deleted: nothing at all")
        << name << "root deleted" << kept << true << false;
    QTest::newRow("empty target names the root itself")
        << QStringList{""} << "" << QStringList{"!! {root}"} << false << true;
    QTest::newRow("absolute target used as is")
        << QStringList{"{dir}/elsewhere.mkv"} << "" << QStringList{"=> {dir}/elsewhere.mkv"}
        << false << true;
    QTest::newRow("relative target leaving the root")
        << QStringList{"../up.mkv"} << "" << QStringList{"=> {dir}/up.mkv"} << false << true;
    QTest::newRow("three successes empty the table")
        << QStringList{"1.mkv", "2.mkv", "3.mkv"} << ""
        << QStringList{"=> {root}/1.mkv", "=> {root}/2.mkv", "=> {root}/3.mkv"} << false << true;
    QTest::newRow("unticked rows between ticked ones stay")
        << QStringList{"1.mkv", "2.mkv", "3.mkv", "4.mkv", "5.mkv"} << ""
        << QStringList{"=> {root}/1.mkv", "-", "-", "=> {root}/4.mkv", "=> {root}/5.mkv"} << false
        << true;
    QTest::newRow("empty table: disabled at once")
        << QStringList() << "" << QStringList() << false << false;
}

void tst_Process::faults()
{
    QFETCH(QStringList, targets);
    QFETCH(QString, fault);
    QFETCH(QStringList, outcome);
    QFETCH(bool, enabled);
    QFETCH(bool, pumped);
    const auto fill = [&](QString text) {
        return text.replace("{root}", root).replace("{dir}", dir);
    };

    const QStringList folders = QStringList{"A", "B", "C", "D", "E"}.mid(0, targets.size());
    const QStringList sources = MakeReleases(folders);
    WindowDriver window;
    window.filename->setText("kept"); // no suggestion: column 2 stays empty until typed
    const QString error = Scan(window);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(window.Column(0), folders);
    QVERIFY(window.process->isEnabled());
    for (int row = 0; row < targets.size(); ++row) {
        QVERIFY(targets[row].isEmpty() || EditTarget(window.tree, row, fill(targets[row])));
        if (outcome[row] == "-")
            window.tree->topLevelItem(row)->setCheckState(0, Qt::Unchecked);
    }

    Undo unlock;
    if (fault == "taken") {
        QVERIFY(WriteFile(root + "/taken.mkv", 10, 'z'));
    } else if (fault == "mkdir sub") {
        QVERIFY(QDir(root).mkdir("sub"));
    } else if (fault == "vanish A") {
        QVERIFY(QFile::remove(sources[0]));
    } else if (fault == "root deleted") {
        // The root moved on (a cancelled dialog or the command line does that) and went away.
        QVERIFY(QDir(dir).mkdir("gone"));
        window.gui.SetRootPath(dir + "/gone/");
        QVERIFY(QDir(dir).rmdir("gone"));
    } else if (fault == "immutable root") {
        if (Run({"chattr", "+i", root}) != 0)
            QSKIP("chattr +i is refused here (its message is in the log)");
        unlock.command = QStringList{"chattr", "-i", root};
    }

    const Snapshot before = Files(dir);
    QList<QPair<QString, QString>> moves;
    QStringList left;
    for (int row = 0; row < targets.size(); ++row) {
        const QString target = fill(outcome[row].mid(3));
        if (outcome[row].startsWith("=> "))
            moves.append({sources[row], target});
        else
            left << folders[row];
        if (outcome[row].startsWith("!! "))
            QTest::ignoreMessage(QtWarningMsg, Warning(sources[row], target).data());
    }
    QCOMPARE(Process(window), pumped);

    QCOMPARE(Files(dir), Moved(before, moves)); // nothing else changed, nothing left over
    QCOMPARE(window.Column(0), left);
    for (int row = 0; row < left.size(); ++row)
        QCOMPARE(window.tree->topLevelItem(row)->checkState(0) == Qt::Checked,
                 outcome[folders.indexOf(left[row])] != "-");
    QCOMPARE(window.process->isEnabled(), enabled);
}

void tst_Process::nestedClick()
{
    const QStringList folders{"Show.S01E01", "Show.S01E02", "Show.S01E03"};
    const QStringList sources = MakeReleases(folders);
    WindowDriver window; // the suggestion fills both patterns: targets 1.mkv, 2.mkv, 3.mkv
    const QString error = Scan(window);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(window.Column(2), QStringList({"1.mkv", "2.mkv", "3.mkv"}));

    // A second click arrives while the first walk lets events run after its first move.
    int rowsAtClick = -1;
    int rowsAfterIt = -1;
    QTimer::singleShot(0, &window.gui, [&] {
        rowsAtClick = window.tree->topLevelItemCount();
        QTest::mouseClick(window.process, Qt::LeftButton);
        rowsAfterIt = window.tree->topLevelItemCount();
    });
    const Snapshot before = Files(dir);
    QTest::mouseClick(window.process, Qt::LeftButton);

    QCOMPARE(rowsAtClick, 2);
    QCOMPARE(rowsAfterIt, 0); // the nested walk did the rest
    QCOMPARE(Files(dir), Moved(before, {{sources[0], root + "/1.mkv"},
                                        {sources[1], root + "/2.mkv"},
                                        {sources[2], root + "/3.mkv"}}));
    QCOMPARE(window.tree->topLevelItemCount(), 0);
    QVERIFY(!window.process->isEnabled());
}

void tst_Process::acrossFileSystems_data()
{
    QTest::addColumn<bool>("full"); // the root is a 1 MB tmpfs, or a folder in /dev/shm
    QTest::addColumn<qint64>("size");
    QTest::newRow("onto /dev/shm: content, mode and time kept") << false << qint64(300000);
    QTest::newRow("onto a full tmpfs: nothing left behind") << true << qint64(3 << 20);
}

void tst_Process::acrossFileSystems()
{
    QFETCH(bool, full);
    QFETCH(qint64, size);

    const QString source = MakeReleases({"A"}, size).value(0);
    const QByteArray path = QFile::encodeName(source);
    const timespec times[2] = {{1500000000, 1}, {1234567890, 987654321}};
    QVERIFY(::chmod(path.constData(), 0640) == 0);
    QVERIFY(::utimensat(AT_FDCWD, path.constData(), times, 0) == 0);
    const QByteArray hash = Sha(source);
    WindowDriver window;
    window.filename->setText("kept");
    const QString error = Scan(window);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(EditTarget(window.tree, 0, "moved.bin"));

    QTemporaryDir shm(QStringLiteral("/dev/shm/tst_process-XXXXXX"));
    QString target = shm.path();
    Undo unmount;
    if (full) {
        target = dir + "/full";
        QVERIFY(QDir().mkdir(target));
        if (Run({"mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", target}) != 0)
            QSKIP("cannot mount a small tmpfs here (the message is in the log)");
        unmount.command = QStringList{"umount", target};
    } else if (!shm.isValid()) {
        QSKIP("/dev/shm is not available");
    }
    if (Device(target) == Device(source))
        QSKIP("the root and the sources are on the same file system");
    const QString newRoot = target;
    window.gui.SetRootPath(newRoot); // as the command line or a cancelled dialog would
    target += "/moved.bin";

    if (full)
        QTest::ignoreMessage(QtWarningMsg, Warning(source, target).data());
    Process(window);

    QCOMPARE(window.tree->topLevelItemCount(), full ? 1 : 0);
    const Snapshot atTarget{{target, hash}};
    const Snapshot atSource{{source, hash}};
    QCOMPARE(Files(newRoot), full ? Snapshot() : atTarget);
    QCOMPARE(Files(root), full ? atSource : Snapshot());
    struct stat st;
    QVERIFY(::stat(QFile::encodeName(full ? source : target).constData(), &st) == 0);
    QCOMPARE(st.st_mode & 07777, 0640u);
    QCOMPARE(st.st_mtim.tv_sec, times[1].tv_sec);
    QCOMPARE(st.st_mtim.tv_nsec, times[1].tv_nsec);
}

void tst_Process::randomised_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::newRow("seed 7") << 7u;
    QTest::newRow("seed 20240611") << 20240611u;
}

void tst_Process::randomised()
{
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);
    const auto pick = [&](const QStringList &from) { return from[random.bounded(from.size())]; };

    // Group and episode fields, few enough of them that names collide.
    QMap<QString, QString> sources; // folder -> its file
    for (int i = 0; i < 60; ++i) {
        const QString folder = QStringLiteral("G%1.E%2.r%3")
                                   .arg(random.bounded(3))
                                   .arg(random.bounded(1, 9), 2, 10, QLatin1Char('0'))
                                   .arg(i);
        sources[folder] =
            root + '/' + folder + "/f" + QString::number(i) + '.' + pick({"mkv", "avi", "mp4"});
        QByteArray content(random.bounded(1, 5000), Qt::Uninitialized);
        for (char &byte : content)
            byte = static_cast<char>(random.bounded(256));
        QFile file(sources[folder]);
        QVERIFY(QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly) &&
                file.write(content) == content.size());
    }
    WindowDriver window;
    const QString error = Scan(window);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(window.tree->topLevelItemCount(), 60);
    window.filename->selectAll();
    QTest::keyClicks(window.filename, pick({"G%1.E%2.", "%1.E%2.r", "G%1.E%2"}));
    window.output->selectAll();
    QTest::keyClicks(window.output, pick({"%1", "%2", "S%1E%2", "E%2 G%1", "x%9"}));

    // Some rows unticked, some targets taken before the walk, then what the walk should do.
    for (int row = 0; row < 60; ++row) {
        QTreeWidgetItem *item = window.tree->topLevelItem(row);
        if (random.bounded(7) == 0)
            item->setCheckState(0, Qt::Unchecked);
        const QString target = root + '/' + item->text(2);
        if (random.bounded(10) == 0 && !QFile::exists(target))
            QVERIFY(WriteFile(target, row + 1, 'p'));
    }
    const Snapshot before = Files(dir);
    QSet<QString> claimed; // targets the walk will have filled by the time it reaches a row
    QList<QPair<QString, QString>> moves;
    QStringList left;
    int failures = 0;
    for (int row = 0; row < 60; ++row) {
        const QTreeWidgetItem *item = window.tree->topLevelItem(row);
        const QString source = sources[item->text(0)];
        const QString target = root + '/' + item->text(2);
        if (item->checkState(0) != Qt::Checked) {
            left << item->text(0);
        } else if (QFileInfo::exists(target) || claimed.contains(target)) {
            left << item->text(0);
            ++failures;
            QTest::ignoreMessage(QtWarningMsg, Warning(source, target).data());
        } else {
            claimed.insert(target);
            moves.append({source, target});
        }
    }
    qInfo("seed %u: %d to move, %d to refuse, %d unticked", seed, int(moves.size()), failures,
          int(left.size()) - failures);
    QVERIFY2(failures > 0 && !moves.isEmpty(), "the patterns must collide and also move");
    Process(window);

    // Each file once, at its source or its target, unchanged; taken targets untouched; no
    // temporary copies.
    QCOMPARE(Files(dir), Moved(before, moves));
    QCOMPARE(window.Column(0), left);
    QVERIFY(!window.process->isEnabled());
}

QTEST_MAIN(tst_Process)
#include "tst_process.moc"
