// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include "naming.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

namespace naming {

// What the name of one release folder says about its content, read from the name alone.
struct ReleaseFields
{
    enum class Kind { NotRecognised, Episode, Film };
    Kind kind = Kind::NotRecognised;
    QString show;         // an episode's show, with " (YEAR)" where the name gives it a year
    QString title;        // a film's title
    int season = -1;      // an episode's season
    int episode = -1;     // an episode's number, the first of a run
    int lastEpisode = -1; // the last episode of a run; episode when there is one only
    int year = 0;         // a film's year, or the year a show's name carries; 0 when none
};

// Reads the fields from a release folder's name (its last path component), lastYear being the
// latest year a film may have (next year). The rules, in order:
// - Nothing is read from the first release tag on (a resolution such as 720p, a source such as
//   BluRay or HDTV, a codec such as x264): what follows is tags, languages and the group.
// - An episode: the first of S01E02 (any case, one to three digits each, "S01.E02" and
//   "S01 E02" too), 1x02 (one or two digits each) or "Season 1 Episode 2", as a word of its own,
//   optionally followed by a run: E03, -E03 or -03 (x03 or -03 after 1x02). The show is the text
//   before it; where that text ends in a year (not as its only word), the year is the show's.
// - Otherwise a film: the last year (1900 to lastYear, four digits, in brackets or not) that is
//   not the first word and is not followed by a month and a day; the title is the text before.
// - Otherwise, or where the show or title comes out empty, not recognised.
// In the show and the title, a leading group in square brackets is left out, dots and
// underscores become spaces (a dot between single letters, as in S.W.A.T, stays), runs of
// blanks become one, separators at either end go, and the characters that a FAT or NTFS drive or
// a Samba share refuses (\ / : * ? " < > | and control characters) are replaced, so that either
// is usable as a file or folder name as it stands.
ReleaseFields ReadReleaseName(QStringView name, int lastYear);

// Whether a file or folder name holds "sample" (any case) as a word of its own.
bool IsSample(QStringView name);

// Whether a file's name ends in the extension of a video container (any case): .mkv, .mp4, .avi…
bool IsVideo(QStringView fileName);

// What two spellings of one show share: its letters and digits, case folded.
QString ShowKey(QStringView show);

// An output pattern that may hold named fields beside the numbered placeholders: %{show},
// %{title}, %{season}, %{episode}, %{year}, a number optionally padded with zeros to a width,
// as in %{season:02}. A run of episodes gives its first and last: %{episode:02} is "01-E02".
// "%{" never began a field before: a "%" without digits stands for nothing, so that "%{x}" meant
// the text "{x}"; only front ends that read the fields give it this meaning. Everything between
// two named fields is filled as naming::Patterns fills it.
class FieldPatterns
{
public:
    // Empty when outputPattern is well formed, else what is wrong with it: a "%{" that names
    // no field, a width given to a text field.
    static QString Problem(const QString &outputPattern);

    // outputPattern must be well formed (Problem() empty).
    FieldPatterns(const QString &filenamePattern, const QString &outputPattern);

    // Whether the output has a numbered placeholder, so that it depends on the filename pattern.
    bool Captures() const;

    // The target name of a row: as Patterns::TargetName, with the named fields from fields.
    QString TargetName(const QString &subject, const QString &fileName,
                       const ReleaseFields &fields) const;

private:
    enum class Field { None, Show, Title, Season, Episode, Year };
    struct Piece
    {
        std::optional<Patterns> text; // the part between named fields, where it has a placeholder
        QString literal;              // or that part as it stands
        Field field = Field::None;
        int width = 0;
    };
    // Splits outputPattern into pieces; returns what is wrong with it, empty when nothing.
    static QString Split(const QString &filenamePattern, const QString &outputPattern,
                         std::vector<Piece> *pieces);
    std::vector<Piece> pieces;
};

} // namespace naming
