// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "naming.h"

#include <QStringView>
#include <QVarLengthArray>

#include <algorithm>
#include <vector>

namespace {

// Reads the placeholder whose "%" stands at b: stores its index and returns the position just
// after its digit run. A run that is empty or does not fit an int counts as number 0.
qsizetype ReadPlaceholder(QStringView pattern, qsizetype b, int &index)
{
    qsizetype e = b + 1;
    while (e < pattern.size() && pattern[e].isDigit())
        ++e;
    bool ok = false;
    const int number = e > b + 1 ? pattern.mid(b + 1, e - b - 1).toInt(&ok, 10) : 0;
    // Only N >= 1 can be lowered without leaving the int range; everything else is index -1.
    index = ok && number > 0 ? number - 1 : -1;
    return e;
}

// The first start of separator in text at from or after, as QStringView::indexOf gives it. A
// general search first hashes the whole separator, which costs more than the search itself in
// a release name of a few dozen characters: here each place that holds the separator's first
// character is compared whole.
qsizetype IndexOfSeparator(QStringView text, QStringView separator, qsizetype from)
{
    if (from > text.size() - separator.size())
        return -1;
    const char16_t *begin = text.utf16();
    const char16_t *end = begin + text.size() - separator.size() + 1; // the last start, and one
    const char16_t *rest = separator.utf16() + 1;
    const char16_t *restEnd = separator.utf16() + separator.size();
    for (const char16_t *at = std::find(begin + from, end, *separator.utf16()); at != end;
         at = std::find(at + 1, end, *separator.utf16())) {
        if (std::equal(rest, restEnd, at + 1))
            return at - begin;
    }
    return -1;
}

bool IsAscii(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

// The last start of tag in text with letter case ignored, the same answer that
// QString::lastIndexOf(tag, -1, Qt::CaseInsensitive) gives, for an ASCII tag already in lower
// case. Qt's generic search folds every code unit through its tables and costs several times
// more; this one folds ASCII by arithmetic. A unit beyond ASCII still folds through the table,
// as some fold to ASCII (KELVIN SIGN to 'k', LONG S to 's'); a surrogate never folds to ASCII.
qsizetype LastIndexOfAsciiTag(QStringView text, QStringView lowerTag)
{
    const auto folded = [](char16_t u) -> char32_t {
        if (u < 0x80)
            return u >= u'A' && u <= u'Z' ? u + (u'a' - u'A') : u;
        return QChar::isSurrogate(u) ? u : QChar::toCaseFolded(static_cast<char32_t>(u));
    };
    const qsizetype length = lowerTag.size();
    const char16_t *tag = lowerTag.utf16();
    const char16_t *data = text.utf16();
    // Nearly every place fails at its first unit. For ASCII that unit folds to the tag's first
    // only if the two are equal once the case bit is set in both: one test instead of a fold.
    const char16_t firstWithCaseBit = length > 0 ? (tag[0] | 0x20) : 0;
    for (qsizetype p = text.size() - length; p >= 0; --p) {
        if (length > 0 && data[p] < 0x80 && (data[p] | 0x20) != firstWithCaseBit)
            continue;
        qsizetype i = 0;
        while (i < length && folded(data[p + i]) == tag[i])
            ++i;
        if (i == length)
            return p;
    }
    return -1;
}

// Rows live in separate heap blocks, so a pass over many rows waits on memory, not on the
// comparisons: ask for both ends of a row's characters some rows ahead of their use.
#if defined(__GNUC__) || defined(__clang__)
// Forced inline: as a call of its own, with no visible effect, GCC drops it altogether.
[[gnu::always_inline]] inline void PrefetchRow(const QStringList &texts, qsizetype j)
{
    constexpr qsizetype Distance = 16;
    if (j + Distance < texts.size()) {
        const QString &ahead = texts.at(j + Distance);
        __builtin_prefetch(ahead.constData());
        __builtin_prefetch(ahead.constData() + ahead.size());
    }
}
#else
inline void PrefetchRow(const QStringList &, qsizetype) {}
#endif

} // namespace

void ParseFilenamePattern(const QString &pattern, QMap<int, int> &placeholderMap,
                          QStringList &separators)
{
    qsizetype p = 0;
    int position = 0;
    for (;;) {
        const qsizetype b = pattern.indexOf(u'%', p);
        if (b < 0) {
            separators.append(pattern.mid(p));
            return;
        }
        separators.append(pattern.mid(p, b - p));
        int index = -1;
        p = ReadPlaceholder(pattern, b, index);
        // A repeated number still claims its own field while matching, but the output keeps
        // referring to the field of its first occurrence.
        if (!placeholderMap.contains(index))
            placeholderMap.insert(index, position);
        ++position;
    }
}

QVariantList ParseOutputPattern(const QString &pattern)
{
    QVariantList tokens;
    qsizetype p = 0;
    for (;;) {
        const qsizetype b = pattern.indexOf(u'%', p);
        const qsizetype end = b < 0 ? pattern.size() : b;
        if (end > p)
            tokens.append(pattern.mid(p, end - p));
        if (b < 0)
            return tokens;
        int index = -1;
        p = ReadPlaceholder(pattern, b, index);
        tokens.append(index);
    }
}

QString FileExtension(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot < 0 ? QString() : fileName.mid(dot);
}

namespace naming {

Patterns::Patterns(const QString &filenamePattern, const QString &outputPattern)
{
    QMap<int, int> placeholderMap;
    ParseFilenamePattern(filenamePattern, placeholderMap, separators);
    slotCount = static_cast<int>(separators.size() - 1);

    const QVariantList tokens = ParseOutputPattern(outputPattern);
    pieces.reserve(tokens.size());
    for (const QVariant &token : tokens) {
        if (token.typeId() == QMetaType::QString) {
            Piece piece;
            piece.literal = token.toString();
            literalLength += piece.literal.size();
            pieces.append(piece);
            continue;
        }
        const auto it = placeholderMap.constFind(token.toInt());
        if (it == placeholderMap.cend())
            continue; // an unknown number contributes nothing, so it needs no piece at all
        Piece piece;
        piece.slot = it.value();
        usedSlots = std::max(usedSlots, piece.slot + 1);
        pieces.append(piece);
    }
}

QString Patterns::TargetName(const QString &subject, const QString &fileName) const
{
    struct Range
    {
        qsizetype start;
        qsizetype length;
    };
    // Fields past the last one the output uses need no matching: field j depends only on the
    // separators 0 to j + 1.
    QVarLengthArray<Range, 16> fields(usedSlots);
    std::fill(fields.begin(), fields.end(), Range{0, 0});

    const QStringView text(subject);
    if (usedSlots > 0) {
        const QString &first = separators.front();
        qsizetype g = first.isEmpty() ? 0 : IndexOfSeparator(text, first, 0);
        qsizetype e = g + first.size();
        for (int k = 1; g >= 0 && k <= usedSlots; ++k) {
            const QString &separator = separators.at(k);
            if (separator.isEmpty()) {
                // A pattern ending in a placeholder gives that placeholder the rest of the
                // text; between two placeholders the earlier one captures nothing.
                fields[k - 1] = Range{e, k == slotCount ? text.size() - e : 0};
                continue;
            }
            g = IndexOfSeparator(text, separator, e);
            if (g >= 0) {
                fields[k - 1] = Range{e, g - e};
                e = g + separator.size();
            }
        }
    }

    const qsizetype dot = fileName.lastIndexOf(u'.');
    const QStringView extension = dot < 0 ? QStringView() : QStringView(fileName).mid(dot);

    qsizetype total = literalLength + extension.size();
    for (const Piece &piece : pieces) {
        if (piece.slot >= 0)
            total += fields[piece.slot].length;
    }
    QString target(total, Qt::Uninitialized);
    QChar *out = target.data();
    for (const Piece &piece : pieces) {
        if (piece.slot < 0) {
            out = std::copy(piece.literal.cbegin(), piece.literal.cend(), out);
            continue;
        }
        const Range field = fields[piece.slot];
        const QChar *in = text.data() + field.start;
        out = std::transform(in, in + field.length, out,
                             [](QChar c) { return c == u'.' ? QChar(u' ') : c; });
    }
    std::copy(extension.begin(), extension.end(), out);
    return target;
}

QString CommonPrefix(const QStringList &texts)
{
    if (texts.isEmpty())
        return QString();
    // Row by row rather than column by column: the same length, one sequential pass per row.
    const QString &first = texts.front();
    qsizetype length = first.size();
    for (qsizetype j = 1; j < texts.size() && length > 0; ++j) {
        PrefetchRow(texts, j);
        const QString &text = texts.at(j);
        const QChar *a = first.constData();
        const qsizetype limit = std::min(length, text.size());
        length = std::mismatch(a, a + limit, text.constData()).first - a;
    }
    return first.left(length);
}

QString CommonTagSuffix(const QStringList &texts, const QStringList &tags)
{
    const qsizetype rows = texts.size();
    if (rows == 0)
        return QString();
    const QString &first = texts.front();

    // Places in the rows' texts, three lists as long as the rows, held while the window holds
    // all its rows: as int, which a folder's text never outgrows, they take half the memory.
    // The one visit to every row: how many of its last characters it shares with the first
    // row. Release folder names mostly end alike, and then every answer below comes from it.
    std::vector<int> sameEnd(rows);
    for (qsizetype j = 0; j < rows; ++j) {
        PrefetchRow(texts, j);
        const QString &text = texts.at(j);
        const auto a = std::make_reverse_iterator(first.constData() + first.size());
        const auto b = std::make_reverse_iterator(text.constData() + text.size());
        const qsizetype limit = std::min(first.size(), text.size());
        sameEnd[j] = int(std::mismatch(a, a + limit, b).first - a);
    }

    std::vector<int> cuts(rows);
    std::vector<int> found(rows);
    for (qsizetype j = 0; j < rows; ++j)
        cuts[j] = int(texts.at(j).size());
    qsizetype tail = 0; // how far every row's cut stands from its end, where that is the same
    QString anchor;
    for (const QString &tag : tags) {
        const bool fast = !tag.isEmpty() && IsAscii(tag);
        // The release tags are in lower case already, and toLower costs more than the search
        // over a library group's one or two folders.
        const bool upper =
            std::any_of(tag.cbegin(), tag.cend(), [](QChar c) { return c >= u'A' && c <= u'Z'; });
        const QString lowerTag = !fast ? QString() : upper ? tag.toLower() : tag;
        const auto lastIndex = [&](const QString &text) {
            return fast ? LastIndexOfAsciiTag(text, lowerTag)
                        : text.lastIndexOf(tag, -1, Qt::CaseInsensitive);
        };
        // A row that ends as the first row does from just before the tag on holds its last
        // tag as far from its end (the character before counts: a case fold may read it).
        // Only rows that end otherwise are searched.
        const qsizetype firstPlace = lastIndex(first);
        const qsizetype tagTail = first.size() - firstPlace;
        bool accepted = firstPlace >= 0;
        for (qsizetype j = 0; j < rows && accepted; ++j) {
            const QString &text = texts.at(j);
            const qsizetype p = sameEnd[j] > tagTail ? text.size() - tagTail : lastIndex(text);
            accepted = p >= 0 && p <= cuts[j];
            found[j] = int(p);
        }
        if (accepted) {
            cuts.swap(found);
            tail = tagTail;
            anchor = texts.at(rows - 1).mid(cuts[rows - 1], tag.size());
        }
    }

    // The run before the cuts that all rows share is the shortest run that each row shares
    // with the first one. A row whose cut stands as far from its end as the first row's, and
    // which ends alike up to there, shares the rest of its like ending.
    qsizetype walk = cuts[0];
    for (qsizetype j = 1; j < rows && walk > 0; ++j) {
        const QString &text = texts.at(j);
        if (sameEnd[j] >= tail && cuts[j] == text.size() - tail) {
            walk = std::min(walk, sameEnd[j] - tail);
            continue;
        }
        const auto a = std::make_reverse_iterator(first.constData() + cuts[0]);
        const auto b = std::make_reverse_iterator(text.constData() + cuts[j]);
        const qsizetype limit = std::min(walk, qsizetype(cuts[j]));
        walk = std::mismatch(a, a + limit, b).first - a;
    }
    return first.mid(cuts[0] - walk, walk) + anchor;
}

QString SuggestedFilenamePattern(QString prefix, const QString &suffix, const QString &rootPath)
{
    if (!rootPath.isEmpty() && prefix.startsWith(rootPath, Qt::CaseSensitive))
        prefix.remove(0, rootPath.size());
    return prefix + QStringLiteral("%1") + suffix;
}

QStringList ReleaseTags()
{
    return {QStringLiteral("repack"), QStringLiteral("hdtv"),   QStringLiteral("webhd"),
            QStringLiteral("bluray"), QStringLiteral("x264"),   QStringLiteral("x265"),
            QStringLiteral("dl"),     QStringLiteral("1080p"),  QStringLiteral("720p"),
            QStringLiteral("german"), QStringLiteral("english")};
}

} // namespace naming
