// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace files {

// A release folder and the file chosen from it.
struct ReleaseFile
{
    QString folder;       // the folder's path less a leading root (compared ignoring case)
    QString absolutePath; // the chosen file's absolute path
    QString fileName;     // the chosen file's name, without any folder
};

// The immediate, non-hidden subfolders of folder, as folder + "/" + name, ordered by name
// ignoring letter case. Empty when folder is not an existing folder.
QStringList Subfolders(const QString &folder);

// root with one "/" at its end; an empty root stays empty (the working folder).
QString WithTrailingSlash(const QString &root);

// The largest plain, non-hidden file directly inside folderPath (resolved against rootPath),
// ties going to the name that sorts first case-sensitively. Nothing when the folder cannot be
// entered or holds no such file.
std::optional<ReleaseFile> ScanReleaseFolder(const QString &rootPath, const QString &folderPath);

// ScanReleaseFolder over every folder, in order, keeping those that yield a file.
QList<ReleaseFile> ScanReleaseFolders(const QString &rootPath, const QStringList &folderPaths);

// Why a release folder yields no file.
enum class Skip {
    NoFile,               // it holds no plain, non-hidden file
    Unreadable,           // it cannot be listed
    NameNotRepresentable, // its name or its chosen file's name is not valid UTF-8
};

struct SkippedFolder
{
    QString folder; // as ReleaseFile::folder
    Skip reason;
};

// "no file", "unreadable", "name not representable".
QString SkipName(Skip reason);

// The same as above, except that a folder whose chosen file's name is not valid UTF-8 yields
// nothing (that file would be moved under another name); skipped receives, in order, every
// folder that yields nothing, with the reason.
QList<ReleaseFile> ScanReleaseFolders(const QString &rootPath, const QStringList &folderPaths,
                                      QList<SkippedFolder> &skipped);

// A file that travels with the chosen file of a release folder.
struct Sidecar
{
    QString path;   // absolute
    QString name;   // relative to the release folder: "show.en.srt", "Subs/English.srt"
    QString suffix; // what follows the target's name less its extension: ".en.srt"
};

// The sidecars of chosen (an absolute path) whose name less its extension is stem: every other
// plain, non-hidden file beside it whose name begins with stem and "." (ignoring case), the rest
// of its name as suffix; then every subtitle file (.srt .ass .ssa .sub .idx .vtt .sup) beside
// it or in a subfolder named Subs or Subtitles (ignoring case) that the first rule did not take,
// "." and its name as suffix. Names that are not valid UTF-8 are left where they are.
QList<Sidecar> Sidecars(const QString &chosen, const QString &stem);

} // namespace files
