// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

// Drives the real window the way a person does: finds its widgets, answers its folder dialog
// from a timer.

#include "gui.h"
#include "ondisk.h"

#include <QTest>
#include <QtWidgets>

#include <functional>

struct WindowDriver
{
    Gui gui;
    QLineEdit *filename = gui.findChildren<QLineEdit *>().value(0);
    QLineEdit *output = gui.findChildren<QLineEdit *>().value(1);
    QTreeWidget *tree = gui.findChild<QTreeWidget *>();
    QPushButton *open = gui.findChildren<QPushButton *>().value(0); // in the order they were made
    QPushButton *process = gui.findChildren<QPushButton *>().value(1);

    WindowDriver() { gui.show(); }

    // What the dialog is to do once it shows.
    struct Answer
    {
        QString showFolder; // folder to move the dialog to first, if any
        QStringList select; // entries to select in its list view, in this order
        bool accept = true; // accept, or cancel
    };

    // Clicks "Open Folder(s)" and answers the dialog, calling beforeClosing right before the
    // answer. Returns the folder the dialog opened at. Any trouble answering lands in error or,
    // without one, fails the test.
    QString OpenFolders(const Answer &answer, QString *error = nullptr,
                        const std::function<void()> &beforeClosing = {})
    {
        QString openedAt, trouble;
        QObject timer; // should no dialog show, nothing fires later with these references gone
        QTimer::singleShot(0, &timer, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY2(dialog, "no folder dialog showed");
            openedAt = dialog->directory().absolutePath();
            if (!answer.showFolder.isEmpty())
                dialog->setDirectory(answer.showFolder);
            const QListView *list = dialog->findChild<QListView *>("listView");
            QAbstractItemModel *model = list->model();
            const auto find = [&](const QString &name) {
                const QModelIndex first = model->index(0, 0, list->rootIndex());
                return model->match(first, Qt::DisplayRole, name, 1, Qt::MatchExactly).value(0);
            };
            // The list fills as the folder is read, then sorts itself, which would lose the order
            // of a selection made before: it is sorted here once the entries are in.
            for (const QString &name : answer.select)
                if (!QTest::qWaitFor([&] { return find(name).isValid(); }))
                    trouble = QString("no entry '%1' in the dialog").arg(name);
            model->sort(0);
            for (const QString &name : answer.select)
                list->selectionModel()->select(find(name), QItemSelectionModel::Select |
                                                               QItemSelectionModel::Rows);
            if (beforeClosing)
                beforeClosing();
            QMetaObject::invokeMethod(dialog,
                                      answer.accept && trouble.isEmpty() ? "accept" : "reject");
        });
        QTest::mouseClick(open, Qt::LeftButton);
        if (error)
            *error = trouble;
        else if (!trouble.isEmpty())
            QTest::qFail(qPrintable(trouble), __FILE__, __LINE__);
        return openedAt;
    }

    // The folder the next dialog opens at, which is the window's root folder.
    QString RootFolder() { return OpenFolders({{}, {}, false}); }

    QStringList Column(int column, int role = Qt::DisplayRole) const
    {
        QStringList texts;
        for (int row = 0; row < tree->topLevelItemCount(); ++row)
            texts.append(tree->topLevelItem(row)->data(column, role).toString());
        return texts;
    }
};
