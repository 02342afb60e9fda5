// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

// Rows that cannot run on this machine skip and say why. Qt Test counts a skipped row as passed,
// so a suite that skipped rows and failed none exits 77 instead, which CTest shows as not run,
// and prints a line per reason ("skipped rows: N: why"), which ./test gathers.

#include <QCoreApplication>
#include <QMap>
#include <QTest>

#include <algorithm>
#include <cstdio>

inline QMap<QByteArray, int> &SkippedRows()
{
    static QMap<QByteArray, int> reasons;
    return reasons;
}

#define SKIP_ROW(why)                                                                              \
    do {                                                                                           \
        const QByteArray reason(why);                                                              \
        ++SkippedRows()[reason];                                                                   \
        QSKIP(reason.constData());                                                                 \
    } while (false)

inline int ExitStatus(int failures)
{
    for (auto it = SkippedRows().cbegin(); it != SkippedRows().cend(); ++it)
        std::printf("skipped rows: %d: %s\n", it.value(), it.key().constData());
    // 77 failed rows must not read as a skip.
    return failures > 0 ? std::min(failures, 76) : SkippedRows().isEmpty() ? 0 : 77;
}

// QTEST_MAIN and QTEST_GUILESS_MAIN, with the exit status above.
#define SKIP_AWARE_MAIN(Application, TestObject)                                                   \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        Application app(argc, argv);                                                               \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject test;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return ExitStatus(QTest::qExec(&test, argc, argv));                                        \
    }
