// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "gui.h"

#include "naming.h"
#include "noeditdelegate.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

Gui::Gui(QWidget *parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Move & Rename"));

    auto *central = new QWidget;
    setCentralWidget(central);
    auto *layout = new QVBoxLayout(central);

    auto *patternRow = new QHBoxLayout;
    layout->addLayout(patternRow);
    patternRow->addWidget(new QLabel(QStringLiteral("Filename:")));
    filenameEdit = new QLineEdit;
    patternRow->addWidget(filenameEdit);
    patternRow->addWidget(new QLabel(QStringLiteral("Output pattern:")));
    outputPatternEdit = new QLineEdit;
    patternRow->addWidget(outputPatternEdit);

    fileTree = new QTreeWidget;
    fileTree->setColumnCount(3);
    fileTree->setAlternatingRowColors(true);
    fileTree->setRootIsDecorated(false);
    // Every row is one line high. Saying so spares the view from measuring each row it is told
    // has changed, which made a keystroke over 10,000 rows take a quarter of a second.
    fileTree->setUniformRowHeights(true);
    fileTree->setHeaderLabels({QStringLiteral("Directories"), QStringLiteral("Source file"),
                               QStringLiteral("Target filenames")});
    layout->addWidget(fileTree);
    fileTree->setItemDelegateForColumn(0, new NoEditDelegate(this));
    fileTree->setItemDelegateForColumn(1, new NoEditDelegate(this));

    auto *buttonRow = new QHBoxLayout;
    layout->addLayout(buttonRow);
    buttonRow->addStretch();
    openFoldersButton = new QPushButton(QStringLiteral("Open Folder(s)"));
    buttonRow->addWidget(openFoldersButton);
    processButton = new QPushButton(QStringLiteral("Process"));
    processButton->setEnabled(false);
    buttonRow->addWidget(processButton);

    connect(filenameEdit, &QLineEdit::textChanged, this, &Gui::UpdateFilenames);
    connect(outputPatternEdit, &QLineEdit::textChanged, this, &Gui::UpdateFilenames);
    connect(openFoldersButton, &QPushButton::clicked, this, &Gui::SelectFolders);
    connect(processButton, &QPushButton::clicked, this, &Gui::RenameFiles);

    releaseTags << naming::ReleaseTags();
}

void Gui::SetRootPath(const QString &rootDir)
{
    rootPath = rootDir;
}
