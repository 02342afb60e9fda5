// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <memory>

class QLineEdit;
class QPushButton;
class QTreeWidget;
class RowNaming;

// The one window: two pattern fields, the release table and two buttons. Column 0 of a release
// row holds the folder (and the tick, and under Qt::UserRole the chosen file's absolute path),
// column 1 the chosen file's name, column 2 the target name.
class Gui : public QMainWindow
{
    Q_OBJECT

public:
    explicit Gui(QWidget *parent = nullptr);

public slots:
    // Runs the folder dialog, sets the root folder and rebuilds the release table.
    void SelectFolders();
    void SetRootPath(const QString &rootDir);

private slots:
    // Rewrites column 2 of every release row from the two patterns.
    void UpdateFilenames();
    // Moves every ticked row's file into the root folder under its target name.
    void RenameFiles();

private:
    QLineEdit *filenameEdit = nullptr;
    QLineEdit *outputPatternEdit = nullptr;
    QTreeWidget *fileTree = nullptr;
    QPushButton *processButton = nullptr;
    QPushButton *openFoldersButton = nullptr;
    QString rootPath = QStringLiteral(".");
    QStringList releaseTags;
    // The patterns and root that the rows of the last scan read their target names and source
    // paths from; none before the first scan.
    std::shared_ptr<RowNaming> rowNaming;
};
