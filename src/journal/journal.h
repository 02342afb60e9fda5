// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include "safemove.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include <chrono>
#include <memory>
#include <optional>

// The record of one run that moves files: a JSON Lines file whose first line describes the run,
// then one line per file about to move, all flushed to disk before the first file moves. The
// run appends each outcome as it happens and an undo appends what it put back; nothing that
// recovers trusts those lines to say where a file is, it looks.
namespace journal {

// Version 2 added what each file's run did (move, copy, link) and the folders a run made.
constexpr int kFormatVersion = 2;

// Enough of a file to recognise it later, wherever it went.
struct Identity
{
    qint64 size = 0;
    qint64 mtimeNs = 0; // modification time in nanoseconds since the epoch
    quint64 device = 0;
    quint64 inode = 0;
};

// What is at path itself (a link is not followed); nothing when nothing is there.
std::optional<Identity> IdentityOf(const QString &path);

struct Header
{
    QString root;
    QString filenamePattern;
    QString outputPattern;
    QDateTime started; // UTC, set by Writer::Create
};

// One file about to move.
struct Entry
{
    int row = 0; // the plan's row: a row's files move together
    QString source;
    QString target;
    Identity identity; // of the source, right before the journal was written; zero for a link
    files::Action action = files::Action::Move;
    std::optional<bool> moved;        // what the last outcome line says, when there is one
    std::optional<files::Action> how; // what was done, as that line says: a link or a copy
};

struct Journal
{
    QString path;
    Header header;
    QVector<Entry> entries;
    QStringList folders;    // that the run made, relative to the root, parents first
    bool undone = false;    // an undo put back everything
    bool undoTried = false; // some undo line is there
    qint64 wholeSize = 0;   // bytes up to the end of the last whole line

    // The rows with a file that the run says it moved.
    int MovedRows() const;
    // "yes" (an undo put back everything), "partly" (an undo tried) or "no".
    QString UndoneText() const;
};

// Reads the journal at path. A torn last line, which is what a crash leaves, is ignored.
// Anything else that is not a journal of ours yields nothing, error naming the file and line.
std::optional<Journal> Read(const QString &path, QString *error);

// $XDG_STATE_HOME/move-rename, or ~/.local/state/move-rename without that variable.
QString DefaultFolder();

// The journals in folder, newest first.
QStringList List(const QString &folder);

// Appends lines to a journal, each in one write. A writer holds an exclusive lock (flock) on its
// journal, so that a run and an undo, or two undos, never write one journal at once. A line that
// cannot be written stops all later ones, so that a full disk leaves at worst a torn last line.
class Writer
{
public:
    // Creates a journal (mode 0600, never replacing anything) at path, or when path is empty
    // under a new name in DefaultFolder(), made when missing. Writes header and entries and
    // flushes them to disk, the file and its folder, before it returns. Null on failure.
    static std::unique_ptr<Writer> Create(const QString &path, Header header,
                                          const QVector<Entry> &entries, QString *error);
    // Opens journal to append to it, cutting off its torn last line first. Null on failure;
    // inUse (when given) then says whether another writer holds the journal, or wrote to it
    // since it was read.
    static std::unique_ptr<Writer> Append(const Journal &journal, QString *error,
                                          bool *inUse = nullptr);
    ~Writer();
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    QString Path() const { return path; }
    void Moved(int entry, bool moved, const QString &error = QString(),
               std::optional<files::Action> how = std::nullopt);
    // A folder (relative to the root) about to be made, flushed to disk before it is; existed
    // when it turned out to be there already, which takes it back.
    void Folder(const QString &folder, bool existed = false);
    void Restored(int entry, bool restored, const QString &error = QString());
    void Undone();

private:
    Writer(int fd, const QString &path);
    void Outcome(const char *kind, int entry, const char *done, bool ok, const QString &error,
                 std::optional<files::Action> how = std::nullopt);
    void Write(const QByteArray &line);
    void WritePending();

    int fd;
    QString path;
    QByteArray line;
    // Outcome lines not yet written. An undo never takes an outcome line's word for what is on
    // the disk, and a run cut off by a crash loses the ones not yet on the disk all the same:
    // written together, they cost one call, not one per file.
    QByteArray pending;
    std::chrono::steady_clock::time_point lastWrite;
};

struct Move
{
    files::SourceFile source;
    QString target; // relative to the root
    bool moved = false;
    files::Action how = files::Action::Move;
};

// Does action with moves in order with files::PlaceFile beneath root, all or none: after a
// failure, the files already moved go back beneath the folders they came from and the copies and
// links already made go, newest first, and error gets the first failure. Outcomes and the folders
// made go to journal (when not null), the outcomes as entries firstEntry, firstEntry + 1, ...
// Returns whether every file went.
bool MoveTogether(QVector<Move> &moves, files::Action action, const files::Base &root,
                  Writer *journal, int firstEntry, QString *error,
                  const files::CopyProgress &progress);

} // namespace journal
