// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_CHARGE_PLOT_CHARGELOG_H
#define DEMO_CHARGE_PLOT_CHARGELOG_H

#include "batterycolumns.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <climits>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

// The header text of a column, without the leading ", ".
const char *columnName(Column column);
bool isState(Column column);

// One run of the recorder: the rows after one header. Values are kept per
// column, as float (exact for every whole number a battery reports, and
// half the memory of double); a state column holds indexes into
// ChargeLog::states; a cell where the battery had no figure (the column's
// marker) is NaN, a gap in the picture. Deques grow in blocks, without
// copying what they hold, so a week of rows never needs twice its memory.
struct Segment
{
    std::array<bool, ColumnCount> present {};
    std::deque<long long> times; // seconds since the epoch
    std::array<std::deque<float>, ColumnCount> values;
    long long interval = 0; // the usual spacing of the rows, in seconds; 0 when unknown

    // Two rows further apart than twice the interval, or in the wrong
    // order (the clock set back), are not joined by a line.
    bool breakBetween(size_t row) const;
};

struct ChargeLog
{
    std::vector<Segment> segments;
    // For each state column, the texts its indexes stand for, in order of
    // first appearance.
    std::array<QStringList, ColumnCount> states;
    QString firstStamp;
    QString lastStamp;
    long long rows = 0;
    long long firstTime = 0;
    long long lastTime = 0;
    // A column that some run wrote, in a row that was read.
    bool written(Column column) const;
    // A column with at least one value that is not its marker.
    bool has(Column column) const;
};

// A line as one line on a terminal: control characters as \n, \r, \t or
// \xNN, so that a log cannot paint over the warning that quotes it.
QByteArray escapedLine(const QByteArray &text);

// The pieces a log is read with, each on its own.

// A line with NUL bytes in it is what a writer that died left (a row cut
// off, blocks of zeros that were never written) with the next run's text
// after it on the same line, its header usually. The text after the last
// NUL byte is the line to read; where that starts (0 for a line without
// NUL bytes), and in leftOut a warning that says what is left out before it.
size_t afterNulBytes(const char *line, size_t length, QString *leftOut);

// Splits a line (its end removed) in place into cells at the commas, each
// cell without the blanks around it.
void splitCells(char *line, std::vector<char *> &cells);

// The column of each cell after "TIME" in a header: -1 for a name this
// program does not know and for a column named a second time.
std::vector<int> headerColumns(const std::vector<char *> &cells);

// Reads the rows of one log: time stamps in the recorder's locale (or the
// C locale), numbers, markers and state words.
class RowReader
{
public:
    RowReader();
    ~RowReader();
    RowReader(const RowReader &) = delete;
    RowReader &operator=(const RowReader &) = delete;

    // The seconds since the epoch of a stamp "%d %b %Y %H:%M:%S" in local
    // time; false for anything else, a date that the calendar lacks too.
    bool parseStamp(const char *text, long long *result);

    // The cells of a row under the header's columns into values (indexed
    // by column), adding new state texts to states. An empty text when the
    // row is good, or why it is not.
    QString readCells(const std::vector<char *> &cells, const std::vector<int> &columns,
        std::array<QStringList, ColumnCount> &states, float *values);

private:
    struct Private;
    Private *d;
};

// The longest line read; longer ones are warned about and left out.
constexpr size_t maxLineLength = 64 * 1024;

// Which rows are kept: those from `from` to `to`, seconds since the epoch.
struct ReadRange
{
    long long from = LLONG_MIN;
    long long to = LLONG_MAX;
    size_t maxLine = maxLineLength;
};

// Reads a log from the stream; name is how warnings call it. Each line that
// is not a row of its header's columns costs one warning on standard
// error, naming the line, and is left out; rows outside the range are left
// out without one.
ChargeLog readChargeLog(FILE *stream, const QString &name, const ReadRange &range = ReadRange());

#endif
