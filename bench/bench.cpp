// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

// Measures the costs a user feels, each beside a floor measured in the same run: a keystroke in
// the output pattern, the pattern suggestion, the folder scan on a disk and on a share, "Process",
// the journal of a command line run, a copy and hard links by the command line's actions, the
// memory the window needs for its rows, and the web server's scan, a screen of its rows and its
// memory. Makes its own data in a temporary folder and removes it.
//
// Usage: move-rename-bench [--quick] [--size N] [--only CASE] [--json FILE]
//                          [--plot FILE.svg [--from FILE.json]]

#include "naming.h"
#include "plan.h"
#include "plot.h"
#include "release.h"
#include "safemove.h"
#include "windowdriver.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QTextStream out(stdout);

struct Result
{
    QString name;
    int size = 0;
    double value = 0; // milliseconds, or megabytes for memory
    QString floorName;
    double floorValue = 0;
    bool memory = false;
};

QString Line(const Result &r)
{
    const QString unit = r.memory ? QStringLiteral(" MB") : QStringLiteral(" ms");
    return QStringLiteral("%1 %2 %3  %4 %5 %6")
        .arg(r.name, -23)
        .arg(r.size, 7)
        .arg(QString::number(r.value, 'f', 2) + unit, 12)
        .arg(r.floorName, -13)
        .arg(QString::number(r.floorValue, 'f', 2) + unit, 12)
        .arg(r.floorValue > 0 ? QString::number(r.value / r.floorValue, 'f', 2)
                              : QStringLiteral("-"),
             7);
}

// Records a result and shows it at once, so a long run shows its progress.
void Add(std::vector<Result> &results, const Result &result)
{
    results.push_back(result);
    out << "  " << Line(result) << '\n';
    out.flush();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Runs work repeats times and returns the median in milliseconds.
double MedianMs(int repeats, const std::function<void()> &work)
{
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    return Median(times);
}

QString FolderName(int i)
{
    return QStringLiteral("Show.S01E%1.720p.HDTV.x264-GRP").arg(i, 6, 10, QLatin1Char('0'));
}

void WaitUntilShown(WindowDriver &window)
{
    if (!QTest::qWaitForWindowExposed(&window.gui))
        qFatal("the window did not show");
}

// A season of count release folders, each holding a media file, a sample and an .nfo file; the
// folders named by name.
void MakeSeason(const QString &season, int count, int filesPerFolder,
                const std::function<QString(int)> &name = FolderName)
{
    QDir().mkpath(season);
    for (int i = 0; i < count; ++i) {
        const QByteArray folder = QFile::encodeName(season + QLatin1Char('/') + name(i));
        ::mkdir(folder.constData(), 0755);
        const char *names[] = {"/show.s01e.720p.hdtv.x264-grp.mkv", "/sample.mkv", "/grp.nfo"};
        const int sizes[] = {300, 20, 10};
        for (int f = 0; f < filesPerFolder; ++f) {
            FILE *file = std::fopen((folder + names[f]).constData(), "wb");
            const QByteArray data(sizes[f], 'x');
            std::fwrite(data.constData(), 1, data.size(), file);
            std::fclose(file);
        }
    }
}

// Fills the window with the rows of season through its folder dialog; returns the time from
// the dialog's acceptance to the filled table.
double Scan(WindowDriver &window, const QString &season)
{
    QElapsedTimer timer;
    QString error;
    window.OpenFolders({QFileInfo(season).absolutePath(), {QFileInfo(season).fileName()}, true},
                       &error, [&] { timer.start(); });
    const double ms = timer.nsecsElapsed() / 1e6;
    if (!error.isEmpty())
        qFatal("scan: %s", qPrintable(error));
    return ms;
}

double FindMs(const QString &season)
{
    QProcess find;
    find.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    find.start(QStringLiteral("find"),
               {season, QStringLiteral("-mindepth"), QStringLiteral("2"),
                QStringLiteral("-maxdepth"), QStringLiteral("2"), QStringLiteral("-type"),
                QStringLiteral("f"), QStringLiteral("-printf"), QStringLiteral("%s %p\\n")});
    find.waitForFinished(-1);
    return timer.nsecsElapsed() / 1e6;
}

// Median time of a keystroke in the output pattern, alternately typing and deleting an "x".
double KeystrokeMs(WindowDriver &window)
{
    window.output->setText(QStringLiteral("Show - 1x%1"));
    QCoreApplication::processEvents();
    bool typed = false;
    return MedianMs(9, [&] {
        QTest::keyClick(window.output, typed ? Qt::Key_Backspace : Qt::Key_X);
        typed = !typed;
        QCoreApplication::processEvents(); // the repaint
    });
}

void BenchScanKeystrokeSuggestion(const QString &work, int n, std::vector<Result> &results)
{
    const QString season = work + QStringLiteral("/scan/Season");
    MakeSeason(season, n, 3);

    WindowDriver window;
    WaitUntilShown(window);
    window.filename->setText(QStringLiteral("Show.S01E%1.720p")); // no suggestion while scanning
    const int repeats = n >= 100000 ? 3 : 5;
    std::vector<double> scans;
    for (int i = 0; i < repeats; ++i)
        scans.push_back(Scan(window, season));
    const double find = MedianMs(repeats, [&] { FindMs(season); });
    Add(results, {QStringLiteral("scan"), n, Median(scans), QStringLiteral("find"), find});

    // Keystroke: one character into the output pattern, until every row shows its new target
    // and the view has repainted. Once in this window, whose rows were rebuilt by every scan,
    // and once in a window that scanned once: the rows' scattered memory makes the difference.
    QStringList subjects, fileNames;
    for (int row = 0; row < window.tree->topLevelItemCount(); ++row) {
        subjects.append(window.tree->topLevelItem(row)->text(0));
        fileNames.append(window.tree->topLevelItem(row)->text(1));
    }
    const double rescanned = KeystrokeMs(window);
    QStringList targets;
    const double engine = MedianMs(9, [&] {
        const naming::Patterns patterns(window.filename->text(), window.output->text());
        targets = QStringList();
        targets.reserve(subjects.size());
        for (int row = 0; row < subjects.size(); ++row)
            targets.append(patterns.TargetName(subjects.at(row), fileNames.at(row)));
    });
    if (targets.size() != window.tree->topLevelItemCount())
        qFatal("keystroke: %d rows in the window, %d names", window.tree->topLevelItemCount(),
               int(targets.size()));
    for (int row = 0; row < targets.size(); ++row) {
        if (window.tree->topLevelItem(row)->text(2) != targets.at(row))
            qFatal("keystroke: the window and the engine disagree on row %d", row);
    }
    {
        WindowDriver fresh;
        WaitUntilShown(fresh);
        fresh.filename->setText(window.filename->text());
        Scan(fresh, season);
        Add(results,
            {QStringLiteral("keystroke"), n, KeystrokeMs(fresh), QStringLiteral("engine"), engine});
    }
    Add(results, {QStringLiteral("keystroke after rescans"), n, rescanned, QStringLiteral("engine"),
                  engine});

    // Suggestion: the common prefix and the tag-anchored suffix of the rows' folder texts, which
    // the window gathers while it scans, as it does after a scan; beside a plain common prefix.
    const QStringList tags = naming::ReleaseTags();
    QString suggested;
    const double suggestion = MedianMs(9, [&] {
        suggested = naming::SuggestedFilenamePattern(
            naming::CommonPrefix(subjects), naming::CommonTagSuffix(subjects, tags), QString());
    });
    int prefixLength = 0;
    const double plainPrefix = MedianMs(9, [&] {
        prefixLength = subjects.first().size();
        for (const QString &text : std::as_const(subjects)) {
            const auto end = text.cbegin() + std::min<qsizetype>(prefixLength, text.size());
            prefixLength =
                std::mismatch(text.cbegin(), end, subjects.first().cbegin()).first - text.cbegin();
        }
    });
    if (!suggested.startsWith(subjects.first().left(prefixLength)))
        qFatal("suggestion: unexpected pattern %s", qPrintable(suggested));
    Add(results,
        {QStringLiteral("suggestion"), n, suggestion, QStringLiteral("plain prefix"), plainPrefix});
    QDir(work + QStringLiteral("/scan")).removeRecursively();
}

// A folder in the one open at dirFd, opened as the program's must be at least: following no link.
int OpenFolderIn(int dirFd, const QByteArray &name)
{
    return ::openat(dirFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The floor of "Process": the renames with what the window cannot leave out per row: the row's
// folder opened beneath the root (held open once) to rename the file from it by its name, the
// row's item leaving a table of the same rows and one pass of the event loop. The table is not
// shown, so that nothing is laid out or painted. A function of its own, so that a profile shows
// its cost beside the window's.
Q_NEVER_INLINE double RowLoopMs(const QByteArray &root, const std::vector<QByteArray> &folders,
                                const QByteArray &name, const std::vector<QByteArray> &to)
{
    const int n = int(folders.size());
    QTreeWidget tree;
    QList<QTreeWidgetItem *> items;
    for (int f = 0; f < n; ++f)
        items.append(
            new QTreeWidgetItem({FolderName(f), QStringLiteral("show.s01e.720p.hdtv.x264-grp.mkv"),
                                 QString::number(f) + QStringLiteral(".mkv")}));
    tree.addTopLevelItems(items);
    QElapsedTimer timer;
    timer.start();
    const int rootFd = ::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int f = 0; f < n; ++f) {
        const int folder = OpenFolderIn(rootFd, folders[f]);
        ::renameat(folder, name.constData(), rootFd, to[f].constData());
        ::close(folder);
        delete tree.topLevelItem(0);
        QCoreApplication::processEvents();
    }
    ::close(rootFd);
    return timer.nsecsElapsed() / 1e6;
}

void BenchMove(const QString &work, int n, bool withMmv, std::vector<Result> &results)
{
    const QString root = work + QStringLiteral("/move");
    // Every repeat needs three fresh trees. Each figure moves with the machine by a fifth, apart
    // from the others (ten repeats at 100,000 rows: "Process" 0.94 to 1.40 times its row loop),
    // and the median of five still moved by a tenth from run to run: the median of nine.
    const int repeats = 9;
    std::vector<double> process, renames, rowLoops, mmvs;
    for (int i = 0; i < repeats; ++i) {
        // The window's "Process" over n ticked rows.
        QDir(root).removeRecursively();
        MakeSeason(root + QStringLiteral("/Season"), n, 1);
        {
            WindowDriver window;
            WaitUntilShown(window);
            Scan(window, root + QStringLiteral("/Season"));
            // The table the scan filled is laid out and painted first: that is the scan's work.
            QCoreApplication::processEvents();
            QElapsedTimer timer;
            timer.start();
            QTest::mouseClick(window.process, Qt::LeftButton);
            process.push_back(timer.nsecsElapsed() / 1e6);
            if (window.tree->topLevelItemCount() != 0)
                qFatal("move: %d rows left", window.tree->topLevelItemCount());
        }

        // rename(2) over an identical tree.
        QDir(root).removeRecursively();
        MakeSeason(root + QStringLiteral("/Season"), n, 1);
        std::vector<QByteArray> from, to, folders, names;
        for (int f = 0; f < n; ++f) {
            folders.push_back(QFile::encodeName(FolderName(f)));
            names.push_back(QFile::encodeName(QString::number(f) + QStringLiteral(".mkv")));
            const QString folder = root + QStringLiteral("/Season/") + FolderName(f);
            from.push_back(
                QFile::encodeName(folder + QStringLiteral("/show.s01e.720p.hdtv.x264-grp.mkv")));
            to.push_back(QFile::encodeName(root + QStringLiteral("/Season/") + QString::number(f) +
                                           QStringLiteral(".mkv")));
        }
        QElapsedTimer timer;
        timer.start();
        for (int f = 0; f < n; ++f)
            ::rename(from[f].constData(), to[f].constData());
        renames.push_back(timer.nsecsElapsed() / 1e6);

        // The same renames with what the window cannot leave out per row.
        QDir(root).removeRecursively();
        MakeSeason(root + QStringLiteral("/Season"), n, 1);
        rowLoops.push_back(RowLoopMs(QFile::encodeName(root + QStringLiteral("/Season")), folders,
                                     "show.s01e.720p.hdtv.x264-grp.mkv", names));

        if (withMmv) {
            QDir(root).removeRecursively();
            MakeSeason(root + QStringLiteral("/Season"), n, 1);
            QProcess mmv;
            mmv.setWorkingDirectory(root + QStringLiteral("/Season"));
            mmv.setStandardOutputFile(QProcess::nullDevice());
            timer.start();
            mmv.start(QStringLiteral("mmv"),
                      {QStringLiteral("-m"), QStringLiteral("*/*.mkv"), QStringLiteral("#1.mkv")});
            mmv.waitForFinished(-1);
            mmvs.push_back(timer.nsecsElapsed() / 1e6);
            if (mmv.exitCode() != 0)
                qFatal("mmv failed: %s", mmv.readAllStandardError().constData());
        }
    }
    Add(results, {QStringLiteral("move"), n, Median(process), QStringLiteral("rename loop"),
                  Median(renames)});
    Add(results,
        {QStringLiteral("move"), n, Median(process), QStringLiteral("row loop"), Median(rowLoops)});
    if (withMmv)
        Add(results,
            {QStringLiteral("move"), n, Median(process), QStringLiteral("mmv"), Median(mmvs)});
    QDir(root).removeRecursively();
}

// move-rename-cli --apply over n release folders as a process, with its journal (in a folder on
// the temporary folder's file system, usually a disk, so that its flush costs what it costs
// there) beside the same run with --no-journal.
void BenchJournal(const QString &work, int n, std::vector<Result> &results)
{
    const QString season = work + QStringLiteral("/journal/Season");
    QTemporaryDir state;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_STATE_HOME"), state.path());
    std::vector<double> journaled, bare;
    for (int i = 0; i < 5; ++i) {
        for (const bool journal : {true, false}) {
            QDir(season).removeRecursively();
            MakeSeason(season, n, 1);
            QProcess cli;
            cli.setProcessEnvironment(environment);
            cli.setStandardOutputFile(QProcess::nullDevice());
            QStringList arguments{QStringLiteral("--apply"), QStringLiteral("--filename"),
                                  QStringLiteral("Show.S01E%1.720p.HDTV.x264-GRP"), season};
            if (!journal)
                arguments.append(QStringLiteral("--no-journal"));
            QElapsedTimer timer;
            timer.start();
            cli.start(QStringLiteral(CLI_PATH), arguments);
            cli.waitForFinished(-1);
            (journal ? journaled : bare).push_back(timer.nsecsElapsed() / 1e6);
            if (cli.exitCode() != 0)
                qFatal("journal: the run failed: %s", cli.readAllStandardError().constData());
        }
    }
    Add(results, {QStringLiteral("apply, journal"), n, Median(journaled),
                  QStringLiteral("no journal"), Median(bare)});
    QDir(work + QStringLiteral("/journal")).removeRecursively();
}

// move-rename-cli showing its plan for season, as a user runs it.
void Preview(const QString &season)
{
    QProcess cli;
    cli.setStandardOutputFile(QProcess::nullDevice());
    cli.start(QStringLiteral(CLI_PATH), {season});
    if (!cli.waitForFinished(-1) || cli.exitCode() != 0)
        qFatal("cli preview failed: %s", cli.readAllStandardError().constData());
}

// move-rename-cli showing its plan for a season of n folders beside find listing the same files.
void BenchCliPreview(const QString &work, int n, std::vector<Result> &results)
{
    const QString season = work + QStringLiteral("/cli/Season");
    MakeSeason(season, n, 3);
    const int repeats = n >= 100000 ? 3 : 5;
    const double cli = MedianMs(repeats, [&] { Preview(season); });
    const double find = MedianMs(repeats, [&] { FindMs(season); });
    Add(results, {QStringLiteral("cli preview"), n, cli, QStringLiteral("find"), find});
    QDir(work + QStringLiteral("/cli")).removeRecursively();
}

// The name of release folder i of a mixed download folder: four episodes to a film, 250 shows
// whose names hold a number, of 20 seasons of 20 episodes each.
QString DownloadName(int i)
{
    const QLatin1Char zero('0');
    if (i % 5 == 4)
        return QStringLiteral("Quiet.Harbour.%1.%2.1080p.BluRay.x264-GRP")
            .arg(i)
            .arg(1950 + i % 70);
    return QStringLiteral("Harbour.Lights.%1.S%2E%3.720p.HDTV.x264-GRP")
        .arg(i / 400)
        .arg((i % 400) / 20 + 1, 2, 10, zero)
        .arg(i % 20 + 1, 2, 10, zero);
}

// move-rename-cli --library placing a mixed download folder of n release folders into an empty
// library, beside the plain preview of the same folders into the same root; and the fields of
// every folder's name read in this process, printed as the time for one name.
void BenchLibrary(const QString &work, int n, std::vector<Result> &results)
{
    const QString downloads = work + QStringLiteral("/library/downloads");
    const QString root = work + QStringLiteral("/library/media");
    MakeSeason(downloads, n, 3, DownloadName);
    QDir().mkpath(root);
    const auto preview = [&](bool library) {
        QProcess cli;
        cli.setStandardOutputFile(QProcess::nullDevice());
        QStringList arguments{QStringLiteral("--root"), root, downloads};
        if (library)
            arguments.prepend(QStringLiteral("--library"));
        cli.start(QStringLiteral(CLI_PATH), arguments);
        if (!cli.waitForFinished(-1) || cli.exitCode() != 0)
            qFatal("library preview failed: %s", cli.readAllStandardError().constData());
    };
    // The two in turn, so that a machine busy for a while weighs on both alike.
    std::vector<double> library;
    std::vector<double> plain;
    for (int repeat = 0; repeat < (n >= 100000 ? 3 : 5); ++repeat) {
        library.push_back(MedianMs(1, [&] { preview(true); }));
        plain.push_back(MedianMs(1, [&] { preview(false); }));
    }
    Add(results, {QStringLiteral("library"), n, Median(library), QStringLiteral("cli preview"),
                  Median(plain)});

    QStringList names;
    for (int i = 0; i < n; ++i)
        names.append(DownloadName(i));
    int recognised = 0;
    const double readMs = MedianMs(5, [&] {
        recognised = 0;
        for (const QString &name : std::as_const(names))
            recognised += naming::ReadReleaseName(name, 2027).kind !=
                          naming::ReleaseFields::Kind::NotRecognised;
    });
    out << "  reading the fields of a release name: " << QString::number(readMs * 1000 / n, 'f', 3)
        << " us a name (" << recognised << " of " << n << " recognised)\n";
    out.flush();
    QDir(work + QStringLiteral("/library")).removeRecursively();
}

// A season of 2,000 release folders on the tests' share, made to wait 1 ms on every call it
// serves and to serve several at once, as a file server on a network does: the window's scan and
// the command line's preview beside find over the same share, and the calls each made into it.
void BenchShare(const QString &work, bool quick, std::vector<Result> &results)
{
    constexpr int n = 2000;
    const QString backing = work + QStringLiteral("/share-backing");
    const QString mountPoint = work + QStringLiteral("/share");
    MakeSeason(backing + QStringLiteral("/Season"), n, 3);
    QDir().mkpath(mountPoint);
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral(SHARE_PATH), {QStringLiteral("--delay"), QStringLiteral("1"),
                                              QStringLiteral("--threads"), backing, mountPoint});
    if (!server.waitForReadyRead(30000)) {
        out << "  scan on a share: skipped, the share did not mount\n";
        server.waitForFinished(1000);
        QDir(backing).removeRecursively();
        return;
    }
    server.readAll(); // "mounted"
    // The calls the share served since the last question, per run of runs, by operation. Each
    // question is numbered, so that no answer to an earlier one is taken for its own.
    int question = 0;
    const auto calls = [&](int runs) {
        const QByteArray number = QByteArray::number(++question);
        server.write(number + '\n');
        QStringList ops;
        while (ops.value(0) != QLatin1String(number)) {
            while (!server.canReadLine())
                server.waitForReadyRead(-1);
            ops = QString::fromUtf8(server.readLine().trimmed()).split(QLatin1Char(' '));
        }
        ops.removeFirst();
        int total = 0;
        for (QString &op : ops) {
            const int count = op.section(QLatin1Char('='), 1).toInt() / runs;
            total += count;
            op = op.section(QLatin1Char('='), 0, 0) + QLatin1Char('=') + QString::number(count);
        }
        return QStringLiteral("%1 (%2)").arg(total).arg(ops.join(QLatin1Char(' ')));
    };
    // find takes tens of seconds here, and asks the same each time.
    const int repeats = quick ? 1 : 3;
    const QString season = mountPoint + QStringLiteral("/Season");
    calls(1);
    const double find = MedianMs(repeats, [&] { FindMs(season); });
    const QString findCalls = calls(repeats);
    const double cli = MedianMs(repeats, [&] { Preview(season); });
    const QString cliCalls = calls(repeats);
    Add(results, {QStringLiteral("cli preview on a share"), n, cli, QStringLiteral("find"), find});
    {
        WindowDriver window;
        WaitUntilShown(window);
        window.filename->setText(QStringLiteral("Show.S01E%1.720p"));
        std::vector<double> scans;
        calls(1);
        for (int i = 0; i < repeats; ++i)
            scans.push_back(Scan(window, season));
        const QString windowCalls = calls(repeats);
        if (window.tree->topLevelItemCount() != n)
            qFatal("scan on a share: %d rows", window.tree->topLevelItemCount());
        Add(results,
            {QStringLiteral("scan on a share"), n, Median(scans), QStringLiteral("find"), find});
        out << "  calls into the share, each run: find " << findCalls << "\n"
            << "    cli preview " << cliCalls << "\n    window (dialog and scan) " << windowCalls
            << '\n';
    }
    server.closeWriteChannel(); // unmounts
    server.waitForFinished(30000);
    QDir(backing).removeRecursively();
}

// move-rename-web as a process on a free loopback port, spoken to over a kept-alive connection,
// as a page does.
class WebServer
{
public:
    WebServer(const QString &root, const QString &state)
    {
        QDir().mkpath(state);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), state);
        environment.insert(QStringLiteral("XDG_STATE_HOME"), state);
        process.setProcessEnvironment(environment);
        // The log of every request goes to a file, which the first line is read from.
        const QString log = state + QStringLiteral("/log");
        process.setStandardErrorFile(log);
        process.start(QStringLiteral(WEB_PATH),
                      {QStringLiteral("--root"), root, QStringLiteral("--listen"),
                       QStringLiteral("127.0.0.1:0")});
        QByteArray line;
        for (int waited = 0; !line.contains('\n') && waited < 1000; ++waited) {
            QThread::msleep(10);
            QFile file(log);
            if (file.open(QIODevice::ReadOnly))
                line = file.readLine();
        }
        const int port = line.mid(line.lastIndexOf(':') + 1).chopped(2).toInt();
        if (port == 0)
            qFatal("web: the server did not start: %s", line.constData());
        address.sin_family = AF_INET;
        address.sin_port = htons(quint16(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        Connect();
    }
    ~WebServer()
    {
        ::close(fd);
        process.terminate();
        process.waitForFinished(-1);
    }

    // The body of the answer to one request; fails the benchmark on any status but 200.
    QByteArray Request(const QByteArray &method, const QByteArray &path,
                       const QByteArray &body = QByteArray())
    {
        QByteArray request = method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        if (!body.isEmpty())
            request += "Content-Type: application/json\r\nContent-Length: " +
                       QByteArray::number(body.size()) + "\r\n";
        request += "\r\n" + body;
        ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
        QByteArray answer;
        qsizetype end = -1;
        qsizetype length = -1;
        char buffer[65536];
        while (end < 0 || answer.size() < end + 4 + length) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0 && answer.isEmpty()) {
                // The server ends a kept-alive connection after some requests.
                Connect();
                ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
                continue;
            }
            if (n <= 0)
                qFatal("web: the server closed the connection");
            answer.append(buffer, n);
            end = answer.indexOf("\r\n\r\n");
            const qsizetype at = answer.indexOf("Content-Length: ");
            if (end >= 0 && at >= 0 && at < end)
                length = answer.mid(at + 16, answer.indexOf('\r', at) - at - 16).toLongLong();
        }
        if (!answer.startsWith("HTTP/1.1 200"))
            qFatal("web: %s %s: %s", method.constData(), path.constData(), answer.constData());
        return answer.mid(end + 4);
    }

    // The id of a new scan of the root's folder Season.
    QByteArray Scan()
    {
        const QByteArray answer =
            Request("POST", "/api/scans", R"({"root": 0, "folders": ["Season"]})");
        return QJsonDocument::fromJson(answer)
            .object()
            .value(QStringLiteral("scan"))
            .toString()
            .toLatin1();
    }

    // What the server holds in memory now, in MB.
    double ResidentMb() const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
        status.open(QIODevice::ReadOnly);
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
        }
        return 0;
    }

    // A connection of its own from source, a loopback address; -1 when the server refused it.
    int Open(const QByteArray &source) const
    {
        const int other = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in from = {};
        from.sin_family = AF_INET;
        ::inet_pton(AF_INET, source.constData(), &from.sin_addr);
        if (::bind(other, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0 ||
            ::connect(other, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
            qFatal("web: cannot connect from %s", source.constData());
        return other;
    }

private:
    void Connect()
    {
        if (fd >= 0)
            ::close(fd);
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            qFatal("web: cannot connect to the server");
    }

    QProcess process;
    sockaddr_in address = {};
    int fd = -1;
};

// A screen of rows at the 99th percentile while 16 connections trickle a byte a second into
// their headers and 64 stay idle, each from the 127.0.1.x addresses, beside the same without
// them. Slow and idle clients must not keep others waiting: the goal is at most twice.
void BenchWebAttack(WebServer &server, const QByteArray &rows, int n, std::vector<Result> &results)
{
    int keystroke = 0;
    // A thousand requests, so that the percentile rests on ten of them, not two.
    const auto p99 = [&](int count = 1000) {
        std::vector<double> times;
        for (int i = 0; i < count; ++i) {
            QElapsedTimer timer;
            timer.start();
            server.Request("GET",
                           rows + "&offset=0&output=A%251x" + QByteArray::number(++keystroke));
            times.push_back(timer.nsecsElapsed() / 1e6);
        }
        std::sort(times.begin(), times.end());
        return times[times.size() * 99 / 100];
    };
    p99(200); // warms up
    const double quiet = p99();
    std::vector<int> trickling;
    std::vector<int> idle;
    for (int i = 0; i < 80; ++i) // 16 from each address: as many as the server takes from one
        (i < 16 ? trickling : idle)
            .push_back(server.Open("127.0.1." + QByteArray::number(1 + i / 16)));
    std::atomic<bool> done{false};
    std::thread trickle([&] {
        const char request[] = "GET /api/roots HTTP/1.1\r\nHost: 127.0.0.1\r\nX: ";
        for (size_t at = 0; !done; ++at) {
            for (const int fd : trickling)
                ::send(fd, request + std::min(at, std::strlen(request) - 1), 1, MSG_NOSIGNAL);
            for (int tenth = 0; tenth < 10 && !done; ++tenth)
                QThread::msleep(100);
        }
    });
    QThread::msleep(1500); // the trickle under way
    const double attacked = p99();
    done = true;
    trickle.join();
    for (const int fd : trickling)
        ::close(fd);
    for (const int fd : idle)
        ::close(fd);
    Add(results,
        {QStringLiteral("web under attack"), n, attacked, QStringLiteral("rows, p99"), quiet});
}

// The web server scanning a season of n folders through the API, beside the command line's
// preview of it; a screen of 50 rows, as typing and as scrolling ask for it, beside a request
// that does nothing; and the memory that holds the scan, beside the idle server.
void BenchWeb(const QString &work, int n, std::vector<Result> &results)
{
    const QString root = work + QStringLiteral("/web");
    const QString state = work + QStringLiteral("/web-state");
    MakeSeason(root + QStringLiteral("/Season"), n, 3);
    const int repeats = n >= 100000 ? 3 : 5;
    QByteArray sid;
    {
        WebServer server(root, state);
        const double scanMs = MedianMs(repeats, [&] { sid = server.Scan(); });
        const double cliMs = MedianMs(repeats, [&] {
            QProcess cli;
            cli.setStandardOutputFile(QProcess::nullDevice());
            cli.start(QStringLiteral(CLI_PATH), {root + QStringLiteral("/Season")});
            cli.waitForFinished(-1);
        });
        Add(results, {QStringLiteral("web scan"), n, scanMs, QStringLiteral("cli preview"), cliMs});

        const QByteArray rows = "/api/scans/" + sid + "/rows?filename=Show.S01E%251.720p&limit=50";
        const double floorMs = MedianMs(50, [&] { server.Request("GET", "/api/roots"); });
        // Each keystroke a new output pattern, the screen at the top.
        int keystroke = 0;
        const double typingMs = MedianMs(50, [&] {
            server.Request("GET",
                           rows + "&offset=0&output=E%251x" + QByteArray::number(++keystroke));
        });
        Add(results, {QStringLiteral("web rows, typing"), n, typingMs, QStringLiteral("GET roots"),
                      floorMs});
        BenchWebAttack(server, rows, n, results);
        // The first screen in the middle indexes the targets of every row above it; the next
        // screens reuse that.
        const double firstMs = MedianMs(1, [&] {
            server.Request("GET", rows + "&output=E%251&offset=" + QByteArray::number(n / 2));
        });
        int screen = 0;
        const double scrollMs = MedianMs(50, [&] {
            server.Request("GET", rows + "&output=E%251&offset=" +
                                      QByteArray::number((n / 2 + 50 * ++screen) % n));
        });
        Add(results, {QStringLiteral("web rows, scrolling"), n, scrollMs,
                      QStringLiteral("GET roots"), floorMs});
        Add(results, {QStringLiteral("web rows, 1st in middle"), n, firstMs,
                      QStringLiteral("GET roots"), floorMs});
    }
    // A fresh server holding one scan, every row indexed, as scrolling to the end leaves it.
    WebServer server(root, state);
    const double idleMb = server.ResidentMb();
    sid = server.Scan();
    server.Request("GET", "/api/scans/" + sid +
                              "/rows?filename=Show.S01E%251.720p&output=E%251&limit=50&offset=" +
                              QByteArray::number(n - 50));
    Add(results, {QStringLiteral("web memory"), n, server.ResidentMb(),
                  QStringLiteral("idle server"), idleMb, true});
    QDir(root).removeRecursively();
}

// One file of 128 MiB, then of 1 GiB, moved to another file system: the window's safe move
// beside GNU mv. Both
// file systems are memory-backed where a tmpfs can be mounted, so that the copy is measured and
// not a shared disk; on a disk, the move's flush to disk, which mv does not do, would dominate.
void BenchMoveAcross(const QString &work, std::vector<Result> &results)
{
    constexpr qint64 Mib = 1 << 20;
    const QString from = work + QStringLiteral("/across-from");
    QString to = work + QStringLiteral("/across");
    QDir().mkpath(from);
    QDir().mkpath(to);
    const bool mounted =
        QProcess::execute(QStringLiteral("mount"),
                          {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                           QStringLiteral("size=2g"), QStringLiteral("tmpfs"), to}) == 0;
    QTemporaryDir elsewhere(QDir::tempPath() + QStringLiteral("/move-rename-across-XXXXXX"));
    if (!mounted)
        to = elsewhere.path(); // where the temp folder's file system differs from the data's
    const QString fileSystems = QStorageInfo(from).fileSystemType() + QStringLiteral(" to ") +
                                QStorageInfo(to).fileSystemType();
    if (QStorageInfo(to) == QStorageInfo(from)) {
        out << "  cross-fs move: skipped, no second file system to move to\n";
        QDir(from).removeRecursively();
        return;
    }
    out << "  cross-fs move: " << fileSystems << '\n';
    const QString source = from + QStringLiteral("/big.mkv");
    const QString target = to + QStringLiteral("/big.mkv");
    for (const qint64 size : {128 * Mib, 1024 * Mib}) {
        // The file is written by a process of its own: a gigabyte written by this thread made
        // the next gigabyte it copied take twice as long, which would have been charged to the
        // move rather than to the writing.
        const auto make = [&] {
            const QString write =
                QStringLiteral("head -c %1 /dev/zero >'%2'").arg(size).arg(source);
            if (QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), write}) != 0)
                qFatal("cross-fs move: cannot write %s", qPrintable(source));
        };
        std::vector<double> ours, mv;
        const auto timed = [&](std::vector<double> &times, const std::function<bool()> &move) {
            make();
            QElapsedTimer timer;
            timer.start();
            if (!move())
                qFatal("cross-fs move: a move failed");
            times.push_back(timer.nsecsElapsed() / 1e6);
            if (QFileInfo(target).size() != size || QFile::exists(source))
                qFatal("cross-fs move: the file did not arrive whole");
            QFile::remove(target);
        };
        const auto safeMove = [&] { return files::MoveFile(source, target); };
        const auto gnuMv = [&] {
            return QProcess::execute(QStringLiteral("mv"), {source, target}) == 0;
        };
        // The first round of each size only warms up: the first gigabyte that a fresh memory
        // file system takes costs either side up to three times what later ones do. Which side
        // goes first changes every round, so that neither always follows the other's freeing.
        for (int i = 0; i < 7; ++i) {
            if (i % 2) {
                timed(ours, safeMove);
                timed(mv, gnuMv);
            } else {
                timed(mv, gnuMv);
                timed(ours, safeMove);
            }
            if (i == 0)
                ours.clear(), mv.clear();
        }
        Add(results, {QStringLiteral("cross-fs move (MiB)"), int(size / Mib), Median(ours),
                      QStringLiteral("GNU mv"), Median(mv)});
    }
    if (mounted)
        QProcess::execute(QStringLiteral("umount"), {to});
    QDir(from).removeRecursively();
}

// One file of 1 GiB copied on one file system by the copy action, beside GNU cp. The copy action
// flushes the copy to disk before it publishes it, which cp does not; in memory that costs
// nothing, so the copy itself is compared.
void BenchCopy(const QString &work, std::vector<Result> &results)
{
    constexpr qint64 size = qint64(1) << 30;
    const QString folder = work + QStringLiteral("/copy");
    const QString source = folder + QStringLiteral("/big.mkv");
    const QString target = folder + QStringLiteral("/copy.mkv");
    QDir().mkpath(folder);
    const QString write = QStringLiteral("head -c %1 /dev/zero >'%2'").arg(size).arg(source);
    if (QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), write}) != 0)
        qFatal("copy: cannot write %s", qPrintable(source));
    std::vector<double> ours, cp;
    const auto timed = [&](std::vector<double> &times, const std::function<bool()> &copy) {
        QElapsedTimer timer;
        timer.start();
        if (!copy())
            qFatal("copy: a copy failed");
        times.push_back(timer.nsecsElapsed() / 1e6);
        if (QFileInfo(target).size() != size || !QFile::remove(target))
            qFatal("copy: the copy did not arrive whole");
    };
    const auto action = [&] {
        return files::PlaceFile(files::Action::Copy, source, folder, QStringLiteral("copy.mkv"));
    };
    const auto gnuCp = [&] {
        return QProcess::execute(QStringLiteral("cp"), {source, target}) == 0;
    };
    // The first round only warms up; which side goes first changes every round.
    for (int i = 0; i < 7; ++i) {
        timed(i % 2 ? ours : cp, i % 2 ? std::function<bool()>(action) : gnuCp);
        timed(i % 2 ? cp : ours, i % 2 ? std::function<bool()>(gnuCp) : action);
        if (i == 0)
            ours.clear(), cp.clear();
    }
    Add(results, {QStringLiteral("copy (MiB)"), int(size >> 20), Median(ours),
                  QStringLiteral("GNU cp"), Median(cp)});
    QDir(folder).removeRecursively();
}

// n rows hard-linked by the plan library with its journal (beside the data), beside a bare loop
// of link(2) over the same files: what the run adds to the links themselves.
void BenchHardlink(const QString &work, int n, std::vector<Result> &results)
{
    const QString season = work + QStringLiteral("/hardlink/Season");
    MakeSeason(season, n, 1);
    std::vector<double> ours, bare;
    for (int i = 0; i < 5; ++i) {
        plan::Plan made = plan::MakePlan(season + QLatin1Char('/'), files::Subfolders(season),
                                         QStringLiteral("Show.S01E%1.720p.HDTV.x264-GRP"),
                                         QStringLiteral("%1"), false, files::Action::Hardlink);
        std::vector<std::pair<QByteArray, QByteArray>> links;
        std::vector<std::array<QByteArray, 3>> beneath; // folder, file, target in the season
        for (const plan::PlanRow &row : std::as_const(made.rows)) {
            links.emplace_back(QFile::encodeName(row.release.absolutePath),
                               QFile::encodeName(row.targetPath));
            beneath.push_back({QFile::encodeName(row.release.folder),
                               QFile::encodeName(row.release.fileName),
                               QFile::encodeName(row.target)});
        }
        const auto unlinkAll = [&] {
            for (const auto &link : links)
                ::unlink(link.second.constData());
        };
        QString error;
        QElapsedTimer timer;
        timer.start();
        const int failures = plan::ApplyPlan(
            made, work + QStringLiteral("/hardlink/%1.jsonl").arg(i), {}, {}, {}, &error);
        ours.push_back(timer.nsecsElapsed() / 1e6);
        if (failures != 0 || int(links.size()) != n)
            qFatal("hardlink: the run failed: %s", qPrintable(error));
        unlinkAll();
        // The links from each row's folder, opened beneath the season as the run's must be.
        timer.restart();
        const int rootFd = ::open(QFile::encodeName(season).constData(), O_RDONLY | O_DIRECTORY);
        for (const auto &[folder, file, target] : beneath) {
            const int folderFd = OpenFolderIn(rootFd, folder);
            if (::linkat(folderFd, file.constData(), rootFd, target.constData(), 0) != 0)
                qFatal("hardlink: link(2) failed");
            ::close(folderFd);
        }
        ::close(rootFd);
        bare.push_back(timer.nsecsElapsed() / 1e6);
        unlinkAll();
    }
    Add(results,
        {QStringLiteral("hardlink"), n, Median(ours), QStringLiteral("link loop"), Median(bare)});
    QDir(work + QStringLiteral("/hardlink")).removeRecursively();
}

// Peak resident memory in MB of a child process holding a window with n rows.
double PeakMb(const QString &work, int n)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--memory-child"), work, QString::number(n)});
    child.waitForFinished(-1);
    return child.readAllStandardOutput().trimmed().toDouble();
}

int MemoryChild(const QString &work, int n)
{
    const QString season = work + QStringLiteral("/memory/Season");
    {
        WindowDriver window;
        WaitUntilShown(window);
        Scan(window, season);
        QCoreApplication::processEvents();
        if (window.tree->topLevelItemCount() != n)
            qFatal("memory: %d rows instead of %d", window.tree->topLevelItemCount(), n);
    }
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            std::printf("%.1f\n", line.mid(6).trimmed().split(' ').first().toDouble() / 1024);
            return 0;
        }
    }
    return 1;
}

// The page in headless Chromium against the real server, beside the server's own time for the
// rows the page asked for; the browser side is timed by page_bench.py, which prints its figures.
void BenchPage(const QString &work, int n, std::vector<Result> &results)
{
    QProcess bench;
    bench.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    bench.start(
        QStringLiteral("/usr/bin/python3"),
        {QStringLiteral(PAGE_BENCH_PATH), QStringLiteral(WEB_PATH), work, QString::number(n)});
    if (!bench.waitForFinished(-1) || bench.exitCode() != 0) {
        out << "  web page: the browser benchmark did not run (exit " << bench.exitCode() << ")\n";
        return;
    }
    for (const QByteArray &line : bench.readAllStandardOutput().split('\n')) {
        // NAME… PAGE_MS SERVER_MS
        QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 3)
            continue;
        const double server = fields.takeLast().toDouble();
        const double page = fields.takeLast().toDouble();
        Add(results, {QStringLiteral("web ") + QString::fromUtf8(fields.join(' ')), n, page,
                      QStringLiteral("server rows"), server});
    }
}

void Print(const std::vector<Result> &results)
{
    out << QStringLiteral("%1 %2 %3  %4 %5 %6\n")
               .arg(QStringLiteral("case"), -23)
               .arg(QStringLiteral("size"), 7)
               .arg(QStringLiteral("median"), 12)
               .arg(QStringLiteral("floor"), -13)
               .arg(QStringLiteral("floor value"), 12)
               .arg(QStringLiteral("ratio"), 7);
    for (const Result &r : results)
        out << Line(r) << '\n';
    out.flush();
}

bool WriteJson(const std::vector<Result> &results, const QString &path)
{
    QJsonArray rows;
    for (const Result &r : results) {
        QJsonObject row{{QStringLiteral("case"), r.name},
                        {QStringLiteral("size"), r.size},
                        {QStringLiteral("floor"), r.floorName},
                        {QStringLiteral("ratio"), r.floorValue > 0 ? r.value / r.floorValue : 0}};
        row.insert(r.memory ? QStringLiteral("mb") : QStringLiteral("median_ms"), r.value);
        row.insert(r.memory ? QStringLiteral("floor_mb") : QStringLiteral("floor_ms"),
                   r.floorValue);
        rows.append(row);
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(rows).toJson()) > 0;
}

int Plot(const QString &jsonPath, const QString &svgPath)
{
    const QString error = PlotResults(jsonPath, svgPath);
    out << (error.isEmpty() ? QStringLiteral("drew ") + svgPath : error) << '\n';
    return error.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // progress lines show at once, even in a pipe
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.value(1) == QLatin1String("--memory-child"))
        return MemoryChild(arguments.value(2), arguments.value(3).toInt());

    const auto option = [&](const char *name) {
        const int at = arguments.indexOf(QLatin1String(name));
        return at > 0 ? arguments.value(at + 1) : QString();
    };
    const bool quick = arguments.contains(QStringLiteral("--quick"));
    QString jsonPath = option("--json");
    // --plot FILE.svg draws the results; with --from, those of an earlier run's JSON file.
    const QString plotPath = option("--plot");
    if (!plotPath.isEmpty() && !option("--from").isEmpty())
        return Plot(option("--from"), plotPath);
    // --size N runs one size only, small enough for a profiler.
    std::vector<int> sizes =
        quick ? std::vector<int>{10000, 100000} : std::vector<int>{1000, 10000, 100000};
    if (option("--size").toInt() > 0)
        sizes = {option("--size").toInt()};
    const bool haveMmv = !QStandardPaths::findExecutable(QStringLiteral("mmv")).isEmpty();
    // --only CASE runs one group (scan, move, journal, cli, library, share, web, page, across,
    // copy, hardlink or memory), for profiling one cost at a time.
    const int onlyAt = arguments.indexOf(QStringLiteral("--only"));
    const QString only = onlyAt > 0 ? arguments.value(onlyAt + 1) : QString();
    const auto runs = [&](const char *group) {
        return only.isEmpty() || only == QLatin1String(group);
    };

    // Memory-backed when there is room: on a disk, making and removing hundreds of thousands of
    // files takes far longer than anything measured here. Every floor runs on the same tree.
    const QStorageInfo shm(QStringLiteral("/dev/shm"));
    const bool useShm = shm.isValid() && shm.bytesAvailable() > (qint64(4) << 30);
    QTemporaryDir work(useShm ? QStringLiteral("/dev/shm/move-rename-bench-XXXXXX")
                              : QDir::tempPath() + QStringLiteral("/move-rename-bench-XXXXXX"));
    out << "data in " << work.path() << '\n';
    std::vector<Result> results;
    for (int n : sizes) {
        if (!runs("scan"))
            break;
        out << "size " << n << ": scan, keystroke, suggestion\n";
        out.flush();
        BenchScanKeystrokeSuggestion(work.path(), n, results);
    }
    for (int n : sizes) {
        if (!runs("move"))
            break;
        out << "size " << n << ": move\n";
        out.flush();
        // mmv takes minutes at 100,000 files; its figure at 10,000 makes the comparison.
        BenchMove(work.path(), n, haveMmv && n <= 10000, results);
    }
    if (runs("journal")) {
        out << "size 10000: apply with and without the journal\n";
        out.flush();
        BenchJournal(work.path(), 10000, results);
    }
    for (int n : sizes) {
        if (!runs("cli"))
            break;
        out << "size " << n << ": cli preview\n";
        out.flush();
        BenchCliPreview(work.path(), n, results);
    }
    for (int n : sizes) {
        if (!runs("library"))
            break;
        out << "size " << n << ": library\n";
        out.flush();
        BenchLibrary(work.path(), n, results);
    }
    if (runs("share")) {
        out << "size 2000: scan on a share\n";
        out.flush();
        BenchShare(work.path(), quick, results);
    }
    for (int n : sizes) {
        if (!runs("web"))
            break;
        out << "size " << n << ": web scan, rows and memory\n";
        out.flush();
        BenchWeb(work.path(), n, results);
    }
    if (runs("across")) {
        out << "128 MiB and 1 GiB: move across file systems\n";
        out.flush();
        BenchMoveAcross(work.path(), results);
    }
    if (runs("page")) {
        out << "size 100000: the page in a browser\n";
        out.flush();
        BenchPage(work.path(), 100000, results);
    }
    if (runs("copy")) {
        out << "1 GiB: copy on one file system\n";
        out.flush();
        BenchCopy(work.path(), results);
    }
    if (runs("hardlink")) {
        out << "size 10000: hard links\n";
        out.flush();
        BenchHardlink(work.path(), 10000, results);
    }
    const QString emptySeason = work.path() + QStringLiteral("/memory/Season");
    QDir().mkpath(emptySeason);
    const double emptyMb = runs("memory") ? PeakMb(work.path(), 0) : 0;
    for (int n : sizes) {
        if (!runs("memory"))
            break;
        out << "size " << n << ": memory\n";
        out.flush();
        QDir(emptySeason).removeRecursively();
        MakeSeason(emptySeason, n, 1);
        Add(results, {QStringLiteral("memory"), n, PeakMb(work.path(), n),
                      QStringLiteral("empty window"), emptyMb, true});
    }
    out << '\n';
    Print(results);
    for (const Result &r : results) {
        if (r.memory)
            out << "memory above the " << r.floorName << " at " << r.size
                << " rows: " << QString::number(r.value - r.floorValue, 'f', 1) << " MB\n";
    }
    if (jsonPath.isEmpty() && !plotPath.isEmpty())
        jsonPath = work.filePath(QStringLiteral("results.json"));
    if (!jsonPath.isEmpty() && !WriteJson(results, jsonPath)) {
        out << "could not write " << jsonPath << '\n';
        return 1;
    }
    return plotPath.isEmpty() ? 0 : Plot(jsonPath, plotPath);
}
