// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "windowdriver.h"

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
    void onlyColumnTwoEdits();
    void suggestion_data();
    void suggestion();
    void everyRowFollowsEachKeystroke();

private:
    QTemporaryDir temp;
    QString Path(const QString &relative) const { return temp.filePath(relative); }
    void Open(WindowDriver &window, const WindowDriver::Answer &answer)
    {
        QString error;
        window.OpenFolders(answer, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
};

void tst_Window::initTestCase()
{
    // Season: release folders in mixed letter case, with a loose file, an empty folder, one
    // holding only a subfolder, hidden entries and a size tie. Show: a season to suggest from.
    // clang-format off
    const QList<QPair<QString, int>> files{
        {"Season/b.Show.S01E02/ep2.mkv", 200},     {"Season/b.Show.S01E02/info.nfo", 10},
        {"Season/A.Show.S01E01/ep1.mkv", 100},     {"Season/A.Show.S01E01/sample.mkv", 50},
        {"Season/A.Show.S01E01/.hidden.mkv", 900}, {"Season/D.OnlySub/deeper/big.mkv", 900},
        {"Season/e.Tie/a.mkv", 100},               {"Season/e.Tie/B.mkv", 100},
        {"Season/.hiddenRelease/x.mkv", 100},      {"Season/loose.mkv", 900},
        {"Flat/only.mkv", 10},                     {"Show/Show.S01E01.720p.HDTV.x264-GRP/e1.mkv", 10},
        {"Show/Show.S01E02.720p.HDTV.x264-GRP/e2.mkv", 10}};
    // clang-format on
    for (const auto &[path, size] : files)
        QVERIFY(WriteFile(Path(path), size));
    for (const char *folder : {"Season/c.Empty", "Show/Empty.One", "Show/Empty.Two"})
        QVERIFY(QDir().mkpath(Path(folder)));
}

void tst_Window::startsEmpty()
{
    WindowDriver window;
    QCOMPARE(window.gui.windowTitle(), "Move & Rename");
    const QTreeWidgetItem *header = window.tree->headerItem();
    QCOMPARE(QStringList({header->text(0), header->text(1), header->text(2)}),
             QStringList({"Directories", "Source file", "Target filenames"}));
    QVERIFY(window.filename->text().isEmpty() && window.output->text().isEmpty());
    QVERIFY(!window.process->isEnabled());
    QCOMPARE(window.RootFolder(), QDir::currentPath()); // the root starts as the working folder
    // A scan enables "Process", even one that found no file to list.
    Open(window, {Path("Season"), {"c.Empty", "D.OnlySub"}, true});
    QCOMPARE(window.tree->topLevelItemCount(), 0);
    QVERIFY(window.process->isEnabled());
}

void tst_Window::openFolders_data()
{
    QTest::addColumn<QString>("showFolder");
    QTest::addColumn<QStringList>("select");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QString>("root");
    QTest::addColumn<QStringList>("rows"); // column 0 and column 1 afterwards, as folder/file

    // Every case starts from the rows of an earlier scan of Season and Flat.
    const QStringList earlier{"Season/loose.mkv", "Flat/only.mkv"};
    // The largest file wins, hidden ones aside; a size tie goes to the name first in
    // case-sensitive order.
    const QStringList season{"A.Show.S01E01/ep1.mkv", "b.Show.S01E02/ep2.mkv", "e.Tie/B.mkv"};
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
        << QStringList{"e.Tie/B.mkv", "A.Show.S01E01/ep1.mkv"};
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
    window.filename->setText("kept"); // no suggestion: only the scan shows
    Open(window, {temp.path(), {"Season", "Flat"}, true});
    Open(window, {showFolder.isEmpty() ? temp.path() : Path(showFolder), select, accept});
    QCOMPARE(window.RootFolder(), QDir(Path(root)).absolutePath());
    QStringList shown;
    for (int row = 0; row < window.tree->topLevelItemCount(); ++row) {
        const QTreeWidgetItem *item = window.tree->topLevelItem(row);
        shown.append(item->text(0) + '/' + item->text(1));
        QCOMPARE(item->type(), int(QTreeWidgetItem::Type));
        QCOMPARE(item->flags(),
                 QTreeWidgetItem().flags() | Qt::ItemIsEditable | Qt::ItemIsUserCheckable);
        QCOMPARE(item->checkState(0), Qt::Checked);
        const QString source = item->data(0, Qt::UserRole).toString(); // the file's full path
        QVERIFY2(QFileInfo(source).isAbsolute() && QFile::exists(source) &&
                     source.endsWith('/' + shown.last()),
                 qPrintable(source));
        QVERIFY(item->text(2).isEmpty()); // a typed filename pattern: nothing computed yet
    }
    QCOMPARE(shown, rows);
    QCOMPARE(window.filename->text(), "kept");
}

void tst_Window::onlyColumnTwoEdits()
{
    WindowDriver window;
    window.filename->setText("kept");
    Open(window, {temp.path(), {"Season"}, true});
    QTreeWidget *tree = window.tree;
    for (int column = 0; column < 3; ++column) {
        tree->setCurrentIndex(tree->model()->index(0, column));
        QTest::keyClick(tree, Qt::Key_F2);
        auto *editor = tree->viewport()->findChild<QLineEdit *>();
        QCOMPARE(editor != nullptr && editor->isVisible(), column == 2);
        if (editor) {
            editor->selectAll();
            QTest::keyClicks(editor, "by hand.mkv");
            QTest::keyClick(editor, Qt::Key_Return);
        }
    }
    QTRY_COMPARE(window.Column(2).value(0), "by hand.mkv");
    QCOMPARE(window.Column(0).value(0) + window.Column(1).value(0), "A.Show.S01E01ep1.mkv");
    // The tick box still toggles, though column 0 opens no editor.
    tree->setCurrentIndex(tree->model()->index(1, 0));
    QTest::keyClick(tree, Qt::Key_Space);
    QCOMPARE(tree->topLevelItem(1)->checkState(0), Qt::Unchecked);
}

void tst_Window::suggestion_data()
{
    QTest::addColumn<QString>("filename"); // the field's text before the scan
    QTest::addColumn<QStringList>("select");
    QTest::addColumn<QStringList>("fields"); // both fields afterwards
    QTest::addColumn<QStringList>("targets");

    const QStringList both{"Show.S01E01.720p.HDTV.x264-GRP", "Show.S01E02.720p.HDTV.x264-GRP"};
    QTest::newRow("empty field: the suggestion and its targets show at once")
        << "" << both << QStringList{"Show.S01E0%1.720p", "%1"} << QStringList{"1.mkv", "2.mkv"};
    QTest::newRow("a field holding blanks is kept and column 2 stays empty")
        << " " << both << QStringList{" ", "out"} << QStringList{"", ""};
    QTest::newRow("no rows: both fields keep their texts")
        << "" << QStringList{"Empty.One", "Empty.Two"} << QStringList{"", "out"} << QStringList();
}

void tst_Window::suggestion()
{
    QFETCH(QString, filename);
    QFETCH(QStringList, select);
    QFETCH(QStringList, fields);
    QFETCH(QStringList, targets);

    WindowDriver window;
    window.filename->setText(filename);
    window.output->setText("out");
    Open(window, {Path("Show"), select, true});
    QCOMPARE(QStringList({window.filename->text(), window.output->text()}), fields);
    QCOMPARE(window.Column(2), targets);
}

void tst_Window::everyRowFollowsEachKeystroke()
{
    WindowDriver window;
    window.filename->setText("%1.Show");
    Open(window, {temp.path(), {"Season"}, true});
    window.tree->topLevelItem(2)->setText(2, "typed by hand");
    window.tree->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    // Ticked or not, hand-edited or not, every row follows each keystroke in either field.
    QTest::keyClicks(window.output, "x%");
    QCOMPARE(window.Column(2), QStringList({"x.mkv", "x.mkv", "x.mkv"}));
    QTest::keyClick(window.output, Qt::Key_1);
    QCOMPARE(window.Column(2), QStringList({"xA.mkv", "xb.mkv", "x.mkv"}));
    QTest::keyClick(window.filename, Qt::Key_Home);
    QTest::keyClick(window.filename, Qt::Key_Delete);
    QCOMPARE(window.Column(2), QStringList({"x.mkv", "x.mkv", "x.mkv"}));
    // The name typed before is typed again, then gives way again.
    window.tree->topLevelItem(2)->setText(2, "typed by hand");
    QCOMPARE(window.Column(2), QStringList({"x.mkv", "x.mkv", "typed by hand"}));
    QTest::keyClick(window.output, Qt::Key_Backspace);
    QCOMPARE(window.Column(2), QStringList({"x.mkv", "x.mkv", "x.mkv"}));
    // A cancelled dialog keeps the rows, their names and their files, and they go on following
    // the fields; new rows show no name until a field changes.
    Open(window, {Path("Season/e.Tie"), {}, false});
    QCOMPARE(window.Column(2), QStringList({"x.mkv", "x.mkv", "x.mkv"}));
    for (int row = 0; row < 3; ++row) {
        const QString source = window.tree->topLevelItem(row)->data(0, Qt::UserRole).toString();
        QVERIFY2(QFile::exists(source) && source.startsWith(Path("Season/")), qPrintable(source));
    }
    QTest::keyClick(window.output, Qt::Key_Y);
    QCOMPARE(window.Column(2), QStringList({"xy.mkv", "xy.mkv", "xy.mkv"}));
    Open(window, {temp.path(), {"Season"}, true});
    QCOMPARE(window.Column(2), QStringList({"", "", ""}));
    QTest::keyClick(window.output, Qt::Key_1);
    QCOMPARE(window.Column(2), QStringList({"xy1.mkv", "xy1.mkv", "xy1.mkv"}));
}

QTEST_MAIN(tst_Window)
#include "tst_window.moc"
