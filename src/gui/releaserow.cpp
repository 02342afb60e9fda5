// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "releaserow.h"

#include "scan.h"

#include <utility>

RowNaming::RowNaming(const QString &absoluteRoot)
    : absoluteRoot(absoluteRoot)
{}

void RowNaming::SetPatterns(const QString &filenamePattern, const QString &outputPattern)
{
    patterns.emplace(filenamePattern, outputPattern);
    ++generation;
}

namespace {

bool IsText(int role)
{
    return role == Qt::DisplayRole || role == Qt::EditRole;
}

} // namespace

ReleaseRow::ReleaseRow(std::shared_ptr<const RowNaming> naming, files::ReleaseFile &&release)
    : naming(std::move(naming))
    , folder(std::move(release.folder))
    , fileName(std::move(release.fileName))
    , mayBeLink(release.mayBeLink)
{
    setFlags(flags() | Qt::ItemIsUserCheckable | Qt::ItemIsEditable);
}

QVariant ReleaseRow::data(int column, int role) const
{
    if (column == 2 && IsText(role)) {
        if (typedIn != naming->generation && !naming->patterns)
            return QVariant(); // nothing computed since the scan: the column stays empty
        return Target();
    }
    if (column == 0 && role == Qt::CheckStateRole)
        return Qt::CheckState(tick);
    if (column == 0 && role == Qt::UserRole)
        return ChosenFile();
    // Whatever was set on the row itself comes first, as on any item.
    const QVariant stored = QTreeWidgetItem::data(column, role);
    if (stored.isValid() || (column != 0 && column != 1))
        return stored;
    if (IsText(role))
        return column == 0 ? folder : fileName;
    return stored;
}

QString ReleaseRow::Target() const
{
    if (typedIn == naming->generation) // a name typed by hand, until the patterns next change
        return QTreeWidgetItem::data(2, Qt::DisplayRole).toString();
    return naming->patterns ? naming->patterns->TargetName(folder, fileName) : QString();
}

QString ReleaseRow::ChosenFile() const
{
    const QVariant stored = QTreeWidgetItem::data(0, Qt::UserRole);
    return stored.isValid() ? stored.toString()
                            : files::ChosenFilePath(naming->absoluteRoot, folder, fileName);
}

void ReleaseRow::setData(int column, int role, const QVariant &value)
{
    if (column == 0 && role == Qt::CheckStateRole) {
        const auto state = Qt::CheckState(value.toInt());
        if (state != tick) {
            tick = state;
            emitDataChanged();
        }
        return;
    }
    if (column == 2 && IsText(role)) {
        const bool wasShown = typedIn == naming->generation;
        typedIn = naming->generation;
        // The item would take an earlier typed name, now given way, for no change at all.
        if (!wasShown && QTreeWidgetItem::data(column, role) == value) {
            emitDataChanged();
            return;
        }
    }
    QTreeWidgetItem::setData(column, role, value);
}
