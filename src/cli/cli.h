// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include <QStringList>

class QTextStream;

// Runs move-rename-cli on arguments (the program name first), writing to out and err, and
// returns its exit status: 0 done, 1 a row failed to move, 2 bad input. errIsTerminal allows
// --apply to keep a progress line on err.
int RunCli(const QStringList &arguments, QTextStream &out, QTextStream &err, bool errIsTerminal);
