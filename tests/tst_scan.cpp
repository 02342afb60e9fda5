// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "scan.h"
#include "share.h"

// The folder scan of every front end, as the command line runs it: a season's subfolders, each
// one's chosen file or why it yields none. On the share, which serves several calls at once and
// answers slowly enough for the scan to list several folders at once.
class tst_Scan : public QObject
{
    Q_OBJECT

    QTemporaryDir temp;
    Share share;

private slots:
    void initTestCase() { QVERIFY(share.Mount({"--threads"})); }

    void scan_data()
    {
        QTest::addColumn<bool>("onShare");
        QTest::addColumn<QString>("setup");    // a shell command run in the season folder
        QTest::addColumn<QStringList>("gone"); // scanned after its subfolders, though missing
        QTest::addColumn<QString>("expected"); // "folder: file" in order, then the skipped

        // A release in a wrong row, lost or given twice shows in a season larger than the number
        // of answers the scan holds at once. The names differ in every place of a run of four
        // units, as the sort compares them.
        QStringList season;
        for (int i = 0; i < 100; ++i)
            season << QString("Episode%1: f%1.mkv").arg(i, 2, 10, QChar(u'0'));
        for (const bool onShare : {false, true}) {
            Row(onShare, "a season of 100 folders")
                << "for i in $(seq -w 0 99); do mkdir Episode$i && : >Episode$i/f$i.mkv; done"
                << QStringList() << season.join(", ");
            // Links count as what they point at; a folder gone or a file given as a folder after
            // the subfolders were listed cannot be read. Names apart only in letter case keep a
            // fixed order; a size tie goes to the name first in case-sensitive order.
            Row(onShare, "links, folders gone during the scan, names apart only in letter case")
                << "mkdir -p A B ep EP real/sub && head -c 9 /dev/zero >real/big.mkv && "
                   ": >A/small.mkv && ln -s ../real/big.mkv A/link.mkv && ln -s ../real/sub "
                   "B/sub.mkv && : >B/b.mkv && ln -s real Linked && touch ep/b EP/b EP/B"
                << QStringList{"Gone", "real/big.mkv"}
                << "A: link.mkv, B: b.mkv, EP: B, ep: b, Linked: big.mkv, real: big.mkv, "
                   "Gone: unreadable, real/big.mkv: unreadable";
        }
        Row(false, "a release folder of 10,000 files")
            << "mkdir Big && cd Big && seq -f f%05g 10000 | xargs touch && echo >f05000"
            << QStringList() << "Big: f05000";
        // The share turns the file into a folder between its listing and the question of its size.
        Row(true, "a file replaced by a folder after the listing")
            << "mkdir A && echo >A/becomes-folder.mkv && : >A/small.mkv" << QStringList()
            << "A: small.mkv";
    }

    void scan()
    {
        QFETCH(bool, onShare);
        QFETCH(QString, setup);
        QFETCH(QStringList, gone);
        QFETCH(QString, expected);
        if (onShare && share.refused)
            SKIP_ROW(share.kRefused);
        const QString root = (onShare ? share.mountPoint : temp).filePath(QTest::currentDataTag());
        QCOMPARE(QProcess::execute("sh", {"-c", "mkdir \"$0\" && cd \"$0\" && " + setup, root}), 0);
        for (QString &path : gone)
            path.prepend(root + '/');
        // The same scan again and again gives the same table.
        for (int run = 0; run < 10; ++run) {
            QStringList table;
            QList<files::SkippedFolder> skipped;
            const auto found = [&](files::ReleaseFile &&release) {
                table << release.folder + ": " + release.fileName;
                QCOMPARE(release.absolutePath,
                         root + '/' + release.folder + '/' + release.fileName);
            };
            files::ScanReleaseFolders(root + '/', files::Subfolders(root) + gone, found, &skipped);
            for (const files::SkippedFolder &folder : std::as_const(skipped))
                table << folder.folder + ": " + files::SkipName(folder.reason);
            QCOMPARE(table.join(", "), expected);
        }
    }
};

SKIP_AWARE_MAIN(QCoreApplication, tst_Scan)
#include "tst_scan.moc"
