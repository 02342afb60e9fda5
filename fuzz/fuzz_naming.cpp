// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

// Fuzz target for the naming engine. The input is read as UTF-16 code units (two bytes each,
// little-endian, a trailing odd byte ignored), so any unit shows up, lone surrogates included.
// The units are cut at every U+000A into: filename pattern, output pattern, root path, then
// pairs of row text and file name. Every result is checked against what must hold for any
// input, and the parsers, the target names and the tag suffix are checked against plain
// re-statements written apart from the engine.

#include "naming.h"
#include "release.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

void Check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "naming invariant violated: %s\n", what);
        std::abort();
    }
}

// A pattern read the plain way, apart from the engine's parsers: every "%" and the run of
// digits after it is one placeholder, numbered by the run in base 10, or 0 where the run is
// empty, holds a digit beyond ASCII or passes INT_MAX; the text around placeholders is literal.
struct PlainPattern
{
    QStringList literals; // one more than numbers
    QList<int> numbers;
};

PlainPattern ReadPlain(const QString &pattern)
{
    PlainPattern plain;
    QString literal;
    qsizetype i = 0;
    while (i < pattern.size()) {
        if (pattern.at(i) != QLatin1Char('%')) {
            literal += pattern.at(i++);
            continue;
        }
        plain.literals.append(literal);
        literal.clear();
        qsizetype end = i + 1;
        while (end < pattern.size() && pattern.at(end).isDigit())
            ++end;
        long long number = 0;
        bool ok = end > i + 1;
        for (qsizetype k = i + 1; ok && k < end; ++k) {
            const char16_t unit = pattern.at(k).unicode();
            ok = unit >= u'0' && unit <= u'9';
            number = number * 10 + (unit - u'0');
            ok = ok && number <= INT_MAX;
        }
        plain.numbers.append(ok ? int(number) : 0);
        i = end;
    }
    plain.literals.append(literal);
    return plain;
}

// Captures and assembly done the slow, obvious way from the plain reading: a field per
// placeholder of the filename pattern, and each placeholder of the output filled from the
// first field that has its number.
QString ReferenceTarget(const QString &filenamePattern, const QString &outputPattern,
                        const QString &subject, const QString &fileName)
{
    const PlainPattern in = ReadPlain(filenamePattern);
    const QStringList &separators = in.literals;
    const qsizetype m = in.numbers.size();
    QStringList fields;
    for (qsizetype k = 0; k < m; ++k)
        fields.append(QString());

    qsizetype g = subject.indexOf(separators.at(0));
    qsizetype e = g < 0 ? 0 : g + separators.at(0).size();
    for (qsizetype k = 1; g >= 0 && k <= m; ++k) {
        const QString &separator = separators.at(k);
        if (separator.isEmpty()) {
            if (k == m)
                fields[k - 1] = subject.mid(e);
            continue;
        }
        g = subject.indexOf(separator, e);
        if (g >= 0) {
            fields[k - 1] = subject.mid(e, g - e);
            e = g + separator.size();
        }
    }
    for (QString &field : fields)
        field.replace(QLatin1Char('.'), QLatin1Char(' '));

    const PlainPattern out = ReadPlain(outputPattern);
    QString target = out.literals.at(0);
    for (qsizetype t = 0; t < out.numbers.size(); ++t) {
        const qsizetype slot = in.numbers.indexOf(out.numbers.at(t));
        if (slot >= 0)
            target += fields.at(slot);
        target += out.literals.at(t + 1);
    }
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return target + (dot < 0 ? QString() : fileName.mid(dot));
}

// The tag phase and the backward walk exactly as described: every row visited per tag and per
// character, and Qt's own case-insensitive search.
QString ReferenceTagSuffix(const QStringList &texts, const QStringList &tags)
{
    const qsizetype n = texts.size();
    if (n == 0)
        return QString();
    std::vector<qsizetype> cuts(n);
    for (qsizetype j = 0; j < n; ++j)
        cuts[j] = texts.at(j).size();
    QString result;
    for (const QString &tag : tags) {
        std::vector<qsizetype> found(n);
        bool accepted = true;
        for (qsizetype j = 0; j < n && accepted; ++j) {
            found[j] = texts.at(j).lastIndexOf(tag, -1, Qt::CaseInsensitive);
            accepted = found[j] >= 0 && found[j] <= cuts[j];
        }
        if (accepted) {
            cuts = found;
            result = texts.at(n - 1).mid(cuts[n - 1], tag.size());
        }
    }
    for (;;) {
        QChar reference;
        for (qsizetype j = 0; j < n; ++j) {
            if (--cuts[j] < 0)
                return result;
            const QChar c = texts.at(j).at(cuts[j]);
            if (j == 0)
                reference = c;
            else if (c != reference)
                return result;
        }
        result.prepend(reference);
    }
}

void CheckFilenamePattern(const QString &pattern)
{
    QMap<int, int> map;
    QStringList separators;
    ParseFilenamePattern(pattern, map, separators);
    const qsizetype placeholders = pattern.count(QLatin1Char('%'));
    Check(separators.size() == placeholders + 1, "one separator more than placeholders");
    const PlainPattern plain = ReadPlain(pattern);
    Check(separators == plain.literals, "separators are the plain reading's literals");
    QMap<int, int> firstSlots; // number N held as index N - 1, each at its first slot
    for (qsizetype slot = plain.numbers.size() - 1; slot >= 0; --slot)
        firstSlots.insert(plain.numbers.at(slot) - 1, int(slot));
    Check(map == firstSlots, "each index maps to the first slot with its number");

    // The output parser reads the same placeholders: its literals are the non-empty
    // separators, and its indexes are the map's keys, first occurrences in slot order.
    const QVariantList tokens = ParseOutputPattern(pattern);
    QStringList literals;
    QList<int> indexes;
    for (const QVariant &token : tokens) {
        if (token.typeId() == QMetaType::QString)
            literals.append(token.toString());
        else
            indexes.append(token.toInt());
    }
    QStringList nonEmpty = separators;
    nonEmpty.removeAll(QString());
    Check(literals == nonEmpty, "output literals equal the non-empty separators");
    Check(indexes.size() == placeholders, "one index token per placeholder");
    Check(!literals.join(QString()).contains(QLatin1Char('%')), "literals hold no percent sign");
    for (qsizetype t = 1; t < tokens.size(); ++t) {
        Check(tokens.at(t).typeId() == QMetaType::Int ||
                  tokens.at(t - 1).typeId() == QMetaType::Int,
              "no two literal tokens in a row");
    }
    for (qsizetype slot = 0; slot < indexes.size(); ++slot) {
        const int index = indexes.at(slot);
        Check(index >= -1, "index at least -1");
        Check(map.contains(index), "every index is mapped");
        Check(index == plain.numbers.at(slot) - 1, "each index is its number less one");
    }
    Check(map.size() <= placeholders, "no more keys than placeholders");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QString units(static_cast<qsizetype>(size / 2), Qt::Uninitialized);
    for (size_t i = 0; i + 1 < size; i += 2)
        units[static_cast<qsizetype>(i / 2)] =
            QChar(static_cast<char16_t>(data[i] | data[i + 1] << 8));
    const QStringList parts = units.split(QLatin1Char('\n'));
    const auto part = [&parts](qsizetype i) { return i < parts.size() ? parts.at(i) : QString(); };
    const QString filenamePattern = part(0);
    const QString outputPattern = part(1);
    const QString rootPath = part(2);
    QStringList rows;
    QStringList fileNames;
    for (qsizetype i = 3; i < parts.size(); i += 2) {
        rows.append(parts.at(i));
        fileNames.append(part(i + 1));
    }

    CheckFilenamePattern(filenamePattern);
    CheckFilenamePattern(outputPattern);

    const naming::Patterns patterns(filenamePattern, outputPattern);
    for (qsizetype j = 0; j < rows.size(); ++j) {
        const QString target = patterns.TargetName(rows.at(j), fileNames.at(j));
        Check(target.endsWith(FileExtension(fileNames.at(j))), "target ends in the extension");
        Check(target ==
                  ReferenceTarget(filenamePattern, outputPattern, rows.at(j), fileNames.at(j)),
              "target equals the plain computation");
    }

    // The fields read from a release name are usable as a name on any file system.
    const bool fieldPattern = naming::FieldPatterns::Problem(outputPattern).isEmpty();
    for (qsizetype j = 0; j < rows.size(); ++j) {
        const naming::ReleaseFields fields = naming::ReadReleaseName(rows.at(j), 2027);
        const QString name = fields.show + fields.title;
        Check(fields.kind == naming::ReleaseFields::Kind::NotRecognised || !name.isEmpty(),
              "a recognised name has a show or a title");
        for (const QChar c : name)
            Check(c.unicode() >= 0x20 && !QStringLiteral("\\/:*?\"<>|").contains(c),
                  "show and title hold no character a share refuses");
        Check(fields.lastEpisode >= fields.episode, "a run ends at or after its start");
        if (fieldPattern)
            Check(naming::FieldPatterns(filenamePattern, outputPattern)
                      .TargetName(rows.at(j), fileNames.at(j), fields)
                      .endsWith(FileExtension(fileNames.at(j))),
                  "a target with named fields ends in the extension");
    }

    const QString prefix = naming::CommonPrefix(rows);
    qsizetype shortest = rows.isEmpty() ? 0 : rows.front().size();
    for (const QString &row : rows) {
        Check(row.startsWith(prefix), "prefix begins every row");
        shortest = std::min(shortest, row.size());
    }
    if (prefix.size() < shortest) {
        bool differ = false;
        for (const QString &row : rows)
            differ = differ || row.at(prefix.size()) != rows.front().at(prefix.size());
        Check(differ, "prefix is the longest one");
    }

    const QStringList tags = naming::ReleaseTags();
    const QString suffix = naming::CommonTagSuffix(rows, tags);
    Check(suffix.size() <= shortest, "suffix fits in every row");
    Check(suffix == ReferenceTagSuffix(rows, tags), "suffix equals the plain computation");
    // Tags taken from the input itself: empty, upper case or beyond ASCII, so both searches run.
    const QStringList rowTags = QStringList(rows.mid(0, 3)) << filenamePattern << rootPath;
    Check(naming::CommonTagSuffix(rows, rowTags) == ReferenceTagSuffix(rows, rowTags),
          "suffix over arbitrary tags equals the plain computation");

    const QString pattern = naming::SuggestedFilenamePattern(prefix, suffix, rootPath);
    const bool strip = !rootPath.isEmpty() && prefix.startsWith(rootPath);
    const QString kept = strip ? prefix.mid(rootPath.size()) : prefix;
    Check(pattern == kept + QStringLiteral("%1") + suffix, "suggestion is prefix, %1, suffix");
    return 0;
}
