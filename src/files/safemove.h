// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <optional>

namespace files {

// What a run does with each file: moves it (as the window always does), or leaves it where it is
// and makes at the target a copy, a hard link, a symbolic link, or a hard link where the file
// system allows one and a copy where it does not.
enum class Action { Move, Copy, Hardlink, Symlink, HardlinkOrCopy };

// "move", "copy", "hardlink", "symlink", "hardlink-or-copy".
QString ActionName(Action action);
// The action of that name; nothing for any other text.
std::optional<Action> ActionFromName(const QString &name);
// Every action's name, in the order of the enumeration.
QStringList ActionNames();
// What a file that action was done to is said to be: "moved", "copied", "hard-linked",
// "symlinked" (HardlinkOrCopy, which ends as one of those, as a hard link).
QString ActionDone(Action action);

// Why a hard link fails between two file systems.
inline constexpr char kNoCrossDeviceLink[] = "hard links cannot cross file systems";

// Called while a file is copied between file systems: bytes copied so far, and the total.
using CopyProgress = std::function<void(qint64 copied, qint64 total)>;

// Notes the folders that PlaceFile makes: making(folder) before it makes one (folder relative to
// the base, as a journal records it), existed(folder) when it turned out to be there already.
struct FolderLog
{
    std::function<void(const QString &folder)> making;
    std::function<void(const QString &folder)> existed;
};

// Opens relative beneath the folder open at baseFd with flags (O_RDONLY | O_DIRECTORY, O_PATH…),
// following no link that leads out of it: openat2 with RESOLVE_BENEATH and RESOLVE_NO_MAGICLINKS,
// or where the kernel refuses openat2, a walk that follows no link at all. "" is the folder
// itself. Returns the descriptor, or -1 with errno set, EXDEV or ELOOP for a way out.
int OpenBeneath(int baseFd, const QByteArray &relative, int flags);

// A folder held open, with its absolute path: slashed ends in "/".
struct Bounds
{
    int fd = -1;
    QString slashed;
};

// A folder held open, beneath which PlaceFile puts files: a run opens its root once for all of
// its files, which also keeps them all beneath the folder that was the root when it began.
class Base
{
public:
    // path opened by its path, as the folders a user names are.
    explicit Base(const QString &path);
    // path (absolute, clean) opened beneath within, as OpenBeneath opens it; EXDEV for a path
    // that does not lie below within.
    Base(const QString &path, const Bounds &within);
    ~Base();
    Base(const Base &) = delete;
    Base &operator=(const Base &) = delete;
    const QString &Path() const { return path; }
    int Fd() const { return fd; }       // -1 when it could not be opened
    int Error() const { return error; } // the errno of that

private:
    QString path;
    int fd;
    int error;
};

// Which file a name held when a listing saw it: its device and inode. Both 0: not known.
struct FileId
{
    quint64 device = 0;
    quint64 inode = 0;
    bool Known() const { return device != 0 || inode != 0; }
};

// A file to act on: relative beneath the folder base. Its folder is opened beneath base as
// OpenBeneath opens it, never by a link that leads out of it ("outside the root"), and the file
// is then reached by its name in that folder alone. With seen, it is acted on only while that
// name holds that very file (compared without following a link, just before), and otherwise
// fails with "the file changed since the scan".
struct SourceFile
{
    const Base *base;
    QString relative;
    FileId seen = {};
};

// Moves the file source to name (target) in the folder held open as folder, all or nothing.
// Nothing that exists at target is ever opened, truncated or replaced, whatever its type. On one
// file system this is a single atomic rename that refuses to replace; where the file system has no
// such rename, a hard link then an unlink; where it has no hard links either (many network and FUSE
// shares), a rename over an empty placeholder created exclusively at target and checked to be ours
// just before. Across file systems the file is copied into a hidden temporary file beside target,
// checked, flushed to disk and published under target the same way before source is removed.
// Returns false on any failure, with target holding nothing new, no temporary file left and source
// untouched; error (when given) then receives a short reason.
bool MoveFile(const SourceFile &source, const Base &folder, const QString &name,
              QString *error = nullptr, const CopyProgress &progress = {});
// The same between two paths, each folder opened by its path.
bool MoveFile(const QString &source, const QString &target, QString *error = nullptr,
              const CopyProgress &progress = {});

// Does action with the file source: puts it, or a copy or link of it, at relativeTarget
// beneath the folder base, never replacing anything there. The folders on the way are opened
// beneath base without following any link that leads out of it (openat2 with RESOLVE_BENEATH,
// or a walk that follows no link at all where the kernel lacks that), at this very moment, and
// the file is published by its name in the folder so opened; missing folders are made there
// (mode 0777 less the umask) and taken away again when the file cannot go. A move is
// MoveFile's; a copy, on one file system too, is made exactly as MoveFile copies between file
// systems, less removing the source; a hard link fails where none can be made ("hard links
// cannot cross file systems", "no hard link can be made here ..."); a symbolic link holds
// LinkText(). how (when given) receives what was done: for HardlinkOrCopy, Hardlink or Copy.
// Returns false on any failure, with nothing new beneath base and source untouched.
bool PlaceFile(Action action, const SourceFile &source, const Base &base,
               const QString &relativeTarget, Action *how = nullptr, QString *error = nullptr,
               const CopyProgress &progress = {}, const FolderLog &folders = {});
// The same with source's folder and base opened by their paths.
bool PlaceFile(Action action, const QString &source, const QString &base,
               const QString &relativeTarget, Action *how = nullptr, QString *error = nullptr,
               const CopyProgress &progress = {}, const FolderLog &folders = {});

// The text of the symbolic link at target that leads to source: source's path relative to the
// folder of target, so that it still leads there when the whole tree is mounted elsewhere.
QString LinkText(const QString &source, const QString &target);

// Whether relativeFolder stays beneath base, as PlaceFile would find it now: Outside for an
// absolute path, a ".." or a link on the way that leads out of base; NotFolder where a file is
// where a folder is needed. Folders still missing are Fine: they are made as the file moves.
enum class FolderState { Fine, Outside, NotFolder };
FolderState CheckFolder(const QString &base, const QString &relativeFolder);

// Removes the entry at relativePath beneath base (a folder only when it is empty, with folder),
// its folder opened as PlaceFile opens it; with seen, only while it is that very file (ESTALE
// otherwise). Returns 0 or the errno of what failed.
int RemoveBeneath(const Base &base, const QString &relativePath, bool folder = false,
                  FileId seen = {});

// The ways a copy can go, in the order they are tried; once the kernel refuses one for the two
// files, the copy goes on by the next. Copies start at FileSystem unless tests choose a later
// one, as the only way to see each of them work.
enum class CopyWay { FileSystem, Kernel, Buffer };
void SetFirstCopyWay(CopyWay way);

// The hidden temporary copies beside target that MoveFile makes while it copies between file
// systems, as a run killed during such a copy leaves them.
QStringList TemporaryCopies(const QString &target);

// Whether target holds the empty placeholder that MoveFile makes on file systems without hard
// links, just before renaming over it: a plain empty file of mode 0600, modified no earlier than
// sinceNs (nanoseconds since the epoch). A move cut off at that moment leaves it behind.
bool IsPlaceholder(const QString &target, qint64 sinceNs);

} // namespace files
