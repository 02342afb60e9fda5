// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "gui.h"

#include "releaserow.h"
#include "repaintthrottle.h"
#include "safemove.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTreeWidget>

void Gui::RenameFiles()
{
    const QDir root(rootPath);
    if (!root.exists())
        return;

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
        const bool moved = files::MoveFile(source, target);
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
