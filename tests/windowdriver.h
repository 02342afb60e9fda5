// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

// Drives the real window the way a person does: finds its widgets, answers its folder dialog
// from a timer, and builds release trees on disk for it to scan.

#include "gui.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <functional>

struct WindowDriver
{
    Gui gui;
    QLineEdit *filename = nullptr;
    QLineEdit *output = nullptr;
    QTreeWidget *tree = nullptr;
    QPushButton *open = nullptr;
    QPushButton *process = nullptr;

    WindowDriver()
    {
        const auto edits =
            gui.centralWidget()->findChildren<QLineEdit *>(QString(), Qt::FindDirectChildrenOnly);
        filename = edits.value(0);
        output = edits.value(1);
        tree = gui.findChild<QTreeWidget *>();
        const auto buttons = gui.findChildren<QPushButton *>(); // in the order they were made
        open = buttons.value(0);
        process = buttons.value(1);
        gui.show();
    }

    // What the dialog is to do once it shows.
    struct Answer
    {
        QString showFolder; // folder to move the dialog to first, if any
        QStringList select; // entries to select in its list view, in this order
        bool accept = true; // accept, or cancel
    };

    // Clicks "Open Folder(s)" and answers the dialog, calling beforeClosing right before the
    // answer. Returns the folder the dialog opened at; any trouble answering lands in error.
    QString OpenFolders(const Answer &answer, QString *error,
                        const std::function<void()> &beforeClosing = {})
    {
        QString openedAt;
        // A local timer: should no dialog show, nothing fires later with these references gone.
        QTimer answerer;
        answerer.setSingleShot(true);
        QObject::connect(&answerer, &QTimer::timeout, &gui, [&] {
            QFileDialog *dialog = nullptr;
            if (!QTest::qWaitFor([&] {
                    return (dialog = qobject_cast<QFileDialog *>(
                                QApplication::activeModalWidget())) != nullptr;
                })) {
                *error = QStringLiteral("no folder dialog showed");
                return;
            }
            openedAt = dialog->directory().absolutePath();
            if (!answer.showFolder.isEmpty())
                dialog->setDirectory(answer.showFolder);
            auto *list = dialog->findChild<QListView *>(QStringLiteral("listView"));
            for (const QString &name : answer.select) {
                QModelIndex entry;
                if (!list ||
                    !QTest::qWaitFor([&] { return (entry = Find(list, name)).isValid(); })) {
                    *error = QStringLiteral("no entry '%1' in the dialog").arg(name);
                    break;
                }
                list->selectionModel()->select(entry, QItemSelectionModel::Select |
                                                          QItemSelectionModel::Rows);
            }
            const bool accept = answer.accept && error->isEmpty();
            if (beforeClosing)
                beforeClosing();
            QMetaObject::invokeMethod(dialog, accept ? "accept" : "reject");
        });
        answerer.start(0);
        QTest::mouseClick(open, Qt::LeftButton);
        return openedAt;
    }

    // The folder the next dialog opens at, which is the window's root folder.
    QString RootFolder()
    {
        QString error;
        return OpenFolders({QString(), {}, false}, &error);
    }

    QStringList Column(int column) const
    {
        QStringList texts;
        for (int row = 0; row < tree->topLevelItemCount(); ++row)
            texts.append(tree->topLevelItem(row)->text(column));
        return texts;
    }

    static QModelIndex Find(const QListView *list, const QString &name)
    {
        const QAbstractItemModel *model = list->model();
        return model
            ->match(model->index(0, 0, list->rootIndex()), Qt::DisplayRole, name, 1,
                    Qt::MatchExactly)
            .value(0);
    }
};

// Writes a file of the given size, making its folders first.
inline bool WriteFile(const QString &path, qint64 size, char fill = 'x')
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QByteArray(size, fill)) == size;
}
