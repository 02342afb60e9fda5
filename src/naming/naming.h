// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVector>

// The naming engine: plain functions of their arguments, no widgets, no file system, no state.
// Every "%" in a pattern begins a placeholder; its digits give the number N, held as index N - 1.

// Splits a filename pattern into its literal pieces (one more than there are placeholders) and
// maps every placeholder index to its capture slot. Both outputs are expected empty on entry.
void ParseFilenamePattern(const QString &pattern, QMap<int, int> &placeholderMap,
                          QStringList &separators);

// Turns an output pattern into literal QString tokens and int placeholder-index tokens.
QVariantList ParseOutputPattern(const QString &pattern);

// The text from the last "." of fileName on, dot included; empty without a dot.
QString FileExtension(const QString &fileName);

namespace naming {

// Both patterns parsed once, ready to be laid over any number of rows.
class Patterns
{
public:
    Patterns(const QString &filenamePattern, const QString &outputPattern);

    // The target name of one row: fields captured from subject (a folder's relative path), the
    // output pattern filled from them, and the extension of fileName.
    QString TargetName(const QString &subject, const QString &fileName) const;

private:
    QStringList separators;
    int slotCount = 0; // one capture slot per placeholder of the filename pattern
    int usedSlots = 0; // one past the highest slot that the output refers to
    // The output tokens with every placeholder already resolved to its capture slot, so that
    // rows need no map lookups: a literal (slot -1) or a slot. Numbers that the filename pattern
    // lacks are dropped, since they append nothing.
    struct Piece
    {
        QString literal;
        int slot = -1;
    };
    QVector<Piece> pieces;
    qsizetype literalLength = 0;
};

// The longest text with which every entry of texts begins.
QString CommonPrefix(const QStringList &texts);

// The tag-anchored suffix: the last accepted release tag of tags (tried in order, found
// regardless of case), preceded by the text that stands identically before it in every entry.
QString CommonTagSuffix(const QStringList &texts, const QStringList &tags);

// The suggested filename pattern: prefix (less a leading rootPath) + "%1" + suffix.
QString SuggestedFilenamePattern(QString prefix, const QString &suffix, const QString &rootPath);

// The eleven release tags the suggestion anchors on, lower case, in the order they are tried.
QStringList ReleaseTags();

} // namespace naming
