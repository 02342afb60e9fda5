// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "share.h"
#include "windowdriver.h"

#include <QDirIterator>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

// The command line front end, run as the built program in a fresh folder tree for every case.
class tst_Cli : public QObject
{
    Q_OBJECT

    QTemporaryDir temp;
    Share share;
    QString r; // the case's folder R, made afresh for every case
    QProcess cli;

    // The program's exit status, -1 when it did not finish normally.
    int Run(const QStringList &arguments)
    {
        cli.start(QStringLiteral(CLI_PATH), arguments);
        const bool done = cli.waitForFinished(60000) && cli.exitStatus() == QProcess::NormalExit;
        return done ? cli.exitCode() : -1;
    }

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
        QVERIFY(WriteFile(r + "Ep1.a/one.mkv", 11) && WriteFile(r + "Ep1.b/two.mkv", 12) &&
                WriteFile(r + "Ep2.a/three.mkv", 13) && WriteFile(r + "Ep3.a/four.mkv", 14) &&
                WriteFile(r + "Ep4.a/five.mkv", 15) && WriteFile(r + "Epz/data", 16) &&
                WriteFile(r + "Ep2.mkv", 17) && QFile::link(r + "nowhere", r + "Ep3.mkv"));
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
                    {"conflict", patterns.isEmpty() ? QVariant() : kinds.value(rows.size())}});
            QVariantMap plan{{"root", window.RootFolder() + "/"}, {"rows", rows}};
            plan["filename_pattern"] = window.filename->text();
            plan["output_pattern"] = window.output->text();
            QCOMPARE(QJsonDocument::fromJson(cli.readAllStandardOutput()).toJson(),
                     QJsonDocument::fromVariant(plan).toJson());
        }
    }

    void run_data()
    {
        QTest::addColumn<QStringList>("arguments"); // run in R
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("moves");  // "source>target" in R
        QTest::addColumn<QStringList>("errors"); // part of each line on stderr, in order

        const auto row = [](const char *tag, const QStringList &arguments, int status,
                            const QStringList &errors = {}, const QStringList &moves = {}) {
            QTest::newRow(tag) << arguments << status << moves << errors;
        };
        const QStringList conflicts{"--apply", "--filename", "%1.%2", "."};
        row("preview: the same without --apply", conflicts.mid(1), 0);
        for (const char *tag : {"conflicts stay", "on the share: conflicts stay"})
            row(tag, conflicts, 1, {"duplicate", "exists", "exists", "empty"},
                {"Ep1.a/one.mkv>Ep1.mkv", "Ep4.a/five.mkv>Ep4.mkv"});
        row("clean, several folders",
            {"--apply", "--filename", "Ep%1.%2", "--output", "%2%1", "Ep4.a", "Ep1.b"}, 0, {},
            {"Ep4.a/five.mkv>a4.mkv", "Ep1.b/two.mkv>b1.mkv"});
        row("unknown option", {"--apply", "--bogus", "."}, 2, {"move-rename-cli: Unknown option"});
        row("missing folder", {"--apply", ".", "nope"}, 2, {"no such folder: 'nope'"});
        row("file as root", {"--apply", "--root", "Ep2.mkv", "."}, 2, {"--root: not a folder"});
        row("no folder", {"--apply"}, 2, {"no FOLDER given"});
    }

    void run()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QStringList, moves);
        QFETCH(QStringList, errors);

        // Every file and link in R: a link's target, then a file's size (all sizes differ).
        const auto snapshot = [&] {
            QMap<QString, QString> entries;
            QDirIterator it(r, QDir::Files | QDir::System, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QFileInfo info(it.next());
                entries[info.filePath()] = info.symLinkTarget() + QString::number(info.size());
            }
            return entries;
        };
        QMap<QString, QString> expected = snapshot();
        QCOMPARE(Run(arguments), status);
        const auto lines = QString(cli.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), errors.size());
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY2(lines[i].contains(errors[i]), qPrintable(lines[i]));
        // The moved files are at their targets, and everything else is as it was.
        for (const QString &move : moves)
            expected[r + move.section('>', 1)] = expected.take(r + move.section('>', 0, 0));
        QCOMPARE(snapshot(), expected);
    }
};

QTEST_MAIN(tst_Cli)
#include "tst_cli.moc"
