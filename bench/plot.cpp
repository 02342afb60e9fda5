// SPDX-License-Identifier: GPL-3.0-or-later
// SPDX-FileCopyrightText: 2026 Move & Rename developers

#include "plot.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryFile>
#include <QTextStream>

#include <iterator>

namespace {

// The three panels: times over rows or folders, memory over rows, and the move of one large file
// over its size. A case belongs to the first panel whose test it passes.
struct Panel
{
    const char *title;
    const char *xLabel;
    const char *yLabel;
    bool (*holds)(const QJsonObject &row);
    const char *origin; // where it lies on the canvas, and how much of it it takes
    const char *size;
    const char *key;
};

bool IsMemory(const QJsonObject &row)
{
    return row.contains(QStringLiteral("mb"));
}

bool IsOneFile(const QJsonObject &row)
{
    return row.value(QStringLiteral("case")).toString().contains(QStringLiteral("MiB"));
}

const Panel Panels[] = {
    {"Time", "rows or folders", "median (ms)",
     [](const QJsonObject &row) { return !IsMemory(row) && !IsOneFile(row); }, "0,0.42", "1,0.58",
     "outside right top"},
    {"Memory of the window", "rows", "peak resident (MB)", IsMemory, "0,0", "0.5,0.42",
     "inside left top"},
    {"Moving one file across file systems", "file size (MiB)", "median (ms)", IsOneFile, "0.5,0",
     "0.5,0.42", "inside left top"},
};

// One colour per case; a case's floors are dashed in its colour.
const char *const Colors[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd",
                              "#ff7f0e", "#8c564b", "#e377c2", "#17becf"};

QString Quoted(QString text)
{
    return QLatin1Char('"') + text.replace(QLatin1Char('"'), QLatin1Char('\'')) + QLatin1Char('"');
}

// A gnuplot data block of "size value" lines, named name.
void Block(QTextStream &script, const QString &name, const QList<QPair<int, double>> &points)
{
    script << '$' << name << " << EOD\n";
    for (const auto &[size, value] : points)
        script << size << ' ' << value << '\n';
    script << "EOD\n";
}

} // namespace

QString PlotResults(const QString &jsonPath, const QString &svgPath)
{
    QFile json(jsonPath);
    if (!json.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read ") + jsonPath;
    const QJsonArray rows = QJsonDocument::fromJson(json.readAll()).array();

    QTemporaryFile scriptFile;
    if (!scriptFile.open())
        return QStringLiteral("cannot write a gnuplot script");
    QTextStream script(&scriptFile);
    // An SVG for the README; a PNG where a picture is wanted that any viewer shows.
    script << (svgPath.endsWith(QStringLiteral(".png")) ? "set terminal pngcairo size 1200,900"
                                                        : "set terminal svg size 1200,900 dynamic")
           << " font 'sans,11' background '#ffffff'\n"
           << "set output " << Quoted(svgPath) << '\n'
           << "set multiplot\nset logscale xy\nset grid\n";
    int block = 0;
    for (const Panel &panel : Panels) {
        // Per case, in the order of the run: its medians, and the values of each of its floors.
        QStringList cases;
        QMap<QString, QList<QPair<int, double>>> medians;
        QMap<QString, QStringList> floorsOf;
        QMap<QString, QList<QPair<int, double>>> floors; // by case + "\n" + floor
        for (const QJsonValue &value : rows) {
            const QJsonObject row = value.toObject();
            if (!panel.holds(row))
                continue;
            const QString name = row.value(QStringLiteral("case")).toString();
            const QString floor = row.value(QStringLiteral("floor")).toString();
            const int size = row.value(QStringLiteral("size")).toInt();
            const bool memory = IsMemory(row);
            const double median =
                row.value(memory ? QStringLiteral("mb") : QStringLiteral("median_ms")).toDouble();
            const double floorValue =
                row.value(memory ? QStringLiteral("floor_mb") : QStringLiteral("floor_ms"))
                    .toDouble();
            if (!cases.contains(name))
                cases.append(name);
            if (medians[name].isEmpty() || medians[name].constLast().first != size)
                medians[name].append({size, median});
            if (!floorsOf[name].contains(floor))
                floorsOf[name].append(floor);
            floors[name + QLatin1Char('\n') + floor].append({size, floorValue});
        }
        if (cases.isEmpty())
            continue;
        script << "set origin " << panel.origin << "\nset size " << panel.size << '\n';
        script << "set key " << panel.key << "\nset title "
               << Quoted(QString::fromLatin1(panel.title)) << "\nset xlabel "
               << Quoted(QString::fromLatin1(panel.xLabel)) << "\nset ylabel "
               << Quoted(QString::fromLatin1(panel.yLabel)) << '\n';
        QStringList plots;
        for (int c = 0; c < cases.size(); ++c) {
            const QString &name = cases.at(c);
            const QString color = Quoted(QString::fromLatin1(Colors[c % std::size(Colors)]));
            const QString data = QStringLiteral("m%1").arg(block++);
            Block(script, data, medians.value(name));
            plots << QStringLiteral("$%1 with linespoints lc rgb %2 lw 2 pt 7 title %3")
                         .arg(data, color, Quoted(name));
            const QStringList caseFloors = floorsOf.value(name);
            for (int f = 0; f < caseFloors.size(); ++f) {
                const QString floorData = QStringLiteral("f%1").arg(block++);
                Block(script, floorData, floors.value(name + QLatin1Char('\n') + caseFloors[f]));
                plots << QStringLiteral("$%1 with linespoints lc rgb %2 dt %3 pt 6 title %4")
                             .arg(floorData, color, QString::number(f + 2),
                                  Quoted(QStringLiteral("  floor: ") + caseFloors[f]));
            }
        }
        script << "plot " << plots.join(QStringLiteral(", \\\n     ")) << '\n';
    }
    script << "unset multiplot\n";
    script.flush();

    QProcess gnuplot;
    gnuplot.start(QStringLiteral("gnuplot"), {scriptFile.fileName()});
    if (!gnuplot.waitForFinished(-1) || gnuplot.exitStatus() != QProcess::NormalExit ||
        gnuplot.exitCode() != 0)
        return QStringLiteral("gnuplot failed: ") +
               QString::fromLocal8Bit(gnuplot.readAllStandardError());
    return QString();
}
