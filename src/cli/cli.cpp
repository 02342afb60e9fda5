// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "cli.h"

#include "plan.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTextStream>

#include <optional>

namespace {

const char kUsage[] =
    R"(Usage: move-rename-cli [options] FOLDER...

Moves the largest file of every release folder into the root folder under a name built from
the folder's name, as the "Move & Rename" window does. Without --apply it only shows the plan.

One FOLDER stands for its subfolders and is the root folder. Several FOLDERs are the release
folders themselves, in the order given; their root is the deepest folder holding them all.

Options:
  --filename PATTERN  laid over each folder name: %1, %2, ... capture the parts between its
                      literal pieces (default: suggested from the folder names)
  --output PATTERN    the target name from those captures, the file's extension appended
                      (default: %1)
  --root DIR          the folder the files move into
  --apply             perform the moves; without it nothing on disk changes
  --json              print one JSON object instead of the table
  -h, --help          show this help
  --version           show the version

A row does not move when its target name is empty (empty), something already exists at its
target (exists) or an earlier row has the same target (duplicate).

Exit status: 0 done, 1 some row failed to move, 2 bad input.
)";

struct Options
{
    QStringList folders; // absolute and clean
    QString root;        // absolute; empty: follows from the folders
    std::optional<QString> filenamePattern;
    QString outputPattern = QStringLiteral("%1");
    bool apply = false;
    bool json = false;
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
    const QCommandLineOption apply(QStringLiteral("apply"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({filename, output, root, apply, json, help, version});

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
    if (parser.isSet(output))
        options.outputPattern = parser.value(output);
    options.apply = parser.isSet(apply);
    options.json = parser.isSet(json);

    if (parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("no FOLDER given (see --help)");
        return Action::Fail;
    }
    for (const QString &folder : parser.positionalArguments()) {
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

cli::Plan PlanFor(const Options &options)
{
    QString root;
    QStringList releaseFolders;
    if (options.folders.size() == 1) {
        root = options.folders.constFirst();
        releaseFolders = files::Subfolders(options.folders.constFirst());
    } else {
        root = cli::CommonParent(options.folders);
        releaseFolders = options.folders;
    }
    if (!options.root.isEmpty())
        root = options.root;
    return cli::MakePlan(files::WithTrailingSlash(root), releaseFolders, options.filenamePattern,
                         options.outputPattern);
}

void PrintTable(const cli::Plan &plan, QTextStream &out)
{
    out << "root: " << plan.root << '\n';
    if (plan.suggested)
        out << "filename pattern: " << plan.filenamePattern << '\n';

    QVector<QStringList> lines{{QStringLiteral("FOLDER"), QStringLiteral("SOURCE FILE"),
                                QStringLiteral("TARGET"), QStringLiteral("CONFLICT")}};
    for (const cli::PlanRow &row : plan.rows)
        lines.append({row.release.folder, row.release.fileName, row.target,
                      cli::ConflictName(row.conflict)});
    QVector<qsizetype> widths(lines.constFirst().size(), 0);
    for (const QStringList &cells : lines) {
        for (int column = 0; column < cells.size(); ++column)
            widths[column] = qMax(widths[column], cells.at(column).size());
    }
    for (const QStringList &cells : lines) {
        // Cells are padded only up to the last one with text, so no line ends in blanks.
        int last = int(cells.size()) - 1;
        while (last > 0 && cells.at(last).isEmpty())
            --last;
        for (int column = 0; column <= last; ++column) {
            out << cells.at(column);
            if (column < last)
                out << QString(widths[column] - cells.at(column).size() + 2, QLatin1Char(' '));
        }
        out << '\n';
    }
    if (plan.rows.isEmpty())
        out << "(no release folder holds a file)\n";
}

QJsonDocument ToJson(const cli::Plan &plan, bool applied)
{
    QJsonArray rows;
    for (const cli::PlanRow &row : plan.rows) {
        const QString name = cli::ConflictName(row.conflict);
        const QJsonValue conflict = name.isEmpty() ? QJsonValue() : QJsonValue(name);
        QJsonObject object{{QStringLiteral("folder"), row.release.folder},
                           {QStringLiteral("source"), row.release.absolutePath},
                           {QStringLiteral("target"), row.target},
                           {QStringLiteral("conflict"), conflict}};
        if (applied) {
            object.insert(QStringLiteral("moved"), row.moved);
            object.insert(QStringLiteral("error"),
                          row.moved ? QJsonValue() : QJsonValue(row.error));
        }
        rows.append(object);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("root"), plan.root},
                                     {QStringLiteral("filename_pattern"), plan.filenamePattern},
                                     {QStringLiteral("output_pattern"), plan.outputPattern},
                                     {QStringLiteral("rows"), rows}});
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

// Performs the moves, one line on err per failure; returns the number of failures.
int Apply(cli::Plan &plan, QTextStream &err, bool errIsTerminal)
{
    ProgressLine progress(err, errIsTerminal, int(plan.rows.size()));
    return cli::ApplyPlan(
        plan, [&](int index) { progress.StartRow(index); },
        [&](qint64 copied, qint64 size) { progress.Copied(copied, size); },
        [&](const cli::PlanRow &row) {
            progress.Clear();
            err << "failed: " << row.release.absolutePath << " -> " << row.targetPath << ": "
                << row.error << '\n';
            err.flush();
        });
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

    cli::Plan plan = PlanFor(options);
    if (!options.json) {
        PrintTable(plan, out);
        out.flush(); // the plan shows before the moves begin
    }
    int failures = 0;
    if (options.apply) {
        failures = Apply(plan, err, errIsTerminal);
        // With --json, standard output holds nothing but the JSON object.
        QTextStream &summary = options.json ? err : out;
        summary << plan.rows.size() - failures << " moved, " << failures << " failed\n";
    }
    if (options.json)
        out << ToJson(plan, options.apply).toJson(QJsonDocument::Indented);
    return failures > 0 ? 1 : 0;
}
