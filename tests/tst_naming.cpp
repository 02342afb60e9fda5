// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "naming.h"

#include <QTest>

using IntMap = QMap<int, int>;

namespace {

// Row cells typed as their columns: text literals become QString, anything else passes as is.
QString Cell(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

template<typename T>
T Cell(T value)
{
    return value;
}

template<typename... T>
void Row(const char *tag, const T &...cells)
{
    (QTest::newRow(tag) << ... << Cell(cells));
}

// QVariant equality converts between int and QString; the type names keep index 0 and "0" apart.
QStringList Describe(const QVariantList &tokens)
{
    QStringList out;
    for (const QVariant &token : tokens)
        out << QString::fromUtf8(token.typeName()) + u':' + token.toString();
    return out;
}

} // namespace

class TestNaming : public QObject
{
    Q_OBJECT

private slots:
    void parseFilenamePattern_data();
    void parseFilenamePattern();
    void parseOutputPattern_data();
    void parseOutputPattern();
    void targetName_data();
    void targetName();
    void suggestion_data();
    void suggestion();
};

void TestNaming::parseFilenamePattern_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("separators");
    QTest::addColumn<IntMap>("map");

    Row("leading placeholder", "%1.S%2E%3.720p", QStringList{"", ".S", "E", ".720p"},
        IntMap{{0, 0}, {1, 1}, {2, 2}});
    Row("bare percents", "%%1x%", QStringList{"", "", "x", ""}, IntMap{{-1, 0}, {0, 1}});
    Row("zero, leading zeros", "a%0b%007c", QStringList{"a", "b", "c"}, IntMap{{-1, 0}, {6, 1}});
    Row("digit run ends at non-digit", "%12ab3", QStringList{"", "ab3"}, IntMap{{11, 0}});
    // U+0661 ARABIC-INDIC DIGIT ONE is a digit, so it belongs to the run, but the number it
    // gives is whatever base-10 conversion makes of it: none here.
    Row("non-ascii digit", "a%\u0661b", QStringList{"a", "b"}, IntMap{{-1, 0}});
    Row("int max and past it", "a%2147483647b%2147483648c", QStringList{"a", "b", "c"},
        IntMap{{2147483646, 0}, {-1, 1}});
    Row("repeated number", "a%1b%1c%2d", QStringList{"a", "b", "c", "d"}, IntMap{{0, 0}, {1, 2}});
}

void TestNaming::parseFilenamePattern()
{
    QFETCH(QString, pattern);
    IntMap map;
    QStringList separators;
    ParseFilenamePattern(pattern, map, separators);
    QTEST(separators, "separators");
    QTEST(map, "map");
}

void TestNaming::parseOutputPattern_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QVariantList>("tokens");

    Row("literal then field", "Show - 1x0%1", QVariantList{"Show - 1x0", 0});
    Row("side by side, trailing text", "%1%2.720p", QVariantList{0, 1, ".720p"});
    Row("bare percents", "%%1 %0%", QVariantList{-1, 0, " ", -1, -1});
    Row("int max and past it", "%2147483647%2147483648.", QVariantList{2147483646, -1, "."});
}

void TestNaming::parseOutputPattern()
{
    QFETCH(QString, pattern);
    QFETCH(QVariantList, tokens);
    QCOMPARE(Describe(ParseOutputPattern(pattern)), Describe(tokens));
}

void TestNaming::targetName_data()
{
    QTest::addColumn<QString>("filenamePattern");
    QTest::addColumn<QString>("outputPattern");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("target");

    const char *three = "%1.S%2E%3.720p";
    Row("three fields", three, "%1 - %2x%3", "Harbour.Lights.S02E05.720p.HDTV.x264-GRP",
        "harbour.lights.s02e05.720p.hdtv.x264-grp.mkv", "Harbour Lights - 02x05.mkv");
    Row("fields in another order", "Show.%2.%1.x264", "%1%2", "Show.E05.S02.x264-GRP",
        "show.e05.s02.x264-grp.avi", "S02E05.avi");
    Row("literal output", "Show.S01E0%1.720p", "Show - 1x0%1", "Show.S01E01.720p.HDTV.x264-GROUP",
        "f.tar.gz", "Show - 1x01.gz");
    Row("first occurrence wins", three, "%1 - %2x%3", "The.Show.S02E05.720p", ".mkv",
        "The - how S02x05.mkv");
    Row("later field only, unknown number", "a%1b%2c", "<%2|%4>", "aXbYc", "f.", "<Y|>.");
    Row("trailing output text", "x%1y", "%1.720p", "xAy", "f.mkv", "A.720p.mkv");
    Row("every dot becomes a space", "x%1y", "%1.", "xA.B..Cy", "f.mkv", "A B  C..mkv");
    Row("case sensitive", "S01E%1.", "[%1]", "show.s01e05.x", "f.mkv", "[].mkv");
    Row("not anchored", "S01E%1.", "[%1]", "Show.S01E05.720p", "f.mkv", "[05].mkv");
    Row("index -1 on both sides", "a%0b", "<%>", "xaQb", "README", "<Q>");
    Row("first separator missing", "Show.S01E%1.720p", "%1", "Other.Folder", "f.mkv", ".mkv");
    Row("last separator missing", three, "%1|%2|%3", "Show.S02E05.1080p", "f.mkv", "Show|02|.mkv");
    // Matching does not resume after a miss, although 'c' and 'd' do occur later on.
    Row("miss ends matching", "a%1b%2c%3d", "%1|%2|%3", "a1c2d3", "f.mkv", "||.mkv");
    Row("last placeholder takes the rest", "Show.S01E%1", "%1", "Show.S01E05.720p", "a.mkv",
        "05 720p.mkv");
    Row("side by side", "%1%2.x", "%1|%2", "ab.x", "f.mkv", "|ab.mkv");
    Row("side by side at the end", "a%1%2", "%1|%2", "aXY.z", "f.mkv", "|XY z.mkv");
    Row("repeated number", "a%1b%1c%2d", "%1|%2", "aXbYcZd", "f.mkv", "X|Z.mkv");
}

void TestNaming::targetName()
{
    QFETCH(QString, filenamePattern);
    QFETCH(QString, outputPattern);
    QFETCH(QString, subject);
    QFETCH(QString, fileName);
    const naming::Patterns patterns(filenamePattern, outputPattern);
    QTEST(patterns.TargetName(subject, fileName), "target");
    // The public extension helper must agree with the one built into the target name.
    QTEST(patterns.TargetName(subject, QString()) + FileExtension(fileName), "target");
}

void TestNaming::suggestion_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("rootPath");
    QTest::addColumn<QString>("pattern"); // common prefix, "%1", tag-anchored suffix

    const auto two = [](const char *first, const char *second) {
        return QStringList{first, second};
    };
    Row("two episodes", two("Show.S01E01.720p.HDTV.x264-GRP", "Show.S01E02.720p.HDTV.x264-GRP"), "",
        "Show.S01E0%1.720p");
    Row("09 and 10", two("Show.S01E09.720p.HDTV.x264-GRP", "Show.S01E10.720p.HDTV.x264-GRP"), "",
        "Show.S01E%1.720p");
    Row("list order decides the anchor",
        two("Show.S01E01.German.DL.720p.HDTV", "Show.S01E02.German.DL.720p.HDTV"), "",
        "Show.S01E0%1.German");
    Row("no tag in every row", two("Show.S01E01.HDTV-GRP", "Show.S01E02.WEB-GRP"), "",
        "Show.S01E0%1-GRP");
    Row("anchor case from last row", two("Show.S01E01.720p.HDTV", "Show.S01E02.720P.HDTV"), "",
        "Show.S01E0%1.720P");
    Row("tag runs past the cut", two("Show.S01E01.WEBHDTV", "Show.S01E02.WEBHDTV"), "",
        "Show.S01E0%1.WEBHD");
    Row("last occurrence only", two("A1.dl.HDTV.dl", "A2.dl.HDTV.dl"), "", "A%1.dl.HDTV");
    Row("one row", QStringList{"Show.S01E01.720p"}, "", "Show.S01E01.720p%1Show.S01E01.720p");
    Row("different length", two("ab.720p", "xab.720p"), "", "%1ab.720p");
    Row("no rows", QStringList{}, "", "%1");
    Row("root path removed", two("/r/Show.S01E01.720p", "/r/Show.S01E02.720p"), "/r/",
        "Show.S01E0%1.720p");
}

void TestNaming::suggestion()
{
    QFETCH(QStringList, rows);
    QFETCH(QString, rootPath);
    const QString suffix = naming::CommonTagSuffix(rows, naming::ReleaseTags());
    QTEST(naming::SuggestedFilenamePattern(naming::CommonPrefix(rows), suffix, rootPath),
          "pattern");
}

QTEST_GUILESS_MAIN(TestNaming)
#include "tst_naming.moc"
