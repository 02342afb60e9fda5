#include "windowdriver.h"

#include <QSignalSpy>
#include <QTemporaryDir>

// The window and its folder intake, driven through the real widgets and the real dialog.
class tst_Window : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void startsEmpty();
    void openFolders_data();
    void openFolders();
    void releaseRow();
    void onlyColumnTwoEdits();
    void reopenDropsRows();
    void suggestion_data();
    void suggestion();
    void keystrokeRecomputesOnce();

private:
    QTemporaryDir temp;
    QString Path(const QString &relative) const { return temp.filePath(relative); }
};

void tst_Window::initTestCase()
{
    QVERIFY(temp.isValid());
    // Season: release folders in mixed letter case, with a loose file, an empty folder, one
    // holding only a subfolder, a hidden one and a size tie.
    QVERIFY(WriteFile(Path(QStringLiteral("Season/b.Show.S01E02/ep2.mkv")), 200));
    QVERIFY(WriteFile(Path(QStringLiteral("Season/b.Show.S01E02/info.nfo")), 10));
    QVERIFY(WriteFile(Path(QStringLiteral("Season/A.Show.S01E01/ep1.mkv")), 100));
    QVERIFY(WriteFile(Path(QStringLiteral("Season/A.Show.S01E01/sample.mkv")), 50));
    QVERIFY(WriteFile(Path(QStringLiteral("Season/A.Show.S01E01/.hidden.mkv")), 900));
    QVERIFY(QDir().mkpath(Path(QStringLiteral("Season/c.Empty"))));
    QVERIFY(WriteFile(Path(QStringLiteral("Season/D.OnlySub/deeper/big.mkv")), 900));
    QVERIFY(WriteFile(Path(QStringLiteral("Season/e.Tie/a.mkv")), 100));
    QVERIFY(WriteFile(Path(QStringLiteral("Season/e.Tie/B.mkv")), 100));
    QVERIFY(WriteFile(Path(QStringLiteral("Season/.hiddenRelease/x.mkv")), 100));
    QVERIFY(WriteFile(Path(QStringLiteral("Season/loose.mkv")), 900));
    QVERIFY(WriteFile(Path(QStringLiteral("Flat/only.mkv")), 10));
}

void tst_Window::startsEmpty()
{
    WindowDriver window;
    QCOMPARE(window.gui.windowTitle(), QStringLiteral("Move & Rename"));
    QVERIFY(window.filename && window.output && window.tree && window.open && window.process);
    QCOMPARE(window.tree->columnCount(), 3);
    const QTreeWidgetItem *header = window.tree->headerItem();
    QCOMPARE(QStringList({header->text(0), header->text(1), header->text(2)}),
             QStringList({QStringLiteral("Directories"), QStringLiteral("Source file"),
                          QStringLiteral("Target filenames")}));
    QCOMPARE(window.tree->topLevelItemCount(), 0);
    QVERIFY(window.filename->text().isEmpty() && window.output->text().isEmpty());
    QVERIFY(!window.process->isEnabled());
    // The root starts as the working folder.
    QCOMPARE(window.RootFolder(), QDir::currentPath());

    // A scan enables "Process", even one that found no file to list.
    QString error;
    window.OpenFolders({Path(QStringLiteral("Season")),
                        {QStringLiteral("c.Empty"), QStringLiteral("D.OnlySub")}, true},
                       &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(window.tree->topLevelItemCount(), 0);
    QVERIFY(window.process->isEnabled());
}

void tst_Window::openFolders_data()
{
    QTest::addColumn<QString>("showFolder");
    QTest::addColumn<QStringList>("select");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QString>("root");
    QTest::addColumn<QStringList>("rows"); // column 0 afterwards

    // Every case starts from the rows of an earlier scan of Season and Flat.
    const QStringList earlier{QStringLiteral("Season"), QStringLiteral("Flat")};
    const QStringList season{QStringLiteral("A.Show.S01E01"), QStringLiteral("b.Show.S01E02"),
                             QStringLiteral("e.Tie")};
    QTest::newRow("cancel: root becomes the folder shown")
        << "Season/c.Empty" << QStringList() << false << "Season/c.Empty" << earlier;
    QTest::newRow("cancel: root becomes the one folder selected")
        << "Season" << QStringList{"e.Tie"} << false << "Season/e.Tie" << earlier;
    QTest::newRow("cancel with two folders: root is the folder shown")
        << "Season" << QStringList{"e.Tie", "c.Empty"} << false << "Season" << earlier;
    QTest::newRow("one folder stands for its subfolders, in name order ignoring case")
        << "" << QStringList{"Season"} << true << "Season" << season;
    QTest::newRow("nothing selected: the folder shown stands for its subfolders")
        << "Season" << QStringList() << true << "Season" << season;
    QTest::newRow("one folder without subfolders changes only the root")
        << "" << QStringList{"Flat"} << true << "Flat" << earlier;
    QTest::newRow("several folders keep the dialog's order; files yield no row")
        << "Season" << QStringList{"e.Tie", "A.Show.S01E01", "loose.mkv"} << true << "Season"
        << QStringList{"e.Tie", "A.Show.S01E01"};
    QTest::newRow("folders without files directly inside yield no row")
        << "Season" << QStringList{"c.Empty", "D.OnlySub"} << true << "Season" << QStringList();
}

void tst_Window::openFolders()
{
    QFETCH(QString, showFolder);
    QFETCH(QStringList, select);
    QFETCH(bool, accept);
    QFETCH(QString, root);
    QFETCH(QStringList, rows);

    WindowDriver window;
    window.filename->setText(QStringLiteral("kept")); // no suggestion: only the scan shows
    QString error;
    window.OpenFolders({temp.path(), {QStringLiteral("Season"), QStringLiteral("Flat")}, true},
                       &error);
    window.OpenFolders({showFolder.isEmpty() ? temp.path() : Path(showFolder), select, accept},
                       &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    QCOMPARE(window.RootFolder(), QDir(Path(root)).absolutePath());
    QCOMPARE(window.Column(0), rows);
    QCOMPARE(window.filename->text(), QStringLiteral("kept"));
}

void tst_Window::releaseRow()
{
    WindowDriver window;
    window.filename->setText(QStringLiteral("kept"));
    window.gui.SetRootPath(temp.path());
    QString error;
    window.OpenFolders({QString(), {QStringLiteral("Season")}, true}, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    // The largest file wins; a size tie goes to the name first in case-sensitive order.
    QCOMPARE(window.Column(1), QStringList({"ep1.mkv", "ep2.mkv", "B.mkv"}));
    const QTreeWidgetItem *row = window.tree->topLevelItem(0);
    const Qt::ItemFlags flags = QTreeWidgetItem().flags() | Qt::ItemIsEditable |
                                Qt::ItemIsUserCheckable;
    QCOMPARE(row->flags(), flags);
    QCOMPARE(row->checkState(0), Qt::Checked);
    QCOMPARE(row->data(0, Qt::UserRole).toString(),
             QFileInfo(Path(QStringLiteral("Season/A.Show.S01E01/ep1.mkv"))).absoluteFilePath());
    // With a filename pattern already typed, no target name is computed yet.
    QCOMPARE(window.Column(2), QStringList({"", "", ""}));
}

void tst_Window::onlyColumnTwoEdits()
{
    WindowDriver window;
    window.filename->setText(QStringLiteral("kept"));
    window.gui.SetRootPath(temp.path());
    QString error;
    window.OpenFolders({QString(), {QStringLiteral("Season")}, true}, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QTreeWidget *tree = window.tree;

    for (int column = 0; column < 3; ++column) {
        const QModelIndex cell = tree->model()->index(0, column);
        tree->setCurrentIndex(cell);
        QTest::keyClick(tree, Qt::Key_F2);
        auto *editor = tree->viewport()->findChild<QLineEdit *>();
        QCOMPARE(editor != nullptr && editor->isVisible(), column == 2);
        if (editor) {
            editor->selectAll();
            QTest::keyClicks(editor, QStringLiteral("by hand.mkv"));
            QTest::keyClick(editor, Qt::Key_Return);
        }
    }
    QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("A.Show.S01E01"));
    QCOMPARE(tree->topLevelItem(0)->text(1), QStringLiteral("ep1.mkv"));
    QTRY_COMPARE(tree->topLevelItem(0)->text(2), QStringLiteral("by hand.mkv"));

    // The tick box still toggles, though column 0 opens no editor.
    tree->setCurrentIndex(tree->model()->index(1, 0));
    QTest::keyClick(tree, Qt::Key_Space);
    QCOMPARE(tree->topLevelItem(1)->checkState(0), Qt::Unchecked);
    QTest::keyClick(tree, Qt::Key_Space);
    QCOMPARE(tree->topLevelItem(1)->checkState(0), Qt::Checked);
}

void tst_Window::reopenDropsRows()
{
    WindowDriver window;
    window.filename->setText(QStringLiteral("kept"));
    window.gui.SetRootPath(temp.path());
    QString error;
    window.OpenFolders({QString(), {QStringLiteral("Season")}, true}, &error);
    window.tree->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    window.tree->topLevelItem(0)->setText(2, QStringLiteral("typed"));
    window.OpenFolders({Path(QStringLiteral("Season")),
                        {QStringLiteral("A.Show.S01E01"), QStringLiteral("e.Tie")}, true},
                       &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(window.Column(0), QStringList({"A.Show.S01E01", "e.Tie"}));
    QCOMPARE(window.tree->topLevelItem(0)->checkState(0), Qt::Checked);
    QCOMPARE(window.Column(2), QStringList({"", ""}));
}

void tst_Window::suggestion_data()
{
    QTest::addColumn<QString>("filename"); // the field's text before the scan
    QTest::addColumn<QStringList>("select"); // folders selected in Show
    QTest::addColumn<QString>("expectFilename");
    QTest::addColumn<QString>("expectOutput");
    QTest::addColumn<QStringList>("targets");
    QTest::addColumn<int>("recomputations");

    const QStringList both{QStringLiteral("Show.S01E01.720p.HDTV.x264-GRP"),
                           QStringLiteral("Show.S01E02.720p.HDTV.x264-GRP")};
    QTest::newRow("empty field: the suggestion and its targets show at once")
        << "" << both << "Show.S01E0%1.720p" << "%1" << QStringList{"1.mkv", "2.mkv"} << 1;
    QTest::newRow("a field holding blanks is kept and column 2 stays empty")
        << " " << both << " " << "out" << QStringList{"", ""} << 0;
    QTest::newRow("no rows: both fields keep their texts")
        << "" << QStringList{"Empty.One", "Empty.Two"} << "" << "out" << QStringList() << 0;
}

void tst_Window::suggestion()
{
    QFETCH(QString, filename);
    QFETCH(QStringList, select);
    QFETCH(QString, expectFilename);
    QFETCH(QString, expectOutput);
    QFETCH(QStringList, targets);
    QFETCH(int, recomputations);

    const QString show = Path(QStringLiteral("Show"));
    QVERIFY(WriteFile(show + QStringLiteral("/Show.S01E01.720p.HDTV.x264-GRP/e1.mkv"), 10));
    QVERIFY(WriteFile(show + QStringLiteral("/Show.S01E02.720p.HDTV.x264-GRP/e2.mkv"), 10));
    QVERIFY(QDir().mkpath(show + QStringLiteral("/Empty.One")));
    QVERIFY(QDir().mkpath(show + QStringLiteral("/Empty.Two")));

    WindowDriver window;
    window.filename->setText(filename);
    window.output->setText(QStringLiteral("out"));
    QSignalSpy recomputed(window.tree->model(), &QAbstractItemModel::dataChanged);
    QString error;
    window.OpenFolders({show, select, true}, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(window.filename->text(), expectFilename);
    QCOMPARE(window.output->text(), expectOutput);
    QCOMPARE(window.Column(2), targets);
    QCOMPARE(recomputed.count(), recomputations);
}

void tst_Window::keystrokeRecomputesOnce()
{
    WindowDriver window;
    window.filename->setText(QStringLiteral("%1.Show"));
    window.gui.SetRootPath(temp.path());
    QString error;
    window.OpenFolders({QString(), {QStringLiteral("Season")}, true}, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    window.tree->topLevelItem(2)->setText(2, QStringLiteral("typed by hand"));
    window.tree->topLevelItem(1)->setCheckState(0, Qt::Unchecked);

    // Every row, ticked or not, hand-edited or not, follows each keystroke in either field.
    QSignalSpy changes(window.tree->model(), &QAbstractItemModel::dataChanged);
    QTest::keyClicks(window.output, QStringLiteral("x%"));
    QCOMPARE(window.Column(2), QStringList({"x.mkv", "x.mkv", "x.mkv"}));
    QTest::keyClick(window.output, Qt::Key_1);
    QCOMPARE(window.Column(2), QStringList({"xA.mkv", "xb.mkv", "x.mkv"}));
    QTest::keyClick(window.filename, Qt::Key_Home);
    QTest::keyClick(window.filename, Qt::Key_Delete);
    QCOMPARE(window.Column(2), QStringList({"x.mkv", "x.mkv", "x.mkv"}));
    QCOMPARE(changes.count(), 4); // one notice per keystroke, covering every row
}

QTEST_MAIN(tst_Window)
#include "tst_window.moc"
