// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "gui.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv); // takes out the options the toolkit knows, lowering argc
    Gui window;
    // Arguments come in the local 8-bit encoding; decoding them so keeps folder names that
    // hold letters beyond ASCII.
    if (argc > 1)
        window.SetRootPath(QString::fromLocal8Bit(argv[1]));
    window.show();
    return app.exec();
}
