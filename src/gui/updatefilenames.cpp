// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "gui.h"

#include "releaserow.h"

#include <QLineEdit>
#include <QTreeWidget>

void Gui::UpdateFilenames()
{
    // Rows work out their target names as they are read, so a keystroke costs the parsing of
    // both patterns, whatever the number of rows, and a repaint of the rows in view. Writing a
    // text into every row cost as much as computing all the names.
    if (rowNaming)
        rowNaming->SetPatterns(filenameEdit->text(), outputPatternEdit->text());
    fileTree->viewport()->update();
}
