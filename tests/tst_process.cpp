// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "share.h"
#include "windowdriver.h"

// "Process" driven through the real window on real files: what moves where, which rows stay,
// which warnings are written and what becomes of the button.
class tst_Process : public QObject
{
    Q_OBJECT

    Share share;

private slots:
    void initTestCase() { QVERIFY(share.Mount()); }

    void walk_data()
    {
        QTest::addColumn<bool>("onShare");        // the whole folder tree lies on the share
        QTest::addColumn<QStringList>("targets"); // typed into column 2 of rows A, B, ...
        // Per row: "=> path" moved there, "!! path" warned with that target, "" kept silently,
        // "-" unticked. Paths are relative to the root; {dir} is the folder that holds it.
        QTest::addColumn<QStringList>("outcome");

        // Untyped rows are named after their folders by the suggestion; the tag says what
        // happens after the scan.
        for (const bool onShare : {false, true}) {
            Row(onShare, "two rows, one target: the first moves, the second finds it taken")
                << QStringList{"same.mkv", "same.mkv"} << QStringList{"=> same.mkv", "!! same.mkv"};
            Row(onShare, "root deleted: nothing happens, Process stays enabled")
                << QStringList() << QStringList{""};
            Row(onShare, "source vanished: silent, row stays, the next row moves")
                << QStringList() << QStringList{"", "=> B.mkv"};
            Row(onShare, "source a link whose file vanished: silent, the link stays")
                << QStringList() << QStringList{"", "=> B.mkv"};
            Row(onShare, "targets in a missing folder and the root itself fail; absolute ones hold")
                << QStringList{"sub/name.mkv", "", "{dir}/elsewhere.mkv"}
                << QStringList{"!! sub/name.mkv", "!! ", "=> ../elsewhere.mkv"};
            Row(onShare, "a second click during the walk does the rest")
                << QStringList() << QStringList{"=> A.mkv", "=> B.mkv", "=> C.mkv"};
            // The rows not yet moved take the new names, their typed ones given way.
            Row(onShare, "a keystroke during the walk renames the rows still to come")
                << QStringList{"1.mkv", "2.mkv", "3.mkv"}
                << QStringList{"=> 1.mkv", "=> Bx.mkv", "=> Cx.mkv"};
            Row(onShare, "unticked rows between ticked ones stay")
                << QStringList() << QStringList{"=> A.mkv", "-", "-", "=> D.mkv", "=> E.mkv"};
            // Copied across, the file does not fit: no partial file may stay behind.
            Row(onShare, "onto a full 1 MB tmpfs: source kept, nothing left there")
                << QStringList{"{dir}/full/big.mkv"} << QStringList{"!! ../full/big.mkv"};
        }
    }

    void walk()
    {
        QFETCH(bool, onShare);
        QFETCH(QStringList, targets);
        QFETCH(QStringList, outcome);
        const QString tag = QTest::currentDataTag();
        if (onShare && share.refused)
            SKIP_ROW(share.kRefused);
        QTemporaryDir temp(share.Template(onShare));
        const QString dir = temp.path(), root = dir + "/root/";
        const QStringList folders = QStringList{"A", "B", "C", "D", "E"}.mid(0, outcome.size());
        const QString source = root + "%1/%1.mkv"; // of each folder
        for (int row = 0; row < folders.size(); ++row)
            QVERIFY(
                WriteFile(source.arg(folders[row]), tag.contains("full") ? 3 << 20 : 999 + row));

        if (tag.contains("link"))
            QVERIFY(QFile::remove(source.arg("A")) && WriteFile(dir + "/linked.mkv", 5000) &&
                    QFile::link(dir + "/linked.mkv", source.arg("A")));

        WindowDriver window;
        window.OpenFolders({dir, {"root"}});
        QCOMPARE(window.Column(0), folders);
        for (int row = 0; row < targets.size(); ++row)
            window.tree->topLevelItem(row)->setText(2, targets[row].replace("{dir}", dir));

        // Behind the share the tmpfs is another file system: moves onto it are no renames.
        const QString full = share.Behind(dir + "/full");
        const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {"-q", full}); });
        if (tag.contains("full") &&
            (!QDir().mkdir(full) ||
             QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", full}) != 0))
            SKIP_ROW("cannot mount a small tmpfs here (the message is in the log)");
        if (tag.contains("vanished"))
            QVERIFY(QFile::remove(tag.contains("link") ? dir + "/linked.mkv" : source.arg("A")));
        if (tag.contains("root deleted")) // as the command line or a cancelled dialog may leave it
            window.gui.SetRootPath(dir + "/gone/");
        if (tag.contains("keystroke"))
            QTimer::singleShot(0, &window.gui, [&] { QTest::keyClick(window.output, Qt::Key_X); });
        QList<int> rows; // at a second click during the walk and right after it
        if (tag.contains("second click"))
            QTimer::singleShot(0, &window.gui, [&] {
                rows << window.tree->topLevelItemCount();
                QTest::mouseClick(window.process, Qt::LeftButton);
                rows << window.tree->topLevelItemCount();
            });

        // Only the warnings announced below may be written.
        const QString warning = "not possible to rename file '%1' to '%2'";
        QTest::failOnWarning(QRegularExpression("not possible to rename"));
        QMap<QString, QByteArray> expected = Tree(dir);
        QStringList left;
        for (int row = 0; row < outcome.size(); ++row) {
            const QString from = source.arg(folders[row]);
            const QString to = QDir::cleanPath(root + outcome[row].mid(3));
            if (outcome[row] == "-")
                window.tree->topLevelItem(row)->setCheckState(0, Qt::Unchecked);
            if (outcome[row].startsWith("=> "))
                expected.insert(to, expected.take(from));
            else
                left << folders[row];
            if (outcome[row].startsWith("!! "))
                QTest::ignoreMessage(QtWarningMsg, qPrintable(warning.arg(from, to)));
        }
        QTest::mouseClick(window.process, Qt::LeftButton);

        // Every file exactly once, as it was: taken targets untouched, no temporaries left.
        QCOMPARE(Tree(dir), expected);
        QCOMPARE(window.Column(0), left);
        // The table was held back while rows left it: the rows left are where a click finds them.
        QVERIFY(window.tree->isVisible());
        for (int row = 0; row < left.size(); ++row) {
            QTreeWidgetItem *item = window.tree->topLevelItem(row);
            QCOMPARE(window.tree->itemAt(window.tree->visualItemRect(item).center()), item);
        }
        QCOMPARE(window.process->isEnabled(), tag.contains("root deleted"));
        QCOMPARE(rows, tag.contains("second click") ? QList<int>({2, 0}) : QList<int>());
    }
};

SKIP_AWARE_MAIN(QApplication, tst_Process)
#include "tst_process.moc"
