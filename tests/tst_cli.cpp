// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "ondisk.h"
#include "share.h"
#include "windowdriver.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QScopeGuard>

#include <cerrno>
#include <climits>

#include <linux/capability.h>
#include <sys/prctl.h>
#include <unistd.h>

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
        return cli.waitForFinished(60000) && cli.exitStatus() == QProcess::NormalExit
                   ? cli.exitCode()
                   : -1;
    }

private slots:
    // Root lists any folder; without the capabilities that override permissions it is bound by
    // them like anyone else, and can still run the program wherever it was built. The umask
    // of a shared desktop account, so that a folder made with a mode of its own shows.
    void initTestCase()
    {
        QVERIFY(share.Mount());
        cli.setChildProcessModifier([] {
            for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
                (void)::prctl(PR_CAPBSET_DROP, capability);
            ::umask(002);
        });
    }

    // Names that are not valid UTF-8 are beyond QTemporaryDir.
    void cleanupTestCase() { QProcess::execute("rm", {"-rf", temp.path()}); }

    // With "%1.%2" and "%1": a row that moves, a duplicate of it, a target that exists, a target
    // that is a dangling link, one more that moves, and an empty target. Made on the share for
    // rows whose tag says so; beside it ../fs, a file system of its own for rows whose tag says
    // they go across file systems.
    void init()
    {
        const QString tag = QTest::currentDataTag();
        if (tag.startsWith("on the share: ") && share.refused)
            SKIP_ROW(share.kRefused);
        r = (tag.startsWith("on the share: ") ? share.mountPoint : temp)
                .filePath(QTest::currentTestFunction() + tag + "/R/");
        cli.setWorkingDirectory(r);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_STATE_HOME", r + "../state"); // where journals go
        environment.insert("PATH", QFileInfo(CLI_PATH).path() + ':' + environment.value("PATH"));
        cli.setProcessEnvironment(environment);
        QVERIFY(WriteFile(r + "Ep1.a/one.mkv", 11) && WriteFile(r + "Ep1.b/two.mkv", 12) &&
                WriteFile(r + "Ep2.a/three.mkv", 13) && WriteFile(r + "Ep3.a/four.mkv", 14) &&
                WriteFile(r + "Ep4.a/five.mkv", 15) && WriteFile(r + "Epz/data", 16) &&
                WriteFile(r + "Ep2.mkv", 17) && QFile::link(r + "nowhere", r + "Ep3.mkv") &&
                QDir().mkpath(r + "../fs"));
        if (tag.startsWith("across file systems") &&
            QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64m", "tmpfs", r + "../fs"}))
            SKIP_ROW("cannot mount a tmpfs here (the message is in the log)");
    }

    void cleanup() { QProcess::execute("umount", {"-q", r + "../fs"}); }

    // The window's suggestion and its rows, as the command line plans them.
    void matchesWindow()
    {
        WindowDriver window;
        QString error;
        window.OpenFolders({QDir::cleanPath(r + ".."), {"R"}}, &error);
        QCOMPARE(Run({"--json", "."}), 0);
        QVariantList rows;
        for (QTreeWidgetItemIterator it(window.tree); *it; ++it)
            rows.append(QVariantMap{{"folder", (*it)->text(0)},
                                    {"target", (*it)->text(2)},
                                    {"source", (*it)->data(0, Qt::UserRole)},
                                    {"conflict", QVariant()},
                                    {"sidecars", QVariantList()}});
        const QVariantMap plan{{"root", window.RootFolder() + "/"},
                               {"action", "move"},
                               {"rows", rows},
                               {"skipped", QVariantList()},
                               {"filename_pattern", window.filename->text()},
                               {"output_pattern", window.output->text()}};
        QCOMPARE(QJsonDocument::fromJson(cli.readAllStandardOutput()).toJson(),
                 QJsonDocument::fromVariant(plan).toJson());
    }

    // A shell command run in R, then move-rename-cli with the given arguments, also in R.
    void commands_data()
    {
        QTest::addColumn<QString>("setup"); // with move-rename-cli on the PATH
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("errors"); // regular expressions, one per line of stderr
        QTest::addColumn<QStringList>("output"); // regular expressions matched in stdout, in order
        // "source>target" in R (or ../fs) moved, without a target it left them; "source=target"
        // copied or hard-linked (the same snapshot); "source@target" a symbolic link to it.
        QTest::addColumn<QStringList>("moves");

        const auto row = [](const char *tag, const QString &command, int status,
                            const QStringList &errors = {}, const QStringList &moves = {},
                            const QString &setup = {}, const QStringList &output = {}) {
            QTest::newRow(tag) << setup << command << status << errors << output << moves;
        };
        const QString conflicts = "--apply --filename %1.%2 .";
        const QStringList failed{"duplicate", "exists", "exists", "empty", "journal: "};
        // \377 is a byte that is not valid UTF-8; root is bound by the mode of Ep6 here too.
        row("preview: nothing moves, every folder accounted for", conflicts.mid(8), 0, {}, {},
            "x=$(printf '\\377') && mkdir Ep5.a Ep6 Epy Ep$x && head -c 20 /dev/zero "
            ">Ep5.a/big$x.mkv && touch Ep5.a/small.mkv Epy/.hidden Ep$x/a.mkv && chmod 0 Ep6",
            {"^Ep1.b +two.mkv +Ep1.mkv +duplicate$", "^Ep3.a +four.mkv +Ep3.mkv +exists$",
             "^skipped:$", "^  Ep5.a +name not representable$", "^  Ep6 +unreadable$",
             "^  Epy +no file$", "^  Ep\\x{fffd} +name not representable$"});
        row("on the share: preview: a target taken in another letter case",
            "--filename Ep%1.a --output Anycase%1 Ep4.a Ep2.a", 0, {}, {}, "touch ANYCASE4.MKV",
            {"^Ep4.a +five.mkv +Anycase4.mkv +exists$", "^Ep2.a +three.mkv +Anycase2.mkv$"});
        for (const char *tag : {"conflicts stay", "on the share: conflicts stay"})
            row(tag, conflicts, 1, failed, {"Ep1.a/one.mkv>Ep1.mkv", "Ep4.a/five.mkv>Ep4.mkv"});
        row("clean, several folders, no journal",
            "--apply --no-journal --filename Ep%1.%2 --output %2%1 Ep4.a Ep1.b", 0, {},
            {"Ep4.a/five.mkv>a4.mkv", "Ep1.b/two.mkv>b1.mkv"});
        row("journal would replace a file", "--journal Ep2.mkv " + conflicts, 2,
            {"cannot create the journal .*/R/Ep2.mkv: File exists"});
        row("undo with an option of a run", "--undo --output %1", 2, {"--output does not go"});
        row("unknown option", "--apply --bogus .", 2, {"move-rename-cli: Unknown option"});
        row("missing folder", "--apply . nope", 2, {"no such folder: 'nope'"});
        row("file as root", "--apply --root Ep2.mkv .", 2, {"--root: not a folder"});
        row("no folder", "--apply", 2, {"no FOLDER given"});
        // Ep1.a's sidecar cannot go, which holds back its row.
        row("sidecars: named like the file, or subtitles", "--sidecars " + conflicts, 1,
            {"Ep1.mkv: a sidecar cannot move: one.srt: target exists", "duplicate", "exists",
             "exists", "empty", "journal: "},
            {"Ep4.a/five.mkv>Ep4.mkv", "Ep4.a/five.en.srt>Ep4.en.srt", "Ep4.a/FIVE.nfo>Ep4.nfo",
             "Ep4.a/english.srt>Ep4.english.srt", "Ep4.a/subs/English.SRT>Ep4.English.SRT",
             "Ep4.a/SUBTITLES/forced.ass>Ep4.forced.ass"},
            "touch Ep1.a/one.srt Ep1.srt && cd Ep4.a && mkdir Other subs SUBTITLES && touch "
            "five.en.srt FIVE.nfo english.srt subs/English.SRT five-x.nfo .five.srt Other/a.srt "
            "subs/a.txt SUBTITLES/forced.ass",
            {"^Ep1.a +one.mkv +Ep1.mkv +sidecar$", "^ +one.srt +Ep1.srt +exists$",
             "^Ep4.a +five.mkv +Ep4.mkv$", "^ +FIVE.nfo +Ep4.nfo$", "^ +five.en.srt +Ep4.en.srt$",
             "^ +SUBTITLES/forced.ass +Ep4.forced.ass$", "^ +english.srt +Ep4.english.srt$",
             "^ +subs/English.SRT +Ep4.English.SRT$"});
        row("across file systems: a sidecar that fails to move takes its row back",
            "--apply --sidecars --root ../fs --filename Ep%1.a Ep4.a Ep2.a", 1,
            {"five.en.srt: copy: " + qt_error_string(ENOSPC), "journal: "},
            {"Ep2.a/three.mkv>../fs/2.mkv"},
            "head -c 63M /dev/zero >../fs/full && head -c 700000 /dev/zero >Ep4.a/five.mkv && "
            "head -c 600000 /dev/zero >Ep4.a/five.en.srt");
        row("one release folder", "--apply --json --release --filename Ep%1.a Ep4.a", 0,
            {"1 moved, 0 failed", "journal: "}, {"Ep4.a/five.mkv>4.mkv"}, {},
            {"\"journal\": \".*/state/move-rename/[^/]*.jsonl\""});
        row("one release folder, nothing to suggest from", "--release Ep4.a", 2,
            {"--filename is needed"});
        row("patterns capture nothing: the bare extension is empty",
            "--apply --filename Ep4.a%1 Ep4.a Ep2.a", 1,
            {"five.mkv -> .*/R/.mkv: empty", "three.mkv -> .*/R/.mkv: empty", "journal: "});

        // Each action with a sidecar, on one file system, across two and on the share, then undone:
        // what the run made goes, the sources never move.
        for (const QString place : {"one file system", "across file systems", "on the share"}) {
            const QString to = place.startsWith("across") ? "../fs/" : "";
            const QString act =
                "--apply --sidecars --filename Ep%1.a --root ./" + to + " --action ";
            const QStringList made{"Ep4.a/five.mkv=" + to + "4.mkv",
                                   "Ep4.a/five.en.srt=" + to + "4.en.srt",
                                   "Ep2.a/three.mkv=" + to + "2.mkv"};
            const QStringList gone{to + "4.mkv>", to + "4.en.srt>", to + "2.mkv>"};
            const bool noLinks = place != "one file system";
            const QString sidecar = "touch Ep4.a/five.en.srt";
            const QString linkError = place.startsWith("across")
                                          ? "hard links cannot cross file systems"
                                          : "no hard link can be made here";
            const QMap<QString, QString> words{{"copy", "copied"},
                                               {"hardlink", "hard-linked"},
                                               {"hardlink-or-copy", "hard-linked"},
                                               {"symlink", "symlinked"}};
            for (const QString &action : words.keys()) {
                const QString tag = place + ": " + action;
                const bool refused = action == "hardlink" && noLinks;
                QStringList moves = refused ? QStringList() : made;
                if (action == "symlink")
                    moves.replaceInStrings("=", "@");
                row(qPrintable(tag), act + action + " Ep4.a Ep2.a", refused ? 1 : 0,
                    refused ? QStringList{"five.mkv -> .*4.mkv: " + linkError,
                                          "three.mkv -> .*2.mkv: " + linkError, "journal: "}
                            : QStringList{"journal: "},
                    moves, sidecar,
                    {"^action: " + action + "$",
                     action == "hardlink-or-copy" && noLinks
                         ? "^copied, no hard link possible: 4.mkv$(?s:.*)^2 copied, 0 failed$"
                     : refused ? "^0 hard-linked, 2 failed$"
                               : QString("^2 ") + words.value(action) + ", 0 failed$"});
                if (!refused)
                    row(qPrintable(tag + ", undone"), "--undo --apply", 0, {}, gone,
                        sidecar + " && move-rename-cli " + act + action + " Ep4.a Ep2.a");
                // Each file's JSON says what it got, a link or a copy.
                const QString how = noLinks ? "copy" : "hardlink";
                if (action == "hardlink-or-copy")
                    row(qPrintable(tag + ", in JSON"), act + action + " --json Ep4.a Ep2.a", 0,
                        noLinks ? QStringList{": 4.mkv$", ": 2.mkv$", "^2 copied", "journal: "}
                                : QStringList{"^2 hard-linked", "journal: "},
                        made, sidecar, QStringList(3, "\"how\": \"" + how + "\""));
            }
        }
        // Undo removes a copy or a link only while it is what the run made.
        const QString copy = "move-rename-cli --apply --filename Ep%1.a --release --action ";
        for (const auto &[tag, action, change, reason] :
             std::initializer_list<std::array<const char *, 4>>{
                 {"undo refused: hard link replaced by a copy", "hardlink",
                  "cp -p 4.mkv ../t && mv ../t 4.mkv",
                  "the target is no longer a link to the source"},
                 {"undo refused: symbolic link changed", "symlink", "ln -sfn Ep1.a/one.mkv 4.mkv",
                  "the target is no longer the link made"},
                 {"undo refused: copy grew", "copy",
                  "touch -r 4.mkv ../t && echo y >>4.mkv && touch -r ../t 4.mkv",
                  "the copy differs from its source"},
                 {"undo refused: copy rewritten, same size and time", "copy",
                  "printf y | dd of=4.mkv conv=notrunc status=none && touch -r Ep4.a/five.mkv "
                  "4.mkv",
                  "the copy differs from its source"}})
            row(tag, "--undo --apply", 1,
                {QString("failed: .*/R/4.mkv -> .*/R/Ep4.a/five.mkv: ") + reason}, {},
                copy + action + " Ep4.a && " + change);
        // Folders named by the output pattern are made as files arrive and removed by the undo
        // when the run made them and they are empty; a folder that was there stays.
        const QString season = "--apply --filename Ep%1.a --output 'S/Season 1/%1' Ep4.a Ep2.a";
        row("folders made for the targets", season, 0, {"journal: "},
            {"Ep4.a/five.mkv>S/Season 1/4.mkv", "Ep2.a/three.mkv>S/Season 1/2.mkv"});
        row("undo: folders the run made removed, one that was there kept", "--undo --apply", 0, {},
            {"S/Season 1/4.mkv>Ep4.a/five.mkv", "S/Season 1/2.mkv>Ep2.a/three.mkv", "S/Season 1>"},
            "mkdir S && move-rename-cli " + season);
        row("undo: a folder the run made that holds another file stays", "--undo --apply", 0, {},
            {"S/Season 1/4.mkv>Ep4.a/five.mkv", "S/Season 1/2.mkv>Ep2.a/three.mkv"},
            "move-rename-cli " + season + " && touch 'S/Season 1/x'");
        // Nothing ever lands outside the root, nor where a file stands in for a folder.
        const QString outside = "--filename Ep%1.a --output ";
        row("a file where a folder is needed", outside + "S/%1 Ep4.a Ep2.a", 0, {}, {}, "touch S",
            {"^Ep4.a +five.mkv +S/4.mkv +not a folder$"});
        row("outside the root: ..", outside + "S/../../%1 Ep4.a Ep2.a", 0, {}, {}, {},
            {"^Ep4.a +five.mkv +S/../../4.mkv +outside$"});
        row("outside the root: absolute", outside + "/tmp/%1 Ep4.a Ep2.a", 0, {}, {}, {},
            {"^Ep4.a +five.mkv +/tmp/4.mkv +outside$"});
        row("outside the root: a link on the way", outside + "S/%1 Ep4.a Ep2.a", 0, {}, {},
            "ln -s .. S", {"^Ep4.a +five.mkv +S/4.mkv +outside$"});
        row("outside the root: a / from a captured field", "--filename %1 --root . N/Ep9 Ep4.a", 0,
            {}, {}, "mkdir -p N/Ep9 && touch N/Ep9/x.mkv", {"^N/Ep9 +x.mkv +N/Ep9.mkv +outside$"});
        // Where the kernel has no openat2, a walk that follows no link at all does its work.
        const QString noOpenat2 = "strace -qq -o /dev/null -e inject=openat2:error=ENOSYS "
                                  "move-rename-cli ";
        row("without openat2: folders made for the targets", noOpenat2 + season, 0, {"journal: "},
            {"Ep4.a/five.mkv>S/Season 1/4.mkv", "Ep2.a/three.mkv>S/Season 1/2.mkv"});
        row("without openat2: outside the root by a link on the way",
            noOpenat2 + outside + "S/%1 Ep4.a Ep2.a", 0, {}, {}, "mkdir ../out && ln -s ../out S",
            {"^Ep4.a +five.mkv +S/4.mkv +outside$"});
        // The journal's flush held back until S has become a link out of the root.
        row("outside the root: a link put in place between preview and move",
            "strace -qq -o /dev/null -e inject=fsync:delay_enter=1000000:when=1 move-rename-cli "
            "--journal ../j --apply --filename Ep%1.a --output S/%1 Ep4.a Ep2.a & until [ -s ../j "
            "]; do sleep 0.01; done; mv S ../S && ln -s ../out S; wait $!; s=$?; rm S && mv ../S "
            "S && rmdir ../out && exit $s",
            1,
            {"five.mkv -> .*/R/S/4.mkv: outside the root", "three.mkv -> .*: outside the root",
             "journal: "},
            {}, "mkdir S ../out");
        // The same moment, held for the sources: a release folder becomes a link to a folder
        // outside (in ../fs, which must stay as it was), or its file another file of that name.
        const QString held = "strace -qq -o /dev/null -e inject=fsync:delay_enter=1000000:when=1 "
                             "%1 move-rename-cli --journal ../j --apply --filename Ep%2.a Ep4.a "
                             "Ep2.a & until [ -s ../j ]; do sleep 0.01; done; %3; wait $!; s=$?; "
                             "%4 && exit $s";
        const QString swap = "mv Ep4.a ../Ep4.a && ln -s ../fs/out Ep4.a";
        const QString restore = "rm Ep4.a && mv ../Ep4.a Ep4.a";
        for (const QString walk : {"", "without openat2: "})
            row(qPrintable(walk + "a source's folder swapped for a link out of the root"),
                held.arg(walk.isEmpty() ? "" : "-e inject=openat2:error=ENOSYS", "%1", swap,
                         restore),
                1, {"five.mkv -> .*: outside the root", "journal: "}, {"Ep2.a/three.mkv>2.mkv"},
                "mkdir ../fs/out && echo secret >../fs/out/five.mkv");
        row("a source replaced by another file of its name between the scan and the move",
            held.arg("", "%1", "mv Ep4.a/five.mkv ../keep && echo other >Ep4.a/five.mkv",
                     "mv ../keep Ep4.a/five.mkv"),
            1, {"five.mkv -> .*: the file changed since the scan", "journal: "},
            {"Ep2.a/three.mkv>2.mkv"});
        // A scan names nothing that lies behind a link out of the root.
        row("a release folder that is a link out of the root", outside + "%1 .", 0, {}, {},
            "mkdir -p ../fs/out/Secret && rm -r Ep4.a && ln -s ../fs/out Ep4.a",
            {"^skipped:$", "^  Ep4.a +outside the root$"});
        // A download client's hook: one release folder elsewhere is named by its own name.
        row("one release folder outside the root",
            "--apply --release " + outside + "%1 --action hardlink-or-copy --root ../fs Ep4.a", 0,
            {"journal: "}, {"Ep4.a/five.mkv=../fs/4.mkv"}, {}, {"^Ep4.a +five.mkv +4.mkv$"});

        // A mixed download folder placed into a library: two spellings of one show (and the
        // library's own), a run of episodes, a film, samples beside an episode and alone, extras.
        const QString mixed =
            "m() { mkdir -p \"dl/$1\" && head -c $3 /dev/zero >\"dl/$1/$2\"; } && "
            "m Harbour.Lights.S02E01.720p.HDTV-GRP h1.mkv 30 && "
            "m Harbour.Lights.S02E01.720p.HDTV-GRP h1.nfo 2 && "
            "m Harbour.Lights.S02E01.720p.HDTV-GRP h1.sample.mkv 9 && "
            "m Harbour.Lights.S02E01.720p.HDTV-GRP/Sample s.mkv 9 && "
            "m 'harbour lights s02e02 web-dl' h2.mkv 30 && "
            "m Harbour.Lights.S02E03.720p.HDTV-GRP sample-h3.mkv 9 && "
            "m Night.Ferry.1x05-06.HDTV nf.mkv 30 && m The.Quiet.Harbour.2019.1080p.BluRay tqh.mkv "
            "30 && m Extras bonus.mkv 30 && mkdir -p 'lib/Harbour Lights'";
        const QString h = "lib/Harbour Lights/Season 02/Harbour Lights - S02E0";
        const QString ferry = "lib/Night Ferry/Season 01/Night Ferry - S01E05-E06.mkv";
        const QString film = "lib/The Quiet Harbour (2019)/The Quiet Harbour (2019).mkv";
        row("library: a mixed folder grouped", "--library --sidecars dl", 0, {}, {}, mixed,
            {"^episodes: harbour lights, season 02$",
             "^output pattern: %\\{show\\}/Season "
             "%\\{season:02\\}/%\\{show\\} - S%\\{season:02\\}E%\\{episode:02\\}$",
             "^harbour lights s02e02 web-dl +h2.mkv +harbour lights/Season 02/harbour lights - "
             "S02E02.mkv$",
             "^Harbour.Lights.S02E01.720p.HDTV-GRP +h1.mkv +harbour lights/Season 02/harbour "
             "lights - S02E01.mkv$",
             "^ +h1.nfo +harbour lights/Season 02/harbour lights - S02E01.nfo$",
             "^episodes: Night Ferry, season 01$",
             "^Night.Ferry.1x05-06.HDTV +nf.mkv +Night Ferry/Season 01/Night Ferry - "
             "S01E05-E06.mkv$",
             "^film: The Quiet Harbour \\(2019\\)$",
             "^The.Quiet.Harbour.2019.1080p.BluRay +tqh.mkv +The Quiet Harbour \\(2019\\)/The "
             "Quiet Harbour \\(2019\\).mkv$",
             "^not recognised:$", "^Extras +bonus.mkv$", "^skipped:$",
             "^  Harbour.Lights.S02E03.720p.HDTV-GRP +only a sample$"});
        row("library: a heading holds a title's own text, %1 too", "--library dl", 0, {}, {},
            "mkdir -p dl/100%1.Pure.2019.1080p && touch dl/100%1.Pure.2019.1080p/p.mkv",
            {"^film: 100%1 Pure \\(2019\\)$"});
        const QString library =
            "--library --sidecars --action hardlink-or-copy --root lib --apply dl";
        const QStringList placed{"dl/harbour lights s02e02 web-dl/h2.mkv=" + h + "2.mkv",
                                 "dl/Harbour.Lights.S02E01.720p.HDTV-GRP/h1.mkv=" + h + "1.mkv",
                                 "dl/Harbour.Lights.S02E01.720p.HDTV-GRP/h1.nfo=" + h + "1.nfo",
                                 "dl/Night.Ferry.1x05-06.HDTV/nf.mkv=" + ferry,
                                 "dl/The.Quiet.Harbour.2019.1080p.BluRay/tqh.mkv=" + film};
        for (const char *tag : {"library: applied by hard links, the library's spelling kept",
                                "on the share: library: applied by copies"})
            row(tag, library, 0, {"journal: "}, placed, mixed,
                {"^4 (hard-linked|copied), 0 failed$"});
        for (const char *tag : {"library: undone", "on the share: library: undone"})
            row(tag, "--undo --apply", 0, {},
                {h + "2.mkv>", h + "1.mkv>", h + "1.nfo>", ferry + ">", film + ">",
                 "lib/Harbour Lights/Season 02>", "lib/Night Ferry/Season 01>", "lib/Night Ferry>",
                 "lib/The Quiet Harbour (2019)>"},
                mixed + " && move-rename-cli " + library);
        row("library: a target already in the library",
            "--library --root lib dl/Harbour.Lights.S02E01.720p.HDTV-GRP dl/Extras", 0, {}, {},
            mixed + " && mkdir 'lib/Harbour Lights/Season 02' && touch '" + h + "1.mkv'",
            {"^Harbour.Lights.S02E01.720p.HDTV-GRP +h1.mkv +Harbour Lights/Season 02/Harbour "
             "Lights - S02E01.mkv +exists$"});
        row("library: the hook, one release, no pattern",
            "--library --release --root lib --action hardlink-or-copy --apply "
            "dl/Night.Ferry.1x05-06.HDTV",
            0, {"journal: "}, {"dl/Night.Ferry.1x05-06.HDTV/nf.mkv=" + ferry}, mixed,
            {"^1 hard-linked, 0 failed$"});
        row("library: the episodes' own pattern, with named fields and captures",
            "--library --output '%{show} %{season}x%{episode:02}%1' dl", 0, {}, {}, mixed,
            {"^Night.Ferry.1x05-06.HDTV +nf.mkv +Night Ferry 1x05-E06.mkv$",
             "^The.Quiet.Harbour.2019.1080p.BluRay +tqh.mkv +The Quiet Harbour \\(2019\\)/"});
        row("library: a named field that is none", "--library --output '%{series}' dl", 2,
            {"--output: \"%\\{series\\}\" names no field"});
        row("without --library, %{ keeps its meaning",
            "--filename Ep%1.a --output '%{show}%1' Ep4.a Ep2.a", 0, {}, {}, {},
            {"^Ep4.a +five.mkv +\\{show\\}4.mkv$"});

        // The run of "conflicts" moves Ep1.a/one.mkv to Ep1.mkv and Ep4.a/five.mkv to Ep4.mkv;
        // then something changes, then it is undone.
        const QString run = "move-rename-cli " + conflicts + "; ";
        const QString journal = " ../state/move-rename/*.jsonl";
        const QStringList back{"Ep1.mkv>Ep1.a/one.mkv", "Ep4.mkv>Ep4.a/five.mkv"};
        const auto undo = [&](const char *tag, const QString &change, int status,
                              const QStringList &errors, const QStringList &moves) {
            row(tag, "--undo --apply", status, errors, moves, run + change);
        };
        const auto refuse = [&](const char *tag, const QString &change, const QString &reason) {
            undo(tag, change, 1, {"failed: .*/R/Ep1.mkv -> .*/R/Ep1.a/one.mkv: " + reason},
                 back.mid(1));
        };
        const QString other = "the target holds another file \\(other ";
        undo("undo: the tree comes back, a removed release folder made again", "rmdir Ep4.a", 0, {},
             back);
        // The target grows but keeps its time, gets another time but keeps its size, or is
        // replaced by a copy made before it goes, so that the copy cannot get its inode.
        refuse("undo refused: target grew",
               "touch -r Ep1.mkv ../t && echo >>Ep1.mkv && touch -r ../t Ep1.mkv",
               other + "size\\)");
        refuse("undo refused: target touched", "touch -d @1 Ep1.mkv",
               other + "modification time\\)");
        refuse("undo refused: target replaced by a look-alike",
               "cp -p Ep1.mkv ../t && mv ../t Ep1.mkv", other + "inode on the same file system\\)");
        // The same, but after the undo's check: its journal's lock is held back until then.
        row("undo refused: target replaced by a look-alike after the check",
            "strace -qq -o ../trace -e trace=flock -e inject=flock:delay_enter=1000000:when=1 "
            "move-rename-cli --undo --apply & until grep -q flock ../trace; do sleep 0.01; done; "
            "cp -p Ep1.mkv ../t && mv ../t Ep1.mkv; wait $!",
            1, {"failed: .*/R/Ep1.mkv -> .*/R/Ep1.a/one.mkv: the file changed since the scan"},
            back.mid(1), run + "touch ../trace");
        refuse("undo refused: target gone", "rm Ep1.mkv", "the target is gone");
        refuse("undo refused: source path taken", "echo >Ep1.a/one.mkv",
               "the source path is taken");
        // What a run killed during a copy between file systems leaves: the copy published
        // beside its source, or a hidden temporary copy.
        undo("undo: copy published, source still there", "cp -p Ep1.mkv Ep1.a/one.mkv", 0, {},
             {"Ep1.mkv>", back[1]});
        undo("undo: temporary copy beside a target", "echo >.Ep1.mkv.3fa2c.part", 0, {},
             back + QStringList{".Ep1.mkv.3fa2c.part>"});
        undo("undo: torn last line", "truncate -s -3" + journal, 0, {}, back);
        undo("undo refused: a release folder now a link out of the root",
             "mkdir ../out && rmdir Ep4.a && ln -s ../out Ep4.a", 1,
             {"failed: .*/R/Ep4.mkv -> .*/R/Ep4.a/five.mkv: outside the root"}, back.mid(0, 1));
        undo("undo refused: corrupted middle line", "sed -i 2s/,.*//" + journal, 2,
             {":2: malformed line"}, {});
        undo("undo refused: newer format", "sed -i '1s/\"version\":2/\"version\":3/'" + journal, 2,
             {":1: written in format version 3"}, {});
        // Undone, then the same run again: undoing the first run again must not touch it.
        row("undo: undone already, nothing moves", "--undo --apply ../first", 0, {}, {},
            "move-rename-cli --journal ../first " + conflicts +
                "; move-rename-cli --undo --apply ../first && ! " + run,
            {"nothing to undo: .*/first is undone already"});
        // The preview shows what it would put back, last first, and why it would refuse a file.
        row("undo preview: nothing moves", "--undo --json", 0, {}, {}, run + "rm Ep1.mkv",
            {"\"error\": null", "\"error\": \"the target is gone\""});
        // A run undone in part, after one undone in full: newest first, how many rows each moved
        // (the torn line cut short the first one's outcome lines) and whether it is undone.
        row("history", "--history", 0, {}, {},
            run + "truncate -s -3" + journal + " && move-rename-cli --undo --apply && ! " + run +
                "rm Ep1.mkv && ! move-rename-cli --undo --apply",
            {"\\s2\\s+partly\\s", "\\s1\\s+yes\\s.*\\.jsonl$"});
    }

    void commands()
    {
        QFETCH(QString, setup);
        QFETCH(QString, command);
        QFETCH(int, status);
        QFETCH(QStringList, errors);
        QFETCH(QStringList, output);
        QFETCH(QStringList, moves);

        QCOMPARE(Run({"-c", setup}, "sh"), 0);
        const auto trees = [this] {
            QMap<QString, QByteArray> tree = Tree(r, true);
            tree.insert(Tree(r + "../fs", true));
            return tree;
        };
        QMap<QString, QByteArray> expected = trees();
        const bool whole = command.contains("move-rename-cli");
        QCOMPARE(Run({"-c", whole ? command : "move-rename-cli " + command}, "sh"), status);
        const auto lines = QString(cli.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), errors.size());
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY2(lines[i].contains(QRegularExpression(errors[i])), qPrintable(lines[i]));
        // Each pattern matches after the match of the one before.
        const QString out = cli.readAllStandardOutput();
        QVERIFY2(out.contains(QRegularExpression(output.join("(?s:.*)"),
                                                 QRegularExpression::MultilineOption)),
                 qPrintable(out));
        // The moved files are at their targets, and everything else is as it was.
        for (const QString &move : moves) {
            const qsizetype at = move.indexOf(QRegularExpression("[>=@]"));
            const QString source = r + move.left(at), target = r + move.mid(at + 1);
            char text[PATH_MAX] = "/";
            if (move[at] == '@') // leads to the source by a relative path
                QVERIFY2(QFileInfo(target).canonicalFilePath() == source &&
                             ::readlink(QFile::encodeName(target), text, PATH_MAX) > 0 &&
                             text[0] != '/',
                         qPrintable(move));
            expected[target] = move[at] == '>'   ? expected.take(source)
                               : move[at] == '=' ? expected.value(source)
                                                 : Snapshot(target);
        }
        expected.remove(r); // where the files that left R went
        // Their folders are there, those the run made with mode 0777 less the umask; ../fs and
        // R's parent are not part of the tree.
        for (const QString &path : expected.keys()) {
            for (QString up = QFileInfo(path).path();
                 up.startsWith(r) && !up.endsWith("..") && !up.endsWith("../fs");
                 up = QFileInfo(up).path())
                expected.insert(up, expected.value(up, "folder 775"));
        }
        QCOMPARE(trees(), expected);
    }

    // A run killed at any point, then undone, gives back the tree exactly: the files
    // already moved, the one in flight and any copy it left, main files and sidecars alike. So
    // does an undo killed at any point of its own and run again.
    void killed_data()
    {
        // strace kills the run, or with undo its undo, at the n-th call of these, for every n
        // from 1 to 16.
        QTest::addColumn<QString>("calls");
        QTest::addColumn<QString>("options"); // of a run that does more than move
        QTest::addColumn<bool>("undo");
        QTest::newRow("one file system, at a rename") << "renameat2"
                                                      << "" << false;
        // Without hard links, a move takes the target with an empty placeholder and renames over
        // it: killed in between, the placeholder stands at the target.
        QTest::newRow("on the share: at a rename over a placeholder") << "renameat"
                                                                      << "" << false;
        QTest::newRow("across file systems, during a copy") << "copy_file_range,sendfile"
                                                            << "" << false;
        QTest::newRow("across file systems, copy published, source not yet removed") << "unlinkat"
                                                                                     << "" << false;
        QTest::newRow("across file systems, the copy action during a copy")
            << "copy_file_range,sendfile"
            << "--action=copy" << false;
        QTest::newRow("on the share: the copy action at a rename over a placeholder")
            << "renameat"
            << "--action=copy" << false;
        QTest::newRow("across file systems, making a folder") << "mkdirat"
                                                              << "--output=%1/%1/x" << false;
        QTest::newRow("one file system, the undo at a rename") << "renameat2"
                                                               << "" << true;
        QTest::newRow("across file systems, the undo during a copy back")
            << "copy_file_range,sendfile"
            << "" << true;
        QTest::newRow("across file systems, the undo removing the folders it made")
            << "unlinkat"
            << "--output=%1/%1/x" << true;
    }

    void killed()
    {
        QFETCH(QString, calls);
        QFETCH(QString, options);
        QFETCH(bool, undo);
        // Eight rows of a file and its subtitle in R/killed, moved into ../fs. The journal lies
        // outside R's parent, which the undo is to give back exactly.
        const QString journal = r + "../../" + QTest::currentDataTag();
        for (int i = 0; i < 8; ++i)
            QVERIFY(WriteFile(r + QString("killed/Ep%1/a.mkv").arg(i), 200) &&
                    WriteFile(r + QString("killed/Ep%1/a.en.srt").arg(i), 100));
        const QMap<QString, QByteArray> before = Tree(r + "..", true);
        QStringList run{"-qq",     "-f",         "-o",         "/dev/null", CLI_PATH,
                        "--apply", "--sidecars", "--filename", "Ep%1",      "--root",
                        "../fs",   "--journal",  journal,      "killed"};
        if (!options.isEmpty())
            run.insert(5, options);
        const QString inject = "inject=" + calls + ":error=EIO:signal=SIGKILL:when=%1";
        for (int at = 1; at <= 16; ++at) {
            const auto where = qScopeGuard([&] {
                if (QTest::currentTestFailed())
                    qWarning("killed at call %d of %s", at, qPrintable(calls));
            });
            QFile::remove(journal);
            if (undo) {
                QCOMPARE(Run(run.mid(5)), 0);
                QCOMPARE(Run(QStringList{"-e", inject.arg(at)} + run.mid(0, 5) +
                                 QStringList{"--undo", "--apply", journal},
                             "strace"),
                         -1);
            } else {
                QCOMPARE(Run(QStringList{"-e", inject.arg(at)} + run, "strace"), -1);
                // Its journal is its owner's alone.
                QVERIFY(!(QFile::permissions(journal) & (QFile::ReadGroup | QFile::ReadOther)));
                // The file in flight is at both ends (its placeholder, its copy, or its partial
                // copy at the target), except when killed just before its rename.
                if (options.isEmpty())
                    QCOMPARE(Tree(r + "..", true).size(),
                             before.size() + (calls == "renameat2" ? 0 : 1));
            }
            QCOMPARE(Run({"--undo", "--apply", journal}), 0);
            QCOMPARE(Tree(r + "..", true), before);
        }
    }
};

SKIP_AWARE_MAIN(QApplication, tst_Cli)
#include "tst_cli.moc"
