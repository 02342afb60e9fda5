// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "undo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace journal {

namespace {

// Why the file now at a target is not the one moved there; empty when it is.
QString Differs(const Identity &now, const Identity &moved)
{
    if (now.size != moved.size)
        return QStringLiteral("other size");
    if (now.mtimeNs != moved.mtimeNs)
        return QStringLiteral("other modification time");
    // A move on one file system keeps the inode; a copy onto another cannot.
    if (now.device == moved.device && now.inode != moved.inode)
        return QStringLiteral("other inode on the same file system");
    return QString();
}

bool SameContent(const QString &a, const QString &b)
{
    QFile first(a);
    QFile second(b);
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly))
        return false;
    for (;;) {
        const QByteArray chunk = first.read(1 << 20);
        if (chunk != second.read(1 << 20))
            return false;
        if (chunk.isEmpty())
            return first.error() == QFile::NoError && second.error() == QFile::NoError;
    }
}

} // namespace

QVector<UndoRow> PlanUndo(const Journal &journal)
{
    QVector<UndoRow> rows;
    // A placeholder is made after the journal's start, but file systems stamp times from a
    // coarser clock than the one the start was read from (up to a tick behind it, and to two
    // seconds on FAT), so one made in the first instant may look a little older.
    constexpr qint64 kClockSlackMs = 2000;
    const qint64 startedNs = (journal.header.started.toMSecsSinceEpoch() - kClockSlackMs) * 1000000;
    for (int i = int(journal.entries.size()) - 1; i >= 0; --i) {
        const Entry &entry = journal.entries.at(i);
        // A move that failed left nothing behind, as files::MoveFile promises; so the run's own
        // word that a move failed is enough. That it succeeded is checked below, not believed.
        if (entry.moved == false)
            continue;
        UndoRow row;
        row.entry = i;
        row.source = entry.source;
        row.target = entry.target;
        const std::optional<Identity> atSource = IdentityOf(entry.source);
        const std::optional<Identity> atTarget = IdentityOf(entry.target);
        const QString differs = atTarget ? Differs(*atTarget, entry.identity) : QString();
        const bool atTargetIsMoved = atTarget && differs.isEmpty();
        const bool inPlace = atSource && atSource->size == entry.identity.size &&
                             atSource->mtimeNs == entry.identity.mtimeNs;
        if (atTargetIsMoved && !atSource) {
            row.action = Action::MoveBack;
        } else if (atTargetIsMoved && inPlace &&
                   ((atSource->device == atTarget->device && atSource->inode == atTarget->inode) ||
                    SameContent(entry.source, entry.target))) {
            row.action = Action::RemoveCopy;
        } else if (atTargetIsMoved) {
            row.reason = QStringLiteral("the source path is taken");
        } else if (inPlace) {
            row.action = Action::Tidy;
        } else if (!atTarget) {
            row.reason = QStringLiteral("the target is gone");
        } else {
            row.reason = QStringLiteral("the target holds another file (%1)").arg(differs);
        }
        // A move cut off on a share without hard links may have left its placeholder there.
        if (row.action == Action::Tidy && files::IsPlaceholder(entry.target, startedNs))
            row.leftovers.append(entry.target);
        if (row.action != Action::Refuse) {
            // A partial copy is never larger than what it copies; anything larger is not ours.
            for (const QString &copy :
                 files::TemporaryCopies(entry.target) + files::TemporaryCopies(entry.source)) {
                const std::optional<Identity> found = IdentityOf(copy);
                if (found && found->size <= entry.identity.size)
                    row.leftovers.append(copy);
            }
        }
        if (row.action != Action::Tidy || !row.leftovers.isEmpty())
            rows.append(row);
    }
    return rows;
}

QString RelativeTo(const QString &path, const QString &root)
{
    return path.startsWith(root) ? path.mid(root.size()) : path;
}

int ApplyUndo(const Journal &journal, QVector<UndoRow> &rows,
              const std::function<void(int)> &beforeRow, const files::CopyProgress &progress,
              QString *error)
{
    bool inUse = false;
    const std::unique_ptr<Writer> writer = Writer::Append(journal, error, &inUse);
    if (!writer)
        return inUse ? kInUse : -1;
    int failures = 0;
    for (int i = 0; i < rows.size(); ++i) {
        UndoRow &row = rows[i];
        if (beforeRow)
            beforeRow(i);
        bool done = true;
        switch (row.action) {
        case Action::Refuse:
            done = false;
            row.error = row.reason;
            break;
        case Action::MoveBack:
            QDir().mkpath(QFileInfo(row.source).path()); // a release folder removed since
            done = files::MoveFile(row.target, row.source, &row.error, progress);
            break;
        case Action::RemoveCopy:
            done = ::unlink(QFile::encodeName(row.target).constData()) == 0;
            if (!done)
                row.error =
                    QStringLiteral("remove copy: ") + QString::fromLocal8Bit(std::strerror(errno));
            break;
        case Action::Tidy:
            break;
        }
        for (const QString &copy : std::as_const(row.leftovers)) {
            if (done && ::unlink(QFile::encodeName(copy).constData()) != 0 && errno != ENOENT) {
                done = false;
                row.error = QStringLiteral("remove temporary copy %1: %2")
                                .arg(copy, QString::fromLocal8Bit(std::strerror(errno)));
            }
        }
        row.restored = done;
        writer->Restored(row.entry, done, row.error);
        if (!done)
            ++failures;
    }
    if (failures == 0)
        writer->Undone();
    return failures;
}

} // namespace journal
