#include "gui.h"

#include "naming.h"

#include <QLineEdit>
#include <QSignalBlocker>
#include <QTreeWidget>

void Gui::UpdateFilenames()
{
    const naming::Patterns patterns(filenameEdit->text(), outputPatternEdit->text());

    // The view handles every change notice on its own, which made one keystroke cost the square
    // of the number of rows; so the rows change silently and the view hears of them once.
    QAbstractItemModel *model = fileTree->model();
    {
        const QSignalBlocker silence(model);
        for (int row = 0; row < fileTree->topLevelItemCount(); ++row) {
            QTreeWidgetItem *item = fileTree->topLevelItem(row);
            item->setText(2, patterns.TargetName(item->text(0), item->text(1)));
        }
    }
    if (const int rows = fileTree->topLevelItemCount())
        emit model->dataChanged(model->index(0, 2), model->index(rows - 1, 2));
}
