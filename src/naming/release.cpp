// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "release.h"

#include <QStringList>

#include <algorithm>
#include <charconv>

namespace naming {

namespace {

// What parts words of a release name: blanks, the dots and underscores that stand for them,
// dashes and brackets.
bool IsSeparator(char16_t u)
{
    switch (u) {
    case u'.':
    case u' ':
    case u'_':
    case u'-':
    case u'[':
    case u']':
    case u'(':
    case u')':
    case u'{':
    case u'}':
    case u'+':
    case u',':
        return true;
    default:
        return false;
    }
}

char16_t Lower(char16_t u)
{
    return u >= u'A' && u <= u'Z' ? u + (u'a' - u'A') : u;
}

bool IsDigit(char16_t u)
{
    return u >= u'0' && u <= u'9';
}

bool IsLetterOrDigit(char16_t u)
{
    return u < 0x80 ? IsDigit(u) || (Lower(u) >= u'a' && Lower(u) <= u'z')
                    : QChar(u).isLetterOrNumber();
}

// A name read position by position; positions past the end read as a separator.
struct Text
{
    QStringView t;
    char16_t At(qsizetype p) const { return p < t.size() ? t[p].unicode() : u' '; }
    bool WordStarts(qsizetype p) const { return p == 0 || IsSeparator(At(p - 1)); }
    bool WordEnds(qsizetype p) const { return IsSeparator(At(p)); }
    // The number written at p in at most maxDigits ASCII digits, and its length; length 0 where
    // there is none or there are more digits.
    int Number(qsizetype p, int maxDigits, int *length) const
    {
        int value = 0;
        *length = 0;
        while (IsDigit(At(p + *length))) {
            if (++*length > maxDigits)
                return *length = 0;
            value = value * 10 + (At(p + *length - 1) - u'0');
        }
        return value;
    }
    // Whether the word lowerWord (ASCII, lower case) stands at p, in any case.
    bool WordAt(qsizetype p, const char *lowerWord) const
    {
        for (; *lowerWord; ++lowerWord, ++p) {
            if (Lower(At(p)) != char16_t(*lowerWord))
                return false;
        }
        return WordEnds(p);
    }
};

struct Marker
{
    qsizetype end = 0; // just past the marker
    int season = -1;
    int first = -1;
    int last = -1;
};

// Extends m over the episodes of a run after it: each a letter ('e' or 'x') with or without a
// dash before it, or a dash alone, then the episode, higher than the last one and ending a word
// or going on with the run.
void ReadRun(const Text &text, Marker &m, char16_t letter)
{
    for (;;) {
        qsizetype p = m.end;
        if (text.At(p) == u'-')
            ++p;
        if (Lower(text.At(p)) == letter)
            ++p;
        else if (p == m.end)
            return;
        int length = 0;
        const int episode = text.Number(p, 3, &length);
        p += length;
        const char16_t next = Lower(text.At(p));
        if (length == 0 || episode <= m.last || episode - m.first > 99 ||
            !(text.WordEnds(p) || next == u'-' || next == letter))
            return;
        m.last = episode;
        m.end = p;
    }
}

// An episode marker starting at p, which starts a word: S01E02, 1x02 or "Season 1 Episode 2",
// with a run of episodes after it.
std::optional<Marker> ReadMarker(const Text &text, qsizetype p)
{
    Marker m;
    int length = 0;
    const char16_t first = Lower(text.At(p));
    if (first == u's' && IsDigit(text.At(p + 1))) {
        m.season = text.Number(p + 1, 3, &length);
        qsizetype e = p + 1 + length;
        const char16_t between = text.At(e);
        if ((between == u'.' || between == u' ' || between == u'_' || between == u'-') &&
            Lower(text.At(e + 1)) == u'e')
            ++e;
        if (length == 0 || Lower(text.At(e)) != u'e')
            return std::nullopt;
        m.first = m.last = text.Number(e + 1, 3, &length);
        m.end = e + 1 + length;
        if (length == 0)
            return std::nullopt;
        ReadRun(text, m, u'e');
    } else if (IsDigit(first)) {
        m.season = text.Number(p, 2, &length);
        const qsizetype x = p + length;
        if (length == 0 || Lower(text.At(x)) != u'x')
            return std::nullopt;
        m.first = m.last = text.Number(x + 1, 2, &length);
        m.end = x + 1 + length;
        if (length == 0)
            return std::nullopt;
        ReadRun(text, m, u'x');
    } else if (text.WordAt(p, "season")) {
        qsizetype e = p + 6;
        while (e < text.t.size() && IsSeparator(text.At(e)))
            ++e;
        m.season = text.Number(e, 3, &length);
        e += length;
        if (length == 0 || !text.WordEnds(e))
            return std::nullopt;
        while (e < text.t.size() && IsSeparator(text.At(e)))
            ++e;
        if (!text.WordAt(e, "episode"))
            return std::nullopt;
        e += 7;
        while (e < text.t.size() && IsSeparator(text.At(e)))
            ++e;
        m.first = m.last = text.Number(e, 3, &length);
        m.end = e + length;
        if (length == 0)
            return std::nullopt;
        ReadRun(text, m, 0);
    } else {
        return std::nullopt;
    }
    if (!text.WordEnds(m.end))
        return std::nullopt;
    return m;
}

// The year written as the word at p (four digits from 1900 to lastYear), or 0.
int YearAt(const Text &text, qsizetype p, int lastYear)
{
    int length = 0;
    const int year = text.Number(p, 4, &length);
    return length == 4 && year >= 1900 && year <= lastYear && text.WordEnds(p + 4) ? year : 0;
}

// Whether a month and a day follow the year at p, as in a date (2010.01.05), which names a
// show's episode rather than a film's year.
bool DateFollows(const Text &text, qsizetype p)
{
    int length = 0;
    text.Number(p + 5, 2, &length);
    if (length != 2 || !IsSeparator(text.At(p + 7)))
        return false;
    text.Number(p + 8, 2, &length);
    return length == 2 && text.WordEnds(p + 10);
}

// Whether the word at p is a release tag: a resolution, a source or a codec, none of which a
// title holds. Languages are not among them: "The Good German" is a title.
bool IsTag(const Text &text, qsizetype p)
{
    // 480p, 720p, 1080p, 1080i, 2160p
    int length = 0;
    text.Number(p, 4, &length);
    if (length >= 3 && (Lower(text.At(p + length)) == u'p' || Lower(text.At(p + length)) == u'i') &&
        text.WordEnds(p + length + 1))
        return true;
    static const char *const tags[] = {"bluray", "blu",   "bdrip", "brrip", "bdremux", "remux",
                                       "webrip", "webdl", "hdtv",  "pdtv",  "dvdrip",  "dvdscr",
                                       "hdrip",  "x264",  "x265",  "h264",  "h265",    "hevc",
                                       "xvid",   "divx",  "10bit", "4k",    "uhd",     "hdr"};
    // Every word of a name is asked about every tag: most differ at their first letter.
    const char16_t first = Lower(text.At(p));
    for (const char *tag : tags) {
        if (char16_t(tag[0]) == first && text.WordAt(p, tag))
            return true;
    }
    // "WEB" alone may be a title's word (Charlotte's Web); "WEB-DL" is a source.
    return text.WordAt(p, "web") && (text.At(p + 3) == u'-' || text.At(p + 3) == u'.') &&
           text.WordAt(p + 4, "dl");
}

// The show or title text of name[from, to): see ReadReleaseName.
QString Clean(QStringView name, qsizetype from, qsizetype to)
{
    // Written in place rather than appended unit by unit: a name's every unit passes here.
    QString out(qMax(to - from, qsizetype(0)), Qt::Uninitialized);
    QChar *const first = out.data();
    QChar *last = first;                   // past the last unit written
    const auto single = [&](qsizetype p) { // a one-letter word at p
        return p >= from && p < to && QChar(name[p]).isLetter() &&
               (p == from || IsSeparator(name[p - 1].unicode())) &&
               (p + 1 == to || IsSeparator(name[p + 1].unicode()));
    };
    for (qsizetype p = from; p < to; ++p) {
        char16_t u = name[p].unicode();
        if (u == u'.' && single(p - 1) && single(p + 1)) {
            *last++ = QChar(u);
            continue;
        }
        switch (u) {
        case u'.':
        case u'_':
            u = u' ';
            break;
        case u'"':
            u = u'\'';
            break;
        case u'<':
            u = u'(';
            break;
        case u'>':
            u = u')';
            break;
        case u'\\':
        case u'/':
        case u':':
        case u'*':
        case u'?':
        case u'|':
            u = u'-';
            break;
        default:
            if (u < 0x20 || u == 0x7f)
                u = u' ';
        }
        if (u == u' ' && (last == first || last[-1] == u' '))
            continue;
        *last++ = QChar(u);
    }
    // Separators at either end, but a bracket that closes at the start or opens at the end, as
    // in "(500) Days of Summer", is the name's own.
    const auto trimmed = [](char16_t u, bool atStart) {
        const bool opens = u == u'(' || u == u'[' || u == u'{';
        const bool closes = u == u')' || u == u']' || u == u'}';
        return IsSeparator(u) && !(atStart ? opens : closes);
    };
    qsizetype begin = 0;
    qsizetype end = last - first;
    while (begin < end && trimmed(first[begin].unicode(), true))
        ++begin;
    while (end > begin && trimmed(first[end - 1].unicode(), false))
        --end;
    out.truncate(end);
    out.remove(0, begin);
    return out;
}

} // namespace

ReleaseFields ReadReleaseName(QStringView name, int lastYear)
{
    name = name.mid(name.lastIndexOf(u'/') + 1);
    const Text text{name};
    ReleaseFields fields;
    // A group in square brackets at the start ("[GRP] Show - 1x02") is no part of the name.
    qsizetype start = 0;
    if (text.At(0) == u'[') {
        const qsizetype close = name.indexOf(u']');
        if (close > 0)
            start = close + 1;
    }

    // One walk over the words: the first episode marker ends it, and so does the first tag.
    qsizetype lastYearAt = -1; // where the last year word stands
    int year = 0;
    qsizetype previousWord = -1;
    qsizetype firstWord = -1;
    for (qsizetype p = start; p < name.size(); ++p) {
        if (IsSeparator(name[p].unicode()) || !text.WordStarts(p))
            continue;
        if (firstWord < 0)
            firstWord = p;
        if (IsTag(text, p))
            break;
        if (const std::optional<Marker> m = ReadMarker(text, p)) {
            fields.season = m->season;
            fields.episode = m->first;
            fields.lastEpisode = m->last;
            // The show's own year is its last word before the marker.
            qsizetype showEnd = p;
            if (lastYearAt >= 0 && previousWord == lastYearAt) {
                fields.year = year;
                showEnd = previousWord;
            }
            fields.show = Clean(name, start, showEnd);
            if (fields.year > 0 && !fields.show.isEmpty())
                fields.show += QStringLiteral(" (%1)").arg(fields.year);
            fields.kind = fields.show.isEmpty() ? ReleaseFields::Kind::NotRecognised
                                                : ReleaseFields::Kind::Episode;
            return fields;
        }
        if (p != firstWord) {
            const int y = YearAt(text, p, lastYear);
            if (y > 0 && !DateFollows(text, p)) {
                lastYearAt = p;
                year = y;
            }
        }
        previousWord = p;
    }
    if (lastYearAt >= 0) {
        fields.title = Clean(name, start, lastYearAt);
        if (!fields.title.isEmpty()) {
            fields.kind = ReleaseFields::Kind::Film;
            fields.year = year;
        }
    }
    return fields;
}

bool IsSample(QStringView name)
{
    // Every name of a scan is asked, and Qt's search without case folds every unit by its tables.
    const Text text{name};
    for (qsizetype p = 0; p + 6 <= name.size(); ++p) {
        // Nearly every unit is passed over by one test: only 'S' and 's' give 's' with the case
        // bit set.
        if ((name[p].unicode() | 0x20) != u's')
            continue;
        if ((p == 0 || !IsLetterOrDigit(text.At(p - 1))) && Lower(text.At(p + 1)) == u'a' &&
            Lower(text.At(p + 2)) == u'm' && Lower(text.At(p + 3)) == u'p' &&
            Lower(text.At(p + 4)) == u'l' && Lower(text.At(p + 5)) == u'e' &&
            !IsLetterOrDigit(text.At(p + 6)))
            return true;
    }
    return false;
}

bool IsVideo(QStringView fileName)
{
    static const QStringList extensions{
        QStringLiteral("3gp"),  QStringLiteral("asf"),  QStringLiteral("avi"),
        QStringLiteral("divx"), QStringLiteral("flv"),  QStringLiteral("m2ts"),
        QStringLiteral("m4v"),  QStringLiteral("mkv"),  QStringLiteral("mov"),
        QStringLiteral("mp4"),  QStringLiteral("mpeg"), QStringLiteral("mpg"),
        QStringLiteral("mts"),  QStringLiteral("ogv"),  QStringLiteral("rmvb"),
        QStringLiteral("ts"),   QStringLiteral("vob"),  QStringLiteral("webm"),
        QStringLiteral("wmv")};
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot >= 0 && extensions.contains(fileName.mid(dot + 1), Qt::CaseInsensitive);
}

QString ShowKey(QStringView show)
{
    // Asked for every episode: an ASCII letter folds by arithmetic, and only a key with other
    // letters goes through Qt's tables.
    QString key(show.size(), Qt::Uninitialized);
    QChar *out = key.data();
    bool ascii = true;
    for (const QChar c : show) {
        if (IsLetterOrDigit(c.unicode())) {
            *out++ = Lower(c.unicode());
            ascii = ascii && c.unicode() < 0x80;
        }
    }
    key.truncate(out - key.constData());
    return ascii ? key : key.toCaseFolded();
}

QString FieldPatterns::Split(const QString &filenamePattern, const QString &outputPattern,
                             std::vector<Piece> *pieces)
{
    static const struct
    {
        const char *name;
        Field field;
    } names[] = {{"show", Field::Show},
                 {"title", Field::Title},
                 {"season", Field::Season},
                 {"episode", Field::Episode},
                 {"year", Field::Year}};
    qsizetype p = 0;
    for (;;) {
        const qsizetype b = outputPattern.indexOf(QLatin1String("%{"), p);
        const QString text = outputPattern.mid(p, b < 0 ? -1 : b - p);
        // Text without a placeholder is taken as it stands, without matching the filename pattern.
        if (pieces && text.contains(u'%'))
            pieces->push_back({Patterns(filenamePattern, text), {}, Field::None, 0});
        else if (pieces && !text.isEmpty())
            pieces->push_back({std::nullopt, text, Field::None, 0});
        if (b < 0)
            return QString();
        const qsizetype close = outputPattern.indexOf(u'}', b);
        const QString inside = outputPattern.mid(b + 2, close < 0 ? 0 : close - b - 2);
        const QString fieldName = inside.section(u':', 0, 0);
        Piece piece;
        for (const auto &known : names) {
            if (fieldName == QLatin1String(known.name))
                piece.field = known.field;
        }
        if (close < 0 || piece.field == Field::None)
            return QStringLiteral("\"%1\" names no field (show, title, season, episode, year)")
                .arg(outputPattern.mid(b, close < 0 ? -1 : close - b + 1));
        if (inside.contains(u':')) {
            bool ok = false;
            const QString width = inside.section(u':', 1);
            piece.width = width.toInt(&ok, 10);
            if (!ok || width.size() > 2 || !IsDigit(width.front().unicode()) ||
                piece.field == Field::Show || piece.field == Field::Title)
                return QStringLiteral("\"%{%1}\": only a number takes a width, such as :02")
                    .arg(inside);
        }
        if (pieces)
            pieces->push_back(std::move(piece));
        p = close + 1;
    }
}

QString FieldPatterns::Problem(const QString &outputPattern)
{
    return Split(QString(), outputPattern, nullptr);
}

FieldPatterns::FieldPatterns(const QString &filenamePattern, const QString &outputPattern)
{
    Split(filenamePattern, outputPattern, &pieces);
}

bool FieldPatterns::Captures() const
{
    return std::any_of(pieces.cbegin(), pieces.cend(),
                       [](const Piece &piece) { return piece.text.has_value(); });
}

QString FieldPatterns::TargetName(const QString &subject, const QString &fileName,
                                  const ReleaseFields &fields) const
{
    QString target;
    target.reserve(128);
    const auto number = [&target](int value, int width) {
        if (value < 0)
            return;
        // Not QString::number, which costs as much as the rest of a target.
        char buffer[16];
        const QLatin1String digits(buffer,
                                   std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
        for (qsizetype pad = width - digits.size(); pad > 0; --pad)
            target += u'0';
        target += digits;
    };
    for (const Piece &piece : pieces) {
        switch (piece.field) {
        case Field::None:
            target += piece.text ? piece.text->TargetName(subject, QString()) : piece.literal;
            break;
        case Field::Show:
            target += fields.show;
            break;
        case Field::Title:
            target += fields.title;
            break;
        case Field::Season:
            number(fields.season, piece.width);
            break;
        case Field::Episode:
            number(fields.episode, piece.width);
            if (fields.lastEpisode != fields.episode) {
                target += QStringLiteral("-E");
                number(fields.lastEpisode, piece.width);
            }
            break;
        case Field::Year:
            if (fields.year > 0)
                number(fields.year, piece.width);
            break;
        }
    }
    target += FileExtension(fileName);
    return target;
}

} // namespace naming
