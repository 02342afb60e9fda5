// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "journal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace journal {

namespace {

const char kFormatName[] = "move-rename";

QString Errno(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

bool WriteAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// Appends one JSON object on one line to a buffer, keys in the order given. A run writes a line
// for every file it moves, twice, so a line is built from few appends: through QJsonObject,
// those lines cost more than the moves themselves.
class JsonLine
{
public:
    explicit JsonLine(QByteArray &out)
        : out(out)
    {}
    JsonLine(const JsonLine &) = delete;
    JsonLine &operator=(const JsonLine &) = delete;
    void End() { out += "}\n"; }

    JsonLine &Text(const char *key, const QString &value)
    {
        char piece[kPiece];
        char *end = Key(piece, key);
        *end++ = '"';
        out.append(piece, end - piece);
        // Paths are mostly plain ASCII, which is its own UTF-8: copied straight in, without
        // converting the whole text first.
        const qsizetype start = out.size();
        out.resize(start + value.size());
        char *to = out.data() + start;
        for (const QChar c : value) {
            const char16_t u = c.unicode();
            if (u >= 0x80 || u < 0x20 || u == u'"' || u == u'\\') {
                out.truncate(start);
                AppendEscaped(value.toUtf8());
                break;
            }
            *to++ = char(u);
        }
        out += '"';
        return *this;
    }
    JsonLine &Number(const char *key, qint64 value)
    {
        char piece[kPiece];
        const char *end = std::to_chars(Key(piece, key), piece + kPiece, value).ptr;
        out.append(piece, end - piece);
        return *this;
    }
    JsonLine &Flag(const char *key, bool value)
    {
        char piece[kPiece];
        char *end = Key(piece, key);
        const char *word = value ? "true" : "false";
        end = std::copy(word, word + std::strlen(word), end);
        out.append(piece, end - piece);
        return *this;
    }

private:
    void AppendEscaped(const QByteArray &utf8)
    {
        for (const char c : utf8) {
            if (c == '"' || c == '\\')
                out += QByteArray("\\") + c;
            else if (static_cast<unsigned char>(c) < 0x20)
                out += "\\u00" + QByteArray::number(c, 16).rightJustified(2, '0');
            else
                out += c;
        }
    }

    // Room for the longest key of ours, its punctuation and a number.
    static constexpr int kPiece = 64;

    char *Key(char *piece, const char *key)
    {
        *piece++ = first ? '{' : ',';
        *piece++ = '"';
        piece = std::copy(key, key + std::strlen(key), piece);
        *piece++ = '"';
        *piece++ = ':';
        first = false;
        return piece;
    }

    QByteArray &out;
    bool first = true;
};

// Some file systems cannot sync folders at all (EINVAL); they keep names as well as they can.
bool SyncFolder(const QString &folder)
{
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return synced;
}

// A name that sorts by the time of the run: 20260301T123005.123456789Z.jsonl (UTC).
QString NameFor(const timespec &now)
{
    tm utc = {};
    ::gmtime_r(&now.tv_sec, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%S", &utc);
    return QString::asprintf("%s.%09ldZ.jsonl", stamp, long(now.tv_nsec));
}

// Reads one line into journal; returns what is wrong with it, if anything.
QString ParseLine(const QByteArray &line, int number, Journal &journal)
{
    const QJsonObject o = QJsonDocument::fromJson(line).object();
    const auto integer = [&o](const char *key) {
        return o.value(QLatin1String(key)).toInteger(-1);
    };
    const auto text = [&o](const char *key) { return o.value(QLatin1String(key)).toString(); };
    const auto isText = [&o](const char *key) { return o.value(QLatin1String(key)).isString(); };
    const auto isBool = [&o](const char *key) { return o.value(QLatin1String(key)).isBool(); };
    const auto entryAt = [&](const char *key) -> Entry * {
        const qint64 index = integer(key);
        return index >= 0 && index < journal.entries.size() ? &journal.entries[index] : nullptr;
    };

    if (number == 1) {
        if (text("journal") != QLatin1String(kFormatName))
            return QStringLiteral("not a move-rename journal");
        const qint64 version = integer("version");
        if (version > kFormatVersion)
            return QStringLiteral("written in format version %1; this program reads version %2")
                .arg(version)
                .arg(kFormatVersion);
        Header &h = journal.header;
        h.started = QDateTime::fromString(text("started"), Qt::ISODateWithMs);
        h.root = text("root");
        h.filenamePattern = text("filename_pattern");
        h.outputPattern = text("output_pattern");
        if (version < 1 || !h.started.isValid() || !isText("root") || !isText("filename_pattern") ||
            !isText("output_pattern"))
            return QStringLiteral("not a move-rename journal");
        return QString();
    }
    if (o.contains(QLatin1String("entry"))) {
        Entry entry;
        entry.row = int(integer("row"));
        entry.source = text("source");
        entry.target = text("target");
        entry.identity = {integer("size"), integer("mtime_ns"), quint64(integer("device")),
                          quint64(integer("inode"))};
        const std::optional<files::Action> action = files::ActionFromName(
            o.value(QLatin1String("action")).toString(QStringLiteral("move")));
        entry.action = action.value_or(files::Action::Move);
        if (!action || integer("entry") != journal.entries.size() || entry.row < 0 ||
            entry.source.isEmpty() || entry.target.isEmpty() || entry.identity.size < 0 ||
            !o.value(QLatin1String("mtime_ns")).isDouble() ||
            !o.value(QLatin1String("device")).isDouble() ||
            !o.value(QLatin1String("inode")).isDouble())
            return QStringLiteral("malformed entry");
        journal.entries.append(entry);
    } else if (o.contains(QLatin1String("outcome"))) {
        Entry *entry = entryAt("outcome");
        const std::optional<files::Action> how = files::ActionFromName(text("how"));
        if (!entry || !isBool("moved") || (o.contains(QLatin1String("how")) && !how))
            return QStringLiteral("malformed outcome");
        entry->moved = o.value(QLatin1String("moved")).toBool();
        entry->how = how;
    } else if (o.contains(QLatin1String("undo"))) {
        if (!entryAt("undo") || !isBool("restored"))
            return QStringLiteral("malformed undo line");
        journal.undoTried = true;
    } else if (isText("folder")) {
        if (o.value(QLatin1String("existed")).toBool())
            journal.folders.removeOne(text("folder"));
        else
            journal.folders.append(text("folder"));
    } else if (isText("undone")) {
        journal.undone = true;
    } else {
        return QStringLiteral("malformed line");
    }
    return QString();
}

} // namespace

std::optional<Identity> IdentityOf(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return Identity{qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                    quint64(st.st_dev), quint64(st.st_ino)};
}

int Journal::MovedRows() const
{
    QSet<int> rows;
    for (const Entry &entry : entries) {
        if (entry.moved.value_or(false))
            rows.insert(entry.row);
    }
    return int(rows.size());
}

QString Journal::UndoneText() const
{
    return undone      ? QStringLiteral("yes")
           : undoTried ? QStringLiteral("partly")
                       : QStringLiteral("no");
}

std::optional<Journal> Read(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QByteArray data = file.readAll();
    Journal journal;
    journal.path = path;
    int number = 0;
    for (qsizetype start = 0; start < data.size();) {
        const qsizetype newline = data.indexOf('\n', start);
        ++number;
        // A line without its newline was cut off while being written, even if it parses.
        QString problem = QStringLiteral("torn line");
        if (newline >= 0)
            problem = ParseLine(data.mid(start, newline - start), number, journal);
        const bool last = newline < 0 || newline + 1 == data.size();
        if (!problem.isEmpty()) {
            if (last && number > 1)
                break;
            *error = QStringLiteral("%1:%2: %3").arg(path).arg(number).arg(problem);
            return std::nullopt;
        }
        start = newline + 1;
        journal.wholeSize = start;
    }
    if (number == 0) {
        *error = QStringLiteral("%1:1: not a move-rename journal").arg(path);
        return std::nullopt;
    }
    return journal;
}

QString DefaultFolder()
{
    // Relative values are ignored, as the XDG base directory rules say.
    const QString state = qEnvironmentVariable("XDG_STATE_HOME");
    const QString base =
        QDir::isAbsolutePath(state) ? state : QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(base + QStringLiteral("/move-rename"));
}

QStringList List(const QString &folder)
{
    QStringList paths;
    const QStringList names = QDir(folder).entryList({QStringLiteral("*.jsonl")}, QDir::Files,
                                                     QDir::Name | QDir::Reversed);
    for (const QString &name : names)
        paths.append(folder + QLatin1Char('/') + name);
    return paths;
}

Writer::Writer(int fd, const QString &path)
    : fd(fd)
    , path(path)
{}

Writer::~Writer()
{
    WritePending();
    if (fd >= 0)
        ::close(fd);
}

std::unique_ptr<Writer> Writer::Create(const QString &path, Header header,
                                       const QVector<Entry> &entries, QString *error)
{
    const QString folder = path.isEmpty() ? DefaultFolder() : QFileInfo(path).absolutePath();
    if (path.isEmpty() && !QFileInfo::exists(folder) &&
        (!QDir().mkpath(QFileInfo(folder).path()) ||
         (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST))) {
        *error = QStringLiteral("cannot make the journal folder %1: %2").arg(folder, Errno(errno));
        return nullptr;
    }
    QString chosen = path;
    int fd = -1;
    // Names come from the clock in nanoseconds; a taken one means another run started in the
    // same instant, and a moment later gives a free name.
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        timespec now;
        ::clock_gettime(CLOCK_REALTIME, &now);
        header.started = QDateTime::fromMSecsSinceEpoch(
            qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000, Qt::UTC);
        if (path.isEmpty())
            chosen = folder + QLatin1Char('/') + NameFor(now);
        fd = ::open(QFile::encodeName(chosen).constData(),
                    O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0 && (errno != EEXIST || !path.isEmpty()))
            break;
    }
    if (fd < 0) {
        *error = QStringLiteral("cannot create the journal %1: %2").arg(chosen, Errno(errno));
        return nullptr;
    }
    // Nobody else can know the new file yet, so the lock is free; an undo started while the
    // run goes on finds it taken.
    ::flock(fd, LOCK_EX);

    QByteArray ahead;
    ahead.reserve(256 * (entries.size() + 1));
    JsonLine(ahead)
        .Text("journal", QLatin1String(kFormatName))
        .Number("version", kFormatVersion)
        .Text("started", header.started.toString(Qt::ISODateWithMs))
        .Text("root", header.root)
        .Text("filename_pattern", header.filenamePattern)
        .Text("output_pattern", header.outputPattern)
        .End();
    for (int i = 0; i < entries.size(); ++i) {
        const Entry &e = entries.at(i);
        JsonLine(ahead)
            .Number("entry", i)
            .Number("row", e.row)
            .Text("source", e.source)
            .Text("target", e.target)
            .Text("action", files::ActionName(e.action))
            .Number("size", e.identity.size)
            .Number("mtime_ns", e.identity.mtimeNs)
            .Number("device", qint64(e.identity.device))
            .Number("inode", qint64(e.identity.inode))
            .End();
    }
    // The one flush of the run: everything that is about to move is on disk before it moves.
    if (!WriteAll(fd, ahead.constData(), ahead.size()) || ::fsync(fd) != 0 ||
        !SyncFolder(QFileInfo(chosen).absolutePath())) {
        *error = QStringLiteral("cannot write the journal %1: %2").arg(chosen, Errno(errno));
        ::close(fd);
        ::unlink(QFile::encodeName(chosen).constData());
        return nullptr;
    }
    return std::unique_ptr<Writer>(new Writer(fd, QFileInfo(chosen).absoluteFilePath()));
}

std::unique_ptr<Writer> Writer::Append(const Journal &journal, QString *error, bool *inUse)
{
    const QByteArray path = QFile::encodeName(journal.path);
    const int fd = ::open(path.constData(), O_RDWR | O_APPEND | O_CLOEXEC);
    if (inUse)
        *inUse = false;
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        if (err != EWOULDBLOCK) {
            *error = QStringLiteral("cannot lock the journal %1: %2").arg(journal.path, Errno(err));
            return nullptr;
        }
        if (inUse)
            *inUse = true;
        *error = QStringLiteral("the journal %1 is in use by another run or undo; try again "
                                "when it has finished")
                     .arg(journal.path);
        return nullptr;
    }
    // A whole line written after journal was read means another writer was at work then: what
    // was read no longer says what the journal holds, and cutting it off would lose that line.
    char rest[4096];
    const ssize_t n = fd < 0 ? -1 : ::pread(fd, rest, sizeof rest, journal.wholeSize);
    if (n > 0 && std::memchr(rest, '\n', size_t(n))) {
        ::close(fd);
        if (inUse)
            *inUse = true;
        *error =
            QStringLiteral("the journal %1 changed while it was read; try again").arg(journal.path);
        return nullptr;
    }
    if (fd < 0 || n < 0 || ::ftruncate(fd, journal.wholeSize) != 0) {
        *error =
            QStringLiteral("cannot write to the journal %1: %2").arg(journal.path, Errno(errno));
        if (fd >= 0)
            ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<Writer>(new Writer(fd, journal.path));
}

void Writer::Moved(int entry, bool moved, const QString &error, std::optional<files::Action> how)
{
    Outcome("outcome", entry, "moved", moved, error, how);
}

void Writer::Folder(const QString &folder, bool existed)
{
    WritePending();
    line.truncate(0);
    JsonLine json(line);
    json.Text("folder", folder);
    if (existed)
        json.Flag("existed", true);
    json.End();
    Write(line);
    // Rare, and an undo must know of the folder even after a crash: flushed at once.
    if (!existed && fd >= 0)
        ::fdatasync(fd);
}

void Writer::Restored(int entry, bool restored, const QString &error)
{
    Outcome("undo", entry, "restored", restored, error);
}

void Writer::Outcome(const char *kind, int entry, const char *done, bool ok, const QString &error,
                     std::optional<files::Action> how)
{
    line.truncate(0); // keeps its memory for the next line
    JsonLine json(line);
    json.Number(kind, entry).Flag(done, ok);
    if (!ok)
        json.Text("error", error);
    if (how)
        json.Text("how", files::ActionName(*how));
    json.End();
    pending += line;
    // Where each file takes a tenth of a second or more, its line is written at once; where
    // thousands go a second, their lines are written a tenth of a second's worth at a time.
    const auto now = std::chrono::steady_clock::now();
    if (now - lastWrite >= std::chrono::milliseconds(100) || pending.size() >= 65536)
        WritePending();
}

void Writer::WritePending()
{
    if (pending.isEmpty())
        return;
    Write(pending);
    pending.truncate(0); // keeps its memory for the next lines
    lastWrite = std::chrono::steady_clock::now();
}

void Writer::Undone()
{
    WritePending();
    line.truncate(0);
    JsonLine(line)
        .Text("undone", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs))
        .End();
    Write(line);
}

void Writer::Write(const QByteArray &line)
{
    if (fd >= 0 && !WriteAll(fd, line.constData(), line.size())) {
        ::close(fd);
        fd = -1;
    }
}

bool MoveTogether(QVector<Move> &moves, files::Action action, const files::Base &root,
                  Writer *journal, int firstEntry, QString *error,
                  const files::CopyProgress &progress)
{
    files::FolderLog folders;
    if (journal) {
        folders.making = [journal](const QString &folder) { journal->Folder(folder); };
        folders.existed = [journal](const QString &folder) { journal->Folder(folder, true); };
    }
    for (int i = 0; i < moves.size(); ++i) {
        Move &move = moves[i];
        QString why;
        move.moved = files::PlaceFile(action, move.source, root, move.target, &move.how, &why,
                                      progress, folders);
        if (journal)
            journal->Moved(firstEntry + i, move.moved, why,
                           action == files::Action::Move ? std::nullopt
                                                         : std::optional<files::Action>(move.how));
        if (move.moved)
            continue;
        *error =
            i == 0 ? why : QFileInfo(move.source.relative).fileName() + QStringLiteral(": ") + why;
        for (int j = i - 1; j >= 0; --j) {
            QString back;
            const files::SourceFile &from = moves[j].source;
            const int err = action == files::Action::Move
                                ? (files::PlaceFile(action, {&root, moves[j].target}, *from.base,
                                                    from.relative, nullptr, &back, progress)
                                       ? 0
                                       : -1)
                                : files::RemoveBeneath(root, moves[j].target);
            if (err == 0) {
                moves[j].moved = false;
                if (journal)
                    journal->Moved(firstEntry + j, false, QStringLiteral("put back: ") + *error);
            } else {
                if (err > 0)
                    back = QString::fromLocal8Bit(std::strerror(err));
                // Named relative to the root, as every message of a row is.
                *error += QStringLiteral("; not put back: %1: %2").arg(moves[j].target, back);
            }
        }
        return false;
    }
    return true;
}

} // namespace journal
