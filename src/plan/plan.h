// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include "safemove.h"
#include "scan.h"

#include <QDir>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <optional>

// What the front ends without a window (the command line, the web server) do with the folders
// they are given, built on the very scan, naming and move functions that the window uses.
namespace plan {

// Why a row cannot move, decided before anything moves. A row moves nothing when one of its
// sidecars has a conflict of its own (Sidecar). Outside: the target is absolute, has a ".." or a
// "/" that a captured field brought, or a folder on its way is a link that leads out of the
// root. NotFolder: a file is where the target needs a folder.
enum class Conflict { None, Empty, Exists, Duplicate, Sidecar, Outside, NotFolder };

// "exists", "duplicate", "empty", "sidecar", "outside", "not a folder"; empty for None.
QString ConflictName(Conflict conflict);

// A file that moves with a row's chosen file.
struct PlanSidecar
{
    files::Sidecar file;
    QString target; // relative to the root, like the row's
    QString targetPath;
    Conflict conflict = Conflict::None;
    bool moved = false;
    files::Action how = files::Action::Move; // what was done, after ApplyPlan
};

struct PlanRow
{
    files::ReleaseFile release;
    QString target;     // the target text, relative to the root, as the window's column 2
    QString targetPath; // where the file would go
    Conflict conflict = Conflict::None;
    QVector<PlanSidecar> sidecars;
    bool moved = false;
    files::Action how = files::Action::Move; // what was done, after ApplyPlan
    QString error;                           // why the row did not move, after ApplyPlan
};

struct Plan
{
    QString root; // with a trailing "/"
    QString filenamePattern;
    QString outputPattern;
    bool suggested = false; // the filename pattern is the window's suggestion
    files::Action action = files::Action::Move;
    QVector<PlanRow> rows;
    QList<files::SkippedFolder> skipped; // the release folders that yield no row
    QString journal;                     // the journal ApplyPlan wrote, if any
    // Where every folder that ApplyPlan opens must lie (the web server's root); without it, the
    // root and the release folders elsewhere are opened by their paths.
    const files::Bounds *within = nullptr;
    // Where the release folders that lie outside the root must lie, when that is not within: the
    // web server's releases in one of its roots, their targets in another.
    const files::Bounds *sourcesWithin = nullptr;
};

// The deepest folder that holds every one of folders (absolute, clean paths) below itself.
QString CommonParent(const QStringList &folders);

// The root and the release folders of folders (absolute, clean paths), as the window's folder
// dialog takes a selection: one folder stands for its subfolders and is the root; several, or any
// when eachIsRelease, are the release folders themselves, under their common parent. A non-empty
// root replaces the root either way. The root ends in "/". With within, the one folder's
// subfolders are listed beneath it (files::Subfolders).
struct Intake
{
    QString root;
    QStringList releaseFolders;
};
Intake TakeFolders(const QStringList &folders, bool eachIsRelease, const QString &root,
                   const files::Bounds *within = nullptr);

// Whether a release's chosen file or its folder (the last component) is named as a sample.
bool IsSampleRelease(const QString &folder, const QString &fileName);

// Why each release (its folder's text and its chosen file's name, index by index) cannot be one
// of a batch of episodes, or empty where it can: "a sample"; "not a video" where its file is
// none; "unlike the others" where its folder's first word is not the one that most other
// releases' folders begin with. The batch's pattern is suggested from the others alone.
QStringList LeftOut(const QStringList &folders, const QStringList &fileNames);

// The window's suggestion of a filename pattern from the folder texts of the releases found
// under root (files::ReleaseFile::folder); empty without any.
QString SuggestedPattern(const QStringList &folders, const QString &root);

// The row of release under rootDir with target (relative to the root) as its target text, and
// with its sidecars' targets when sidecars is set, their folders listed as files::Sidecars does
// with within; conflicts are not marked.
PlanRow MakeRow(const QDir &rootDir, const files::ReleaseFile &release, const QString &target,
                bool sidecars, const files::Bounds *within = nullptr);

// What the targets of the sidecars of a row begin with: its target less its chosen file's
// extension (fileName's) where it ends in it, else the whole target; each sidecar's own ending
// follows it.
QString SidecarStem(const QString &target, const QString &fileName);

// What action comes to for a file (as the scan saw it) that lies on another file system than the
// folder its target goes to (targetDevice): a hard link fails ("hard links cannot cross file
// systems"), a hard link or copy copies ("copied: another file system"). Empty where it does
// as it says, or where a device is not known.
QString CrossDeviceNote(files::Action action, const files::FileId &file, quint64 targetDevice);

// Whether a target text may be made under root (None), or why not (Outside, NotFolder): only the
// output pattern's own "/" makes a folder, and every folder on the way must be one, or be
// missing, beneath root without a link leading out of it. Each folder is looked at once, so that
// one object serves all the rows of one pair of patterns.
class TargetBounds
{
public:
    // With listFolders, whether a target is taken is read from one listing of its folder, taken
    // when the folder is first asked about: for a plan made all at once, where asking for each
    // target cost more than the rest of a preview. Without, it is asked for each target, for a
    // caller that keeps the object while the disk changes.
    TargetBounds(const QString &root, const QString &outputPattern, bool listFolders = false);
    Conflict Check(const QString &target);
    // Whether anything, a link that leads nowhere too, has the absolute path targetPath.
    bool Occupied(const QString &targetPath);

private:
    // The names in folder, from one listing kept for every later question; none listed for a
    // folder still to be made.
    const std::optional<QSet<QString>> &Listing(const QString &folder);
    // Whether relativeFolder (beneath root) lies in a folder that the root's listing lacks, so
    // that nothing can be at or beneath it yet: one listing of the root instead of a look at
    // every folder, where a library's targets ask about thousands of folders still to be made.
    bool Unmade(const QString &relativeFolder);
    bool UnmadeInRoot(const QString &relativeFolder); // Unmade, without the answers kept

    QString root;
    QString rootFolder; // root without its trailing "/", as a target's folder is written
    qsizetype slashes;
    QHash<QString, files::FolderState> folders;
    bool listFolders;
    // By folder, the names in it with their letter case folded; none where it cannot be listed.
    QHash<QString, std::optional<QSet<QString>>> listings;
    QHash<QString, bool> unmade; // Unmade's answers, by folder
};

// Marks the conflicts of row and its sidecars: Empty, what bounds says, Exists, then Duplicate
// when claim(the cleaned target path) says an earlier file already has that target (and, for a
// caller that keeps the targets, takes it). Only a file that passed every other check is claimed.
void MarkConflicts(PlanRow &row, TargetBounds &bounds,
                   const std::function<bool(const QString &)> &claim);

// Marks the conflicts of rows, in order, as targets of outputPattern under root.
void MarkConflicts(QVector<PlanRow> &rows, const QString &root, const QString &outputPattern);

// The rows for the release folders (under root or not), with targets from the two patterns (the
// window's suggestion when no filename pattern is given), their sidecars when asked for, and
// their conflicts marked, to be done by action. A "/" in the output pattern's own text makes
// folders under root.
Plan MakePlan(const QString &root, QStringList releaseFolders,
              const std::optional<QString> &filenamePattern, const QString &outputPattern,
              bool sidecars, files::Action action = files::Action::Move);

// Does the plan's action with every row in order through files::PlaceFile, which makes the
// missing folders on the way, each row with its sidecars, all or none of them. Each file is
// reached beneath the root, or beneath its release folder where that lies elsewhere, and moves
// only while it is the file the scan saw (ReleaseFile::id, Sidecar::id); a
// row with a conflict or without its files is not attempted. Unless journalPath is null, what is
// about to move is first written to a journal at *journalPath (in the default folder when empty),
// whose path goes to plan.journal. beforeRow(index) is called before each row and failed(row) after
// each failure. Returns the number of rows that failed, or -1 when the journal cannot be written
// (nothing moved then).
int ApplyPlan(Plan &plan, const std::optional<QString> &journalPath,
              const std::function<void(int)> &beforeRow, const files::CopyProgress &progress,
              const std::function<void(const PlanRow &)> &failed, QString *error);

} // namespace plan
