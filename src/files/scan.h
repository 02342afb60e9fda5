// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include <QString>
#include <QStringList>

#include <functional>
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

// The same, handing each release to found as soon as it is known and letting go of each folder
// path once it is scanned, so that neither all paths nor all releases need be held at once.
void ScanReleaseFolders(const QString &rootPath, QStringList &&folderPaths,
                        const std::function<void(ReleaseFile &&)> &found);

// The chosen file's absolute path, as ReleaseFile::absolutePath holds it, from the folder's
// text (ReleaseFile::folder), the file's name and the absolute path of the root it was found
// under: for those who keep the two short texts rather than one long path per file.
QString ChosenFilePath(const QString &absoluteRoot, const QString &folder, const QString &fileName);

} // namespace files
