// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "windowdriver.h"

// The window and its folder intake, driven through the real widgets and the real dialog.
class tst_Window : public QObject
{
    Q_OBJECT

    QTemporaryDir temp;
    QString Path(const QString &relative) const { return temp.filePath(relative); }
    // Answers the dialog: the folder it is to show, under temp, then the entries to select.
    void Open(WindowDriver &window, const QStringList &dialog, bool accept = true)
    {
        window.OpenFolders({Path(dialog.value(0)), dialog.mid(1), accept});
    }

private slots:
    void initTestCase()
    {
        // Season: release folders in mixed letter case, with a loose file, an empty folder, one
        // holding only a subfolder, hidden entries and a size tie. Show: a season to suggest from.
        // clang-format off
        const QList<QPair<QString, int>> files{
            {"Season/B.Show.S01E02/ep2.mkv", 200},     {"Season/B.Show.S01E02/info.nfo", 10},
            {"Season/a.Show.S01E01/ep1.mkv", 100},     {"Season/a.Show.S01E01/sample.mkv", 50},
            {"Season/a.Show.S01E01/.hidden.mkv", 900}, {"Season/D.OnlySub/deeper/big.mkv", 900},
            {"Season/e.Tie/a.mkv", 100},               {"Season/e.Tie/B.mkv", 100},
            {"Season/.hiddenRelease/x.mkv", 100},      {"Season/loose.mkv", 900},
            {"Show/Show.S01E01.720p.HDTV.x264-GRP/e1.mkv", 10},
            {"Show/Show.S01E02.720p.HDTV.x264-GRP/e2.mkv", 10}};
        // clang-format on
        for (const auto &[path, size] : files)
            QVERIFY(WriteFile(Path(path), size));
        QVERIFY(QDir().mkpath(Path("Season/c.Empty")));
    }

    void openFolders_data()
    {
        QTest::addColumn<QStringList>("dialog"); // as Open takes it; cancelled if the tag says so
        QTest::addColumn<QString>("root");
        QTest::addColumn<QStringList>("rows"); // column 0, then column 1
        QTest::addColumn<bool>("process");     // "Process" enabled

        // An empty root means the working folder, and stays so when the selection names none.
        QTest::newRow("cancel with an empty root and a file selected: root stays empty")
            << QStringList{"Season", "loose.mkv"} << "." << QStringList() << false;
        QTest::newRow("cancel: root becomes the one folder selected")
            << QStringList{"Season", "e.Tie"} << "Season/e.Tie" << QStringList() << false;
        // The largest file wins, hidden ones aside; a size tie goes to the name first in
        // case-sensitive order.
        QTest::newRow("one folder stands for its subfolders, in name order ignoring case")
            << QStringList{"", "Season"} << "Season"
            << QStringList{"a.Show.S01E01", "B.Show.S01E02", "e.Tie", "ep1.mkv", "ep2.mkv", "B.mkv"}
            << true;
        QTest::newRow("one folder without subfolders changes only the root")
            << QStringList{"Season", "e.Tie"} << "Season/e.Tie" << QStringList() << false;
        QTest::newRow("several folders keep the dialog's order; files yield no row")
            << QStringList{"Season", "e.Tie", "a.Show.S01E01", "loose.mkv"} << "Season"
            << QStringList{"e.Tie", "a.Show.S01E01", "B.mkv", "ep1.mkv"} << true;
        QTest::newRow("a scan that finds no file enables Process all the same")
            << QStringList{"Season", "c.Empty", "D.OnlySub"} << "Season" << QStringList() << true;
    }

    void openFolders()
    {
        QFETCH(QStringList, dialog);
        QFETCH(QString, root);
        QFETCH(QStringList, rows);
        QFETCH(bool, process);
        WindowDriver window;
        if (root == ".")
            window.gui.SetRootPath("");
        Open(window, dialog, !QString(QTest::currentDataTag()).startsWith("cancel"));
        QCOMPARE(window.RootFolder(), root == "." ? QDir::currentPath() : Path(root));
        QCOMPARE(window.Column(0) + window.Column(1), rows);
        QCOMPARE(window.process->isEnabled(), process);
    }

    // One window through a session: the pattern suggestion, editing a row, and how every row's
    // target follows the two fields.
    void session()
    {
        WindowDriver window;
        QTreeWidget *tree = window.tree;
        const auto fields = [&] {
            return QStringList({window.filename->text(), window.output->text()}) + window.Column(2);
        };
        QCOMPARE(window.RootFolder(), QDir::currentPath()); // the root starts as the working folder
        // A scan that finds no file suggests nothing; one that does fills both fields, and
        // column 2.
        Open(window, {"Season", "c.Empty", "D.OnlySub"});
        QCOMPARE(fields(), QStringList({"", ""}));
        Open(window, {"Show"});
        QCOMPARE(fields(), QStringList({"Show.S01E0%1.720p", "%1", "1.mkv", "2.mkv"}));
        QCOMPARE(tree->topLevelItem(0)->type(), int(QTreeWidgetItem::Type));
        // Only column 2 opens an editor, and the tick box toggles all the same.
        for (int column = 0; column < 3; ++column) {
            tree->setCurrentIndex(tree->model()->index(0, column));
            QTest::keyClick(tree, Qt::Key_F2);
            auto *editor = tree->viewport()->findChild<QLineEdit *>();
            QCOMPARE(editor != nullptr && editor->isVisible(), column == 2);
        }
        QTest::keyClicks(tree->viewport()->findChild<QLineEdit *>(), "by hand.mkv\r");
        QTRY_COMPARE(window.Column(2), QStringList({"by hand.mkv", "2.mkv"}));
        tree->setCurrentIndex(tree->model()->index(1, 0));
        QTest::keyClick(tree, Qt::Key_Space);
        QCOMPARE(tree->topLevelItem(1)->checkState(0), Qt::Unchecked);
        // Ticked or not, hand-edited or not, every row follows each keystroke in either field.
        QTest::keyClicks(window.output, "x");
        QCOMPARE(window.Column(2), QStringList({"1x.mkv", "2x.mkv"}));
        QTest::keyClicks(window.filename, "x");
        QCOMPARE(window.Column(2), QStringList({"x.mkv", "x.mkv"}));
        // The name typed before is typed again. A cancelled dialog keeps the rows, their names
        // and their files, and they go on following the fields, the typed name giving way.
        tree->topLevelItem(0)->setText(2, "by hand.mkv");
        Open(window, {"Season/c.Empty"}, false);
        QCOMPARE(window.Column(2), QStringList({"by hand.mkv", "x.mkv"}));
        QCOMPARE(window.Column(0, Qt::UserRole),
                 QStringList({Path("Show/Show.S01E01.720p.HDTV.x264-GRP/e1.mkv"),
                              Path("Show/Show.S01E02.720p.HDTV.x264-GRP/e2.mkv")}));
        QTest::keyClick(window.output, Qt::Key_Y);
        QCOMPARE(window.Column(2), QStringList({"xy.mkv", "xy.mkv"}));
        // A field holding only blanks is no empty field: nothing is suggested, and new rows show
        // no name until a field changes.
        window.filename->setText(" ");
        Open(window, {"Show"});
        QCOMPARE(fields(), QStringList({" ", "%1xy", "", ""}));
        QTest::keyClick(window.output, Qt::Key_1);
        QCOMPARE(window.Column(2), QStringList({"xy1.mkv", "xy1.mkv"}));
    }
};

QTEST_MAIN(tst_Window)
#include "tst_window.moc"
