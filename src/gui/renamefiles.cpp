// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "gui.h"

#include "releaserow.h"
#include "repaintthrottle.h"
#include "safemove.h"
#include "scan.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTreeWidget>

#include <optional>

namespace {

// Moves the file at source to target, as the window always has: whatever file is there now. A
// source below the root (slashed) is reached beneath rootBase, other paths through their folders.
bool Move(const files::Base &rootBase, const QString &slashed, const QString &source,
          const QString &target)
{
    const qsizetype sourceSlash = source.lastIndexOf(QLatin1Char('/'));
    const qsizetype targetSlash = target.lastIndexOf(QLatin1Char('/'));
    std::optional<files::Base> sourceFolder, targetFolder;
    const bool below = source.startsWith(slashed);
    if (!below)
        sourceFolder.emplace(source.left(sourceSlash));
    // Most targets lie in the root itself, which is open already.
    if (targetSlash + 1 != slashed.size() || !target.startsWith(slashed))
        targetFolder.emplace(target.left(targetSlash));
    const files::SourceFile file =
        below ? files::SourceFile{&rootBase, source.mid(slashed.size())}
              : files::SourceFile{&*sourceFolder, source.mid(sourceSlash + 1)};
    return files::MoveFile(file, targetFolder ? *targetFolder : rootBase,
                           target.mid(targetSlash + 1));
}

} // namespace

void Gui::RenameFiles()
{
    const QDir root(rootPath);
    if (!root.exists())
        return;
    // Files below the root are reached beneath it, held open once for every row: no link put on
    // the way while the walk goes on leads out of it.
    const files::Base rootBase(root.absolutePath());
    const QString slashed = files::WithTrailingSlash(root.absolutePath());

    RepaintThrottle throttle(fileTree);
    // The row count is read afresh at every step and a row is never touched after events were
    // processed: a click or an edit handled there may have removed or replaced rows.
    for (int row = 0; row < fileTree->topLevelItemCount();) {
        // Every row is a release row; anything else would be no file of a scan's, and stays.
        auto *item = dynamic_cast<ReleaseRow *>(fileTree->topLevelItem(row));
        if (!item || !item->Ticked()) {
            ++row;
            continue;
        }
        const QString target = root.absoluteFilePath(item->Target());
        const QString source = item->ChosenFile();
        // A file that is gone is passed over without a word. Asking before every move cost a
        // round trip per file, so a missing file is told from a refused move once the move
        // fails; only a link, which the move would carry off though it leads nowhere, is asked
        // first.
        if (item->MayBeLink() && !QFile::exists(source)) {
            ++row;
            continue;
        }
        const bool moved = Move(rootBase, slashed, source, target);
        if (!moved && !QFile::exists(source)) {
            ++row;
            continue;
        }
        if (moved) {
            // A removed current row hands its place to the next one, which the view then lays
            // out every row to scroll to; the current row simply leaves with the file.
            if (fileTree->currentItem() == item)
                fileTree->setCurrentItem(nullptr);
            delete item; // the next row now has this index
        } else {
            qWarning("not possible to rename file '%s' to '%s'", source.toLocal8Bit().constData(),
                     target.toLocal8Bit().constData());
        }
        throttle.BeforeEvents();
        QCoreApplication::processEvents();
        if (!moved)
            ++row;
    }
    processButton->setEnabled(false);
}
