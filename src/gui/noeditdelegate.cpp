// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "noeditdelegate.h"

NoEditDelegate::NoEditDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{}

QWidget *NoEditDelegate::createEditor(QWidget *, const QStyleOptionViewItem &,
                                      const QModelIndex &) const
{
    return nullptr;
}
