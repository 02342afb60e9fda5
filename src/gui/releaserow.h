// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include "naming.h"

#include <QString>
#include <QTreeWidgetItem>

#include <memory>
#include <optional>

namespace files {
struct ReleaseFile;
}

// What all rows of one scan share: the root their folders were found under, and the patterns
// that give their target names. A change of either pattern is one assignment here, however many
// rows there are; each row works out its name when something reads it.
class RowNaming
{
public:
    explicit RowNaming(const QString &absoluteRoot);

    // The patterns now in force. Every row's target follows them, and every name typed by hand
    // before this call gives way.
    void SetPatterns(const QString &filenamePattern, const QString &outputPattern);

private:
    friend class ReleaseRow;
    const QString absoluteRoot;
    std::optional<naming::Patterns> patterns; // none until a pattern changes after the scan
    quint32 generation = 1;                   // counts the calls of SetPatterns
};

// A release row, of the default item type. Column 0 shows the folder (with the tick), column 1
// the chosen file's name, column 2 the target name; under Qt::UserRole column 0 answers with the
// chosen file's absolute path. Rather than keeping a text per row that a keystroke must rewrite,
// it computes column 2 from the shared patterns as it is read, and the path from its parts: only
// a name typed into column 2 is kept, until the patterns next change.
class ReleaseRow : public QTreeWidgetItem
{
public:
    ReleaseRow(std::shared_ptr<const RowNaming> naming, files::ReleaseFile &&release);

    QVariant data(int column, int role) const override;
    void setData(int column, int role, const QVariant &value) override;

    // What "Process" reads of every row, as data() answers it, without a QVariant for each.
    bool Ticked() const { return tick == Qt::Checked; }
    QString Target() const;     // column 2's text
    QString ChosenFile() const; // column 0's Qt::UserRole: the chosen file's absolute path
    // False where the scan saw that the chosen file is no symbolic link, which may since have
    // lost what it pointed at.
    bool MayBeLink() const { return mayBeLink; }

private:
    std::shared_ptr<const RowNaming> naming;
    QString folder;
    QString fileName;
    quint32 typedIn = 0; // the patterns' generation when column 2 was last set; 0 never
    // The tick, kept here rather than in the item's table of values per column and role, which
    // cost two blocks of memory per row. With the 32-bit generation above, it fits where a
    // 64-bit one alone went: every byte is paid 100,000 times.
    quint8 tick = Qt::Checked;
    bool mayBeLink;
};
