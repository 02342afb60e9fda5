// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

namespace files {

// Called while a file is copied between file systems: bytes copied so far, and the total.
using CopyProgress = std::function<void(qint64 copied, qint64 total)>;

// Moves the file at source to target, all or nothing. Nothing that exists at target is ever
// opened, truncated or replaced, whatever its type. On one file system this is a single atomic
// rename that refuses to replace; where the file system has no such rename, a hard link then an
// unlink; where it has no hard links either (many network and FUSE shares), a rename over an
// empty placeholder created exclusively at target and checked to be ours just before. Across
// file systems the file is copied into a hidden temporary file beside target, checked, flushed
// to disk and published under target the same way before source is removed. Returns false on
// any failure, with target holding nothing new, no temporary file left and source untouched;
// error (when given) then receives a short reason.
bool MoveFile(const QString &source, const QString &target, QString *error = nullptr,
              const CopyProgress &progress = {});

// The hidden temporary copies beside target that MoveFile makes while it copies between file
// systems, as a run killed during such a copy leaves them.
QStringList TemporaryCopies(const QString &target);

// Whether target holds the empty placeholder that MoveFile makes on file systems without hard
// links, just before renaming over it: a plain empty file of mode 0600, modified no earlier than
// sinceNs (nanoseconds since the epoch). A move cut off at that moment leaves it behind.
bool IsPlaceholder(const QString &target, qint64 sinceNs);

} // namespace files
