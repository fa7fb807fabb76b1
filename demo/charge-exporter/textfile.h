// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_CHARGE_EXPORTER_TEXTFILE_H
#define DEMO_CHARGE_EXPORTER_TEXTFILE_H

// A charge-recorder row as Prometheus' text exposition format, the format
// that node_exporter's textfile collector reads: one gauge per column, in
// base units, and the row's own time as a gauge of its own (the collector
// refuses samples that carry a time stamp).

#include "batterycolumns.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>
#include <vector>

// The gauge a column becomes: its name (base unit last) and what one unit
// of the column is in that base unit.
struct Gauge
{
    const char *name;
    const char *help;
    double scale;
};

const Gauge &gaugeOf(Column column);

// One row of a log, read under its header.
struct Row
{
    long long time = 0; // seconds since the epoch
    std::vector<Column> columns; // as the header names them, known ones only
    // Per column: the number the cell holds, empty for the column's marker.
    std::array<std::optional<long long>, ColumnCount> values {};
    // Per state column: the word the cell stands for.
    std::array<QString, ColumnCount> states {};
};

// Reads the cells of a row (after the time) under the header's columns
// (-1 for a name that is not a column). An empty text when the row is good,
// or why it is not.
QString readRow(const std::vector<char *> &cells, const std::vector<int> &header, Row *row);

// The whole text file for one row; device is the value of the device label.
QByteArray textfile(const Row &row, const QString &device);

#endif
