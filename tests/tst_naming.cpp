// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "naming.h"
#include "release.h"

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

    // The fields read from one release folder's name, as "SHOW / SEASON / EPISODE[-LAST]", with
    // " / YEAR" where the show has one, or "TITLE / YEAR" for a film; "-" when not recognised.
    void releaseFields_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("fields");

        // Episodes, in every form read.
        Row("S01E02", "Harbour.Lights.S02E05.720p.HDTV.x264-GRP", "Harbour Lights / 2 / 5");
        Row("lower case", "harbour.lights.s02e05.720p.hdtv.x264-grp", "harbour lights / 2 / 5");
        Row("one digit each", "Harbour.Lights.S2E5.HDTV", "Harbour Lights / 2 / 5");
        Row("1x02", "Harbour Lights - 2x05 - The Pier [720p]", "Harbour Lights / 2 / 5");
        Row("01x02", "Harbour_Lights_02x05_HDTV", "Harbour Lights / 2 / 5");
        Row("Season 1 Episode 2", "Harbour Lights Season 2 Episode 5 WEB-DL",
            "Harbour Lights / 2 / 5");
        Row("S01.E02", "Harbour.Lights.S02.E05.1080p.WEB.h264-GRP", "Harbour Lights / 2 / 5");
        Row("leading group, three digits", "[GRP] Long Runner - S01E105 [1080p]",
            "Long Runner / 1 / 105");
        Row("path: the last folder only", "Downloads/Other.S09E09/Harbour.Lights.S02E05.x264",
            "Harbour Lights / 2 / 5");
        // Runs of episodes.
        Row("run S01E01E02", "Harbour.Lights.S01E01E02.720p.HDTV.x264-GRP",
            "Harbour Lights / 1 / 1-2");
        Row("run S01E01-E02", "Harbour.Lights.S01E01-E02.720p-GRP", "Harbour Lights / 1 / 1-2");
        Row("run S01E01-02", "Harbour.Lights.S01E01-02.720p-GRP", "Harbour Lights / 1 / 1-2");
        Row("run 1x01-02", "Harbour Lights 1x01-02 HDTV", "Harbour Lights / 1 / 1-2");
        Row("run of three", "Harbour.Lights.S01E01E02E03.HDTV", "Harbour Lights / 1 / 1-3");
        Row("no run backwards", "Harbour.Lights.S01E03-02.HDTV", "Harbour Lights / 1 / 3");
        Row("a dash then a resolution is no run", "Harbour.Lights.S01E01-1080p.HDTV",
            "Harbour Lights / 1 / 1");
        // Shows whose names hold digits or a year.
        Row("number as a show", "24.S08E01.720p.HDTV.x264-GRP", "24 / 8 / 1");
        Row("number in a show", "The.100.S03E07.1080p.WEB-DL", "The 100 / 3 / 7");
        Row("dashed number", "9-1-1.S04E02.720p.HDTV", "9-1-1 / 4 / 2");
        Row("year-like show alone", "1923.S01E01.2160p.WEB", "1923 / 1 / 1");
        Row("show with a year", "Doctor.Who.2005.S01E01.720p.BluRay",
            "Doctor Who (2005) / 1 / 1 / 2005");
        Row("show with a year in brackets", "Doctor Who (2005) - S01E01 - Rose",
            "Doctor Who (2005) / 1 / 1 / 2005");
        Row("initials keep their dots", "S.W.A.T.2017.S01E01.HDTV",
            "S.W.A.T (2017) / 1 / 1 / 2017");
        Row("characters a share refuses", "What? Now: A*B <C> \"D\" S01E01",
            "What- Now- A-B (C) 'D' / 1 / 1");
        // Films.
        Row("film", "The.Quiet.Harbour.2019.1080p.BluRay.x264-GRP", "The Quiet Harbour / 2019");
        Row("film, year in brackets", "The Quiet Harbour (2019) [1080p]",
            "The Quiet Harbour / 2019");
        Row("year as a title", "2012.2009.1080p.BluRay.x264-GRP", "2012 / 2009");
        Row("year in a title", "Wonder.Woman.1984.2020.720p.WEB", "Wonder Woman 1984 / 2020");
        Row("year first in a title", "2001.A.Space.Odyssey.1968.REMUX",
            "2001 A Space Odyssey / 1968");
        Row("next year", "Soon.2027.720p", "Soon / 2027");
        Row("a language word in a title", "The.Good.German.2006.GERMAN.DL.720p",
            "The Good German / 2006");
        Row("WEB alone in a title", "Charlottes.Web.2006.WEB-DL.x264", "Charlottes Web / 2006");
        Row("bracket of the title kept", "(500).Days.of.Summer.2009.720p",
            "(500) Days of Summer / 2009");
        // Not recognised.
        Row("extras", "Extras", "-");
        Row("tags only", "Featurettes.1080p.BluRay.x264-GRP", "-");
        Row("no year", "The.Quiet.Harbour.1080p.BluRay.x264-GRP", "-");
        Row("year after the tags", "The.Quiet.Harbour.1080p.2019", "-");
        Row("year too early", "Old.Reel.1899.DVDRip", "-");
        Row("year past next year", "Far.Future.2028.720p", "-");
        Row("year only", "2019", "-");
        Row("a date is no year", "Evening.News.2019.03.14.720p.HDTV", "-");
        Row("season pack", "Harbour.Lights.S02.1080p.BluRay", "-");
        Row("no show", "S01E02.720p.HDTV", "-");
        Row("marker inside a word", "Harbour.LightsS02E05.HDTV", "-");
        Row("resolution is no 1x02", "Harbour.Lights.1920x1080", "-");
        Row("five digits are no year", "Code.20190.720p", "-");
    }
    void releaseFields()
    {
        QFETCH(QString, name);
        const naming::ReleaseFields f = naming::ReadReleaseName(name, 2027);
        QString fields = "-";
        if (f.kind == naming::ReleaseFields::Kind::Episode) {
            fields = QString("%1 / %2 / %3").arg(f.show).arg(f.season).arg(f.episode);
            if (f.lastEpisode != f.episode)
                fields += QString("-%1").arg(f.lastEpisode);
            if (f.year)
                fields += QString(" / %1").arg(f.year);
        } else if (f.kind == naming::ReleaseFields::Kind::Film) {
            fields = QString("%1 / %2").arg(f.title).arg(f.year);
        }
        QTEST(fields, "fields");
    }

    // Named fields beside the numbered placeholders; a malformed one is refused.
    void fieldPatterns_data()
    {
        QTest::addColumn<QString>("outputPattern");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("target"); // or the problem, after "problem: "

        const char *layout = "%{show}/Season %{season:02}/%{show} - S%{season:02}E%{episode:02}";
        Row("episode layout", layout, "Harbour.Lights.S02E05.720p",
            "Harbour Lights/Season 02/"
            "Harbour Lights - S02E05.mkv");
        Row("run", layout, "Harbour.Lights.S02E05E06.720p",
            "Harbour Lights/Season 02/"
            "Harbour Lights - S02E05-E06.mkv");
        Row("film", "%{title} (%{year})/%{title} (%{year})", "The.Quiet.Harbour.2019.1080p",
            "The Quiet Harbour (2019)/The Quiet Harbour (2019).mkv");
        Row("no width, fields beside captures", "%{season}x%{episode} %1", "Show.S02E05.720p",
            "2x5 05.mkv");
        Row("a missing field is empty", "%{show}%{year}|%{title}", "Show.S02E05.720p", "Show|.mkv");
        Row("a numbered placeholder without digits is still nothing", "%a%{year:03}", "Film.2019.x",
            "a2019.mkv");
        Row("unknown field", "%{series}", "Show.S02E05", "problem: \"%{series}\" names no field");
        Row("unclosed", "%{show", "Show.S02E05", "problem: \"%{show\" names no field");
        Row("width of a text field", "%{show:02}", "Show.S02E05",
            "problem: \"%{show:02}\": only a number takes a width");
        Row("width not a number", "%{season:x}", "Show.S02E05",
            "problem: \"%{season:x}\": only a number takes a width");
    }
    void fieldPatterns()
    {
        QFETCH(QString, outputPattern);
        QFETCH(QString, name);
        QFETCH(QString, target);
        const QString problem = naming::FieldPatterns::Problem(outputPattern);
        if (target.startsWith("problem: ")) {
            QVERIFY2(problem.startsWith(target.mid(9)), qPrintable(problem));
            return;
        }
        QCOMPARE(problem, QString());
        const naming::FieldPatterns patterns("Show.S02E%1.720p", outputPattern);
        QCOMPARE(patterns.TargetName(name, "a.mkv", naming::ReadReleaseName(name, 2027)), target);
    }

    // Samples by the word, and one key for a show however it is spelled.
    void samplesAndKeys()
    {
        for (const char *name : {"sample.mkv", "show.s01e01-SAMPLE.mkv", "Sample", "x.sample"})
            QVERIFY2(naming::IsSample(QString(name)), name);
        for (const char *name : {"samples.mkv", "resample.mkv", "show.s01e01.mkv"})
            QVERIFY2(!naming::IsSample(QString(name)), name);
        QCOMPARE(naming::ShowKey(u"Harbour Lights"), naming::ShowKey(u"harbour.lights"));
        QVERIFY(naming::ShowKey(u"Doctor Who (2005)") != naming::ShowKey(u"Doctor Who"));
    }
};

QTEST_GUILESS_MAIN(TestNaming)
#include "tst_naming.moc"
