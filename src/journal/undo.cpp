// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "undo.h"

#include "scan.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

#include <unistd.h>

namespace journal {

namespace {

// Why the file now at a target is not the one moved there; empty when it is.
QString Differs(const Identity &now, const Identity &moved)
{
    if (now.size != moved.size)
        return QStringLiteral("other size");
    if (now.mtimeNs != moved.mtimeNs)
        return QStringLiteral("other modification time");
    // A move on one file system keeps the inode; a copy onto another cannot.
    if (now.device == moved.device && now.inode != moved.inode)
        return QStringLiteral("other inode on the same file system");
    return QString();
}

// Where the file at source goes back to: beneath the root when it came from there, else beneath
// the folder that holds its release folder. Returns the base; relative gets the rest.
QString BaseFor(const QString &source, const QString &root, QString *relative)
{
    QString base = root;
    if (!source.startsWith(root)) {
        const QString folder = QFileInfo(source).path();
        base = files::WithTrailingSlash(QFileInfo(folder).path());
    }
    *relative = source.mid(base.size());
    return base;
}

bool SameContent(const QString &a, const QString &b)
{
    QFile first(a);
    QFile second(b);
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly))
        return false;
    for (;;) {
        const QByteArray chunk = first.read(1 << 20);
        if (chunk != second.read(1 << 20))
            return false;
        if (chunk.isEmpty())
            return first.error() == QFile::NoError && second.error() == QFile::NoError;
    }
}

// Why what is at target is not what the run made of source by how; empty when it is.
QString NotMade(const Entry &entry, files::Action how, const Identity &atTarget)
{
    const std::optional<Identity> source = IdentityOf(entry.source);
    const bool sameInode =
        source && source->device == atTarget.device && source->inode == atTarget.inode;
    if (how == files::Action::Hardlink)
        return sameInode ? QString()
                         : QStringLiteral("the target is no longer a link to the source");
    if (how == files::Action::Symlink) {
        char text[PATH_MAX];
        const ssize_t n = ::readlink(QFile::encodeName(entry.target).constData(), text, PATH_MAX);
        return n >= 0 && QByteArray(text, int(n)) ==
                             QFile::encodeName(files::LinkText(entry.source, entry.target))
                   ? QString()
                   : QStringLiteral("the target is no longer the link made");
    }
    if (!source || sameInode || atTarget.size != source->size ||
        atTarget.mtimeNs != source->mtimeNs || !SameContent(entry.source, entry.target))
        return QStringLiteral("the copy differs from its source");
    return QString();
}

} // namespace

int Holder(const QVector<files::Bounds> &within, const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    for (int i = 0; i < within.size(); ++i) {
        if (clean.startsWith(within.at(i).slashed) || clean == within.at(i).slashed.chopped(1))
            return i;
    }
    return -1;
}

QVector<UndoRow> PlanUndo(const Journal &journal, const QVector<files::Bounds> *within)
{
    QVector<UndoRow> rows;
    // A placeholder is made after the journal's start, but file systems stamp times from a
    // coarser clock than the one the start was read from (up to a tick behind it, and to two
    // seconds on FAT), so one made in the first instant may look a little older.
    constexpr qint64 kClockSlackMs = 2000;
    const qint64 startedNs = (journal.header.started.toMSecsSinceEpoch() - kClockSlackMs) * 1000000;
    for (int i = int(journal.entries.size()) - 1; i >= 0; --i) {
        const Entry &entry = journal.entries.at(i);
        // A move that failed left nothing behind, as files::MoveFile promises; so the run's own
        // word that a move failed is enough. That it succeeded is checked below, not believed.
        if (entry.moved == false)
            continue;
        UndoRow row;
        row.entry = i;
        row.source = entry.source;
        row.target = entry.target;
        if (within && (Holder(*within, entry.source) < 0 || Holder(*within, entry.target) < 0)) {
            row.reason = QStringLiteral("outside the roots");
            rows.append(row);
            continue;
        }
        const std::optional<Identity> atSource = IdentityOf(entry.source);
        const std::optional<Identity> atTarget = IdentityOf(entry.target);
        const QString differs = atTarget ? Differs(*atTarget, entry.identity) : QString();
        const bool atTargetIsMoved = atTarget && differs.isEmpty();
        const bool inPlace = atSource && atSource->size == entry.identity.size &&
                             atSource->mtimeNs == entry.identity.mtimeNs;
        // What a copy or a link was: its outcome line says; a run cut off before that line
        // leaves it to what the target is.
        files::Action how = entry.how.value_or(entry.action);
        if (how == files::Action::HardlinkOrCopy)
            how = atTarget && NotMade(entry, files::Action::Hardlink, *atTarget).isEmpty()
                      ? files::Action::Hardlink
                      : files::Action::Copy;
        // A copy cut off on a share without hard links may have left its placeholder.
        if (entry.action != files::Action::Move) {
            if (atTarget && !entry.moved && files::IsPlaceholder(entry.target, startedNs))
                row.action = Action::Tidy;
            else if (atTarget)
                row.reason = NotMade(entry, how, *atTarget);
            else if (entry.moved)
                row.reason = QStringLiteral("the target is gone");
            else
                row.action = Action::Tidy;
            if (atTarget && row.reason.isEmpty() && row.action == Action::Refuse)
                row.action = Action::RemoveMade;
        } else if (atTargetIsMoved && !atSource) {
            row.action = Action::MoveBack;
        } else if (atTargetIsMoved && inPlace &&
                   ((atSource->device == atTarget->device && atSource->inode == atTarget->inode) ||
                    SameContent(entry.source, entry.target))) {
            row.action = Action::RemoveCopy;
        } else if (atTargetIsMoved) {
            row.reason = QStringLiteral("the source path is taken");
        } else if (inPlace) {
            row.action = Action::Tidy;
        } else if (!atTarget) {
            row.reason = QStringLiteral("the target is gone");
        } else {
            row.reason = QStringLiteral("the target holds another file (%1)").arg(differs);
        }
        // A move cut off on a share without hard links may have left its placeholder there.
        if (row.action == Action::Tidy && files::IsPlaceholder(entry.target, startedNs))
            row.leftovers.append(entry.target);
        if (row.action != Action::Refuse) {
            // A partial copy is never larger than what it copies; anything larger is not ours.
            for (const QString &copy :
                 files::TemporaryCopies(entry.target) + files::TemporaryCopies(entry.source)) {
                const std::optional<Identity> found = IdentityOf(copy);
                if (found && found->size <= entry.identity.size)
                    row.leftovers.append(copy);
            }
        }
        if (atTarget)
            row.seen = {atTarget->device, atTarget->inode};
        if (row.action != Action::Tidy || !row.leftovers.isEmpty())
            rows.append(row);
    }
    for (auto folder = journal.folders.crbegin(); folder != journal.folders.crend(); ++folder) {
        UndoRow row;
        row.entry = -1;
        row.target = journal.header.root + *folder;
        row.action = Action::RemoveFolder;
        if ((!within || Holder(*within, row.target) >= 0) && QFileInfo(row.target).isDir())
            rows.append(row);
    }
    return rows;
}

QString RelativeTo(const QString &path, const QString &root)
{
    return path.startsWith(root) ? path.mid(root.size()) : path;
}

int ApplyUndo(const Journal &journal, QVector<UndoRow> &rows,
              const std::function<void(int)> &beforeRow, const files::CopyProgress &progress,
              QString *error, const QVector<files::Bounds> *within)
{
    bool inUse = false;
    const std::unique_ptr<Writer> writer = Writer::Append(journal, error, &inUse);
    if (!writer)
        return inUse ? kInUse : -1;
    // A folder by its path, or beneath the one of within that holds it.
    const auto open = [within](const QString &path) {
        const int holder = within ? Holder(*within, path) : -1;
        return !within ? std::make_unique<files::Base>(path)
               : holder >= 0
                   ? std::make_unique<files::Base>(QDir::cleanPath(path), within->at(holder))
                   : std::make_unique<files::Base>(path, files::Bounds());
    };
    const QString &root = journal.header.root;
    const std::unique_ptr<files::Base> rootBase = open(root);
    int failures = 0;
    for (int i = 0; i < rows.size(); ++i) {
        UndoRow &row = rows[i];
        if (beforeRow)
            beforeRow(i);
        bool done = true;
        // Every file a run made lies beneath its root.
        const QString made = row.target.startsWith(root) ? row.target.mid(root.size()) : QString();
        if (row.action != Action::Refuse && row.action != Action::Tidy && made.isEmpty()) {
            row.action = Action::Refuse;
            row.reason = QStringLiteral("outside the root");
        }
        switch (row.action) {
        case Action::Refuse:
            done = false;
            row.error = row.reason;
            break;
        case Action::MoveBack: {
            // A release folder removed since is made again.
            QString relative;
            const std::unique_ptr<files::Base> base = open(BaseFor(row.source, root, &relative));
            done = files::PlaceFile(files::Action::Move, {rootBase.get(), made, row.seen}, *base,
                                    relative, nullptr, &row.error, progress);
            break;
        }
        case Action::RemoveCopy:
        case Action::RemoveMade:
        case Action::RemoveFolder: {
            const bool folder = row.action == Action::RemoveFolder;
            const int err =
                files::RemoveBeneath(*rootBase, made, folder, folder ? files::FileId() : row.seen);
            // A folder that holds anything else, or is gone, stays as it is.
            done = err == 0 || (folder && (err == ENOTEMPTY || err == EEXIST || err == ENOENT));
            if (!done)
                row.error = err == ESTALE ? QStringLiteral("the file changed since the scan")
                                          : QStringLiteral("remove %1: %2")
                                                .arg(folder ? QStringLiteral("folder")
                                                            : QStringLiteral("copy"),
                                                     QString::fromLocal8Bit(std::strerror(err)));
            break;
        }
        case Action::Tidy:
            break;
        }
        for (const QString &copy : std::as_const(row.leftovers)) {
            if (done && ::unlink(QFile::encodeName(copy).constData()) != 0 && errno != ENOENT) {
                done = false;
                row.error = QStringLiteral("remove temporary copy %1: %2")
                                .arg(QFileInfo(copy).fileName(),
                                     QString::fromLocal8Bit(std::strerror(errno)));
            }
        }
        row.restored = done;
        if (row.entry >= 0)
            writer->Restored(row.entry, done, row.error);
        if (!done)
            ++failures;
    }
    if (failures == 0)
        writer->Undone();
    return failures;
}

} // namespace journal
