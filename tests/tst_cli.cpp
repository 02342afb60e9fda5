// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "share.h"
#include "windowdriver.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

#include <cerrno>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Every entry under folder, hidden ones included: a folder's mode; a file's or link's mode,
// modification time in nanoseconds, and content or link target.
QMap<QString, QString> Tree(const QString &folder)
{
    QMap<QString, QString> entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st = {};
        ::lstat(QFile::encodeName(path), &st);
        entries[path] = QString::number(st.st_mode, 8);
        QFile file(path);
        if (!S_ISDIR(st.st_mode))
            entries[path] +=
                QString::asprintf(" %lld.%09ld ", qint64(st.st_mtim.tv_sec), st.st_mtim.tv_nsec) +
                QFileInfo(path).symLinkTarget() +
                (file.open(QIODevice::ReadOnly) ? file.readAll() : "");
    }
    return entries;
}

} // namespace

// The command line front end, run as the built program in a fresh folder tree for every case.
class tst_Cli : public QObject
{
    Q_OBJECT

    QTemporaryDir temp;
    Share share;
    QString r; // the case's folder R, made afresh for every case
    QProcess cli;

    // The program's exit status, -1 when it did not finish normally.
    int Run(const QStringList &arguments, const QString &program = CLI_PATH)
    {
        cli.start(program, arguments);
        const bool done = cli.waitForFinished(60000) && cli.exitStatus() == QProcess::NormalExit;
        return done ? cli.exitCode() : -1;
    }

    // Mounts a tmpfs of size on folder for the rest of the case; false where that is refused.
    bool Mount(const QString &folder, const char *size)
    {
        if (!QDir().mkpath(folder) ||
            QProcess::execute("mount",
                              {"-t", "tmpfs", "-o", QString("size=") + size, "tmpfs", folder}) != 0)
            return false;
        mounts.append(folder);
        return true;
    }
    QStringList mounts;

private slots:
    void initTestCase() { QVERIFY(share.Mount()); }

    // With "%1.%2" and "%1": a row that moves, a duplicate of it, a target that exists, a target
    // that is a dangling link, one more that moves, and an empty target. Made on the share for
    // rows whose tag says so.
    void init()
    {
        const QString tag = QTest::currentDataTag();
        const bool onShare = tag.startsWith("on the share: ");
        if (onShare && share.refused)
            QSKIP(share.kRefused);
        r = (onShare ? share.mountPoint : temp)
                .filePath(QTest::currentTestFunction() + tag + "/R/");
        cli.setWorkingDirectory(r);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_STATE_HOME", r + "../state"); // where journals go
        cli.setProcessEnvironment(environment);
        cli.setChildProcessModifier({});
        QVERIFY(WriteFile(r + "Ep1.a/one.mkv", 11) && WriteFile(r + "Ep1.b/two.mkv", 12) &&
                WriteFile(r + "Ep2.a/three.mkv", 13) && WriteFile(r + "Ep3.a/four.mkv", 14) &&
                WriteFile(r + "Ep4.a/five.mkv", 15) && WriteFile(r + "Epz/data", 16) &&
                WriteFile(r + "Ep2.mkv", 17) && QFile::link(r + "nowhere", r + "Ep3.mkv"));
    }

    void cleanup()
    {
        for (const QString &folder : std::exchange(mounts, {}))
            QProcess::execute("umount", {folder});
    }

    // The window's suggestion, then a typed pattern; the CLI adds why a row would not move.
    void matchesWindow()
    {
        WindowDriver window;
        QString error;
        window.OpenFolders({QDir::cleanPath(r + ".."), {"R"}}, &error);
        // The conflicts under the typed pattern "%1.%2", with the output pattern "%1".
        const QVariantList kinds{QVariant(), "duplicate", "exists", "exists", QVariant(), "empty"};
        for (const QStringList &patterns : {QStringList(), QStringList{"--filename", "%1.%2"}}) {
            window.filename->setText(patterns.value(1, window.filename->text()));
            QCOMPARE(Run(QStringList{"--json", "."} + patterns), 0);
            QVariantList rows;
            for (QTreeWidgetItemIterator it(window.tree); *it; ++it)
                rows.append(QVariantMap{
                    {"folder", (*it)->text(0)},
                    {"target", (*it)->text(2)},
                    {"source", (*it)->data(0, Qt::UserRole)},
                    {"conflict", patterns.isEmpty() ? QVariant() : kinds.value(rows.size())},
                    {"sidecars", QVariantList()}});
            QVariantMap plan{
                {"root", window.RootFolder() + "/"}, {"rows", rows}, {"skipped", QVariantList()}};
            plan["filename_pattern"] = window.filename->text();
            plan["output_pattern"] = window.output->text();
            QCOMPARE(QJsonDocument::fromJson(cli.readAllStandardOutput()).toJson(),
                     QJsonDocument::fromVariant(plan).toJson());
        }
    }

    void run_data()
    {
        QTest::addColumn<QStringList>("arguments"); // run in R; {fs}: a 1 MB file system
        QTest::addColumn<int>("status");
        // "source>target" in R; without a target the file left R.
        QTest::addColumn<QStringList>("moves");
        QTest::addColumn<QStringList>("errors"); // part of each line on stderr, in order; {r}: R
        // Made in R first: "path" (2 bytes), "path=size", or "folder!" that cannot be listed
        // (root then runs the program without its overriding capabilities); "%ff" stands for
        // that byte, not valid UTF-8.
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("output"); // each matched by a line of stdout, in order

        const auto row = [](const char *tag, const QStringList &arguments, int status,
                            const QStringList &errors = {}, const QStringList &moves = {},
                            const QStringList &files = {}, const QStringList &output = {}) {
            QTest::newRow(tag) << arguments << status << moves << errors << files << output;
        };
        const QStringList conflicts{"--apply", "--filename", "%1.%2", "."};
        const QStringList moved{"Ep1.a/one.mkv>Ep1.mkv", "Ep4.a/five.mkv>Ep4.mkv"};
        row("preview: the same without --apply", conflicts.mid(1), 0);
        for (const char *tag : {"conflicts stay", "on the share: conflicts stay"})
            row(tag, conflicts, 1, {"duplicate", "exists", "exists", "empty", "journal: "}, moved);
        row("clean, several folders, no journal",
            {"--apply", "--no-journal", "--filename", "Ep%1.%2", "--output", "%2%1", "Ep4.a",
             "Ep1.b"},
            0, {}, {"Ep4.a/five.mkv>a4.mkv", "Ep1.b/two.mkv>b1.mkv"});
        row("journal would replace a file", QStringList{"--journal", "Ep2.mkv"} + conflicts, 2,
            {"cannot create the journal {r}Ep2.mkv: File exists"});
        row("undo with an option of a run", {"--undo", "--output", "%1"}, 2,
            {"--output does not go with --undo"});
        row("unknown option", {"--apply", "--bogus", "."}, 2, {"move-rename-cli: Unknown option"});
        row("missing folder", {"--apply", ".", "nope"}, 2, {"no such folder: 'nope'"});
        row("file as root", {"--apply", "--root", "Ep2.mkv", "."}, 2, {"--root: not a folder"});
        row("no folder", {"--apply"}, 2, {"no FOLDER given"});

        const QStringList sidecars = QStringList{"--sidecars"} + conflicts;
        row("sidecars: named like the file, or subtitles", sidecars, 1,
            {"duplicate", "exists", "exists", "empty", "journal: "},
            moved + QStringList{"Ep4.a/five.en.srt>Ep4.en.srt", "Ep4.a/FIVE.nfo>Ep4.nfo",
                                "Ep4.a/english.srt>Ep4.english.srt",
                                "Ep4.a/subs/English.srt>Ep4.English.srt"},
            {"Ep4.a/five.en.srt", "Ep4.a/FIVE.nfo", "Ep4.a/english.srt", "Ep4.a/subs/English.srt",
             "Ep4.a/five-x.nfo", "Ep4.a/.five.srt", "Ep4.a/Other/a.srt", "Ep4.a/subs/a.txt"},
            {"^Ep4.a +five.mkv +Ep4.mkv$", "^ +FIVE.nfo +Ep4.nfo$", "^ +five.en.srt +Ep4.en.srt$",
             "^ +english.srt +Ep4.english.srt$", "^ +subs/English.srt +Ep4.English.srt$"});
        row("sidecars: one that cannot go blocks its row", sidecars, 1,
            {"duplicate", "exists", "exists",
             "Ep4.mkv: a sidecar cannot move: five.en.srt: target exists", "empty", "journal: "},
            moved.mid(0, 1), {"Ep4.a/five.en.srt", "Ep4.en.srt"},
            {"^Ep4.a +five.mkv +Ep4.mkv +sidecar$", "^ +five.en.srt +Ep4.en.srt +exists$"});
        row("sidecars: one that fails to move takes its row back",
            {"--apply", "--sidecars", "--root", "{fs}", "--filename", "Ep%1.a", "Ep4.a", "Ep2.a"},
            1, {"five.en.srt: copy: " + qt_error_string(ENOSPC), "journal: "}, {"Ep2.a/three.mkv>"},
            {"Ep4.a/five.mkv=700000", "Ep4.a/five.en.srt=600000"});
        row("every folder accounted for", conflicts.mid(1), 0, {}, {},
            {"Ep5.a/big%ff.mkv=20", "Ep5.a/small.mkv", "Ep6!", "Epy/.hidden", "Ep%ff/a.mkv"},
            {"^skipped:$", "^  Ep5.a +name not representable$", "^  Ep6 +unreadable$",
             "^  Epy +no file$", "^  Ep\\x{fffd} +name not representable$"});
        row("a name not valid UTF-8 never moves", conflicts, 1,
            {"duplicate", "exists", "exists", "empty", "journal: "}, moved,
            {"Ep5.a/big%ff.mkv=20", "Ep5.a/small.mkv", "Ep%ff/a.mkv"});
        row("one release folder", {"--apply", "--release", "--filename", "Ep%1.a", "Ep4.a"}, 0,
            {"journal: "}, {"Ep4.a/five.mkv>4.mkv"});
        row("one release folder, nothing to suggest from", {"--release", "Ep4.a"}, 2,
            {"--filename is needed"});
        row("patterns capture nothing: the bare extension is empty",
            {"--apply", "--filename", "Ep4.a%1", "Ep4.a", "Ep2.a"}, 1,
            {"Ep4.a/five.mkv -> {r}.mkv: empty", "Ep2.a/three.mkv -> {r}.mkv: empty", "journal: "});
    }

    void run()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QStringList, moves);
        QFETCH(QStringList, errors);
        QFETCH(QStringList, files);
        QFETCH(QStringList, output);

        // What Qt can remove again once the case is over: names back to "%ff", modes to 0700.
        QStringList made;
        const auto tidy = qScopeGuard([&] {
            for (const QString &path : std::as_const(made)) {
                ::rename(QFile::encodeName(path).replace("%ff", "\xff"), QFile::encodeName(path));
                QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            }
        });
        bool unreadable = false;
        for (const QString &file : files) {
            const QString path = r + file.section('=', 0, 0).remove('!');
            unreadable = unreadable || file.endsWith('!');
            QVERIFY(file.endsWith('!')
                        ? QDir().mkpath(path) && QFile::setPermissions(path, {})
                        : WriteFile(path, file.contains('=') ? file.section('=', 1).toInt() : 2));
            const QString named = path.left(path.indexOf('/', path.indexOf("%ff")));
            QVERIFY(!named.contains("%ff") ||
                    ::rename(QFile::encodeName(named),
                             QFile::encodeName(named).replace("%ff", "\xff")) == 0);
            if (file.endsWith('!') || named.contains("%ff"))
                made.append(file.endsWith('!') ? path : named);
        }
        // Root lists any folder; without the capabilities that override permissions it is bound
        // by them like anyone else, and can still run the program wherever it was built.
        if (unreadable && ::geteuid() == 0)
            cli.setChildProcessModifier([] {
                (void)::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE);
                (void)::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH);
            });
        if (arguments.contains("{fs}") && !Mount(r + "../fs", "1m"))
            QSKIP("cannot mount a tmpfs here (the message is in the log)");
        arguments.replaceInStrings("{fs}", r + "../fs");
        QMap<QString, QString> expected = Tree(r);
        QCOMPARE(Run(arguments), status);
        const auto lines = QString(cli.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), errors.size());
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY2(lines[i].contains(errors[i].replace("{r}", r)), qPrintable(lines[i]));
        const QString out = cli.readAllStandardOutput();
        qsizetype from = 0;
        for (const QString &line : output) {
            const auto match =
                QRegularExpression(line, QRegularExpression::MultilineOption).match(out, from);
            QVERIFY2(match.hasMatch(), qPrintable(line + " in\n" + out));
            from = match.capturedEnd();
        }
        // The moved files are at their targets, and everything else is as it was.
        for (const QString &move : moves) {
            const QString entry = expected.take(r + move.section('>', 0, 0));
            if (!move.endsWith('>'))
                expected[r + move.section('>', 1)] = entry;
        }
        QCOMPARE(Tree(r), expected);
    }

    // A run of "%1.%2" over R moves Ep1.a/one.mkv to Ep1.mkv and Ep4.a/five.mkv to Ep4.mkv; then
    // something happens, then the run is undone.
    void undo_data()
    {
        QTest::addColumn<QString>("change"); // what happens between the run and the undo
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("errors"); // part of each line on stderr, in order
        // Paths in R that the undo must leave as it found them; all of them for status 2.
        QTest::addColumn<QStringList>("kept");

        const QStringList one{"Ep1.a/one.mkv", "Ep1.mkv"};
        const auto refused = [&](const char *tag, const char *change, const QString &reason) {
            QTest::newRow(tag) << change << 1
                               << QStringList{"failed: {r}Ep1.mkv -> {r}Ep1.a/one.mkv: " + reason}
                               << one;
        };
        QTest::newRow("the tree comes back") << "" << 0 << QStringList() << QStringList();
        QTest::newRow("a removed release folder is made again")
            << "rmdir Ep4.a" << 0 << QStringList() << QStringList();
        refused("target grew", "append Ep1.mkv", "the target holds another file (other size)");
        refused("target touched", "touch Ep1.mkv",
                "the target holds another file (other modification time)");
        refused("target replaced by a look-alike", "replace Ep1.mkv",
                "the target holds another file (other inode on the same file system)");
        refused("target gone", "remove Ep1.mkv", "the target is gone");
        refused("source path taken", "write Ep1.a/one.mkv", "the source path is taken");
        // What a run killed during a copy between file systems leaves: the copy published
        // beside its source, or a hidden temporary copy.
        QTest::newRow("copy published, source still there")
            << "copy Ep1.mkv Ep1.a/one.mkv" << 0 << QStringList() << QStringList();
        QTest::newRow("temporary copy beside a target")
            << "write .Ep1.mkv.3fa2c.part" << 0 << QStringList() << QStringList();
        // Undone, then the same run again: undoing the first run again must not touch it.
        QTest::newRow("undone already: nothing moves")
            << "undo" << 0 << QStringList()
            << QStringList{"Ep1.a/one.mkv", "Ep1.mkv", "Ep4.a/five.mkv", "Ep4.mkv"};
        QTest::newRow("torn last line") << "tear" << 0 << QStringList() << QStringList();
        QTest::newRow("corrupted middle line")
            << "corrupt 2" << 2 << QStringList{":2: malformed line"} << QStringList();
        QTest::newRow("newer format")
            << "corrupt 1" << 2 << QStringList{":1: written in format version 2"} << QStringList();
    }

    void undo()
    {
        QFETCH(QString, change);
        QFETCH(int, status);
        QFETCH(QStringList, errors);
        QFETCH(QStringList, kept);

        const QMap<QString, QString> before = Tree(r);
        QCOMPARE(Run({"--apply", "--json", "--filename", "%1.%2", "."}), 1);
        const QString journal =
            QJsonDocument::fromJson(cli.readAllStandardOutput())["journal"].toString();
        QVERIFY(cli.readAllStandardError().endsWith("journal: " + journal.toUtf8() + '\n'));
        struct stat st = {};
        QVERIFY2(::stat(QFile::encodeName(journal), &st) == 0 && (st.st_mode & 0777) == 0600,
                 qPrintable(journal));

        const QStringList words = change.split(' ');
        const QString path = r + words.value(1);
        QFile file(words[0] == "tear" || words[0] == "corrupt" ? journal : path);
        if (words[0] == "rmdir")
            QVERIFY(QDir().rmdir(path));
        // A file grows but keeps its time, or gets another time but keeps its size.
        struct stat was = {};
        ::stat(QFile::encodeName(path), &was);
        const timespec same[2] = {was.st_atim, was.st_mtim};
        const timespec old[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
        if (words[0] == "append" || words[0] == "write")
            QVERIFY(file.open(QIODevice::Append) && file.write("more") == 4 && file.flush());
        if (words[0] == "append" || words[0] == "touch")
            QCOMPARE(
                ::utimensat(AT_FDCWD, QFile::encodeName(path), words[0] == "touch" ? old : same, 0),
                0);
        if (words[0] == "remove")
            QVERIFY(file.remove());
        // The look-alike is made before the file goes, so that it cannot get the file's inode.
        if (words[0] == "replace") {
            QVERIFY(WriteFile(path + "~", was.st_size, 'y'));
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path + "~"), same, 0), 0);
            QCOMPARE(::rename(QFile::encodeName(path + "~"), QFile::encodeName(path)), 0);
        }
        if (words[0] == "copy") {
            QVERIFY(file.copy(r + words.value(2)));
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(r + words.value(2)), same, 0), 0);
        }
        if (words[0] == "undo") {
            QCOMPARE(Run({"--undo", "--apply", journal}), 0);
            QCOMPARE(Run({"--apply", "--filename", "%1.%2", "."}), 1);
        }
        if (words[0] == "tear")
            QVERIFY(file.resize(file.size() - 3));
        if (words[0] == "corrupt") {
            QVERIFY(file.open(QIODevice::ReadWrite));
            QList<QByteArray> lines = file.readAll().split('\n');
            QByteArray &line = lines[words[1].toInt() - 1];
            line = line.startsWith("{\"journal") ? line.replace("\"version\":1", "\"version\":2")
                                                 : line.left(20);
            QVERIFY(file.resize(0) && file.write(lines.join('\n')) > 0);
        }
        file.close();
        const QMap<QString, QString> changed = Tree(r);

        // The preview (of the newest journal not undone) touches nothing; it names every file it
        // would put back, with a reason where it would refuse one.
        QCOMPARE(Run({"--undo", "--json"}), status == 2 ? 2 : 0);
        QCOMPARE(Tree(r), changed);
        const QJsonArray rows =
            QJsonDocument::fromJson(cli.readAllStandardOutput())["rows"].toArray();
        QCOMPARE(rows.size(), status == 2 ? 0 : 2);
        for (const QJsonValue &row : rows)
            QCOMPARE(row["error"].isNull(),
                     change == "undo" || !kept.contains(row["target"].toString().mid(r.size())));

        QCOMPARE(Run({"--undo", "--apply", journal}), status);
        const auto lines = QString(cli.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), errors.size());
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY2(lines[i].contains(QString(errors[i]).replace("{r}", r)), qPrintable(lines[i]));
        // Refused files stay as they were; everything else is as before the run.
        const QMap<QString, QString> after = Tree(r);
        for (const QString &path : (before.keys() + changed.keys() + after.keys())) {
            const bool keep = status == 2 || kept.contains(path.mid(r.size()));
            QCOMPARE(after.value(path, "absent"), (keep ? changed : before).value(path, "absent"));
        }
        if (status != 2) {
            QCOMPARE(Run({"--history"}), 0);
            const QStringList lines = QString(cli.readAllStandardOutput()).split('\n');
            const QString line = lines.filter(journal).value(0);
            // The run's outcome lines, which the torn line cut short, say how many rows moved.
            const QString moved = change == "tear" ? "1" : "2";
            const QString undone = status ? "partly" : "yes";
            QVERIFY2(line.contains(QRegularExpression("\\s" + moved + "\\s+" + undone + "\\s")) &&
                         line.endsWith(journal),
                     qPrintable(line));
        }
    }

    // A run killed at a random moment, then undone, gives back the tree exactly: the files
    // already moved, the one in flight and any copy it left, main files and sidecars alike.
    void killed_data()
    {
        QTest::addColumn<bool>("across"); // the root on a file system of its own
        // strace kills the run at a random call of this; empty: a timer at a random moment.
        QTest::addColumn<QString>("call");
        QTest::newRow("one file system, at a random rename") << false << "renameat2";
        // Without hard links, a move takes the target with an empty placeholder and renames over
        // it: killed in between, the placeholder stands at the target.
        QTest::newRow("on the share: at a random rename over a placeholder") << false << "renameat";
        QTest::newRow("across file systems, at a random moment") << true << "";
        QTest::newRow("across file systems, copy published, source not yet removed")
            << true << "unlink";
    }

    void killed()
    {
        QFETCH(bool, across);
        QFETCH(QString, call);
        const QString root = across ? r + "../root" : r;
        if (across && !Mount(root, "64m"))
            QSKIP("cannot mount a tmpfs here (the message is in the log)");
        const auto both = [&] {
            QMap<QString, QString> entries = Tree(r);
            entries.insert(Tree(root));
            return entries;
        };
        // Each row a file and its subtitle, moved in this order.
        QList<QPair<QString, QString>> moves;
        for (int i = 0; i < 8; ++i) {
            for (const QString name : {".mkv", ".en.srt"})
                moves.append(
                    {r + QString("Ep%1/a").arg(i) + name, root + QString("/%1").arg(i) + name});
        }
        for (int attempt = 0; attempt < 4; ++attempt) {
            const QString journal = r + QString("../journal%1").arg(attempt);
            QVERIFY(QDir(r).removeRecursively());
            for (const auto &[source, target] : moves)
                QVERIFY(WriteFile(source, !source.endsWith(".mkv") ? 100 : across ? 4 << 20 : 200));
            const QMap<QString, QString> before = both();
            const QStringList arguments{"--apply", "--sidecars", "--filename", "Ep%1", "--root",
                                        root,      "--journal",  journal,      r};
            const int at = QRandomGenerator::global()->bounded(1, int(moves.size()) + 1);
            if (call.isEmpty()) {
                // Any moment from the start of the moves on: the journal is there just before.
                cli.start(CLI_PATH, arguments);
                QElapsedTimer waited;
                waited.start();
                while (!QFileInfo::exists(journal) && waited.elapsed() < 10000)
                    QThread::usleep(100);
                QThread::usleep(QRandomGenerator::global()->bounded(30000));
                cli.kill();
                cli.waitForFinished();
            } else {
                Run(
                    QStringList{
                        "-f", "-qq", "-o", "/dev/null", "-e",
                        QString("inject=%1:error=EIO:signal=SIGKILL:when=%2").arg(call).arg(at),
                        CLI_PATH} +
                        arguments,
                    "strace");
                QCOMPARE(cli.exitStatus(), QProcess::CrashExit);
                // The kill came where it was meant to: before the rename of the at-th file, or
                // between publishing its copy and removing its source.
                int arrived = 0, twice = 0;
                for (const auto &[source, target] : moves) {
                    arrived += QFileInfo::exists(target);
                    twice += QFileInfo::exists(target) && QFileInfo::exists(source);
                }
                const bool bothEnds = call == "unlink" || call == "renameat";
                QCOMPARE(arrived, bothEnds ? at : at - 1);
                QCOMPARE(twice, bothEnds ? 1 : 0);
            }
            // Killed before the journal was written, nothing has moved and there is no journal.
            const int status = Run({"--undo", "--apply", journal});
            QVERIFY2(status == 0 || (status == 2 && !QFileInfo(journal).size()),
                     cli.readAllStandardError());
            QCOMPARE(both(), before);
        }
    }
};

QTEST_MAIN(tst_Cli)
#include "tst_cli.moc"
