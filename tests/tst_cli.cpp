#include "windowdriver.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

// The command line front end, run as the built program on real folder trees.
class tst_Cli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void matchesWindow_data();
    void matchesWindow();
    void previewChangesNothing_data();
    void previewChangesNothing();
    void applyMovesOnlyConflictFreeRows();
    void cleanApply();
    void commandLine_data();
    void commandLine();
    void jsonRows_data();
    void jsonRows();

private:
    QTemporaryDir temp;
    QString Path(const QString &relative) const { return temp.filePath(relative); }
};

namespace {

struct Result
{
    int status = -1; // -1: did not finish normally
    QByteArray out;
    QByteArray err;
};

Result Run(const QStringList &arguments, const QString &workingFolder = QString())
{
    QProcess process;
    process.setWorkingDirectory(workingFolder);
    process.start(QStringLiteral(CLI_PATH), arguments);
    Result result;
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit)
        result.status = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QString HashOf(const QByteArray &content)
{
    const QByteArray hash = QCryptographicHash::hash(content, QCryptographicHash::Sha1);
    return QString::fromLatin1(hash.toHex());
}

QString Hash(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? HashOf(file.readAll()) : QStringLiteral("unreadable");
}

// Every entry below folder with its kind and content hash or link target, sorted.
QStringList Snapshot(const QString &folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QString entry = QDir(folder).relativeFilePath(path);
        if (it.fileInfo().isSymLink())
            entry += " -> " + QFile::symLinkTarget(path);
        else if (it.fileInfo().isDir())
            entry += "/";
        else
            entry += " " + Hash(path);
        entries.append(entry);
    }
    entries.sort();
    return entries;
}

// The content hashes of all plain files below folder, sorted.
QStringList Contents(const QString &folder)
{
    QStringList hashes;
    for (const QString &entry : Snapshot(folder)) {
        if (!entry.endsWith('/') && !entry.contains(" -> "))
            hashes.append(entry.section(' ', -1));
    }
    hashes.sort();
    return hashes;
}

// With "%1.%2" and "%1": one row that moves, a duplicate of it, a target that exists, a target
// that is a dangling link, two more that move, and an empty target. Every file differs.
bool MakeConflictTree(const QString &root)
{
    return WriteFile(root + "/Ep1.a/one.mkv", 11) && WriteFile(root + "/Ep1.b/two.mkv", 12) &&
           WriteFile(root + "/Ep2.a/three.mkv", 13) && WriteFile(root + "/Ep3.a/four.mkv", 14) &&
           WriteFile(root + "/Ep4.a/five.mkv", 15) && WriteFile(root + "/Ep5.a/six.avi", 16) &&
           WriteFile(root + "/plain/data", 17) && WriteFile(root + "/Ep2.mkv", 18) &&
           QFile::link(root + "/nowhere", root + "/Ep3.mkv");
}

const QStringList kConflictPatterns{"--filename", "%1.%2", "--output", "%1"};

QJsonObject ParseObject(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    return error.error == QJsonParseError::NoError ? document.object() : QJsonObject();
}

QStringList Field(const QJsonObject &plan, const QString &key)
{
    QStringList values;
    for (const QJsonValue &row : plan.value("rows").toArray())
        values.append(row.toObject().value(key).toString());
    return values;
}

} // namespace

void tst_Cli::initTestCase()
{
    QVERIFY(temp.isValid());
    // Show: releases with a shared prefix and tag, a smaller sample, a file without extension,
    // and folders that yield no row (empty, hidden).
    const QString show = Path("Show/");
    QVERIFY(WriteFile(show + "Show.S01E01.720p.HDTV.x264-GRP/e1.mkv", 30));
    QVERIFY(WriteFile(show + "Show.S01E01.720p.HDTV.x264-GRP/sample.mkv", 5));
    QVERIFY(WriteFile(show + "Show.S01E02.720p.HDTV.x264-GRP/e2.mkv", 30));
    QVERIFY(WriteFile(show + "Show.S01E03.720p.HDTV.x264-GRP/E3.avi", 30));
    QVERIFY(WriteFile(show + "Show.S01E04.720p.HDTV.x264-GRP/noext", 30));
    QVERIFY(WriteFile(show + ".Show.S01E05.720p.HDTV.x264-GRP/e5.mkv", 30));
    QVERIFY(QDir().mkpath(show + "Show.S01E06.720p.HDTV.x264-GRP"));
    QVERIFY(MakeConflictTree(Path("R")));
    QVERIFY(WriteFile(Path("Deep/x/top.mkv"), 20));
    QVERIFY(WriteFile(Path("Deep/x/Sub.a/inner.mkv"), 20));
}

void tst_Cli::matchesWindow_data()
{
    QTest::addColumn<QStringList>("patterns"); // filename and output; none: the suggestion

    QTest::newRow("suggested pattern") << QStringList();
    QTest::newRow("two captures reordered") << QStringList{"Show.S01E%1.%2", "%2 - Episode %1"};
    QTest::newRow("captures stop at the first missing separator")
        << QStringList{"%1.S01E%2.720p", "%1 %2"};
    QTest::newRow("literal output, unknown placeholder") << QStringList{"Show", "fixed%7"};
}

void tst_Cli::matchesWindow()
{
    QFETCH(QStringList, patterns);

    WindowDriver window;
    QString error;
    window.OpenFolders({temp.path(), {"Show"}, true}, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QStringList arguments{"--json", "Show"}; // relative to the working folder
    if (!patterns.isEmpty()) {
        window.filename->setText(patterns.at(0));
        window.output->setText(patterns.at(1));
        arguments << "--filename" << patterns.at(0) << "--output" << patterns.at(1);
    }

    const Result cli = Run(arguments, temp.path());
    QCOMPARE(cli.status, 0);
    const QJsonObject plan = ParseObject(cli.out);
    QCOMPARE(plan.value("filename_pattern").toString(), window.filename->text());
    QCOMPARE(plan.value("output_pattern").toString(), window.output->text());
    QCOMPARE(Field(plan, "folder"), window.Column(0));
    QStringList sources, names;
    for (int row = 0; row < window.tree->topLevelItemCount(); ++row)
        sources.append(window.tree->topLevelItem(row)->data(0, Qt::UserRole).toString());
    for (const QString &source : Field(plan, "source"))
        names.append(QFileInfo(source).fileName());
    QCOMPARE(Field(plan, "source"), sources);
    QCOMPARE(names, window.Column(1));
    QCOMPARE(Field(plan, "target"), window.Column(2));
    QCOMPARE(window.Column(0).size(), 4);
    QCOMPARE(plan.value("root").toString(), window.RootFolder() + "/");
}

void tst_Cli::previewChangesNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("suggested");

    QTest::newRow("suggestion, table") << QStringList{"R"} << true;
    QTest::newRow("conflicts, table") << (kConflictPatterns + QStringList{"R"}) << false;
    QTest::newRow("conflicts, json") << (kConflictPatterns + QStringList{"--json", "R"}) << false;
    QTest::newRow("several folders and a root")
        << QStringList{"--root", "R", "R/Ep1.a", "R/Ep1.b", "Deep/x"} << true;
}

void tst_Cli::previewChangesNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, suggested);

    const QStringList before = Snapshot(temp.path());
    const Result cli = Run(arguments, temp.path());
    QCOMPARE(cli.status, 0);
    QCOMPARE(cli.err, QByteArray());
    QCOMPARE(Snapshot(temp.path()), before);
    if (!arguments.contains("--json"))
        QCOMPARE(cli.out.contains("\nfilename pattern: "), suggested);
}

void tst_Cli::applyMovesOnlyConflictFreeRows()
{
    QTemporaryDir dir;
    QVERIFY(MakeConflictTree(dir.path()));
    const QStringList contents = Contents(dir.path());
    const QJsonObject preview =
        ParseObject(Run(kConflictPatterns + QStringList{"--json", dir.path()}).out);
    QCOMPARE(Field(preview, "conflict"),
             QStringList({"", "duplicate", "exists", "exists", "", "", "empty"}));
    QStringList hashes;
    for (const QString &source : Field(preview, "source"))
        hashes.append(Hash(source));

    const Result cli = Run(kConflictPatterns + QStringList{"--apply", "--json", dir.path()});
    QCOMPARE(cli.status, 1);
    const QJsonObject applied = ParseObject(cli.out);
    QCOMPARE(Field(applied, "target"), Field(preview, "target"));
    QStringList failures = QString::fromUtf8(cli.err).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(failures.takeLast(), QStringLiteral("3 moved, 4 failed"));
    const QJsonArray rows = applied.value("rows").toArray();
    for (int i = 0; i < rows.size(); ++i) {
        const QJsonObject row = rows.at(i).toObject();
        const QString source = row.value("source").toString();
        const QString target = QDir(dir.path()).absoluteFilePath(row.value("target").toString());
        const bool conflictFree = row.value("conflict").isNull();
        QCOMPARE(row.value("moved").toBool(), conflictFree);
        QCOMPARE(row.value("error").isNull(), conflictFree);
        QCOMPARE(QFile::exists(source), !conflictFree);
        if (conflictFree) {
            QCOMPARE(Hash(target), hashes.at(i));
            continue;
        }
        const QString line =
            "failed: " + source + " -> " + target + ": " + row.value("error").toString();
        QVERIFY2(failures.removeOne(line), qPrintable(line));
        QVERIFY(line.contains(row.value("conflict").toString()));
    }
    QCOMPARE(failures, QStringList());
    // Every file still exists exactly once, with its content; the dangling link is untouched.
    QCOMPARE(Contents(dir.path()), contents);
    QCOMPARE(QFile::symLinkTarget(dir.filePath("Ep3.mkv")), dir.filePath("nowhere"));
}

void tst_Cli::cleanApply()
{
    QTemporaryDir dir;
    QVERIFY(WriteFile(dir.filePath("Set/A.x/a.mkv"), 10, 'a'));
    QVERIFY(WriteFile(dir.filePath("Set/B.x/b.mkv"), 10, 'b'));
    const Result cli = Run({"--apply", "--filename", "%1.x", dir.filePath("Set")});
    QCOMPARE(cli.status, 0);
    QCOMPARE(cli.err, QByteArray()); // no terminal, so no progress line either
    QVERIFY2(cli.out.endsWith("\n2 moved, 0 failed\n"), cli.out.constData());
    QCOMPARE(Snapshot(dir.filePath("Set")),
             QStringList({"A.mkv " + HashOf(QByteArray(10, 'a')), "A.x/",
                          "B.mkv " + HashOf(QByteArray(10, 'b')), "B.x/"}));
}

void tst_Cli::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments"); // "@" stands for the temporary folder
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("mentions"); // on stdout for status 0, on stderr otherwise

    QTest::newRow("unknown option") << QStringList{"--bogus", "@/R"} << 2 << "bogus";
    QTest::newRow("missing option value") << QStringList{"@/R", "--filename"} << 2 << "--filename";
    QTest::newRow("missing folder") << QStringList{"@/R", "@/R/nope"} << 2 << "@/R/nope";
    QTest::newRow("file as folder") << QStringList{"@/R/Ep2.mkv"} << 2 << "@/R/Ep2.mkv";
    QTest::newRow("file as root") << QStringList{"--root", "@/R/Ep2.mkv", "@/R"} << 2 << "--root";
    QTest::newRow("root is missing") << QStringList{"--root", "@/nope", "@/R"} << 2 << "@/nope";
    QTest::newRow("no folder") << QStringList{"--filename", "%1.%2"} << 2 << "FOLDER";
    QTest::newRow("help wins over folders")
        << QStringList{"@/R", "--help"} << 0 << "Usage: move-rename-cli [options] FOLDER...";
    QTest::newRow("version") << QStringList{"--version"} << 0
                             << "move-rename-cli " MOVE_RENAME_VERSION "\n";
}

void tst_Cli::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, mentions);

    arguments.replaceInStrings("@", temp.path());
    const QStringList before = Snapshot(temp.path());
    const Result cli = Run(QStringList{"--apply", "--output", "%1"} + arguments);
    QCOMPARE(cli.status, status);
    // Bad input: one line on stderr only; help and version: stdout only.
    const QString message = QString::fromUtf8(status == 0 ? cli.out : cli.err);
    QCOMPARE(status == 0 ? cli.err : cli.out, QByteArray());
    if (status != 0)
        QVERIFY2(message.startsWith("move-rename-cli: ") && message.count('\n') == 1,
                 qPrintable(message));
    QVERIFY2(message.contains(mentions.replace("@", temp.path())), qPrintable(message));
    QCOMPARE(Snapshot(temp.path()), before);
}

void tst_Cli::jsonRows_data()
{
    QTest::addColumn<QStringList>("arguments"); // run in the temporary folder
    QTest::addColumn<QString>("root");
    QTest::addColumn<QStringList>("folders"); // "@" stands for the temporary folder

    const QStringList r{"Ep1.a", "Ep1.b", "Ep2.a", "Ep3.a", "Ep4.a", "Ep5.a", "plain"};
    QStringList outside = r;
    outside.replaceInStrings(QRegularExpression("^"), "@/R/");
    QTest::newRow("one folder: its subfolders under itself") << QStringList{"R/"} << "R" << r;
    QTest::newRow("several folders: their common parent, order kept")
        << QStringList{"R/Ep4.a", "./R/../R/Ep1.a"} << "R" << QStringList{"Ep4.a", "Ep1.a"};
    QTest::newRow("several depths")
        << QStringList{"Deep/x/Sub.a", "R/Ep4.a"} << "" << QStringList{"Deep/x/Sub.a", "R/Ep4.a"};
    QTest::newRow("a folder and one inside it: the parent of both")
        << QStringList{"Deep/x", "Deep/x/Sub.a"} << "Deep" << QStringList{"x", "x/Sub.a"};
    QTest::newRow("--root over one folder")
        << QStringList{"--root", "Deep", "R"} << "Deep" << outside;
    QTest::newRow("--root over several") << QStringList{"R/Ep1.a", "Deep/x", "--root", "R"} << "R"
                                         << QStringList{"Ep1.a", "@/Deep/x"};
}

void tst_Cli::jsonRows()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, root);
    QFETCH(QStringList, folders);

    const Result cli = Run(arguments + QStringList{"--json"}, temp.path());
    QCOMPARE(cli.status, 0);
    const QJsonObject plan = ParseObject(cli.out);
    QCOMPARE(plan.keys(), QStringList({"filename_pattern", "output_pattern", "root", "rows"}));
    QCOMPARE(plan.value("root").toString(), (root.isEmpty() ? temp.path() : Path(root)) + "/");
    QCOMPARE(plan.value("output_pattern").toString(), QStringLiteral("%1"));
    QVERIFY(plan.value("filename_pattern").isString());
    QCOMPARE(Field(plan, "folder"), folders.replaceInStrings("@", temp.path()));
    for (const QJsonValue &value : plan.value("rows").toArray()) {
        const QJsonObject row = value.toObject();
        QCOMPARE(row.keys(), QStringList({"conflict", "folder", "source", "target"}));
        QVERIFY(row.value("conflict").isNull() || row.value("conflict").isString());
        QVERIFY(row.value("target").isString());
        QVERIFY(QFileInfo(row.value("source").toString()).isAbsolute());
        QVERIFY(QFileInfo(row.value("source").toString()).isFile());
    }
}

QTEST_MAIN(tst_Cli)
#include "tst_cli.moc"
