// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "gui.h"

#include "naming.h"
#include "releaserow.h"
#include "scan.h"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTreeView>
#include <QTreeWidget>

#include <utility>

void Gui::SelectFolders()
{
    QFileDialog dialog(this);
    dialog.setDirectory(rootPath);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    // Setting the file mode resets both views to single selection, so this comes after it.
    if (auto *list = dialog.findChild<QListView *>(QStringLiteral("listView")))
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    if (auto *details = dialog.findChild<QTreeView *>())
        details->setSelectionMode(QAbstractItemView::ExtendedSelection);
    const bool accepted = dialog.exec() != 0;
    QStringList selection = dialog.selectedFiles();

    // The root changes even when the dialog was cancelled: one folder stands for its
    // subfolders and becomes the root; otherwise the folder the dialog shows is the root.
    QStringList releaseFolders;
    if (selection.size() == 1) {
        const QString folder = selection.takeFirst();
        const QDir dir(folder);
        if (dir.exists()) {
            rootPath = dir.absolutePath();
            releaseFolders = files::Subfolders(folder);
        }
    } else {
        rootPath = dialog.directory().absolutePath();
        releaseFolders = selection;
    }
    rootPath = files::WithTrailingSlash(rootPath);

    if (!accepted || releaseFolders.isEmpty())
        return;

    fileTree->clear();
    rowNaming = std::make_shared<RowNaming>(QDir(rootPath).absolutePath());
    QList<QTreeWidgetItem *> rows;
    rows.reserve(releaseFolders.size());
    // The suggestion reads the folder texts as they come, in row order: read back from 100,000
    // rows scattered in memory, they took longer than the suggestion itself.
    const bool suggest = filenameEdit->text().isEmpty();
    QStringList folderTexts;
    if (suggest)
        folderTexts.reserve(releaseFolders.size()); // grown by appending, it held twice as much
    // Each folder path goes once it is scanned and each release becomes its row at once: with
    // many folders, lists of all paths and all releases would hold memory while the rows grow.
    files::ScanReleaseFolders(rootPath, std::move(releaseFolders),
                              [&](files::ReleaseFile &&release) {
                                  if (suggest)
                                      folderTexts.append(release.folder);
                                  rows.append(new ReleaseRow(rowNaming, std::move(release)));
                              });
    // One insertion for all rows: appended one at a time, the view relaid itself out per row.
    fileTree->addTopLevelItems(rows);

    // With no rows there is nothing to suggest from; both fields keep their texts so that the
    // next scan that finds rows still gets a suggestion.
    if (suggest && !rows.isEmpty()) {
        // Both fields change before the one recomputation, not once per field.
        disconnect(filenameEdit, &QLineEdit::textChanged, this, &Gui::UpdateFilenames);
        disconnect(outputPatternEdit, &QLineEdit::textChanged, this, &Gui::UpdateFilenames);
        outputPatternEdit->setText(QStringLiteral("%1"));
        const QString prefix = naming::CommonPrefix(folderTexts);
        const QString suffix = naming::CommonTagSuffix(folderTexts, releaseTags);
        filenameEdit->setText(naming::SuggestedFilenamePattern(prefix, suffix, rootPath));
        connect(filenameEdit, &QLineEdit::textChanged, this, &Gui::UpdateFilenames);
        connect(outputPatternEdit, &QLineEdit::textChanged, this, &Gui::UpdateFilenames);
        UpdateFilenames();
    }

    processButton->setEnabled(true);
}
