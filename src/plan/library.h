// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include "plan.h"
#include "release.h"

#include <QHash>
#include <QJsonObject>

#include <optional>

// A mixed download folder placed into a media library as media servers (Jellyfin, Plex, Kodi)
// read one: episodes at SHOW/Season NN/SHOW - SNNEMM.EXT, films at TITLE (YEAR)/TITLE (YEAR).EXT,
// from the fields each release folder's name gives.
namespace plan {

// The output patterns of the layout, in named fields.
QString EpisodeLayout();
QString FilmLayout();

enum class GroupKind { Episodes, Film, NotRecognised };

// "episodes", "film", "not recognised".
QString GroupKindName(GroupKind kind);

// Release folders placed alike: the episodes of one show and season, or one film.
struct LibraryGroup
{
    GroupKind kind = GroupKind::Episodes;
    QString heading; // "Harbour Lights, season 02", "The Quiet Harbour (2019)"
    QString key;     // its first release folder, which names it among the groups of one run
    QString filenamePattern;
    QString outputPattern;
    int firstRow = 0; // its rows in Plan::rows
    int rowCount = 0;
};

// The two patterns a user gave one group in place of those the layout would give it.
struct GroupPatterns
{
    QString filename;
    QString output; // well formed (naming::FieldPatterns::Problem)
};

struct LibraryPlan
{
    Plan plan; // the rows of every group, group by group, ready for ApplyPlan
    QVector<LibraryGroup> groups;
    QVector<naming::ReleaseFields> fields;   // the fields of each row of plan.rows
    QList<files::ReleaseFile> notRecognised; // never placed
    QStringList onlySample;                  // release folders that hold nothing but a sample
};

// The plan of placing the release folders under root (the library): each release folder's name
// read, its group found, and its row's target from the group's patterns: filenamePattern or the
// window's suggestion over the group alone, and for episodes episodePattern or EpisodeLayout(),
// for films FilmLayout(). episodePattern must be well formed (naming::FieldPatterns::Problem).
// A show gets one folder however its name is spelled in case and punctuation: the spelling of a
// folder already in root, else the first one seen. A chosen file that is a sample makes its
// release folder "only a sample"; a sample is never a sidecar. lastYear: see
// naming::ReadReleaseName.
LibraryPlan MakeLibraryPlan(const QString &root, QStringList releaseFolders,
                            const std::optional<QString> &filenamePattern,
                            const std::optional<QString> &episodePattern, bool sidecars,
                            files::Action action, int lastYear);

// The same from releases already scanned under root, as the web server keeps them: each group
// whose key own holds takes those patterns instead, and every folder of a row's sidecars is
// listed beneath within (plan::MakeRow). The skipped folders are the caller's.
LibraryPlan MakeLibraryPlan(const QString &root, QVector<files::ReleaseFile> releases,
                            const std::optional<QString> &filenamePattern,
                            const std::optional<QString> &episodePattern, bool sidecars,
                            files::Action action, int lastYear,
                            const QHash<QString, GroupPatterns> &own,
                            const files::Bounds *within = nullptr);

// The fields a row's name gave, those that apply: show, season, episode (a run of episodes as
// the list of them), title, year.
QJsonObject FieldsJson(const naming::ReleaseFields &fields);

} // namespace plan
