// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "gui.h"

#include "naming.h"

#include <QLineEdit>
#include <QSignalBlocker>
#include <QTreeWidget>

void Gui::UpdateFilenames()
{
    const naming::Patterns patterns(filenameEdit->text(), outputPatternEdit->text());

    // Told of each changed row, the view works out where every one of them lies, which cost
    // more than computing the names; so the rows change silently and the view simply repaints
    // what it shows, reading the new texts. Rows out of sight are read when they come into view.
    {
        const QSignalBlocker silence(fileTree->model());
        for (int row = 0; row < fileTree->topLevelItemCount(); ++row) {
            QTreeWidgetItem *item = fileTree->topLevelItem(row);
            item->setText(2, patterns.TargetName(item->text(0), item->text(1)));
        }
    }
    fileTree->viewport()->update();
}
