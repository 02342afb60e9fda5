// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "plan.h"

#include "naming.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>

namespace cli {

namespace {

struct ConflictText
{
    const char *name;   // as the preview and the JSON show it
    const char *reason; // as a failure line says it
};

ConflictText Text(Conflict conflict)
{
    switch (conflict) {
    case Conflict::None:
        break;
    case Conflict::Empty:
        return {"empty", "empty target name: the target would be the root folder"};
    case Conflict::Exists:
        return {"exists", "target exists"};
    case Conflict::Duplicate:
        return {"duplicate", "duplicate target: an earlier row has the same one"};
    }
    return {"", ""};
}

} // namespace

QString ConflictName(Conflict conflict)
{
    return QString::fromLatin1(Text(conflict).name);
}

namespace {

// lstat semantics: a dangling link still occupies the name. One lstat, rather than a file
// info asked twice, as a preview of 100,000 rows asks it for every row.
bool Occupied(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

void MarkConflicts(QVector<PlanRow> &rows)
{
    // Compared cleaned, so that "a/../x.mkv" and "x.mkv" count as the one target they are.
    QSet<QString> taken;
    for (PlanRow &row : rows) {
        if (row.target.isEmpty())
            row.conflict = Conflict::Empty;
        else if (Occupied(row.targetPath))
            row.conflict = Conflict::Exists;
        else if (const QString clean = QDir::cleanPath(row.targetPath); taken.contains(clean))
            row.conflict = Conflict::Duplicate;
        else
            taken.insert(clean);
    }
}

} // namespace

QString CommonParent(const QStringList &folders)
{
    std::optional<QStringList> common;
    for (const QString &folder : folders) {
        QStringList parents = folder.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (!parents.isEmpty())
            parents.removeLast(); // a folder does not hold itself
        if (!common) {
            common = parents;
            continue;
        }
        qsizetype shared = 0;
        while (shared < common->size() && shared < parents.size() &&
               common->at(shared) == parents.at(shared))
            ++shared;
        *common = common->mid(0, shared);
    }
    return QLatin1Char('/') + common.value_or(QStringList()).join(QLatin1Char('/'));
}

Plan MakePlan(const QString &root, const QStringList &releaseFolders,
              const std::optional<QString> &filenamePattern, const QString &outputPattern)
{
    Plan plan;
    plan.root = root;
    plan.outputPattern = outputPattern;
    const QList<files::ReleaseFile> releases = files::ScanReleaseFolders(root, releaseFolders);

    if (filenamePattern) {
        plan.filenamePattern = *filenamePattern;
    } else if (!releases.isEmpty()) {
        QStringList texts;
        for (const files::ReleaseFile &release : releases)
            texts.append(release.folder);
        plan.filenamePattern = naming::SuggestedFilenamePattern(
            naming::CommonPrefix(texts), naming::CommonTagSuffix(texts, naming::ReleaseTags()),
            root);
        plan.suggested = true;
    }

    const naming::Patterns patterns(plan.filenamePattern, plan.outputPattern);
    const QDir rootDir(root);
    plan.rows.reserve(releases.size());
    for (const files::ReleaseFile &release : releases) {
        PlanRow row;
        row.release = release;
        row.target = patterns.TargetName(release.folder, release.fileName);
        row.targetPath = rootDir.absoluteFilePath(row.target);
        plan.rows.append(row);
    }
    MarkConflicts(plan.rows);
    return plan;
}

int ApplyPlan(Plan &plan, const std::function<void(int)> &beforeRow,
              const files::CopyProgress &progress,
              const std::function<void(const PlanRow &)> &failed)
{
    int failures = 0;
    for (int index = 0; index < plan.rows.size(); ++index) {
        PlanRow &row = plan.rows[index];
        if (beforeRow)
            beforeRow(index);
        if (row.conflict != Conflict::None)
            row.error = QString::fromLatin1(Text(row.conflict).reason);
        else if (!QFileInfo::exists(row.release.absolutePath))
            row.error = QStringLiteral("source does not exist");
        else
            row.moved =
                files::MoveFile(row.release.absolutePath, row.targetPath, &row.error, progress);
        if (!row.moved) {
            if (row.error.isEmpty())
                row.error = QStringLiteral("move failed");
            ++failures;
            if (failed)
                failed(row);
        }
    }
    return failures;
}

} // namespace cli
