// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "naming.h"

#include <QTest>

// A table row from its cells; text literals land in QString columns.
template<typename... T>
void Row(const char *tag, const T &...cells)
{
    (QTest::newRow(tag) << ... << cells);
}

class TestNaming : public QObject
{
    Q_OBJECT

private slots:
    // Both patterns parsed, the fields captured from a folder name and laid into the output.
    void targetName_data()
    {
        QTest::addColumn<QString>("filenamePattern");
        QTest::addColumn<QString>("outputPattern");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("target");

        const char *three = "%1.S%2E%3.720p";
        Row("three fields", three, "%1 - %2x%3", "Harbour.Lights.S02E05.720p.HDTV", "f.mkv",
            "Harbour Lights - 02x05.mkv");
        Row("fields in another order", "%2.%1.x264", "%1%2", "E05.S02.x264", "f.avi", "S02E05.avi");
        Row("extension from the last dot", "S01E0%1.", "Show - 1x0%1", "S01E01.720p", "f.tar.gz",
            "Show - 1x01.gz");
        Row("first occurrence wins", three, "%1 - %2x%3", "The.Show.S02E05.720p", ".mkv",
            "The - how S02x05.mkv");
        Row("later field only, unknown number", "a%1b%2c", "<%2|%4>", "aXbYc", "f.", "<Y|>.");
        Row("trailing output text", "x%1y", "%1.720p", "xAy", "f.mkv", "A.720p.mkv");
        Row("every dot becomes a space", "x%1y", "%1.", "xA.B..Cy", "f.mkv", "A B  C..mkv");
        Row("case sensitive", "S01E%1.", "[%1]", "show.s01e05.x", "f.mkv", "[].mkv");
        Row("not anchored", "S01E%1.", "[%1]", "Show.S01E05.720p", "f.mkv", "[05].mkv");
        Row("first separator missing", "Show.S01E%1.720p", "%1", "Other.Folder", "f.mkv", ".mkv");
        Row("last separator missing", three, "%1|%2|%3", "A.S02E05.1080p", "f.mkv", "A|02|.mkv");
        // Matching does not resume after a miss, although 'c' and 'd' do occur later on.
        Row("miss ends matching", "a%1b%2c%3d", "%1|%2|%3", "a1c2d3", "f.mkv", "||.mkv");
        Row("last placeholder takes the rest", "E%1", "%1", "E05.720p", "a.mkv", "05 720p.mkv");
        Row("side by side", "%1%2.x", "%1|%2", "ab.x", "f.mkv", "|ab.mkv");
        Row("side by side at the end", "a%1%2", "%1|%2", "aXY.z", "f.mkv", "|XY z.mkv");
        // A repeated number claims a field of its own, but the output takes its first one.
        Row("repeated number", "a%1b%1c%2d", "%1|%2", "aXbYcZd", "f.mkv", "X|Z.mkv");
        // A bare "%", "%0" and a number past the int range are all number 0: index -1.
        Row("bare percents", "a%b%1c%", "%%1 %0%", "aXbYcZ", "README", "XY XX");
        Row("leading zeros", "a%0b%007c", "%7|%", "aXbYc", "f", "Y|X");
        Row("int max and past it", "a%2147483647b%2147483648c", "%2147483647%2147483648.", "aXbYc",
            "f.mkv", "XY..mkv");
        Row("digit run ends at a non-digit", "%12ab3", "<%12>", "Xab3", "f", "<X>");
        // U+0661 ARABIC-INDIC DIGIT ONE is a digit of the run, but gives no base-10 number.
        Row("non-ascii digit", "a%\u0661b", "<%>", "aXb", "f", "<X>");
    }
    void targetName()
    {
        QFETCH(QString, filenamePattern);
        QFETCH(QString, outputPattern);
        QFETCH(QString, subject);
        QFETCH(QString, fileName);
        const naming::Patterns patterns(filenamePattern, outputPattern);
        QTEST(patterns.TargetName(subject, fileName), "target");
        QTEST(patterns.TargetName(subject, QString()) + FileExtension(fileName), "target");
    }

    // The suggested filename pattern: common prefix, "%1", tag-anchored suffix.
    void suggestion_data()
    {
        QTest::addColumn<QString>("rows"); // separated by spaces
        QTest::addColumn<QString>("rootPath");
        QTest::addColumn<QString>("pattern");

        Row("two episodes", "E01.720p.HDTV.x264-GRP E02.720p.HDTV.x264-GRP", "", "E0%1.720p");
        Row("09 and 10", "E09.720p.HDTV.x264-GRP E10.720p.HDTV.x264-GRP", "", "E%1.720p");
        Row("list order decides the anchor", "E01.German.DL.720p.HDTV E02.German.DL.720p.HDTV", "",
            "E0%1.German");
        Row("no tag in every row", "E01.HDTV-GRP E02.WEB-GRP", "", "E0%1-GRP");
        Row("anchor case from last row", "E01.720p.HDTV E02.720P.HDTV", "", "E0%1.720P");
        Row("tag runs past the cut", "E01.WEBHDTV E02.WEBHDTV", "", "E0%1.WEBHD");
        Row("last occurrence only", "A1.dl.HDTV.dl A2.dl.HDTV.dl", "", "A%1.dl.HDTV");
        Row("one row", "E01.720p", "", "E01.720p%1E01.720p");
        Row("different length", "ab.720p xab.720p", "", "%1ab.720p");
        Row("no rows", "", "", "%1");
        Row("root path removed", "/r/E01.720p /r/E02.720p", "/r/", "E0%1.720p");
    }
    void suggestion()
    {
        QFETCH(QString, rows);
        QFETCH(QString, rootPath);
        const QStringList texts = rows.split(' ', Qt::SkipEmptyParts);
        const QString suffix = naming::CommonTagSuffix(texts, naming::ReleaseTags());
        QTEST(naming::SuggestedFilenamePattern(naming::CommonPrefix(texts), suffix, rootPath),
              "pattern");
    }
};

QTEST_GUILESS_MAIN(TestNaming)
#include "tst_naming.moc"
