// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#pragma once

#include <QString>

// Draws the benchmark results in the JSON file jsonPath as an SVG picture at svgPath, with
// gnuplot: each case's median against its size on log-log axes, beside its floor. Returns what
// went wrong, or an empty text.
QString PlotResults(const QString &jsonPath, const QString &svgPath);
