// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "library.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QSet>
#include <QStringBuilder>

#include <utility>

#include <dirent.h>

namespace plan {

namespace {

// The names of the folders in root, by their show key: the spellings a library already uses.
// A plain listing, as a library may hold thousands of folders and only their names matter.
QHash<QString, QString> ShowFolders(const QString &root)
{
    QHash<QString, QString> spellings;
    DIR *dir = ::opendir(QFile::encodeName(root).constData());
    if (!dir)
        return spellings;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.' || (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN))
            continue;
        const QString name = QFile::decodeName(entry->d_name);
        spellings.insert(naming::ShowKey(name), name);
    }
    ::closedir(dir);
    return spellings;
}

} // namespace

QString EpisodeLayout()
{
    return QStringLiteral("%{show}/Season %{season:02}/%{show} - S%{season:02}E%{episode:02}");
}

QString FilmLayout()
{
    return QStringLiteral("%{title} (%{year})/%{title} (%{year})");
}

QString GroupKindName(GroupKind kind)
{
    switch (kind) {
    case GroupKind::Episodes:
        return QStringLiteral("episodes");
    case GroupKind::Film:
        return QStringLiteral("film");
    case GroupKind::NotRecognised:
        break;
    }
    return QStringLiteral("not recognised");
}

LibraryPlan MakeLibraryPlan(const QString &root, QStringList releaseFolders,
                            const std::optional<QString> &filenamePattern,
                            const std::optional<QString> &episodePattern, bool sidecars,
                            files::Action action, int lastYear)
{
    QVector<files::ReleaseFile> releases;
    QList<files::SkippedFolder> skipped;
    files::ScanReleaseFolders(
        root, std::move(releaseFolders),
        [&releases](files::ReleaseFile &&release) { releases.append(std::move(release)); },
        &skipped);
    LibraryPlan library = MakeLibraryPlan(root, std::move(releases), filenamePattern,
                                          episodePattern, sidecars, action, lastYear, {});
    library.plan.skipped = std::move(skipped);
    return library;
}

LibraryPlan MakeLibraryPlan(const QString &root, QVector<files::ReleaseFile> releases,
                            const std::optional<QString> &filenamePattern,
                            const std::optional<QString> &episodePattern, bool sidecars,
                            files::Action action, int lastYear,
                            const QHash<QString, GroupPatterns> &own, const files::Bounds *within)
{
    LibraryPlan library;
    Plan &plan = library.plan;
    plan.root = root;
    plan.action = action;
    plan.filenamePattern = filenamePattern.value_or(QString());
    plan.outputPattern = episodePattern.value_or(EpisodeLayout());
    plan.suggested = !filenamePattern;

    // Each release read, and put in its group: the episodes of a show's season together, in
    // the order their first release came; each film alone.
    struct Found
    {
        files::ReleaseFile release;
        naming::ReleaseFields fields;
    };
    QVector<QVector<Found>> members;
    QHash<std::pair<QString, int>, int> groupOf; // by show key and season
    QHash<QString, QString> spellings = ShowFolders(root);
    for (files::ReleaseFile &release : releases) {
        if (IsSampleRelease(release.folder, release.fileName)) {
            library.onlySample.append(release.folder);
            continue;
        }
        naming::ReleaseFields fields = naming::ReadReleaseName(release.folder, lastYear);
        if (fields.kind == naming::ReleaseFields::Kind::NotRecognised) {
            library.notRecognised.append(std::move(release));
            continue;
        }
        int group = int(members.size());
        if (fields.kind == naming::ReleaseFields::Kind::Episode) {
            const QString key = naming::ShowKey(fields.show);
            auto spelling = spellings.constFind(key);
            if (spelling == spellings.cend())
                spelling = spellings.insert(key, fields.show);
            fields.show = *spelling;
            const std::pair<QString, int> season(key, fields.season);
            auto known = groupOf.constFind(season);
            if (known == groupOf.cend())
                known = groupOf.insert(season, group);
            group = *known;
        }
        if (group == members.size())
            members.append(QVector<Found>());
        members[group].append({std::move(release), std::move(fields)});
    }
    plan.rows.reserve(releases.size());
    library.fields.reserve(releases.size());
    releases.clear();

    // Each group's rows from its own patterns, then the conflicts of all of them as of one run.
    const QDir rootDir(root);
    QSet<QString> taken;
    // One for each output pattern, each keeping what it learnt of the folders on the way.
    QHash<QString, TargetBounds> bounds;
    QHash<QString, naming::FieldPatterns> fixedPatterns;
    const auto claim = [&taken](const QString &clean) {
        if (taken.contains(clean))
            return true;
        taken.insert(clean);
        return false;
    };
    for (const QVector<Found> &found : std::as_const(members)) {
        const naming::ReleaseFields &first = found.constFirst().fields;
        LibraryGroup group;
        group.firstRow = int(plan.rows.size());
        group.rowCount = int(found.size());
        if (first.kind == naming::ReleaseFields::Kind::Episode) {
            group.kind = GroupKind::Episodes;
            // Joined, not QString::arg: a "%1" in a name is no placeholder, and arg costs more
            // than the rest of a group.
            group.heading = first.show % QLatin1String(", season ") %
                            QString::number(first.season).rightJustified(2, QLatin1Char('0'));
            group.outputPattern = plan.outputPattern;
        } else {
            group.kind = GroupKind::Film;
            group.heading =
                first.title % QLatin1String(" (") % QString::number(first.year) % QLatin1Char(')');
            group.outputPattern = FilmLayout();
        }
        group.key = found.constFirst().release.folder;
        if (const auto mine = own.constFind(group.key); mine != own.cend()) {
            group.filenamePattern = mine->filename;
            group.outputPattern = mine->output;
        } else if (filenamePattern) {
            group.filenamePattern = *filenamePattern;
        } else {
            QStringList texts;
            for (const Found &member : found)
                texts.append(member.release.folder);
            group.filenamePattern = SuggestedPattern(texts, root);
        }
        // An output pattern without a numbered placeholder is the same for every group.
        std::optional<naming::FieldPatterns> own;
        const naming::FieldPatterns *patterns = nullptr;
        if (const auto fixed = fixedPatterns.constFind(group.outputPattern);
            fixed != fixedPatterns.cend()) {
            patterns = &*fixed;
        } else {
            own.emplace(group.filenamePattern, group.outputPattern);
            patterns = own->Captures() ? &*own : &*fixedPatterns.insert(group.outputPattern, *own);
        }
        auto groupBounds = bounds.find(group.outputPattern);
        if (groupBounds == bounds.end())
            groupBounds =
                bounds.insert(group.outputPattern, TargetBounds(root, group.outputPattern, true));
        for (const Found &member : found) {
            PlanRow row = MakeRow(
                rootDir, member.release,
                patterns->TargetName(member.release.folder, member.release.fileName, member.fields),
                sidecars, within);
            row.sidecars.removeIf(
                [](const PlanSidecar &sidecar) { return naming::IsSample(sidecar.file.name); });
            MarkConflicts(row, *groupBounds, claim);
            plan.rows.append(std::move(row));
            library.fields.append(member.fields);
        }
        library.groups.append(group);
    }
    return library;
}

QJsonObject FieldsJson(const naming::ReleaseFields &fields)
{
    QJsonObject object;
    if (fields.kind == naming::ReleaseFields::Kind::Episode) {
        object.insert(QStringLiteral("show"), fields.show);
        object.insert(QStringLiteral("season"), fields.season);
        QJsonArray run;
        for (int episode = fields.episode; episode <= fields.lastEpisode; ++episode)
            run.append(episode);
        object.insert(QStringLiteral("episode"),
                      run.size() == 1 ? QJsonValue(fields.episode) : QJsonValue(run));
    } else if (fields.kind == naming::ReleaseFields::Kind::Film) {
        object.insert(QStringLiteral("title"), fields.title);
    }
    if (fields.year > 0)
        object.insert(QStringLiteral("year"), fields.year);
    return object;
}

} // namespace plan
