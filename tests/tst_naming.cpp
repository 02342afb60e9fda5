#include "naming.h"

#include <QTest>

using IntMap = QMap<int, int>;

namespace {

// Tokens written as "0" for an index and "'text'" for a literal, so that an int token and a
// string token holding a number cannot pass for each other.
QStringList Describe(const QVariantList &tokens)
{
    QStringList out;
    for (const QVariant &token : tokens) {
        if (token.typeId() == QMetaType::Int)
            out << QString::number(token.toInt());
        else if (token.typeId() == QMetaType::QString)
            out << QLatin1Char('\'') + token.toString() + QLatin1Char('\'');
        else
            out << QStringLiteral("?") + QString::fromUtf8(token.typeName());
    }
    return out;
}

QString S(const char *utf8)
{
    return QString::fromUtf8(utf8);
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
    void fileExtension_data();
    void fileExtension();
    void suggestion_data();
    void suggestion();
};

void TestNaming::parseFilenamePattern_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("separators");
    QTest::addColumn<IntMap>("map");

    const QString e;
    QTest::newRow("one field") << S("Show.S01E%1.720p") << QStringList{S("Show.S01E"), S(".720p")}
                               << IntMap{{0, 0}};
    QTest::newRow("leading placeholder")
        << S("%1.S%2E%3.720p") << QStringList{e, S(".S"), S("E"), S(".720p")}
        << IntMap{{0, 0}, {1, 1}, {2, 2}};
    QTest::newRow("numbers out of order")
        << S("Show.%2.%1.x264") << QStringList{S("Show."), S("."), S(".x264")}
        << IntMap{{0, 1}, {1, 0}};
    QTest::newRow("ends in placeholder")
        << S("Show.S01E%1") << QStringList{S("Show.S01E"), e} << IntMap{{0, 0}};
    QTest::newRow("percent without digits")
        << S("a%b") << QStringList{S("a"), S("b")} << IntMap{{-1, 0}};
    QTest::newRow("percent percent")
        << S("%%1x") << QStringList{e, e, S("x")} << IntMap{{-1, 0}, {0, 1}};
    QTest::newRow("percent at end") << S("abc%") << QStringList{S("abc"), e} << IntMap{{-1, 0}};
    QTest::newRow("leading zero") << S("%01x") << QStringList{e, S("x")} << IntMap{{0, 0}};
    QTest::newRow("leading zeros") << S("%007") << QStringList{e, e} << IntMap{{6, 0}};
    QTest::newRow("zero") << S("a%0b") << QStringList{S("a"), S("b")} << IntMap{{-1, 0}};
    QTest::newRow("no placeholder") << S("abc") << QStringList{S("abc")} << IntMap{};
    QTest::newRow("empty") << e << QStringList{e} << IntMap{};
    QTest::newRow("digit run ends at non-digit")
        << S("%12ab3") << QStringList{e, S("ab3")} << IntMap{{11, 0}};
    QTest::newRow("int max") << S("a%2147483647b") << QStringList{S("a"), S("b")}
                             << IntMap{{2147483646, 0}};
    QTest::newRow("past int max") << S("a%2147483648b") << QStringList{S("a"), S("b")}
                                  << IntMap{{-1, 0}};
    QTest::newRow("huge digit run")
        << S("%99999999999999999999.") << QStringList{e, S(".")} << IntMap{{-1, 0}};
    // U+0661 ARABIC-INDIC DIGIT ONE is a digit, so it belongs to the run, but the number it
    // gives is whatever base-10 conversion makes of it: none here.
    QTest::newRow("non-ascii digit")
        << S("a%\u0661b") << QStringList{S("a"), S("b")} << IntMap{{-1, 0}};
    QTest::newRow("repeated number")
        << S("a%1b%1c%2d") << S("a,b,c,d").split(u',') << IntMap{{0, 0}, {1, 2}};
    QTest::newRow("spaces and dots kept")
        << S(" .%1. ") << QStringList{S(" ."), S(". ")} << IntMap{{0, 0}};
}

void TestNaming::parseFilenamePattern()
{
    QFETCH(QString, pattern);
    QFETCH(QStringList, separators);
    QFETCH(IntMap, map);
    IntMap actualMap;
    QStringList actualSeparators;
    ParseFilenamePattern(pattern, actualMap, actualSeparators);
    QCOMPARE(actualSeparators, separators);
    QCOMPARE(actualMap, map);
}

void TestNaming::parseOutputPattern_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QVariantList>("tokens");

    QTest::newRow("literal then field") << S("Show - 1x0%1") << QVariantList{S("Show - 1x0"), 0};
    QTest::newRow("three fields") << S("%1 - %2x%3") << QVariantList{0, S(" - "), 1, S("x"), 2};
    QTest::newRow("side by side") << S("%1%2") << QVariantList{0, 1};
    QTest::newRow("percent without digits") << S("a%b%2") << QVariantList{S("a"), -1, S("b"), 1};
    QTest::newRow("leading zero") << S("S%01") << QVariantList{S("S"), 0};
    QTest::newRow("percent at end") << S("abc%") << QVariantList{S("abc"), -1};
    QTest::newRow("empty") << QString() << QVariantList{};
    QTest::newRow("trailing text") << S("%1.720p") << QVariantList{0, S(".720p")};
    QTest::newRow("no placeholder") << S("Movie") << QVariantList{S("Movie")};
    QTest::newRow("percent percent") << S("%%1 ") << QVariantList{-1, 0, S(" ")};
    QTest::newRow("zero and leading zeros") << S("%0%007") << QVariantList{-1, 6};
    QTest::newRow("int max") << S("%2147483647") << QVariantList{2147483646};
    QTest::newRow("past int max") << S("%2147483648.") << QVariantList{-1, S(".")};
    QTest::newRow("digit run ends at non-digit") << S("%12ab3") << QVariantList{11, S("ab3")};
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

    const QString three = S("%1.S%2E%3.720p");
    const QString harbour = S("Harbour.Lights.S02E05.720p.HDTV.x264-GRP");
    QTest::newRow("three fields") << three << S("%1 - %2x%3") << harbour
                                  << S("harbour.lights.s02e05.720p.hdtv.x264-grp.mkv")
                                  << S("Harbour Lights - 02x05.mkv");
    QTest::newRow("fields in another order")
        << S("Show.%2.%1.x264") << S("%1%2") << S("Show.E05.S02.x264-GRP")
        << S("show.e05.s02.x264-grp.avi") << S("S02E05.avi");
    QTest::newRow("first occurrence wins") << three << S("%1 - %2x%3") << S("The.Show.S02E05.720p")
                                           << S("x.mkv") << S("The - how S02x05.mkv");
    const QString usual = S("Show.S01E01.720p.HDTV.x264-GROUP");
    QTest::newRow("usual shape") << S("Show.S01E0%1.720p") << S("%1") << usual << S("f.mkv")
                                 << S("1.mkv");
    QTest::newRow("usual shape, literal output") << S("Show.S01E0%1.720p") << S("Show - 1x0%1")
                                                 << usual << S("f.mkv") << S("Show - 1x01.mkv");
    QTest::newRow("output number missing")
        << three << S("%1-%4") << harbour << S("a.mkv") << S("Harbour Lights-.mkv");
    QTest::newRow("only a later field used")
        << S("a%1b%2c") << S("<%2>") << S("aXbYc") << S("f.mkv") << S("<Y>.mkv");
    QTest::newRow("empty filename pattern")
        << QString() << S("Movie %1") << harbour << S("a.mkv") << S("Movie .mkv");
    QTest::newRow("empty output pattern")
        << three << QString() << harbour << S("a.mkv") << S(".mkv");
    QTest::newRow("trailing output text")
        << S("x%1y") << S("%1.720p") << S("xAy") << S("f.mkv") << S("A.720p.mkv");
    QTest::newRow("output without placeholder")
        << three << S("Movie") << harbour << S("f.mkv") << S("Movie.mkv");
    QTest::newRow("no extension") << S("x%1y") << S("%1") << S("xAy") << S("README") << S("A");
    QTest::newRow("every dot becomes a space")
        << S("x%1y") << S("%1.") << S("xA.B..Cy") << S("f.mkv") << S("A B  C..mkv");
    QTest::newRow("case sensitive")
        << S("S01E%1.") << S("[%1]") << S("show.s01e05.x") << S("f.mkv") << S("[].mkv");
    QTest::newRow("not anchored") << S("S01E%1.") << S("[%1]") << S("Show.S01E05.720p")
                                  << S("f.mkv") << S("[05].mkv");
    QTest::newRow("index -1 on both sides")
        << S("a%b") << S("%") << S("aQQb") << S("a.mkv") << S("QQ.mkv");
    QTest::newRow("%0 meets bare %") << S("a%0b") << S("<%>") << S("xaQb") << S("a") << S("<Q>");
    QTest::newRow("int max index")
        << S("a%2147483647b") << S("<%2147483647>") << S("aZb") << S("f.x") << S("<Z>.x");
    QTest::newRow("leading zeros index")
        << S("a%007b") << S("%7|%1") << S("aZb") << S("f.x") << S("Z|.x");
    QTest::newRow("first separator missing")
        << S("Show.S01E%1.720p") << S("%1") << S("Other.Folder") << S("f.mkv") << S(".mkv");
    QTest::newRow("missing separator, one char after")
        << S("Show.S01E%1r") << S("%1") << S("Other.Folder") << S("f.mkv") << S(".mkv");
    QTest::newRow("last separator missing")
        << three << S("%1|%2|%3") << S("Show.S02E05.1080p") << S("f.mkv") << S("Show|02|.mkv");
    // Matching does not resume after a miss, although 'c' and 'd' do occur later on.
    QTest::newRow("miss ends matching")
        << S("a%1b%2c%3d") << S("%1|%2|%3") << S("a1c2d3") << S("f.mkv") << S("||.mkv");
    QTest::newRow("last placeholder takes the rest")
        << S("Show.S01E%1") << S("%1") << S("Show.S01E05.720p") << S("a.mkv") << S("05 720p.mkv");
    QTest::newRow("last placeholder, nothing left")
        << S("x%1") << S("[%1]") << S("abx") << S("a.mkv") << S("[].mkv");
    QTest::newRow("side by side") << S("%1%2.x") << S("%1|%2") << S("ab.x") << S("f.mkv")
                                  << S("|ab.mkv");
    QTest::newRow("side by side at the end")
        << S("a%1%2") << S("%1|%2") << S("aXY.z") << S("f.mkv") << S("|XY z.mkv");
    QTest::newRow("repeated number")
        << S("a%1b%1c%2d") << S("%1|%2") << S("aXbYcZd") << S("f.mkv") << S("X|Z.mkv");
}

void TestNaming::targetName()
{
    QFETCH(QString, filenamePattern);
    QFETCH(QString, outputPattern);
    QFETCH(QString, subject);
    QFETCH(QString, fileName);
    QFETCH(QString, target);
    const naming::Patterns patterns(filenamePattern, outputPattern);
    QCOMPARE(patterns.TargetName(subject, fileName), target);
}

void TestNaming::fileExtension_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("extension");
    QTest::newRow("plain") << S("movie.mkv") << S(".mkv");
    QTest::newRow("last dot only") << S("archive.tar.gz") << S(".gz");
    QTest::newRow("no dot") << S("README") << QString();
    QTest::newRow("leading dot") << S(".hidden") << S(".hidden");
    QTest::newRow("trailing dot") << S("name.") << S(".");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("case kept") << S("A.MKV") << S(".MKV");
}

void TestNaming::fileExtension()
{
    QFETCH(QString, fileName);
    QFETCH(QString, extension);
    QCOMPARE(FileExtension(fileName), extension);
}

void TestNaming::suggestion_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("rootPath");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("pattern");

    const QString none;
    QTest::newRow("two episodes") << QStringList{S("Show.S01E01.720p.HDTV.x264-GRP"),
                                                 S("Show.S01E02.720p.HDTV.x264-GRP")}
                                  << none << S("Show.S01E0") << S("Show.S01E0%1.720p");
    QTest::newRow("three episodes")
        << QStringList{S("Show.S01E01.720p.HDTV.x264-GRP"), S("Show.S01E02.720p.HDTV.x264-GRP"),
                       S("Show.S01E03.720p.HDTV.x264-GRP")}
        << none << S("Show.S01E0") << S("Show.S01E0%1.720p");
    QTest::newRow("09 and 10") << QStringList{S("Show.S01E09.720p.HDTV.x264-GRP"),
                                              S("Show.S01E10.720p.HDTV.x264-GRP")}
                               << none << S("Show.S01E") << S("Show.S01E%1.720p");
    QTest::newRow("list order decides the anchor")
        << QStringList{S("Show.S01E01.German.DL.720p.HDTV.x264-GRP"),
                       S("Show.S01E02.German.DL.720p.HDTV.x264-GRP")}
        << none << S("Show.S01E0") << S("Show.S01E0%1.German");
    QTest::newRow("no tag") << QStringList{S("Show.S01E01-GRP"), S("Show.S01E02-GRP")} << none
                            << S("Show.S01E0") << S("Show.S01E0%1-GRP");
    QTest::newRow("tag in some rows only")
        << QStringList{S("Show.S01E01.720p.HDTV"), S("Show.S01E02.720p.WEB")} << none
        << S("Show.S01E0") << S("Show.S01E0%1.720p");
    QTest::newRow("anchor case from last row")
        << QStringList{S("Show.S01E01.720p.HDTV"), S("Show.S01E02.720P.HDTV")} << none
        << S("Show.S01E0") << S("Show.S01E0%1.720P");
    QTest::newRow("anchor case, rows swapped")
        << QStringList{S("Show.S01E02.720P.HDTV"), S("Show.S01E01.720p.HDTV")} << none
        << S("Show.S01E0") << S("Show.S01E0%1.720p");
    QTest::newRow("walk respects case")
        << QStringList{S("x.Foo.720p"), S("y.foo.720p")} << none << none << S("%1oo.720p");
    QTest::newRow("prefix respects case")
        << QStringList{S("Show.S01E01.720p.HDTV.x264-GRP"), S("show.S01E02.720p.HDTV.x264-GRP")}
        << none << none << S("%1.720p");
    QTest::newRow("tag inside a word")
        << QStringList{S("Handle.S01E01.720p.HDTV"), S("Handle.S01E02.720p.HDTV")} << none
        << S("Handle.S01E0") << S("Handle.S01E0%1Handl");
    QTest::newRow("tag runs past the cut")
        << QStringList{S("Show.S01E01.WEBHDTV"), S("Show.S01E02.WEBHDTV")} << none
        << S("Show.S01E0") << S("Show.S01E0%1.WEBHD");
    QTest::newRow("last occurrence only") << QStringList{S("A1.dl.HDTV.dl"), S("A2.dl.HDTV.dl")}
                                          << none << S("A") << S("A%1.dl.HDTV");
    // Letter case is ignored as Qt folds it, beyond ASCII too: LONG S folds to 's'.
    QTest::newRow("tag found through case folding")
        << QStringList{S("x1.ENGLI\u017fH.a"), S("x2.ENGLI\u017fH.b")} << none << S("x")
        << S("x%1.ENGLI\u017fH");
    const QString one = S("Show.S01E01.720p.HDTV.x264-GRP");
    QTest::newRow("one row") << QStringList{one} << none << one << one + S("%1Show.S01E01.720p");
    QTest::newRow("identical rows")
        << QStringList{S("A.720p"), S("A.720p")} << none << S("A.720p") << S("A.720p%1A.720p");
    QTest::newRow("different length")
        << QStringList{S("ab.720p"), S("xab.720p")} << none << none << S("%1ab.720p");
    QTest::newRow("one row is the prefix")
        << QStringList{S("Show"), S("Show.S01")} << none << S("Show") << S("Show%1");
    QTest::newRow("an empty row") << QStringList{S("Show.720p"), QString()} << none << none
                                  << S("%1");
    QTest::newRow("no rows") << QStringList{} << none << none << S("%1");
    QTest::newRow("root path removed")
        << QStringList{S("/r/Show.S01E01.720p"), S("/r/Show.S01E02.720p")} << S("/r/")
        << S("/r/Show.S01E0") << S("Show.S01E0%1.720p");
    QTest::newRow("root compared with case") << QStringList{S("/r/S.E01.720p"), S("/r/S.E02.720p")}
                                             << S("/R/") << S("/r/S.E0") << S("/r/S.E0%1.720p");
}

void TestNaming::suggestion()
{
    QFETCH(QStringList, rows);
    QFETCH(QString, rootPath);
    QFETCH(QString, prefix);
    QFETCH(QString, pattern);
    const QString actualPrefix = naming::CommonPrefix(rows);
    QCOMPARE(actualPrefix, prefix);
    const QString suffix = naming::CommonTagSuffix(rows, naming::ReleaseTags());
    QCOMPARE(naming::SuggestedFilenamePattern(actualPrefix, suffix, rootPath), pattern);
}

QTEST_GUILESS_MAIN(TestNaming)
#include "tst_naming.moc"
