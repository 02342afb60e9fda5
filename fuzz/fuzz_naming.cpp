// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

// Fuzz target for the naming engine. The input is read as UTF-16 code units (two bytes each,
// little-endian, a trailing odd byte ignored), so any unit shows up, lone surrogates included.
// The units are cut at every U+000A into: filename pattern, output pattern, root path, then
// pairs of row text and file name. Every result is checked against what must hold for any
// input, and the two computations with a fast path are checked against plain re-statements.

#include "naming.h"
#include "release.h"

#include <algorithm>
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

// Captures and assembly done the slow, obvious way: a field list, map lookups, variant tokens.
QString ReferenceTarget(const QString &filenamePattern, const QString &outputPattern,
                        const QString &subject, const QString &fileName)
{
    QMap<int, int> map;
    QStringList separators;
    ParseFilenamePattern(filenamePattern, map, separators);
    const qsizetype m = separators.size() - 1;
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

    QString target;
    for (const QVariant &token : ParseOutputPattern(outputPattern)) {
        if (token.typeId() == QMetaType::QString) {
            target += token.toString();
        } else if (map.contains(token.toInt())) {
            target += fields.at(map.value(token.toInt()));
        }
    }
    return target + FileExtension(fileName);
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
        if (indexes.indexOf(index) == slot)
            Check(map.value(index) == slot, "first occurrence keeps its own slot");
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
