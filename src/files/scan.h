// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include "safemove.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace files {

// A release folder and the file chosen from it.
struct ReleaseFile
{
    QString folder;        // the folder's path less a leading root (compared ignoring case)
    QString absolutePath;  // the chosen file's absolute path
    QString fileName;      // the chosen file's name, without any folder
    bool mayBeLink = true; // false where the folder's listing said the chosen file is no link
    FileId id;             // the chosen file as the listing saw it, link or not
};

// The immediate, non-hidden subfolders of folder, as folder + "/" + name, ordered by name
// ignoring letter case. Empty when folder is not an existing folder. With within, folder is
// opened beneath it (see Base), and is empty when it would leave it.
QStringList Subfolders(const QString &folder, const Bounds *within = nullptr);

// root with one "/" at its end; an empty root stays empty (the working folder).
QString WithTrailingSlash(const QString &root);

// Why a release folder yields no file.
enum class Skip {
    NoFile,               // it holds no plain, non-hidden file
    Unreadable,           // it cannot be listed
    NameNotRepresentable, // its name or its chosen file's name is not valid UTF-8
    Outside,              // it lies below the root by its path, but a link leads out of it
};

struct SkippedFolder
{
    QString folder; // as ReleaseFile::folder
    Skip reason;
};

// "no file", "unreadable", "name not representable", "outside the root".
QString SkipName(Skip reason);

// Scans the release folders of folderPaths, in order: in each, the largest plain, non-hidden file
// directly inside (the path resolved against rootPath), ties going to the name that sorts first
// case-sensitively. Each release goes to found, on the calling thread and in order, as soon as it
// and those before it are known; where listings are slow, as on a share, several folders are
// listed at once by threads of the scan's own. Each folder path is let go of once scanned, so
// that neither all paths nor all releases need be held at once. A folder that cannot be entered
// or holds no such file yields nothing. With skipped, as the command line scans, every folder
// that yields nothing is appended there with its reason, and so is one whose chosen file's name
// is not valid UTF-8 (that file would be moved under another name); without it, as the window
// scans, such a file yields its release all the same.
//
// Every release folder below the root by its path is opened beneath the root, as Base opens a
// folder, so that no link, ".." or race leads the scan out of it: with skipped, such a folder is
// skipped as Outside. A release folder elsewhere, which the user chose as such, is opened by its
// path. With bounds, as the web server scans, the scan is held beneath the folder open there
// instead, for every folder: a folder, or a chosen file that the listing saw as a link or whose
// type it did not tell, that would leave it yields nothing and is not counted skipped.
void ScanReleaseFolders(const QString &rootPath, QStringList &&folderPaths,
                        const std::function<void(ReleaseFile &&)> &found,
                        QList<SkippedFolder> *skipped = nullptr, const Bounds *bounds = nullptr);

// The chosen file's absolute path, as ReleaseFile::absolutePath holds it, from the folder's
// text (ReleaseFile::folder), the file's name and the absolute path of the root it was found
// under: for those who keep the two short texts rather than one long path per file.
QString ChosenFilePath(const QString &absoluteRoot, const QString &folder, const QString &fileName);

// A file that travels with the chosen file of a release folder.
struct Sidecar
{
    QString path;   // absolute
    QString name;   // relative to the release folder: "show.en.srt", "Subs/English.srt"
    QString suffix; // what follows the target's name less its extension: ".en.srt"
    FileId id;      // as the listing saw it
};

// The sidecars of chosen (an absolute path) whose name less its extension is stem: every other
// plain, non-hidden file beside it whose name begins with stem and "." (ignoring case), the rest
// of its name as suffix; then every subtitle file (.srt .ass .ssa .sub .idx .vtt .sup) beside
// it or in a subfolder named Subs or Subtitles (ignoring case) that the first rule did not take,
// "." and its name as suffix. Names that are not valid UTF-8 are left where they are. With
// within, folders below it are opened beneath it (see Base); others by their path.
QList<Sidecar> Sidecars(const QString &chosen, const QString &stem, const Bounds *within = nullptr);

} // namespace files
