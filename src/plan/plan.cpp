// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "plan.h"

#include "journal.h"
#include "naming.h"
#include "release.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <memory>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

namespace plan {

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
        return {"empty", "empty target name: the patterns captured nothing"};
    case Conflict::Exists:
        return {"exists", "target exists"};
    case Conflict::Duplicate:
        return {"duplicate", "duplicate target: an earlier row has the same one"};
    case Conflict::Sidecar:
        return {"sidecar", "a sidecar cannot move"};
    case Conflict::Outside:
        return {"outside", "outside the root"};
    case Conflict::NotFolder:
        return {"not a folder", "a file is where a folder is needed"};
    }
    return {"", ""};
}

// name.toCaseFolded(): Qt folds every unit through its tables, thousands of instructions a name,
// and a whole folder of names is folded; an ASCII name, nearly every one, folds by arithmetic.
QString Folded(QString name)
{
    if (std::any_of(name.cbegin(), name.cend(), [](QChar c) { return c.unicode() >= 0x80; }))
        return name.toCaseFolded();
    for (QChar &c : name) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    }
    return name;
}

// Every name in folder, "." and ".." too, letter case folded; none when it cannot be listed.
std::optional<QSet<QString>> ListFolded(const QString &folder)
{
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return errno == ENOENT ? std::optional(QSet<QString>()) : std::nullopt;
    QSet<QString> names;
    while (const dirent *entry = ::readdir(dir))
        names.insert(Folded(QFile::decodeName(entry->d_name)));
    ::closedir(dir);
    return names;
}

// The last component of a release folder's text.
QStringView LastName(const QString &folder)
{
    return QStringView(folder).mid(folder.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

QString ConflictName(Conflict conflict)
{
    return QString::fromLatin1(Text(conflict).name);
}

TargetBounds::TargetBounds(const QString &root, const QString &outputPattern, bool listFolders)
    : root(root)
    , rootFolder(QDir::cleanPath(root))
    , slashes(outputPattern.count(QLatin1Char('/')))
    , listFolders(listFolders)
{}

const std::optional<QSet<QString>> &TargetBounds::Listing(const QString &folder)
{
    auto listing = listings.constFind(folder);
    if (listing == listings.cend())
        listing = listings.insert(folder, ListFolded(folder));
    return *listing;
}

bool TargetBounds::Unmade(const QString &relativeFolder)
{
    if (!listFolders || root.isEmpty() || relativeFolder.isEmpty())
        return false;
    // Asked for every target, of a few folders each: the answer follows from the root's one
    // listing, so it is worked out once a folder.
    auto known = unmade.constFind(relativeFolder);
    if (known == unmade.cend())
        known = unmade.insert(relativeFolder, UnmadeInRoot(relativeFolder));
    return *known;
}

bool TargetBounds::UnmadeInRoot(const QString &relativeFolder)
{
    // Only a plain path: anything else ("..", "./") is looked at in full.
    if (relativeFolder.startsWith(QLatin1Char('.')) ||
        QDir::cleanPath(relativeFolder) != relativeFolder)
        return false;
    const std::optional<QSet<QString>> &names = Listing(rootFolder);
    return names && !names->contains(Folded(relativeFolder.left(relativeFolder.indexOf(u'/'))));
}

bool TargetBounds::Occupied(const QString &targetPath)
{
    const qsizetype slash = targetPath.lastIndexOf(QLatin1Char('/'));
    if (listFolders && slash > 0 && slash + 1 < targetPath.size()) {
        const QString folder = targetPath.left(slash);
        if (folder.startsWith(root) && Unmade(folder.mid(root.size())))
            return false;
        const std::optional<QSet<QString>> &listing = Listing(folder);
        if (listing && !listing->contains(Folded(targetPath.mid(slash + 1))))
            return false;
    }
    // A name listed is asked about, also one listed only in another letter case: a file system
    // that ignores case (FAT, many shares) counts it taken. lstat semantics: a dangling link
    // still occupies the name.
    struct stat st;
    return ::lstat(QFile::encodeName(targetPath).constData(), &st) == 0;
}

Conflict TargetBounds::Check(const QString &target)
{
    // Only the output pattern's own "/" makes a folder; one that a field brought never does.
    if (target.count(QLatin1Char('/')) != slashes || target.startsWith(QLatin1Char('/')))
        return Conflict::Outside;
    const QString folder = target.left(qMax(target.lastIndexOf(QLatin1Char('/')), qsizetype(0)));
    auto state = folders.constFind(folder);
    if (state == folders.cend())
        state = folders.insert(folder, Unmade(folder) ? files::FolderState::Fine
                                                      : files::CheckFolder(root, folder));
    switch (*state) {
    case files::FolderState::Fine:
        break;
    case files::FolderState::Outside:
        return Conflict::Outside;
    case files::FolderState::NotFolder:
        return Conflict::NotFolder;
    }
    return Conflict::None;
}

void MarkConflicts(PlanRow &row, TargetBounds &bounds,
                   const std::function<bool(const QString &)> &claim)
{
    // Compared cleaned, so that "a/../x.mkv" and "x.mkv" count as the one target they are.
    const auto conflict = [&](const QString &target, const QString &targetPath) {
        const Conflict bound = bounds.Check(target);
        if (bound != Conflict::None)
            return bound;
        if (bounds.Occupied(targetPath))
            return Conflict::Exists;
        return claim(QDir::cleanPath(targetPath)) ? Conflict::Duplicate : Conflict::None;
    };
    // A name that is nothing but the extension would make a hidden file, or name the root.
    const QString name = row.target.mid(row.target.lastIndexOf(QLatin1Char('/')) + 1);
    row.conflict = name == FileExtension(row.release.fileName)
                       ? Conflict::Empty
                       : conflict(row.target, row.targetPath);
    for (PlanSidecar &sidecar : row.sidecars) {
        sidecar.conflict = conflict(sidecar.target, sidecar.targetPath);
        if (sidecar.conflict != Conflict::None && row.conflict == Conflict::None)
            row.conflict = Conflict::Sidecar;
    }
}

void MarkConflicts(QVector<PlanRow> &rows, const QString &root, const QString &outputPattern)
{
    // A target counts as taken once a file that is free to go there claims it.
    QSet<QString> taken;
    const auto claim = [&taken](const QString &clean) {
        if (taken.contains(clean))
            return true;
        taken.insert(clean);
        return false;
    };
    TargetBounds bounds(root, outputPattern, true);
    for (PlanRow &row : rows)
        MarkConflicts(row, bounds, claim);
}

QString CrossDeviceNote(files::Action action, const files::FileId &file, quint64 targetDevice)
{
    if (!file.Known() || targetDevice == 0 || file.device == targetDevice)
        return {};
    if (action == files::Action::Hardlink)
        return QString::fromLatin1(files::kNoCrossDeviceLink);
    if (action == files::Action::HardlinkOrCopy)
        return QStringLiteral("copied: another file system");
    return {};
}

PlanRow MakeRow(const QDir &rootDir, const files::ReleaseFile &release, const QString &target,
                bool sidecars, const files::Bounds *within)
{
    PlanRow row;
    row.release = release;
    row.target = target;
    row.targetPath = rootDir.absoluteFilePath(row.target);
    if (sidecars) {
        const qsizetype extension = FileExtension(release.fileName).size();
        const QString targetStem = SidecarStem(row.target, release.fileName);
        for (const files::Sidecar &file :
             files::Sidecars(release.absolutePath, release.fileName.chopped(extension), within)) {
            const QString sidecarTarget = targetStem + file.suffix;
            row.sidecars.append({file, sidecarTarget, rootDir.absoluteFilePath(sidecarTarget)});
        }
    }
    return row;
}

QString SidecarStem(const QString &target, const QString &fileName)
{
    // A target from the patterns ends in the chosen file's extension; one typed by hand may
    // not, and then none of it is cut.
    const QString extension = FileExtension(fileName);
    return target.endsWith(extension, Qt::CaseInsensitive) ? target.chopped(extension.size())
                                                           : target;
}

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

Intake TakeFolders(const QStringList &folders, bool eachIsRelease, const QString &root,
                   const files::Bounds *within)
{
    Intake intake;
    if (folders.size() == 1 && !eachIsRelease) {
        intake.root = folders.constFirst();
        intake.releaseFolders = files::Subfolders(folders.constFirst(), within);
    } else {
        intake.root = CommonParent(folders);
        intake.releaseFolders = folders;
    }
    if (!root.isEmpty())
        intake.root = root;
    intake.root = files::WithTrailingSlash(intake.root);
    return intake;
}

bool IsSampleRelease(const QString &folder, const QString &fileName)
{
    return naming::IsSample(fileName) || naming::IsSample(LastName(folder));
}

QStringList LeftOut(const QStringList &folders, const QStringList &fileNames)
{
    QStringList reasons;
    // The first word of each video's folder, letters and digits case folded, and how many
    // folders begin with it.
    QStringList words;
    QHash<QString, int> count;
    for (qsizetype i = 0; i < folders.size(); ++i) {
        const QString &folder = folders.at(i);
        QString reason;
        if (IsSampleRelease(folder, fileNames.at(i)))
            reason = QStringLiteral("a sample");
        else if (!naming::IsVideo(fileNames.at(i)))
            reason = QStringLiteral("not a video");
        reasons.append(reason);
        QString word;
        for (const QChar c : LastName(folder)) {
            if (!c.isLetterOrNumber())
                break;
            word += c.toCaseFolded();
        }
        words.append(word);
        if (reasons.constLast().isEmpty())
            ++count[word];
    }
    // A word that only one folder has is no batch's: then nothing is unlike the others.
    QString common;
    for (auto it = count.cbegin(); it != count.cend(); ++it) {
        if (it.value() > count.value(common) ||
            (it.value() == count.value(common) && it.key() < common))
            common = it.key();
    }
    if (count.value(common) < 2)
        return reasons;
    for (qsizetype i = 0; i < folders.size(); ++i) {
        if (reasons.at(i).isEmpty() && words.at(i) != common)
            reasons[i] = QStringLiteral("unlike the others");
    }
    return reasons;
}

QString SuggestedPattern(const QStringList &folders, const QString &root)
{
    if (folders.isEmpty())
        return QString();
    return naming::SuggestedFilenamePattern(naming::CommonPrefix(folders),
                                            naming::CommonTagSuffix(folders, naming::ReleaseTags()),
                                            root);
}

Plan MakePlan(const QString &root, QStringList releaseFolders,
              const std::optional<QString> &filenamePattern, const QString &outputPattern,
              bool sidecars, files::Action action)
{
    Plan plan;
    plan.root = root;
    plan.action = action;
    plan.outputPattern = outputPattern;
    QList<files::ReleaseFile> releases;
    files::ScanReleaseFolders(
        root, std::move(releaseFolders),
        [&releases](files::ReleaseFile &&release) { releases.append(std::move(release)); },
        &plan.skipped);

    if (filenamePattern) {
        plan.filenamePattern = *filenamePattern;
    } else if (!releases.isEmpty()) {
        QStringList texts;
        for (const files::ReleaseFile &release : releases)
            texts.append(release.folder);
        plan.filenamePattern = SuggestedPattern(texts, root);
        plan.suggested = true;
    }

    const naming::Patterns patterns(plan.filenamePattern, plan.outputPattern);
    const QDir rootDir(root);
    // Sidecars below the root are listed beneath it, as the scan lists release folders.
    const files::Base rootBase(rootDir.absolutePath());
    const files::Bounds within{rootBase.Fd(), files::WithTrailingSlash(rootDir.absolutePath())};
    plan.rows.reserve(releases.size());
    for (const files::ReleaseFile &release : releases)
        plan.rows.append(MakeRow(rootDir, release,
                                 patterns.TargetName(release.folder, release.fileName), sidecars,
                                 &within));
    MarkConflicts(plan.rows, root, outputPattern);
    return plan;
}

int ApplyPlan(Plan &plan, const std::optional<QString> &journalPath,
              const std::function<void(int)> &beforeRow, const files::CopyProgress &progress,
              const std::function<void(const PlanRow &)> &failed, QString *error)
{
    // A link leaves its source where it is, and its undo compares the target with the source as
    // it is then: what the source was is never asked, nor checked against the scan before the
    // link, and asking cost as much as the link.
    const bool identityKept =
        plan.action != files::Action::Hardlink && plan.action != files::Action::Symlink;
    const auto open = [&plan](const QString &path) {
        return plan.within ? std::make_unique<files::Base>(path, *plan.within)
                           : std::make_unique<files::Base>(path);
    };
    const std::unique_ptr<files::Base> root = open(plan.root);
    // The release folders that lie elsewhere, as the user chose them: their files are reached
    // beneath the release folder itself.
    std::vector<std::unique_ptr<files::Base>> elsewhere;
    // Every file about to move goes into the journal before the first one moves.
    QVector<QVector<journal::Move>> moves(plan.rows.size());
    QVector<journal::Entry> entries;
    QVector<int> firstEntry(plan.rows.size(), -1);
    for (int index = 0; index < plan.rows.size(); ++index) {
        PlanRow &row = plan.rows[index];
        row.error = QString::fromLatin1(Text(row.conflict).reason);
        for (const PlanSidecar &sidecar : std::as_const(row.sidecars)) {
            if (sidecar.conflict != Conflict::None && row.conflict == Conflict::Sidecar) {
                row.error +=
                    QStringLiteral(": %1: %2")
                        .arg(sidecar.file.name, QString::fromLatin1(Text(sidecar.conflict).reason));
                break;
            }
        }
        if (row.conflict != Conflict::None)
            continue;
        const files::Base *base = root.get();
        qsizetype skip = plan.root.size(); // of a source's path, to be relative to base
        if (!row.release.absolutePath.startsWith(plan.root)) {
            const QString folder = QFileInfo(row.release.absolutePath).path();
            elsewhere.push_back(plan.sourcesWithin
                                    ? std::make_unique<files::Base>(folder, *plan.sourcesWithin)
                                    : open(folder));
            base = elsewhere.back().get();
            skip = folder.size() + 1;
        }
        QVector<journal::Entry> files{
            {index, row.release.absolutePath, row.targetPath, {}, plan.action, {}, {}}};
        QVector<files::FileId> seen{row.release.id};
        QStringList targets{row.target};
        for (const PlanSidecar &sidecar : std::as_const(row.sidecars)) {
            files.append({index, sidecar.file.path, sidecar.targetPath, {}, plan.action, {}, {}});
            seen.append(sidecar.file.id);
            targets.append(sidecar.target);
        }
        for (int i = 0; i < files.size(); ++i) {
            journal::Entry &file = files[i];
            const QString relative = file.source.mid(skip);
            if (identityKept) {
                const std::optional<journal::Identity> identity = journal::IdentityOf(file.source);
                if (!identity) {
                    row.error = QStringLiteral("source does not exist: ") + relative;
                    break;
                }
                file.identity = *identity;
            }
            // A link, which leaves its source in place, is made of whatever file is there.
            moves[index].append(
                {{base, relative, identityKept ? seen.at(i) : files::FileId()}, targets.at(i)});
        }
        if (row.error.isEmpty()) {
            firstEntry[index] = int(entries.size());
            entries += files;
        }
    }
    std::unique_ptr<journal::Writer> writer;
    if (journalPath) {
        writer = journal::Writer::Create(*journalPath,
                                         {plan.root, plan.filenamePattern, plan.outputPattern, {}},
                                         entries, error);
        if (!writer)
            return -1;
        plan.journal = writer->Path();
    }

    int failures = 0;
    for (int index = 0; index < plan.rows.size(); ++index) {
        PlanRow &row = plan.rows[index];
        if (beforeRow)
            beforeRow(index);
        if (firstEntry[index] >= 0) {
            row.moved = journal::MoveTogether(moves[index], plan.action, *root, writer.get(),
                                              firstEntry[index], &row.error, progress);
            row.how = moves[index].at(0).how;
            for (int i = 0; i < row.sidecars.size(); ++i) {
                row.sidecars[i].moved = moves[index].at(i + 1).moved;
                row.sidecars[i].how = moves[index].at(i + 1).how;
            }
        }
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

} // namespace plan
