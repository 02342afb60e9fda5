// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "cli.h"

#include "library.h"
#include "plan.h"
#include "undo.h"

#include <QCommandLineParser>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QStringBuilder>
#include <QTextStream>

#include <algorithm>
#include <optional>

namespace {

const char kUsage[] =
    R"(Usage: move-rename-cli [options] FOLDER...
       move-rename-cli --undo [--apply] [--json] [JOURNAL]
       move-rename-cli --history

Moves the largest file of every release folder into the root folder under a name built from
the folder's name, as the "Move & Rename" window does. Without --apply it only shows the plan.

One FOLDER stands for its subfolders and is the root folder. Several FOLDERs, or any with
--release, are the release folders themselves, in the order given; their root is the deepest
folder holding them all.

Options:
  --filename PATTERN  laid over each folder name: %1, %2, ... capture the parts between its
                      literal pieces (default: suggested from the folder names)
  --output PATTERN    the target name from those captures, the file's extension appended
                      (default: %1); a "/" in its own text makes folders under the root
  --action ACTION     move (default), copy, hardlink, symlink or hardlink-or-copy: what each
                      file gets at its target; all but move leave the source where it is
  --root DIR          the folder the files move into; a release folder outside it is named
                      by its own name, as if it lay directly in it
  --release           every FOLDER is a release folder itself, even a single one
  --library           place each release as media servers read a library: episodes at
                      SHOW/Season NN/SHOW - SNNEMM, films at TITLE (YEAR)/TITLE (YEAR), from
                      what each folder's name says; --output then takes named fields too
  --sidecars          move with each file the files named like it (subtitles, .nfo, ...) and
                      the subtitles beside it or in its Subs or Subtitles folder
  --apply             perform the moves; without it nothing on disk changes
  --journal FILE      write the journal of an --apply run to FILE, which must not exist
  --no-journal        keep no journal of an --apply run; it cannot be undone then
  --undo [JOURNAL]    show what undoing the run recorded in JOURNAL would put back, and with
                      --apply put it back (default: the newest journal not yet undone)
  --history           list the journals in the journal folder, newest first
  --json              print one JSON object instead of the table
  -h, --help          show this help
  --version           show the version

A row does not move when its target name is empty or nothing but the extension (empty),
something already exists at its target (exists), an earlier row has the same target
(duplicate), a file is where its target needs a folder (not a folder), its target leaves the
root by an absolute path, a "..", a "/" from a captured field or a link on the way (outside),
or one of its sidecars has such a conflict (sidecar). Nothing is ever replaced. A hard link
fails where none can be made (across file systems, a share without them); hardlink-or-copy
copies there instead. A symbolic link holds the source's path relative to its own folder.
A row's files move together: if one of them cannot move, those already moved go back.
Release folders that yield no row are listed with the reason: no file, unreadable, or name not
representable (not valid UTF-8). Without --filename, a single row gives nothing to suggest a
pattern from (--library needs none).

Every --apply run first writes a journal of what it is about to move, flushed to disk before
the first file moves, and prints its path on stderr. Journals go to
$XDG_STATE_HOME/move-rename/ (or ~/.local/state/move-rename/) unless --journal says otherwise.
--undo moves the files back, last first, never replacing anything: it refuses a file whose
target is gone or holds another file, and one whose source path is taken. It removes a copy or
link only while it is what the run made (the same inode, the same link text, or the same size,
time and content as the source), never the source, then the folders the run made, if empty.
An undo cut off halfway can simply be run again.

With --library, each release folder's name is read for a show, season and episode (S01E02,
1x02, Season 1 Episode 2, runs such as S01E01E02 or S01E01-02) or a film's title and year.
The folders are grouped (the episodes of one show and season, each film alone) and each group
gets the filename pattern suggested from its own folders. --output replaces the episodes'
layout and may hold %{show}, %{season}, %{episode}, %{title} and %{year} beside %1, %2, ...;
a number takes a width, as in %{season:02}. Show and title never hold \ / : * ? " < > |.
A show gets one folder however its name is spelled in case and punctuation: that of a folder
already in the root, else the first seen. A name that gives neither is listed as not
recognised and never placed; a sample is never placed, nor moved as a sidecar, and a folder
holding only one is skipped as "only a sample".

Exit status: 0 done, 1 some row failed to move or was refused, 2 bad input.
)";

struct Options
{
    QStringList folders; // absolute and clean
    QString root;        // absolute; empty: follows from the folders
    std::optional<QString> filenamePattern;
    QString outputPattern = QStringLiteral("%1");
    files::Action action = files::Action::Move;
    bool release = false;   // every folder is a release folder
    bool library = false;   // placed as a media library, from the fields of each folder's name
    bool ownOutput = false; // --output was given
    bool sidecars = false;
    bool apply = false;
    bool json = false;
    std::optional<QString> journal = QString(); // null: none; empty: in the default folder
    bool undo = false;
    QString undoJournal; // empty: the newest journal not undone
    bool history = false;
};

enum class Action { Run, Help, Version, Fail };

QString AbsoluteClean(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// Empty when path names an existing folder, else what is wrong with it.
QString FolderProblem(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return QStringLiteral("no such folder: '%1'").arg(path);
    if (!info.isDir())
        return QStringLiteral("not a folder: '%1'").arg(path);
    return QString();
}

Action ParseArguments(const QStringList &arguments, Options &options, QString &error)
{
    QCommandLineParser parser;
    const QString pattern = QStringLiteral("PATTERN");
    const QCommandLineOption filename(QStringLiteral("filename"), QString(), pattern);
    const QCommandLineOption output(QStringLiteral("output"), QString(), pattern);
    const QCommandLineOption root(QStringLiteral("root"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption action(QStringLiteral("action"), QString(), QStringLiteral("ACTION"));
    const QCommandLineOption release(QStringLiteral("release"));
    const QCommandLineOption library(QStringLiteral("library"));
    const QCommandLineOption sidecars(QStringLiteral("sidecars"));
    const QCommandLineOption apply(QStringLiteral("apply"));
    const QCommandLineOption journal(QStringLiteral("journal"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption noJournal(QStringLiteral("no-journal"));
    const QCommandLineOption undo(QStringLiteral("undo"));
    const QCommandLineOption history(QStringLiteral("history"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({filename, output, action, root, release, library, sidecars, apply, journal,
                       noJournal, undo, history, json, help, version});

    // parse() rather than process(): process() exits with status 1 on bad input.
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return Action::Fail;
    }
    if (parser.isSet(help))
        return Action::Help;
    if (parser.isSet(version))
        return Action::Version;

    if (parser.isSet(filename))
        options.filenamePattern = parser.value(filename);
    options.ownOutput = parser.isSet(output);
    if (options.ownOutput)
        options.outputPattern = parser.value(output);
    if (parser.isSet(action)) {
        const std::optional<files::Action> chosen = files::ActionFromName(parser.value(action));
        if (!chosen) {
            error = QStringLiteral("--action: unknown action '%1' (%2)")
                        .arg(parser.value(action), files::ActionNames().join(QStringLiteral(", ")));
            return Action::Fail;
        }
        options.action = *chosen;
    }
    options.release = parser.isSet(release);
    options.library = parser.isSet(library);
    options.sidecars = parser.isSet(sidecars);
    options.apply = parser.isSet(apply);
    options.json = parser.isSet(json);
    options.undo = parser.isSet(undo);
    options.history = parser.isSet(history);
    if (parser.isSet(noJournal))
        options.journal.reset();
    else if (parser.isSet(journal))
        options.journal = AbsoluteClean(parser.value(journal));

    // Undo and history work on journals alone: the options of a run would be silently ignored.
    const QStringList positional = parser.positionalArguments();
    if (options.undo || options.history) {
        const QString mode = options.history ? QStringLiteral("history") : QStringLiteral("undo");
        QStringList notWith{
            QStringLiteral("filename"), QStringLiteral("output"),  QStringLiteral("action"),
            QStringLiteral("root"),     QStringLiteral("release"), QStringLiteral("library"),
            QStringLiteral("sidecars"), QStringLiteral("journal"), QStringLiteral("no-journal")};
        if (options.history)
            notWith << QStringLiteral("undo") << QStringLiteral("apply") << QStringLiteral("json");
        for (const QString &other : std::as_const(notWith)) {
            if (parser.isSet(other)) {
                error = QStringLiteral("--%1 does not go with --%2").arg(other, mode);
                return Action::Fail;
            }
        }
        if (positional.size() > (options.undo ? 1 : 0)) {
            error = options.undo ? QStringLiteral("--undo takes one JOURNAL at most")
                                 : QStringLiteral("--history takes no argument");
            return Action::Fail;
        }
        options.undoJournal = positional.value(0);
        return Action::Run;
    }
    // Named fields mean something only where the fields are read; elsewhere "%{" keeps its meaning.
    if (options.library && parser.isSet(output)) {
        error = naming::FieldPatterns::Problem(options.outputPattern);
        if (!error.isEmpty()) {
            error.prepend(QStringLiteral("--output: "));
            return Action::Fail;
        }
    }
    if (parser.isSet(journal) && parser.isSet(noJournal)) {
        error = QStringLiteral("--journal does not go with --no-journal");
        return Action::Fail;
    }

    if (positional.isEmpty()) {
        error = QStringLiteral("no FOLDER given (see --help)");
        return Action::Fail;
    }
    for (const QString &folder : positional) {
        error = FolderProblem(folder);
        if (!error.isEmpty())
            return Action::Fail;
        options.folders.append(AbsoluteClean(folder));
    }
    if (parser.isSet(root)) {
        error = FolderProblem(parser.value(root));
        if (!error.isEmpty()) {
            error.prepend(QStringLiteral("--root: "));
            return Action::Fail;
        }
        options.root = AbsoluteClean(parser.value(root));
    }
    return Action::Run;
}

plan::Plan PlanFor(const Options &options)
{
    plan::Intake intake = plan::TakeFolders(options.folders, options.release, options.root);
    return plan::MakePlan(intake.root, std::move(intake.releaseFolders), options.filenamePattern,
                          options.outputPattern, options.sidecars, options.action);
}

// Prints lines as columns two blanks apart, each as wide as its widest cell.
void PrintColumns(const QVector<QStringList> &lines, QTextStream &out)
{
    QVector<qsizetype> widths(lines.constFirst().size(), 0);
    for (const QStringList &cells : lines) {
        for (int column = 0; column < cells.size(); ++column)
            widths[column] = qMax(widths[column], cells.at(column).size());
    }
    // The padding of every cell is cut from one run of blanks rather than made for each.
    const QString blanks(*std::max_element(widths.cbegin(), widths.cend()) + 2, QLatin1Char(' '));
    for (const QStringList &cells : lines) {
        // Cells are padded only up to the last one with text, so no line ends in blanks.
        int last = int(cells.size()) - 1;
        while (last > 0 && cells.at(last).isEmpty())
            --last;
        for (int column = 0; column <= last; ++column) {
            out << cells.at(column);
            if (column < last)
                out << QStringView(blanks).first(widths[column] - cells.at(column).size() + 2);
        }
        out << '\n';
    }
}

// rows[first, first + count) with their sidecars, under a line of column names.
void PrintRows(const QVector<plan::PlanRow> &rows, int first, int count, QTextStream &out)
{
    QVector<QStringList> lines{{QStringLiteral("FOLDER"), QStringLiteral("SOURCE FILE"),
                                QStringLiteral("TARGET"), QStringLiteral("CONFLICT")}};
    for (int i = first; i < first + count; ++i) {
        const plan::PlanRow &row = rows.at(i);
        lines.append({row.release.folder, row.release.fileName, row.target,
                      plan::ConflictName(row.conflict)});
        for (const plan::PlanSidecar &sidecar : row.sidecars)
            lines.append({QString(), QStringLiteral("  ") + sidecar.file.name, sidecar.target,
                          plan::ConflictName(sidecar.conflict)});
    }
    PrintColumns(lines, out);
}

const char kOnlySample[] = "only a sample";

// The release folders that yield no row, with the reason; onlySample those of a library's plan
// that hold nothing but a sample.
void PrintSkipped(const QList<files::SkippedFolder> &skipped, const QStringList &onlySample,
                  QTextStream &out)
{
    if (skipped.isEmpty() && onlySample.isEmpty())
        return;
    out << "skipped:\n";
    QVector<QStringList> lines;
    for (const files::SkippedFolder &folder : skipped)
        lines.append({QStringLiteral("  ") + folder.folder, files::SkipName(folder.reason)});
    for (const QString &folder : onlySample)
        lines.append({QStringLiteral("  ") + folder, QLatin1String(kOnlySample)});
    PrintColumns(lines, out);
}

void PrintTable(const plan::Plan &plan, QTextStream &out)
{
    out << "root: " << plan.root << '\n' << "action: " << files::ActionName(plan.action) << '\n';
    if (plan.suggested)
        out << "filename pattern: " << plan.filenamePattern << '\n';

    PrintRows(plan.rows, 0, int(plan.rows.size()), out);
    if (plan.rows.isEmpty())
        out << "(no release folder holds a file)\n";
    PrintSkipped(plan.skipped, {}, out);
}

// The library's plan: each group under its heading with its patterns, then the release folders
// not recognised, then those skipped.
void PrintLibraryTable(const plan::LibraryPlan &library, QTextStream &out)
{
    out << "root: " << library.plan.root << '\n'
        << "action: " << files::ActionName(library.plan.action) << '\n';
    for (const plan::LibraryGroup &group : library.groups) {
        // Written at once: a library has a group for every film, and every write to the stream
        // costs more than joining the text.
        out << QString(QLatin1Char('\n') % plan::GroupKindName(group.kind) % QLatin1String(": ") %
                       group.heading % QLatin1String("\nfilename pattern: ") %
                       group.filenamePattern % QLatin1String("\noutput pattern: ") %
                       group.outputPattern % QLatin1Char('\n'));
        PrintRows(library.plan.rows, group.firstRow, group.rowCount, out);
    }
    if (!library.notRecognised.isEmpty()) {
        out << '\n' << plan::GroupKindName(plan::GroupKind::NotRecognised) << ":\n";
        QVector<QStringList> lines{{QStringLiteral("FOLDER"), QStringLiteral("SOURCE FILE")}};
        for (const files::ReleaseFile &release : library.notRecognised)
            lines.append({release.folder, release.fileName});
        PrintColumns(lines, out);
    }
    if (library.groups.isEmpty() && library.notRecognised.isEmpty())
        out << "(no release folder holds a file)\n";
    PrintSkipped(library.plan.skipped, library.onlySample, out);
}

QJsonValue OrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

// What was done with a file, null where nothing was.
QJsonValue HowJson(bool done, files::Action how)
{
    return done ? QJsonValue(files::ActionName(how)) : QJsonValue();
}

// A row with its sidecars, and with what was done when applied.
QJsonObject RowJson(const plan::PlanRow &row, bool applied)
{
    QJsonObject object{{QStringLiteral("folder"), row.release.folder},
                       {QStringLiteral("source"), row.release.absolutePath},
                       {QStringLiteral("target"), row.target},
                       {QStringLiteral("conflict"), OrNull(plan::ConflictName(row.conflict))}};
    QJsonArray sidecars;
    for (const plan::PlanSidecar &sidecar : row.sidecars) {
        QJsonObject file{
            {QStringLiteral("source"), sidecar.file.path},
            {QStringLiteral("target"), sidecar.target},
            {QStringLiteral("conflict"), OrNull(plan::ConflictName(sidecar.conflict))}};
        if (applied) {
            file.insert(QStringLiteral("moved"), sidecar.moved);
            file.insert(QStringLiteral("how"), HowJson(sidecar.moved, sidecar.how));
            file.insert(QStringLiteral("error"),
                        sidecar.moved ? QJsonValue() : QJsonValue(row.error));
        }
        sidecars.append(file);
    }
    object.insert(QStringLiteral("sidecars"), sidecars);
    if (applied) {
        object.insert(QStringLiteral("moved"), row.moved);
        object.insert(QStringLiteral("how"), HowJson(row.moved, row.how));
        object.insert(QStringLiteral("error"), row.moved ? QJsonValue() : QJsonValue(row.error));
    }
    return object;
}

QJsonArray SkippedJson(const QList<files::SkippedFolder> &skipped, const QStringList &onlySample)
{
    QJsonArray array;
    for (const files::SkippedFolder &folder : skipped)
        array.append(QJsonObject{{QStringLiteral("folder"), folder.folder},
                                 {QStringLiteral("reason"), files::SkipName(folder.reason)}});
    for (const QString &folder : onlySample)
        array.append(QJsonObject{{QStringLiteral("folder"), folder},
                                 {QStringLiteral("reason"), QLatin1String(kOnlySample)}});
    return array;
}

QJsonDocument ToJson(const plan::Plan &plan, bool applied)
{
    QJsonArray rows;
    for (const plan::PlanRow &row : plan.rows)
        rows.append(RowJson(row, applied));
    const QJsonArray skipped = SkippedJson(plan.skipped, {});
    QJsonObject object{{QStringLiteral("root"), plan.root},
                       {QStringLiteral("filename_pattern"), plan.filenamePattern},
                       {QStringLiteral("output_pattern"), plan.outputPattern},
                       {QStringLiteral("action"), files::ActionName(plan.action)},
                       {QStringLiteral("rows"), rows},
                       {QStringLiteral("skipped"), skipped}};
    if (applied)
        object.insert(QStringLiteral("journal"), OrNull(plan.journal));
    return QJsonDocument(object);
}

QJsonDocument LibraryJson(const plan::LibraryPlan &library, bool applied)
{
    QJsonArray groups;
    for (const plan::LibraryGroup &group : library.groups) {
        QJsonArray rows;
        for (int i = group.firstRow; i < group.firstRow + group.rowCount; ++i) {
            QJsonObject row = RowJson(library.plan.rows.at(i), applied);
            row.insert(QStringLiteral("fields"), plan::FieldsJson(library.fields.at(i)));
            rows.append(row);
        }
        groups.append(QJsonObject{{QStringLiteral("kind"), plan::GroupKindName(group.kind)},
                                  {QStringLiteral("heading"), group.heading},
                                  {QStringLiteral("filename_pattern"), group.filenamePattern},
                                  {QStringLiteral("output_pattern"), group.outputPattern},
                                  {QStringLiteral("rows"), rows}});
    }
    // Rows that are never placed: no target, no patterns, nothing done.
    QJsonArray notRecognised;
    for (const files::ReleaseFile &release : library.notRecognised) {
        plan::PlanRow row;
        row.release = release;
        row.error = plan::GroupKindName(plan::GroupKind::NotRecognised);
        QJsonObject object = RowJson(row, applied);
        object.insert(QStringLiteral("target"), QJsonValue());
        object.insert(QStringLiteral("fields"), QJsonObject());
        notRecognised.append(object);
    }
    if (!notRecognised.isEmpty())
        groups.append(QJsonObject{
            {QStringLiteral("kind"), plan::GroupKindName(plan::GroupKind::NotRecognised)},
            {QStringLiteral("heading"), plan::GroupKindName(plan::GroupKind::NotRecognised)},
            {QStringLiteral("filename_pattern"), QJsonValue()},
            {QStringLiteral("output_pattern"), QJsonValue()},
            {QStringLiteral("rows"), notRecognised}});
    QJsonObject object{
        {QStringLiteral("root"), library.plan.root},
        {QStringLiteral("action"), files::ActionName(library.plan.action)},
        {QStringLiteral("groups"), groups},
        {QStringLiteral("skipped"), SkippedJson(library.plan.skipped, library.onlySample)}};
    if (applied)
        object.insert(QStringLiteral("journal"), OrNull(library.plan.journal));
    return QJsonDocument(object);
}

// One line on a terminal, rewritten in place: rows done, and the bytes of a copy between file
// systems. Does nothing when disabled, so that logs and pipes get no carriage returns.
class ProgressLine
{
public:
    ProgressLine(QTextStream &err, bool enabled, int total)
        : err(err)
        , enabled(enabled)
        , total(total)
    {}
    ~ProgressLine() { Clear(); }

    void StartRow(int index)
    {
        done = index;
        Draw(RowText());
    }

    void Copied(qint64 copied, qint64 size)
    {
        // A copy reports every chunk; a terminal needs far fewer redraws than that.
        if (copied != size && sinceDraw.isValid() && sinceDraw.elapsed() < 100)
            return;
        const QLocale locale = QLocale::c();
        Draw(RowText() +
             QStringLiteral(", copying %1 / %2")
                 .arg(locale.formattedDataSize(copied), locale.formattedDataSize(size)));
    }

    // Wipes the line, so that a message can take its place.
    void Clear()
    {
        if (!enabled || shownWidth == 0)
            return;
        err << '\r' << QString(shownWidth, QLatin1Char(' ')) << '\r';
        err.flush();
        shownWidth = 0;
    }

private:
    QString RowText() const { return QStringLiteral("%1/%2 rows done").arg(done).arg(total); }

    void Draw(const QString &text)
    {
        if (!enabled)
            return;
        err << '\r' << text;
        if (text.size() < shownWidth)
            err << QString(shownWidth - text.size(), QLatin1Char(' '));
        err.flush();
        shownWidth = qMax(shownWidth, text.size());
        sinceDraw.start();
    }

    QTextStream &err;
    const bool enabled;
    const int total;
    int done = 0;
    qsizetype shownWidth = 0;
    QElapsedTimer sinceDraw;
};

// Performs the moves, one line on err per failure; returns the number of failures, or -1 when
// the journal cannot be written.
int Apply(plan::Plan &plan, const Options &options, QTextStream &err, bool errIsTerminal)
{
    ProgressLine progress(err, errIsTerminal, int(plan.rows.size()));
    QString error;
    const int failures = plan::ApplyPlan(
        plan, options.journal, [&](int index) { progress.StartRow(index); },
        [&](qint64 copied, qint64 size) { progress.Copied(copied, size); },
        [&](const plan::PlanRow &row) {
            progress.Clear();
            err << "failed: " << row.release.absolutePath << " -> " << row.targetPath << ": "
                << row.error << '\n';
            err.flush();
        },
        &error);
    if (failures < 0)
        err << "move-rename-cli: " << error << '\n';
    return failures;
}

// How many rows were done, by what each got, and how many failed. Where a hard link could not
// be made and a copy was, the row is named.
void PrintOutcome(const plan::Plan &plan, int failures, QTextStream &out)
{
    QMap<files::Action, int> done;
    for (const plan::PlanRow &row : plan.rows) {
        if (!row.moved)
            continue;
        ++done[row.how];
        if (plan.action == files::Action::HardlinkOrCopy && row.how == files::Action::Copy)
            out << "copied, no hard link possible: " << row.target << '\n';
    }
    QStringList parts;
    for (auto it = done.cbegin(); it != done.cend(); ++it)
        parts.append(QStringLiteral("%1 %2").arg(it.value()).arg(files::ActionDone(it.key())));
    if (parts.isEmpty())
        parts.append(QStringLiteral("0 ") + files::ActionDone(plan.action));
    out << parts.join(QStringLiteral(", ")) << ", " << failures << " failed\n";
}

int Run(const Options &options, QTextStream &out, QTextStream &err, bool errIsTerminal)
{
    std::optional<plan::LibraryPlan> library;
    plan::Plan ordinary;
    if (options.library) {
        plan::Intake intake = plan::TakeFolders(options.folders, options.release, options.root);
        library = plan::MakeLibraryPlan(
            intake.root, std::move(intake.releaseFolders), options.filenamePattern,
            options.ownOutput ? std::optional(options.outputPattern) : std::nullopt,
            options.sidecars, options.action, QDate::currentDate().year() + 1);
    } else {
        ordinary = PlanFor(options);
    }
    plan::Plan &plan = library ? library->plan : ordinary;
    // From one folder name alone the suggestion cannot tell what varies: every target would be
    // the bare extension. The library's layout needs no suggestion.
    if (!library && plan.suggested && plan.rows.size() < 2) {
        err << "move-rename-cli: one release folder gives nothing to suggest a pattern from: "
               "--filename is needed\n";
        return 2;
    }
    if (!options.json) {
        if (library)
            PrintLibraryTable(*library, out);
        else
            PrintTable(plan, out);
        out.flush(); // the plan shows before the moves begin
    }
    int failures = 0;
    if (options.apply) {
        failures = Apply(plan, options, err, errIsTerminal);
        if (failures < 0)
            return 2;
        // With --json, standard output holds nothing but the JSON object.
        QTextStream &summary = options.json ? err : out;
        PrintOutcome(plan, failures, summary);
        summary.flush();
        if (!plan.journal.isEmpty())
            err << "journal: " << plan.journal << '\n';
    }
    if (options.json)
        out << (library ? LibraryJson(*library, options.apply) : ToJson(plan, options.apply))
                   .toJson(QJsonDocument::Indented);
    return failures > 0 ? 1 : 0;
}

// The journal named, or the newest one in the default folder that is not undone; nothing with
// error set when it cannot be read, nothing with error empty when there is none to undo.
std::optional<journal::Journal> JournalToUndo(const QString &path, QString &error)
{
    if (!path.isEmpty())
        return journal::Read(path, &error);
    for (const QString &candidate : journal::List(journal::DefaultFolder())) {
        std::optional<journal::Journal> found = journal::Read(candidate, &error);
        if (!found || (!found->undone && !found->entries.isEmpty()))
            return found;
    }
    return std::nullopt;
}

void PrintUndoTable(const journal::Journal &journal, const QVector<journal::UndoRow> &rows,
                    QTextStream &out)
{
    const QString root = journal.header.root;
    out << "journal: " << journal.path << '\n' << "root: " << root << '\n';
    QVector<QStringList> lines{
        {QStringLiteral("NOW AT"), QStringLiteral("BACK TO"), QStringLiteral("REFUSED")}};
    for (const journal::UndoRow &row : rows) {
        const bool removed = row.action == journal::Action::RemoveMade ||
                             row.action == journal::Action::RemoveFolder;
        lines.append({journal::RelativeTo(row.target, root),
                      removed ? QStringLiteral("(removed)") : journal::RelativeTo(row.source, root),
                      row.reason});
    }
    PrintColumns(lines, out);
    if (rows.isEmpty())
        out << "(nothing to put back)\n";
    out.flush(); // the plan shows before the moves begin
}

// journalPath empty: there was no journal to undo.
void PrintUndoJson(const QString &journalPath, const QVector<journal::UndoRow> &rows,
                   QTextStream &out)
{
    QJsonArray array;
    for (const journal::UndoRow &row : rows) {
        const QJsonValue restored = row.restored ? QJsonValue(*row.restored) : QJsonValue();
        array.append(
            QJsonObject{{QStringLiteral("source"), row.source},
                        {QStringLiteral("target"), row.target},
                        {QStringLiteral("restored"), restored},
                        {QStringLiteral("error"), OrNull(row.restored ? row.error : row.reason)}});
    }
    out << QJsonDocument(QJsonObject{{QStringLiteral("journal"), OrNull(journalPath)},
                                     {QStringLiteral("rows"), array}})
               .toJson(QJsonDocument::Indented);
}

int Undo(const Options &options, QTextStream &out, QTextStream &err, bool errIsTerminal)
{
    QString error;
    const std::optional<journal::Journal> journal = JournalToUndo(options.undoJournal, error);
    if (!journal && !error.isEmpty()) {
        err << "move-rename-cli: " << error << '\n';
        return 2;
    }
    QTextStream &message = options.json ? err : out;
    if (!journal || journal->undone) {
        if (journal)
            message << "nothing to undo: " << journal->path << " is undone already\n";
        else
            message << "nothing to undo: no journal in " << journal::DefaultFolder()
                    << " that is not undone\n";
        if (options.json)
            PrintUndoJson(journal ? journal->path : QString(), {}, out);
        return 0;
    }

    QVector<journal::UndoRow> rows = journal::PlanUndo(*journal);
    if (!options.json)
        PrintUndoTable(*journal, rows, out);
    int failures = 0;
    if (options.apply) {
        ProgressLine progress(err, errIsTerminal, int(rows.size()));
        failures = journal::ApplyUndo(
            *journal, rows, [&](int index) { progress.StartRow(index); },
            [&](qint64 copied, qint64 size) { progress.Copied(copied, size); }, &error);
        progress.Clear();
        if (failures < 0) {
            err << "move-rename-cli: " << error << '\n';
            return 2;
        }
        for (const journal::UndoRow &row : std::as_const(rows)) {
            if (!*row.restored)
                err << "failed: " << row.target << " -> " << row.source << ": " << row.error
                    << '\n';
        }
        err.flush();
        message << rows.size() - failures << " put back, " << failures << " failed\n";
    }
    if (options.json)
        PrintUndoJson(journal->path, rows, out);
    return failures > 0 ? 1 : 0;
}

// Lists the journals of the default folder; one that cannot be read is named on err.
int History(QTextStream &out, QTextStream &err)
{
    QVector<QStringList> lines{{QStringLiteral("STARTED"), QStringLiteral("MOVED"),
                                QStringLiteral("UNDONE"), QStringLiteral("ROOT"),
                                QStringLiteral("JOURNAL")}};
    int unreadable = 0;
    for (const QString &path : journal::List(journal::DefaultFolder())) {
        QString error;
        const std::optional<journal::Journal> journal = journal::Read(path, &error);
        if (!journal) {
            err << "move-rename-cli: " << error << '\n';
            ++unreadable;
            continue;
        }
        lines.append(
            {journal->header.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
             QString::number(journal->MovedRows()), journal->UndoneText(), journal->header.root,
             path});
    }
    PrintColumns(lines, out);
    return unreadable > 0 ? 1 : 0;
}

} // namespace

int RunCli(const QStringList &arguments, QTextStream &out, QTextStream &err, bool errIsTerminal)
{
    Options options;
    QString error;
    switch (ParseArguments(arguments, options, error)) {
    case Action::Fail:
        err << "move-rename-cli: " << error << '\n';
        return 2;
    case Action::Help:
        out << kUsage;
        return 0;
    case Action::Version:
        out << "move-rename-cli " << MOVE_RENAME_VERSION << '\n';
        return 0;
    case Action::Run:
        break;
    }
    if (options.history)
        return History(out, err);
    if (options.undo)
        return Undo(options, out, err, errIsTerminal);
    return Run(options, out, err, errIsTerminal);
}
