// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include <QStyledItemDelegate>

// Keeps a column of a view read-only: the view asks for an editor and gets none. Tick boxes
// still work, since they are handled by editorEvent, not by an editor.
class NoEditDelegate : public QStyledItemDelegate
{
public:
    explicit NoEditDelegate(QObject *parent = nullptr);

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
};
