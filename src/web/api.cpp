// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "api.h"

#include "confine.h"
#include "library.h"
#include "naming.h"
#include "plan.h"
#include "release.h"
#include "undo.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <optional>

#include <dirent.h>
#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

namespace web {

namespace {

constexpr int kKeptScans = 4;
constexpr int kMaxLimit = 1000;

QByteArray Json(const QJsonValue &value)
{
    return value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                           : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}

Reply Ok(const QJsonValue &value)
{
    return {200, Json(value)};
}

QJsonValue OrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

// Whether a relative path is one that cleaning leaves as it is: no "." or ".." part, no empty
// one, no "/" at either end. A part that ends in "." ("a./b") is taken for not plain too, and
// is cleaned to itself. One look at each character: every row's target is asked.
bool PlainPath(QStringView path)
{
    if (path.isEmpty() || path.front() == u'/' || path.back() == u'/' || path.back() == u'.')
        return false;
    for (qsizetype i = 1; i < path.size(); ++i) {
        if (path[i] == u'/' && (path[i - 1] == u'/' || path[i - 1] == u'.'))
            return false;
    }
    return true;
}

std::optional<int> Integer(const QJsonValue &value)
{
    const double number = value.toDouble(-1);
    if (!value.isDouble() || number < 0 || number > INT_MAX || number != int(number))
        return std::nullopt;
    return int(number);
}

std::optional<int> Integer(const QString &text)
{
    bool ok = false;
    const int number = text.toInt(&ok);
    return ok && number >= 0 ? std::optional<int>(number) : std::nullopt;
}

// 403 for a path that tries to leave its root, 400 for one that is malformed.
Reply PathError(const QString &problem)
{
    return Error(problem.startsWith(QLatin1String("NUL")) ? 400 : 403, problem);
}

// "" and "a/b" joined as paths relative to a root are.
QString Join(const QString &folder, const QString &name)
{
    return folder.isEmpty() ? name : folder + QLatin1Char('/') + name;
}

// Whether the folder at path beneath the folder open at rootFd holds a video file itself.
bool HoldsVideo(int rootFd, const QString &path)
{
    const int fd = OpenBeneath(rootFd, path, O_RDONLY | O_DIRECTORY);
    DIR *dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    bool found = false;
    while (const dirent *entry = ::readdir(dir)) {
        struct stat st;
        if (entry->d_name[0] == '.' || !naming::IsVideo(QFile::decodeName(entry->d_name)))
            continue;
        if (entry->d_type == DT_REG ||
            (entry->d_type == DT_UNKNOWN &&
             ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
             S_ISREG(st.st_mode))) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

// A row as the page shows it; its sidecars with their targets where they were asked for.
// note: what the row's action comes to, where that is not what it says.
QJsonObject RowJson(int id, const plan::PlanRow &row, bool sidecars, const QString &note)
{
    QJsonObject object{{QStringLiteral("row"), id},
                       {QStringLiteral("folder"), row.release.folder},
                       {QStringLiteral("file"), row.release.fileName},
                       {QStringLiteral("target"), row.target},
                       {QStringLiteral("conflict"), OrNull(plan::ConflictName(row.conflict))},
                       {QStringLiteral("note"), OrNull(note)}};
    if (sidecars) {
        QJsonArray files;
        for (const plan::PlanSidecar &sidecar : std::as_const(row.sidecars))
            files.append(QJsonObject{
                {QStringLiteral("file"), sidecar.file.name},
                {QStringLiteral("target"), sidecar.target},
                {QStringLiteral("conflict"), OrNull(plan::ConflictName(sidecar.conflict))}});
        object.insert(QStringLiteral("sidecars"), files);
    }
    return object;
}

QString RandomId()
{
    unsigned char bytes[16];
    randombytes_buf(bytes, sizeof bytes);
    return QString::fromLatin1(QByteArray(reinterpret_cast<char *>(bytes), sizeof bytes).toHex());
}

} // namespace

Reply Error(int status, const QString &text)
{
    return {status, Json(QJsonObject{{QStringLiteral("error"), text}})};
}

struct Api::Root
{
    QString path;    // absolute and clean
    QString slashed; // path with one "/" at its end
    int fd = -1;

    // Whether path (absolute, clean, not from a client) is the root or lies below it.
    bool Holds(const QString &absolute) const
    {
        return absolute == path || absolute.startsWith(slashed);
    }
    files::Bounds Bounds() const { return {fd, slashed}; }
};

struct Api::Destination
{
    std::shared_ptr<Root> root; // that holds base
    QString base;               // where targets start: absolute, with a "/" at its end
    quint64 device = 0;         // base's file system, 0 where it cannot be told

    files::Bounds Bounds() const { return root->Bounds(); }
};

struct Api::LibraryRequest
{
    Destination to;                          // the library's own top
    QHash<QString, plan::GroupPatterns> own; // the patterns a user gave groups, by their keys
};

struct Api::ScanData
{
    struct Release
    {
        int id = 0;
        QString folder;
        QString fileName;
        files::FileId seen; // the file as the scan saw it, which alone moves
    };

    std::mutex mutex; // guards everything below
    std::shared_ptr<Root> root;
    QString base; // the root of the moves, absolute, with a "/" at its end
    QVector<Release> rows;

    // Which row first names each target, for one pattern pair: a row's duplicate needs every
    // earlier row's target, and targets are names only, so one pass over the rows' names finds
    // them all without the disk, and any screen of rows then costs what that screen costs.
    // Built as far down as the screens asked for reach, or to the last row by a pass ahead;
    // dropped when patterns change or rows leave.
    QString indexKey;
    // Keyed by the hash of the cleaned target path rather than the path: a tenth of the memory,
    // and a collision could only mark a row a duplicate that the run would then plan afresh.
    QHash<size_t, int> firstClaim;
    // The rows by the hash of the cleaned path their sidecars' targets begin with: a sidecar's
    // target is one of those and "." and more, so only these rows' sidecars are read from disk.
    QMultiHash<size_t, int> stems;
    int indexed = 0;                            // the rows above this one are in both
    std::unique_ptr<plan::TargetBounds> bounds; // the folders on the targets' way
    // A pass ahead (the index carried down to the last row before any screen asks for it) gives
    // way between slices while a request for rows waits for or holds the mutex: typing never
    // waits for it, and a screen far down continues it where it stopped.
    std::atomic<int> asking{0};   // raised before taking the mutex, lowered holding it
    std::condition_variable turn; // told when asking comes down

    files::ReleaseFile ReleaseOf(const Release &r) const
    {
        return {r.folder, files::ChosenFilePath(base, r.folder, r.fileName), r.fileName, true,
                r.seen};
    }
    // The library's plan of releases (rows, or a copy of them taken under the mutex), every
    // folder of it opened beneath the root; each row's id in idOf, by its folder.
    plan::LibraryPlan Library(const QVector<Release> &releases, const LibraryRequest &library,
                              bool sidecars, files::Action action, QHash<QString, int> *idOf) const
    {
        QVector<files::ReleaseFile> files;
        for (const Release &r : releases) {
            files.append(ReleaseOf(r));
            idOf->insert(r.folder, r.id);
        }
        const files::Bounds bounds = root->Bounds();
        return plan::MakeLibraryPlan(library.to.base, std::move(files), std::nullopt, std::nullopt,
                                     sidecars, action, QDate::currentDate().year() + 1, library.own,
                                     &bounds);
    }
    void ResetIndex(const QString &key)
    {
        indexKey = key;
        firstClaim.clear();
        stems.clear();
        indexed = 0;
    }
};

Api::Api(const QStringList &rootPaths)
{
    for (const QString &path : rootPaths) {
        auto root = std::make_shared<Root>();
        root->path = QDir::cleanPath(path);
        root->slashed = files::WithTrailingSlash(root->path);
        root->fd =
            ::open(QFile::encodeName(root->path).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        roots.append(root);
    }
}

Api::~Api()
{
    for (const std::shared_ptr<Root> &root : std::as_const(roots)) {
        if (root->fd >= 0)
            ::close(root->fd);
    }
}

Reply Api::Roots() const
{
    QJsonArray list;
    for (int id = 0; id < roots.size(); ++id)
        list.append(
            QJsonObject{{QStringLiteral("id"), id}, {QStringLiteral("path"), roots.at(id)->path}});
    return Ok(list);
}

Reply Api::Folders(const QString &rootId, const QString &path) const
{
    const std::optional<int> id = Integer(rootId);
    if (!id || *id >= roots.size())
        return Error(404, QStringLiteral("no such root"));
    const Root &root = *roots.at(*id);
    const QString problem = PathProblem(path);
    if (!problem.isEmpty())
        return PathError(problem);
    const int fd = OpenBeneath(root.fd, path, O_PATH | O_DIRECTORY);
    if (fd < 0)
        return Escaped(errno) ? Error(403, QStringLiteral("the path leaves its root"))
                              : Error(404, QStringLiteral("no such folder: ") + path);
    ::close(fd);
    const QString folder = QDir::cleanPath(root.slashed + path);
    const files::Bounds bounds = root.Bounds();
    QJsonArray names;
    // Listed beneath the root; a link in it that leads out of it is then left out.
    for (const QString &subfolder : files::Subfolders(folder, &bounds)) {
        const QString name = QFileInfo(subfolder).fileName();
        if (Beneath(root.fd, Join(path, name)))
            names.append(name);
    }
    // One release folder holds a video itself, and no subfolder but a sample's holds one: a
    // season that holds the episodes moved out of its release folders is still a season.
    const bool release = HoldsVideo(root.fd, path) &&
                         std::none_of(names.cbegin(), names.cend(), [&](const QJsonValue &name) {
                             return !naming::IsSample(name.toString()) &&
                                    HoldsVideo(root.fd, Join(path, name.toString()));
                         });
    return Ok(QJsonObject{{QStringLiteral("path"), path},
                          {QStringLiteral("folders"), names},
                          {QStringLiteral("release"), release}});
}

Reply Api::Scan(const QJsonObject &request)
{
    const std::optional<int> id = Integer(request.value(QLatin1String("root")));
    const QJsonValue folders = request.value(QLatin1String("folders"));
    // Whether one folder chosen is a release itself, rather than standing for its subfolders.
    const QJsonValue release = request.value(QLatin1String("release"));
    if (!id || !folders.isArray() || folders.toArray().isEmpty() ||
        !(release.isUndefined() || release.isBool()))
        return Error(400, QStringLiteral("expected {\"root\": ID, \"folders\": [PATH, ...], "
                                         "\"release\": false}"));
    if (*id >= roots.size())
        return Error(404, QStringLiteral("no such root"));
    const std::shared_ptr<Root> root = roots.at(*id);

    QStringList chosen;
    for (const QJsonValue folder : folders.toArray()) {
        if (!folder.isString())
            return Error(400, QStringLiteral("folders are given as strings"));
        const QString path = folder.toString();
        const QString problem = PathProblem(path);
        if (!problem.isEmpty())
            return PathError(problem);
        const int fd = OpenBeneath(root->fd, path, O_PATH | O_DIRECTORY);
        if (fd < 0)
            return Escaped(errno) ? Error(403, QStringLiteral("the path leaves its root"))
                                  : Error(404, QStringLiteral("no such folder: ") + path);
        ::close(fd);
        chosen.append(QDir::cleanPath(root->slashed + path));
    }

    // A folder and its subfolders are listed beneath the root, and so is every release folder.
    const files::Bounds bounds = root->Bounds();
    plan::Intake intake = plan::TakeFolders(chosen, release.toBool(), QString(), &bounds);
    // Several folders, one of them the root itself, have a common parent above the root.
    if (!root->Holds(QDir::cleanPath(intake.root)))
        intake.root = root->slashed;
    auto scan = std::make_shared<ScanData>();
    scan->root = root;
    scan->base = intake.root;
    QStringList texts;
    QStringList fileNames;
    QList<files::SkippedFolder> skipped;
    // A release folder, or its chosen file, may be a link that leads out of the root.
    files::ScanReleaseFolders(
        scan->base, std::move(intake.releaseFolders),
        [&](files::ReleaseFile &&release) {
            texts.append(release.folder);
            fileNames.append(release.fileName);
            scan->rows.append(
                {int(scan->rows.size()), release.folder, release.fileName, release.id});
        },
        &skipped, &bounds);
    // The rows that cannot be episodes of this batch are named, for the page to leave them
    // unticked, and the pattern is suggested from the others.
    const QStringList reasons = plan::LeftOut(texts, fileNames);
    QStringList batch;
    QJsonArray leftOut;
    for (int i = 0; i < reasons.size(); ++i) {
        if (reasons.at(i).isEmpty())
            batch.append(texts.at(i));
        else
            leftOut.append(QJsonObject{{QStringLiteral("row"), scan->rows.at(i).id},
                                       {QStringLiteral("folder"), texts.at(i)},
                                       {QStringLiteral("reason"), reasons.at(i)}});
    }
    const QString suggestion = plan::SuggestedPattern(batch, scan->base);

    QJsonArray skippedList;
    for (const files::SkippedFolder &folder : std::as_const(skipped))
        skippedList.append(QJsonObject{{QStringLiteral("folder"), folder.folder},
                                       {QStringLiteral("reason"), files::SkipName(folder.reason)}});
    const QString sid = RandomId();
    {
        const std::lock_guard<std::mutex> lock(mutex);
        scans.insert(sid, scan);
        scanOrder.append(sid);
        while (scanOrder.size() > kKeptScans)
            scans.remove(scanOrder.takeFirst());
    }
    return Ok(QJsonObject{{QStringLiteral("scan"), sid},
                          {QStringLiteral("rows"), int(scan->rows.size())},
                          {QStringLiteral("suggestion"),
                           QJsonObject{{QStringLiteral("filename"), suggestion},
                                       {QStringLiteral("output"), QStringLiteral("%1")}}},
                          {QStringLiteral("skipped"), skippedList},
                          {QStringLiteral("left_out"), leftOut}});
}

std::shared_ptr<Api::ScanData> Api::FindScan(const QString &id)
{
    const std::lock_guard<std::mutex> lock(mutex);
    return scans.value(id);
}

Reply Api::Rows(const QString &id, const QMap<QString, QString> &query)
{
    const std::shared_ptr<ScanData> scan = FindScan(id);
    if (!scan)
        return Error(404, QStringLiteral("no such scan (scans are kept for a while only)"));
    const std::optional<int> offset =
        Integer(query.value(QStringLiteral("offset"), QStringLiteral("0")));
    const std::optional<int> limit =
        Integer(query.value(QStringLiteral("limit"), QStringLiteral("50")));
    if (!offset || !limit || *limit > kMaxLimit)
        return Error(400, QStringLiteral("offset and limit are counts (limit at most 1000)"));
    const QString action = query.value(QStringLiteral("action"), QStringLiteral("move"));
    const std::optional<files::Action> how = files::ActionFromName(action);
    if (!how)
        return Error(400, QStringLiteral("unknown action: ") + action);
    Reply refusal;
    const std::optional<Destination> to = DestinationOf(
        *scan,
        query.contains(QStringLiteral("to")) ? QJsonValue(query.value(QStringLiteral("to")))
                                             : QJsonValue(QJsonValue::Undefined),
        &refusal);
    if (!to)
        return refusal;
    const QString filename = query.value(QStringLiteral("filename"));
    const QString output = query.value(QStringLiteral("output"));
    const bool sidecars = query.value(QStringLiteral("sidecars")) == QLatin1String("1");
    const bool ahead = query.value(QStringLiteral("ahead")) == QLatin1String("1");

    const naming::Patterns patterns(filename, output);
    if (!ahead)
        ++scan->asking;
    std::unique_lock<std::mutex> lock(scan->mutex);
    // Lowered while the mutex is held, so that a pass ahead that saw it raised is told.
    const auto done = qScopeGuard([&] {
        if (ahead)
            return;
        --scan->asking;
        lock.unlock();
        scan->turn.notify_all();
    });
    const QDir base(to->base);
    const files::Bounds bounds = scan->root->Bounds(); // the releases' own root
    const auto rowAt = [&](int i) {
        const ScanData::Release &r = scan->rows.at(i);
        return plan::MakeRow(base, scan->ReleaseOf(r), patterns.TargetName(r.folder, r.fileName),
                             sidecars, &bounds);
    };
    const QString key =
        filename + QChar(0) + output + QChar(sidecars ? u'1' : u'0') + QChar(0) + to->base;
    const auto cleaned = [&base](const QString &target) {
        return QDir::cleanPath(base.absoluteFilePath(target));
    };
    // A cleaned path is hashed from below the root of the moves, so that a plain target (no
    // "." or ".." part, no "//") is hashed as it is, with no path made or cleaned.
    const QString &prefix = to->base;
    const auto hashOf = [&prefix](QStringView clean) {
        return qHash(clean.startsWith(prefix) ? clean.mid(prefix.size()) : clean);
    };
    const auto targetHash = [&](const QString &target) {
        return PlainPath(target) ? qHash(QStringView(target)) : hashOf(cleaned(target));
    };
    if (key != scan->indexKey) {
        scan->ResetIndex(key);
        scan->bounds = std::make_unique<plan::TargetBounds>(to->base, output);
        scan->firstClaim.reserve(scan->rows.size());
    }
    const int total = int(scan->rows.size());
    // A file that cannot move claims its target all the same: any other file with that target
    // meets the same reason first.
    const auto indexTo = [&](int end) {
        for (; scan->indexed < end; ++scan->indexed) {
            const ScanData::Release &r = scan->rows.at(scan->indexed);
            const QString target = patterns.TargetName(r.folder, r.fileName);
            const size_t claim = targetHash(target);
            if (!scan->firstClaim.contains(claim))
                scan->firstClaim.insert(claim, scan->indexed);
            if (sidecars)
                scan->stems.insert(targetHash(plan::SidecarStem(target, r.fileName)),
                                   scan->indexed);
        }
    };
    if (ahead) {
        constexpr int kSlice = 1024; // rows between looks for a request waiting
        // Rows may leave while it waits: the index is then made anew, as for new patterns.
        while (scan->indexed < scan->rows.size()) {
            if (scan->asking > 0) {
                scan->turn.wait(lock, [&] { return scan->asking == 0; });
                if (scan->indexKey != key)
                    break; // newer patterns, or rows left: this pass is of no use
                continue;
            }
            indexTo(int(qMin(scan->rows.size(), qsizetype(scan->indexed) + kSlice)));
        }
        return Ok(QJsonObject{{QStringLiteral("total"), int(scan->rows.size())},
                              {QStringLiteral("rows"), QJsonArray()}});
    }
    const int end = int(qMin(qint64(total), qint64(*offset) + *limit));
    // Indexed as far down as the rows asked for reach.
    indexTo(end);
    // Whether a row above row i has a sidecar whose target is clean: one whose stem is clean up
    // to one of its "." after the last "/", read from disk.
    const auto sidecarAbove = [&](const QString &clean, int i) {
        for (qsizetype dot = clean.indexOf(QLatin1Char('.'), clean.lastIndexOf(QLatin1Char('/')));
             dot > 0; dot = clean.indexOf(QLatin1Char('.'), dot + 1)) {
            for (const int j : scan->stems.values(hashOf(QStringView(clean).left(dot)))) {
                if (j >= i)
                    continue;
                const plan::PlanRow above = rowAt(j);
                for (const plan::PlanSidecar &sidecar : above.sidecars) {
                    if (cleaned(sidecar.target) == clean)
                        return true;
                }
            }
        }
        return false;
    };

    QJsonArray list;
    for (int i = *offset; i < end; ++i) {
        plan::PlanRow row = rowAt(i);
        QSet<QString> mine; // the row's own files claim in turn too
        plan::MarkConflicts(row, *scan->bounds, [&](const QString &clean) {
            const bool taken = mine.contains(clean) ||
                               scan->firstClaim.value(hashOf(clean), INT_MAX) < i ||
                               (sidecars && sidecarAbove(clean, i));
            mine.insert(clean);
            return taken;
        });
        list.append(RowJson(scan->rows.at(i).id, row, sidecars,
                            plan::CrossDeviceNote(*how, row.release.id, to->device)));
    }
    return Ok(QJsonObject{{QStringLiteral("total"), total}, {QStringLiteral("rows"), list}});
}

std::optional<Api::LibraryRequest>
Api::ReadLibrary(const ScanData &scan, const QJsonObject &request, Reply *refusal) const
{
    LibraryRequest library;
    const std::optional<Destination> to =
        DestinationOf(scan, request.value(QLatin1String("to")), refusal);
    if (!to)
        return std::nullopt;
    library.to = *to;
    const QJsonValue groups = request.value(QLatin1String("groups"));
    if (!(groups.isUndefined() || groups.isObject())) {
        *refusal = Error(400, QStringLiteral("groups map group keys to {\"filename\": F, "
                                             "\"output\": O}"));
        return std::nullopt;
    }
    const QJsonObject own = groups.toObject();
    for (auto it = own.begin(); it != own.end(); ++it) {
        const QJsonValue filename = it.value().toObject().value(QLatin1String("filename"));
        const QJsonValue output = it.value().toObject().value(QLatin1String("output"));
        if (!filename.isString() || !output.isString()) {
            *refusal = Error(400, QStringLiteral("groups map group keys to {\"filename\": F, "
                                                 "\"output\": O}"));
            return std::nullopt;
        }
        const QString problem = naming::FieldPatterns::Problem(output.toString());
        if (!problem.isEmpty()) {
            *refusal = Error(400, it.key() + QStringLiteral(": ") + problem);
            return std::nullopt;
        }
        library.own.insert(it.key(), {filename.toString(), output.toString()});
    }
    return library;
}

std::optional<Api::Destination> Api::DestinationOf(const ScanData &scan, const QJsonValue &to,
                                                   Reply *refusal) const
{
    Destination destination{scan.root, scan.base};
    if (!to.isUndefined()) {
        // A number in JSON, or a query's text.
        const std::optional<int> id = to.isString() ? Integer(to.toString()) : Integer(to);
        if (!id || *id >= roots.size()) {
            *refusal = Error(404, QStringLiteral("no such root"));
            return std::nullopt;
        }
        destination = {roots.at(*id), roots.at(*id)->slashed};
    }
    // The base was opened beneath its root when it was scanned, or is the root itself.
    const int fd =
        OpenBeneath(destination.root->fd,
                    QDir::cleanPath(destination.base).mid(destination.root->slashed.size()),
                    O_PATH | O_DIRECTORY);
    struct stat st;
    if (fd >= 0 && ::fstat(fd, &st) == 0)
        destination.device = quint64(st.st_dev);
    if (fd >= 0)
        ::close(fd);
    return destination;
}

Reply Api::Library(const QString &id, const QJsonObject &request)
{
    const std::shared_ptr<ScanData> scan = FindScan(id);
    if (!scan)
        return Error(404, QStringLiteral("no such scan (scans are kept for a while only)"));
    const QJsonValue action = request.value(QLatin1String("action"));
    const QJsonValue sidecars = request.value(QLatin1String("sidecars"));
    if (!(action.isUndefined() || action.isString()) ||
        !(sidecars.isUndefined() || sidecars.isBool()))
        return Error(400, QStringLiteral("expected {\"action\": A, \"sidecars\": B, "
                                         "\"to\": ROOT, \"groups\": {}}"));
    const std::optional<files::Action> how =
        files::ActionFromName(action.toString(QStringLiteral("move")));
    if (!how)
        return Error(400, QStringLiteral("unknown action: ") + action.toString());
    Reply refusal;
    const std::optional<LibraryRequest> library = ReadLibrary(*scan, request, &refusal);
    if (!library)
        return refusal;
    QVector<ScanData::Release> releases;
    {
        const std::lock_guard<std::mutex> lock(scan->mutex);
        releases = scan->rows;
    }
    QHash<QString, int> idOf;
    const plan::LibraryPlan made =
        scan->Library(releases, *library, sidecars.toBool(), *how, &idOf);

    QJsonArray groups;
    for (const plan::LibraryGroup &group : made.groups) {
        QJsonArray rows;
        for (int i = group.firstRow; i < group.firstRow + group.rowCount; ++i) {
            const plan::PlanRow &row = made.plan.rows.at(i);
            QJsonObject object =
                RowJson(idOf.value(row.release.folder), row, sidecars.toBool(),
                        plan::CrossDeviceNote(*how, row.release.id, library->to.device));
            object.insert(QStringLiteral("fields"), plan::FieldsJson(made.fields.at(i)));
            rows.append(object);
        }
        groups.append(QJsonObject{{QStringLiteral("key"), group.key},
                                  {QStringLiteral("kind"), plan::GroupKindName(group.kind)},
                                  {QStringLiteral("heading"), group.heading},
                                  {QStringLiteral("filename"), group.filenamePattern},
                                  {QStringLiteral("output"), group.outputPattern},
                                  {QStringLiteral("rows"), rows}});
    }
    // Never placed: no patterns, no target.
    QJsonArray notRecognised;
    for (const files::ReleaseFile &release : made.notRecognised)
        notRecognised.append(QJsonObject{{QStringLiteral("row"), idOf.value(release.folder)},
                                         {QStringLiteral("folder"), release.folder},
                                         {QStringLiteral("file"), release.fileName},
                                         {QStringLiteral("target"), QJsonValue()},
                                         {QStringLiteral("conflict"), QJsonValue()},
                                         {QStringLiteral("fields"), QJsonObject()}});
    if (!notRecognised.isEmpty()) {
        const QString kind = plan::GroupKindName(plan::GroupKind::NotRecognised);
        groups.append(QJsonObject{
            {QStringLiteral("key"), QJsonValue()},
            {QStringLiteral("kind"), kind},
            {QStringLiteral("heading"), kind},
            {QStringLiteral("reason"), QStringLiteral("the name gives no episode and no film")},
            {QStringLiteral("filename"), QJsonValue()},
            {QStringLiteral("output"), QJsonValue()},
            {QStringLiteral("rows"), notRecognised}});
    }
    QJsonArray onlySample;
    for (const QString &folder : made.onlySample)
        onlySample.append(QJsonObject{{QStringLiteral("folder"), folder},
                                      {QStringLiteral("reason"), QStringLiteral("only a sample")}});
    return Ok(
        QJsonObject{{QStringLiteral("groups"), groups}, {QStringLiteral("skipped"), onlySample}});
}

Reply Api::Apply(const QString &id, const QJsonObject &request,
                 std::function<void(const std::function<void(const QByteArray &)> &)> *run)
{
    const std::shared_ptr<ScanData> scan = FindScan(id);
    if (!scan)
        return Error(404, QStringLiteral("no such scan (scans are kept for a while only)"));
    const QJsonValue filename = request.value(QLatin1String("filename"));
    const QJsonValue output = request.value(QLatin1String("output"));
    const QJsonValue action = request.value(QLatin1String("action"));
    const QJsonValue sidecars = request.value(QLatin1String("sidecars"));
    const QJsonValue unticked = request.value(QLatin1String("unticked"));
    const QJsonValue targets = request.value(QLatin1String("targets"));
    // The library's rows take their targets from their groups' patterns, never typed ones.
    const bool placed = request.value(QLatin1String("library")).toBool();
    if ((!placed && (!filename.isString() || !output.isString())) ||
        !(action.isUndefined() || action.isString()) ||
        !(sidecars.isUndefined() || sidecars.isBool()) ||
        !(unticked.isUndefined() || unticked.isArray()) ||
        !(targets.isUndefined() || targets.isObject()))
        return Error(400, QStringLiteral("expected {\"filename\": F, \"output\": O, \"action\": A, "
                                         "\"sidecars\": B, \"unticked\": [ID], \"targets\": {}}"));
    const std::optional<files::Action> how =
        files::ActionFromName(action.toString(QStringLiteral("move")));
    if (!how)
        return Error(400, QStringLiteral("unknown action: ") + action.toString());
    Reply refusal;
    const std::optional<Destination> to =
        DestinationOf(*scan, request.value(QLatin1String("to")), &refusal);
    if (!to)
        return refusal;
    std::optional<LibraryRequest> library;
    if (placed) {
        library = ReadLibrary(*scan, request, &refusal);
        if (!library)
            return refusal;
    }
    QSet<int> skip;
    for (const QJsonValue row : unticked.toArray()) {
        if (!Integer(row))
            return Error(400, QStringLiteral("unticked rows are given by their ids"));
        skip.insert(*Integer(row));
    }
    QHash<int, QString> typed;
    const QJsonObject typedTargets = targets.toObject();
    for (auto it = typedTargets.begin(); it != typedTargets.end(); ++it) {
        if (!Integer(it.key()) || !it.value().isString())
            return Error(400, QStringLiteral("targets map row ids to names"));
        typed.insert(*Integer(it.key()), it.value().toString());
    }

    *run = [=](const std::function<void(const QByteArray &)> &line) {
        QVector<ScanData::Release> releases;
        plan::Plan plan;
        {
            const std::lock_guard<std::mutex> lock(scan->mutex);
            releases = scan->rows;
        }
        // Every folder the run opens lies beneath a root: the root of its moves beneath the
        // destination's, the release folders beneath their own.
        const files::Bounds bounds = to->Bounds();
        const files::Bounds sources = scan->root->Bounds();
        QVector<int> ids;
        if (library) {
            // The rows as the library's preview showed them, the unticked left out afterwards
            // so that every row keeps its group, its patterns and its conflicts.
            QHash<QString, int> idOf;
            plan = scan->Library(releases, *library, sidecars.toBool(), *how, &idOf).plan;
            plan.rows.removeIf([&](const plan::PlanRow &row) {
                return skip.contains(idOf.value(row.release.folder));
            });
            for (const plan::PlanRow &row : std::as_const(plan.rows))
                ids.append(idOf.value(row.release.folder));
        } else {
            plan.filenamePattern = filename.toString();
            plan.root = to->base;
            plan.outputPattern = output.toString();
            plan.action = *how;
            const naming::Patterns patterns(plan.filenamePattern, plan.outputPattern);
            const QDir base(plan.root);
            for (const ScanData::Release &release : std::as_const(releases)) {
                if (skip.contains(release.id))
                    continue;
                const QString target = typed.contains(release.id)
                                           ? typed.value(release.id)
                                           : patterns.TargetName(release.folder, release.fileName);
                plan.rows.append(plan::MakeRow(base, scan->ReleaseOf(release), target,
                                               sidecars.toBool(), &sources));
                ids.append(release.id);
            }
            plan::MarkConflicts(plan.rows, plan.root, plan.outputPattern);
        }
        plan.within = &bounds;
        plan.sourcesWithin = &sources;
        // how: what was done to a moved row's file, in the action's words ("copied" where a
        // hard link or copy found no hard link possible).
        const auto outcome = [&line](int row, bool moved, const QString &error,
                                     const QString &how = {}) {
            line(Json(
                QJsonObject{{QStringLiteral("row"), row},
                            {QStringLiteral("outcome"),
                             moved ? QStringLiteral("moved") : QStringLiteral("failed")},
                            {QStringLiteral("how"), moved ? QJsonValue(how) : QJsonValue()},
                            {QStringLiteral("error"), moved ? QJsonValue() : QJsonValue(error)}}));
        };

        QString error;
        const auto done = [&](int index) {
            const plan::PlanRow &row = plan.rows.at(index);
            outcome(ids.at(index), row.moved, row.error, files::ActionDone(row.how));
        };
        const int failures = plan::ApplyPlan(
            plan, plan.rows.isEmpty() ? std::nullopt : std::optional<QString>(QString()),
            [&](int index) {
                if (index > 0)
                    done(index - 1);
            },
            {}, {}, &error);
        if (failures < 0) {
            for (const int row : std::as_const(ids))
                outcome(row, false, QStringLiteral("the journal cannot be written"));
        } else if (!plan.rows.isEmpty()) {
            done(int(plan.rows.size()) - 1);
        }

        QSet<int> moved;
        for (int i = 0; i < plan.rows.size(); ++i) {
            if (plan.rows.at(i).moved)
                moved.insert(ids.at(i));
        }
        {
            // Moved rows leave the scan, as they leave the window's table.
            const std::lock_guard<std::mutex> lock(scan->mutex);
            scan->rows.removeIf(
                [&moved](const ScanData::Release &r) { return moved.contains(r.id); });
            scan->ResetIndex(QString());
        }
        const QString journal = QFileInfo(plan.journal).fileName();
        line(Json(QJsonObject{{QStringLiteral("done"), true},
                              {QStringLiteral("moved"), int(moved.size())},
                              {QStringLiteral("failed"), failures < 0 ? int(ids.size()) : failures},
                              {QStringLiteral("journal"), OrNull(journal)}}));
    };
    return {200, QByteArray()};
}

namespace {

// Every root held open, as an undo is kept beneath them.
template<typename Roots>
QVector<files::Bounds> AllBounds(const Roots &roots)
{
    QVector<files::Bounds> all;
    for (const auto &root : roots)
        all.append(root->Bounds());
    return all;
}

// Whether every path that journal names lies in one of within: only such a journal is shown.
bool Inside(const journal::Journal &journal, const QVector<files::Bounds> &within)
{
    if (journal::Holder(within, journal.header.root) < 0)
        return false;
    return std::all_of(journal.entries.cbegin(), journal.entries.cend(),
                       [&within](const journal::Entry &entry) {
                           return journal::Holder(within, entry.source) >= 0 &&
                                  journal::Holder(within, entry.target) >= 0;
                       });
}

// The rows a run did, in its actions' own words ({"hard-linked": 11, "copied": 3}): a row
// counts as what was done to its first file that went.
QJsonObject DoneRows(const journal::Journal &journal)
{
    QSet<int> counted;
    QMap<QString, int> done;
    for (const journal::Entry &entry : journal.entries) {
        if (!entry.moved.value_or(false) || counted.contains(entry.row))
            continue;
        counted.insert(entry.row);
        ++done[files::ActionDone(entry.how.value_or(entry.action))];
    }
    QJsonObject object;
    for (auto it = done.cbegin(); it != done.cend(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

// The folder a run was made in, relative to the root that holds it: "" for the root itself.
QString RunFolder(const journal::Journal &journal, const QVector<files::Bounds> &within)
{
    const QString folder = journal.header.root.endsWith(QLatin1Char('/'))
                               ? journal.header.root
                               : journal.header.root + QLatin1Char('/');
    QString relative =
        journal::RelativeTo(folder, within.at(journal::Holder(within, folder)).slashed);
    relative.chop(1);
    return relative;
}

} // namespace

Reply Api::Journals() const
{
    const QVector<files::Bounds> within = AllBounds(roots);
    QJsonArray list;
    for (const QString &path : journal::List(journal::DefaultFolder())) {
        QString error;
        const std::optional<journal::Journal> journal = journal::Read(path, &error);
        if (!journal || !Inside(*journal, within))
            continue;
        list.append(QJsonObject{
            {QStringLiteral("journal"), QFileInfo(path).fileName()},
            {QStringLiteral("started"), journal->header.started.toString(Qt::ISODateWithMs)},
            {QStringLiteral("root"), journal::Holder(within, journal->header.root)},
            {QStringLiteral("folder"), RunFolder(*journal, within)},
            {QStringLiteral("moved"), journal->MovedRows()},
            {QStringLiteral("done"), DoneRows(*journal)},
            {QStringLiteral("undone"), journal->UndoneText()}});
    }
    return Ok(list);
}

Reply Api::Undo(const QJsonObject &request) const
{
    const QJsonValue name = request.value(QLatin1String("journal"));
    const QJsonValue apply = request.value(QLatin1String("apply"));
    if (!name.isString() || !(apply.isUndefined() || apply.isBool()))
        return Error(400, QStringLiteral("expected {\"journal\": NAME, \"apply\": false}"));
    // Only a journal that the history lists: a name, never a path.
    const QString folder = journal::DefaultFolder();
    const QString path = folder + QLatin1Char('/') + name.toString();
    if (name.toString().contains(QLatin1Char('/')) || !journal::List(folder).contains(path))
        return Error(404, QStringLiteral("no such journal"));
    QString error;
    const std::optional<journal::Journal> journal = journal::Read(path, &error);
    const QVector<files::Bounds> within = AllBounds(roots);
    if (!journal || journal::Holder(within, journal->header.root) < 0)
        return Error(404, QStringLiteral("no such journal"));

    // A row outside the roots is refused, even in a journal whose root is one of them.
    QVector<journal::UndoRow> rows = journal::PlanUndo(*journal, &within);
    int failures = 0;
    if (apply.toBool() && !journal->undone) {
        failures = journal::ApplyUndo(*journal, rows, {}, {}, &error, &within);
        // The messages name the journal's own path, which lies outside every root.
        if (failures == journal::kInUse)
            return Error(409, QStringLiteral("the journal %1 is in use by another run or undo")
                                  .arg(name.toString()));
        if (failures < 0)
            return Error(500, QStringLiteral("cannot write to the journal ") + name.toString());
    }
    // Relative to the root that holds it, as every path of the API is; none outside them.
    const auto shown = [&within](const QString &file) {
        const int holder = journal::Holder(within, file);
        if (file.isEmpty()) // a folder the run made has no source
            return QJsonValue(file);
        return holder < 0 ? QJsonValue()
                          : QJsonValue(journal::RelativeTo(file, within.at(holder).slashed));
    };
    QJsonArray list;
    for (const journal::UndoRow &row : std::as_const(rows)) {
        QJsonObject object{{QStringLiteral("now_at"), shown(row.target)},
                           {QStringLiteral("back_to"), shown(row.source)},
                           {QStringLiteral("refused"), OrNull(row.reason)}};
        if (row.source.isEmpty()) // a folder the run made, which the undo removes
            object.insert(QStringLiteral("folder"), true);
        if (row.restored) {
            object.insert(QStringLiteral("restored"), *row.restored);
            object.insert(QStringLiteral("error"), OrNull(*row.restored ? QString() : row.error));
        }
        list.append(object);
    }
    QJsonObject answer{{QStringLiteral("journal"), name}, {QStringLiteral("rows"), list}};
    if (apply.toBool()) {
        answer.insert(QStringLiteral("restored"), int(rows.size()) - failures);
        answer.insert(QStringLiteral("failed"), failures);
    }
    return Ok(answer);
}

} // namespace web
