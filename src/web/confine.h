// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include <QString>

// Paths that come from a client, kept within the root they name. The kernel resolves them
// beneath the root's open folder, so that no link, ".." or race leads out of it; the string
// checks only give an early, clear answer.
namespace web {

// Why a client's path relative to a root is refused outright: "absolute path", "'..' is not
// allowed", "NUL byte in a path"; empty when it is none of these. "" is the root itself.
QString PathProblem(const QString &relative);

// files::OpenBeneath for a client's path: relative opened beneath the folder open at rootFd with
// flags, never outside it. -1 with errno (EXDEV or ELOOP for a path that would leave the root).
int OpenBeneath(int rootFd, const QString &relative, int flags);

// Whether relative names something beneath the folder open at rootFd, reached without leaving
// it; the last component is followed only when followLast is set.
bool Beneath(int rootFd, const QString &relative, bool followLast = true);

// Whether errno, after OpenBeneath failed, means the path would have left its root.
bool Escaped(int err);

} // namespace web
