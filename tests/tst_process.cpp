// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "share.h"
#include "windowdriver.h"

#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>

// "Process" driven through the real window on real files: what moves where, which rows stay,
// which warnings are written and what becomes of the button.
namespace {

// Path -> content hash of every file under folder, hidden ones (left-over temporary copies)
// included; with moves, what it should hold once each source has gone to its target.
QMap<QString, size_t> Files(const QString &folder, const QMap<QString, QString> &moves = {})
{
    QMap<QString, size_t> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        files.insert(file.fileName(), qHash(file.open(QIODevice::ReadOnly) ? file.readAll() : "?"));
    }
    for (const auto &[source, target] : moves.asKeyValueRange())
        files.insert(target, files.take(source));
    return files;
}

} // namespace

class tst_Process : public QObject
{
    Q_OBJECT

    Share share;

private slots:
    void initTestCase() { QVERIFY(share.Mount()); }
    void walk_data();
    void walk();
};

void tst_Process::walk_data()
{
    QTest::addColumn<bool>("onShare");        // the whole folder tree lies on the share
    QTest::addColumn<QStringList>("targets"); // set in column 2 of rows A, B, ...
    QTest::addColumn<QString>("fault");       // what happens after the scan
    // Per row: "=> path" moved there, "!! path" warned with that target, "" kept silently,
    // "-" unticked. Paths are under the folder that holds the root, {dir} is that folder.
    QTest::addColumn<QStringList>("outcome");

    for (const bool onShare : {false, true}) {
        Row(onShare, "target exists: left untouched, row stays")
            << QStringList{"taken.mkv"} << "taken" << QStringList{"!! root/taken.mkv"};
        Row(onShare, "two rows, one target: the first moves")
            << QStringList{"same.mkv", "same.mkv"} << ""
            << QStringList{"=> root/same.mkv", "!! root/same.mkv"};
        Row(onShare, "target folder missing")
            << QStringList{"sub/name.mkv"} << "" << QStringList{"!! root/sub/name.mkv"};
        Row(onShare, "root deleted: nothing happens, Process stays enabled")
            << QStringList{"name.mkv"} << "root deleted" << QStringList{""};
        Row(onShare, "source vanished: silent, row stays, the next row moves")
            << QStringList{"a.mkv", "b.mkv"} << "vanish A" << QStringList{"", "=> root/b.mkv"};
        Row(onShare, "empty target names the root itself")
            << QStringList{""} << "" << QStringList{"!! root"};
        Row(onShare, "absolute target used as is")
            << QStringList{"{dir}/elsewhere.mkv"} << "" << QStringList{"=> elsewhere.mkv"};
        Row(onShare, "three successes empty the table")
            << QStringList{"1.mkv", "2.mkv", "3.mkv"} << ""
            << QStringList{"=> root/1.mkv", "=> root/2.mkv", "=> root/3.mkv"};
        Row(onShare, "a second click during the walk does the rest")
            << QStringList{"1.mkv", "2.mkv", "3.mkv"} << "click again"
            << QStringList{"=> root/1.mkv", "=> root/2.mkv", "=> root/3.mkv"};
        // The rows not yet moved take the new names, their typed ones given way.
        Row(onShare, "a keystroke during the walk renames the rows still to come")
            << QStringList{"1.mkv", "2.mkv", "3.mkv"} << "keystroke"
            << QStringList{"=> root/1.mkv", "=> root/E Gx.mkv", "!! root/E Gx.mkv"};
        Row(onShare, "unticked rows between ticked ones stay")
            << QStringList{"1.mkv", "2.mkv", "3.mkv", "4.mkv", "5.mkv"} << ""
            << QStringList{"=> root/1.mkv", "-", "-", "=> root/4.mkv", "=> root/5.mkv"};
        // Copied across, the file does not fit: no partial file may stay behind.
        Row(onShare, "onto a full 1 MB tmpfs: source kept, nothing left there")
            << QStringList{"{dir}/full/big.mkv"} << "full" << QStringList{"!! full/big.mkv"};
        // Sixty rows from patterns that collide, some unticked, some targets taken beforehand,
        // some named by hand, most of them out of sight.
        Row(onShare, "random") << QStringList() << "random" << QStringList();
    }
}

void tst_Process::walk()
{
    QFETCH(bool, onShare);
    QFETCH(QStringList, targets);
    QFETCH(QString, fault);
    QFETCH(QStringList, outcome);
    if (onShare && share.refused)
        QSKIP(share.kRefused);
    QTemporaryDir temp(share.Template(onShare));
    const QString dir = temp.path(), root = dir + "/root";
    const auto source = [&](const QString &f) { return root + '/' + f + '/' + f + ".mkv"; };
    // Only the warnings a test announces may appear.
    QTest::failOnWarning(QRegularExpression("not possible to rename"));

    QStringList folders = QStringList{"A", "B", "C", "D", "E"}.mid(0, outcome.size());
    QRandomGenerator random(20240611);
    // Group and episode fields, few enough of them that targets collide.
    for (int i = 0; fault == "random" && i < 60; ++i)
        folders << QString("G%1.E%2.r%3").arg(random.bounded(3)).arg(random.bounded(1, 9)).arg(i);
    folders.sort();
    for (int i = 0; i < folders.size(); ++i)
        QVERIFY(WriteFile(source(folders[i]), fault == "full" ? 3 << 20 : 999 + i, 'a' + i % 26));

    WindowDriver window;
    QString error;
    window.OpenFolders({dir, {"root"}, true}, &error);
    QCOMPARE(window.Column(0), folders);
    window.output->setText("E%2 G%1"); // for the random rows; the others are set by hand
    window.filename->setText("G%1.E%2.");
    for (int row = 0; row < targets.size(); ++row)
        window.tree->topLevelItem(row)->setText(2, targets[row].replace("{dir}", dir));
    QSet<QString> claimed; // taken, or filled by an earlier row by the time the walk gets here
    for (int row = 0; fault == "random" && row < folders.size(); ++row) {
        if (random.bounded(5) == 0)
            window.tree->topLevelItem(row)->setText(2, QString("typed %1.mkv").arg(row % 20));
        const QString target = "root/" + window.tree->topLevelItem(row)->text(2);
        if (random.bounded(10) == 0 && !claimed.contains(target) &&
            WriteFile(dir + '/' + target, row + 1, 'p'))
            claimed << target;
        const bool ticked = random.bounded(7) != 0;
        outcome << (!ticked ? "-" : (claimed.contains(target) ? "!! " : "=> ") + target);
        if (ticked)
            claimed << target;
    }
    QVERIFY(fault != "random" || (outcome.filter("!! ").size() && outcome.filter("=> ").size()));

    const QString full = dir + "/full"; // a 1 MB tmpfs in one row, an empty folder elsewhere
    QVERIFY(QDir().mkdir(full));
    const QString behind = share.Behind(full); // on the share, moves there are no renames
    const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {"-q", behind}); });
    if (fault == "full" &&
        QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", behind}) != 0)
        QSKIP("cannot mount a small tmpfs here (the message is in the log)");
    if (fault == "taken")
        QVERIFY(WriteFile(root + "/taken.mkv", 10, 'z'));
    if (fault == "vanish A")
        QVERIFY(QFile::remove(source("A")));
    if (fault == "root deleted") // as the command line or a cancelled dialog may leave it
        window.gui.SetRootPath(dir + "/gone/");
    if (fault == "keystroke")
        QTimer::singleShot(0, &window.gui, [&] { QTest::keyClick(window.output, Qt::Key_X); });
    QList<int> rows; // at a second click during the walk and right after it
    if (fault == "click again")
        QTimer::singleShot(0, &window.gui, [&] {
            rows << window.tree->topLevelItemCount();
            QTest::mouseClick(window.process, Qt::LeftButton);
            rows << window.tree->topLevelItemCount();
        });

    QMap<QString, QString> moves; // source -> target
    QStringList left;
    for (int row = 0; row < outcome.size(); ++row) {
        const QString from = source(folders[row]), to = dir + '/' + outcome[row].mid(3);
        if (outcome[row] == "-")
            window.tree->topLevelItem(row)->setCheckState(0, Qt::Unchecked);
        if (outcome[row].startsWith("=> "))
            moves.insert(from, to);
        else
            left << folders[row];
        const QString warning = QString("not possible to rename file '%1' to '%2'");
        if (outcome[row].startsWith("!! "))
            QTest::ignoreMessage(QtWarningMsg, qPrintable(warning.arg(from, to)));
    }
    const auto expected = Files(dir, moves);
    QTest::mouseClick(window.process, Qt::LeftButton);

    // Every file exactly once, with its content: taken targets untouched, no temporaries left.
    QCOMPARE(Files(dir), expected);
    QCOMPARE(window.Column(0), left);
    QCOMPARE(window.process->isEnabled(), fault == "root deleted");
    QCOMPARE(rows, fault == "click again" ? QList<int>({2, 0}) : QList<int>());
}

QTEST_MAIN(tst_Process)
#include "tst_process.moc"
