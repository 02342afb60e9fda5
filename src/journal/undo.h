// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include "journal.h"

#include <functional>

namespace journal {

// What undo does with one file of a journal, decided from where the file really is.
enum class Action {
    MoveBack,     // it is at its target and its source path is free
    RemoveCopy,   // it is at its source, and its target holds a copy of it that a run cut off
                  // between publishing the copy and removing the source
    Tidy,         // it is at its source; only temporary copies of a cut-off copy are left
    RemoveMade,   // the copy or link that the run made at target is still just that
    RemoveFolder, // a folder the run made (target), removed if empty
    Refuse,       // see reason
};

struct UndoRow
{
    int entry = 0;
    QString source;
    QString target;
    Action action = Action::Refuse;
    QString reason;               // why it is refused
    files::FileId seen;           // the file at target as the plan found it, which alone is undone
    QStringList leftovers;        // temporary copies beside the source or the target
    std::optional<bool> restored; // after ApplyUndo
    QString error;
};

// path as an undo shows it: relative to root when it lies below it, else as it is.
QString RelativeTo(const QString &path, const QString &root);

// What undoing journal would do, last move first, then the folders the run made, deepest first.
// Files already at their source with nothing left to tidy do not appear. A copy or a link is
// removed only while it is what the run made: a hard link with the source's inode, a symbolic
// link with the text it was given, a copy with the source's size, modification time and content
// (compared with the source). An undo never touches the source of a copy or a link, and puts a
// moved file back only beneath the folder that held its release folder. With within (the web
// server's roots), a file whose source or target lies in none of them is refused ("outside the
// roots") without being looked at.
QVector<UndoRow> PlanUndo(const Journal &journal, const QVector<files::Bounds> *within = nullptr);

// Whether path (absolute) lies in one of within, and which; -1 when in none.
int Holder(const QVector<files::Bounds> &within, const QString &path);

// Does what rows say, in order, every move with files::PlaceFile and a removed release folder
// made again, a folder removed only while empty, and records each outcome in the journal; marks the
// journal undone when no row was refused or failed. The file at a target is reached beneath the
// journal's root and moved or removed only while it is the one the plan found (UndoRow::seen);
// with within, every folder is opened beneath the one of within that holds it. beforeRow(index) is
// called before each row. Returns the number of rows refused or failed, kInUse when another run or
// undo holds the journal, or -1 when it cannot be written to (error says why either way; nothing
// done).
constexpr int kInUse = -2;
int ApplyUndo(const Journal &journal, QVector<UndoRow> &rows,
              const std::function<void(int)> &beforeRow, const files::CopyProgress &progress,
              QString *error, const QVector<files::Bounds> *within = nullptr);

} // namespace journal
