// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// Reading charge-recorder's CSV: headers, rows, time stamps in the
// recorder's locale, and the lines that are neither.

#include "chargelog.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <locale.h>
#include <string>

namespace {

// A state written as a number (charge-recorder --numerical) is shown with
// the word the recorder writes without that option, so both kinds of log
// look alike.
QString stateWord(Column column, const char *text)
{
    char *end = nullptr;
    errno = 0;
    const long value = strtol(text, &end, 10);
    if (end == text || *end || errno == ERANGE || value < INT_MIN || value > INT_MAX)
        return QString::fromLocal8Bit(text);
    return stateText(*batteryColumns[column].states, int(value));
}

// Month abbreviations as the locale of the environment writes them (the
// recorder's, when it ran with the same settings), and as the C locale does.
struct Months
{
    std::string local[12];
    std::string c[12];

    Months()
    {
        locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(0));
        for (int month = 0; month < 12; ++month) {
            tm date {};
            date.tm_mday = 1;
            date.tm_mon = month;
            date.tm_year = 100;
            char text[64];
            local[month] = strftime(text, sizeof text, "%b", &date) ? text : "";
            c[month] = strftime_l(text, sizeof text, "%b", &date, cLocale) ? text : "";
        }
        freelocale(cLocale);
    }

    int find(const char *text, size_t length) const
    {
        for (const std::string *table : { local, c }) {
            for (int month = 0; month < 12; ++month) {
                if (!table[month].empty() && table[month].size() == length
                    && table[month].compare(0, length, text, length) == 0)
                    return month;
            }
        }
        return -1;
    }
};

// 31 February is not a date: mktime() would make it 3 March.
int daysInMonth(long year, int month)
{
    static const int days[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return days[month] + (month == 1 && leap ? 1 : 0);
}

bool digits(const char *text, size_t length, long *value)
{
    if (length == 0 || length > 9)
        return false;
    long result = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        result = result * 10 + (text[i] - '0');
    }
    *value = result;
    return true;
}

// Local time to seconds since the epoch. mktime() is slow (it looks at the
// time zone every call), so it runs once an hour of the log: within an
// hour the offset from UTC does not change.
class LocalClock
{
public:
    bool toEpoch(int year, int month, int day, int hour, int minute, int second, long long *result)
    {
        if (year != lastYear || month != lastMonth || day != lastDay || hour != lastHour) {
            tm date {};
            date.tm_year = year - 1900;
            date.tm_mon = month;
            date.tm_mday = day;
            date.tm_hour = hour;
            date.tm_isdst = -1;
            errno = 0;
            const time_t start = mktime(&date);
            if (start == time_t(-1) && errno != 0)
                return false;
            lastYear = year;
            lastMonth = month;
            lastDay = day;
            lastHour = hour;
            hourStart = start;
        }
        *result = hourStart + minute * 60 + second;
        return true;
    }

private:
    int lastYear = -1, lastMonth = -1, lastDay = -1, lastHour = -1;
    long long hourStart = 0;
};

// "%d %b %Y %H:%M:%S": the month is whatever lies between the day and the
// year, so that abbreviations with blanks or dots are found too.
bool parseStamp(
    const char *text, size_t length, const Months &months, LocalClock &clock, long long *result)
{
    if (length < 16 || text[length - 9] != ' ' || text[length - 6] != ':'
        || text[length - 3] != ':')
        return false;
    long hour, minute, second, day, year;
    if (!digits(text + length - 8, 2, &hour) || !digits(text + length - 5, 2, &minute)
        || !digits(text + length - 2, 2, &second) || hour > 23 || minute > 59 || second > 60)
        return false;
    const char *dayEnd = static_cast<const char *>(memchr(text, ' ', length));
    if (!dayEnd || !digits(text, size_t(dayEnd - text), &day) || day < 1 || day > 31)
        return false;
    const char *yearEnd = text + length - 9;
    const char *yearStart = yearEnd;
    while (yearStart > dayEnd + 1 && yearStart[-1] != ' ')
        --yearStart;
    // Years 1 to 9999, what strftime's %Y writes in four digits and what
    // the picture's time axis can name: a longer year is a line damaged in
    // the writing, and beyond what QDateTime holds.
    if (yearStart <= dayEnd + 2 || !digits(yearStart, size_t(yearEnd - yearStart), &year)
        || year < 1 || year > 9999)
        return false;
    const int month = months.find(dayEnd + 1, size_t(yearStart - 1 - (dayEnd + 1)));
    if (month < 0 || day > daysInMonth(year, month))
        return false;
    return clock.toEpoch(int(year), month, int(day), int(hour), int(minute), int(second), result);
}

const char *trimmed(char *begin, char *end)
{
    while (begin < end && *begin == ' ')
        ++begin;
    while (end > begin && end[-1] == ' ')
        --end;
    *end = '\0';
    return begin;
}

void finish(Segment &segment)
{
    std::vector<long long> steps;
    steps.reserve(segment.times.size());
    for (size_t i = 1; i < segment.times.size(); ++i) {
        if (segment.times[i] > segment.times[i - 1])
            steps.push_back(segment.times[i] - segment.times[i - 1]);
    }
    if (steps.empty())
        return;
    // The lower median: the recorder's interval, however many gaps there are
    // (they are the longer steps), and the shorter of two steps.
    const size_t middle = (steps.size() - 1) / 2;
    std::nth_element(steps.begin(), steps.begin() + long(middle), steps.end());
    segment.interval = steps[middle];
}

// The lines of a stream, NUL bytes and all, read in blocks whose line ends
// memchr() finds.
class LineReader
{
public:
    LineReader(FILE *stream, size_t maxLine) : stream(stream), maxLine(maxLine), line(maxLine + 1) { }

    // Reads one line of at most maxLine bytes (its end not counted), without
    // its end and followed by a NUL byte of its own, and sets length. Returns
    // 1 for a line, 0 at the end of the stream, -1 for a line cut off by the
    // end of the stream, -2 for a longer line, which is read past without
    // being kept.
    int next(size_t *length)
    {
        size_t kept = 0;
        bool any = false;
        bool over = false;
        bool whole = false;
        while (!whole) {
            if (begin == end && !refill())
                break;
            any = true;
            const char *start = block.data() + begin;
            const char *newline = static_cast<const char *>(memchr(start, '\n', end - begin));
            const size_t count = newline ? size_t(newline - start) : end - begin;
            if (!over && kept + count <= maxLine) {
                memcpy(line.data() + kept, start, count);
                kept += count;
            } else {
                over = true;
            }
            begin += count;
            if (newline) {
                ++begin;
                whole = true;
            }
        }
        if (!any)
            return 0;
        if (over)
            return -2;
        line[kept] = '\0';
        *length = kept;
        return whole ? 1 : -1;
    }

    char *data() { return line.data(); }

private:
    bool refill()
    {
        begin = 0;
        end = fread(block.data(), 1, block.size(), stream);
        return end > 0;
    }

    FILE *const stream;
    const size_t maxLine;
    std::vector<char> line;
    std::vector<char> block = std::vector<char>(65536);
    size_t begin = 0;
    size_t end = 0;
};

} // namespace

const char *columnName(Column column)
{
    return batteryColumns[column].header;
}

bool isState(Column column)
{
    return batteryColumns[column].kind == CellKind::State;
}

bool Segment::breakBetween(size_t row) const
{
    const long long step = times[row] - times[row - 1];
    return step < 0 || (interval > 0 && step > 2 * interval);
}

bool ChargeLog::written(Column column) const
{
    for (const Segment &segment : segments) {
        if (segment.present[column] && !segment.times.empty())
            return true;
    }
    return false;
}

bool ChargeLog::has(Column column) const
{
    for (const Segment &segment : segments) {
        if (!segment.present[column])
            continue;
        for (float value : segment.values[column]) {
            if (!std::isnan(value))
                return true;
        }
    }
    return false;
}

QByteArray escapedLine(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const uchar c = uchar(text[i]);
        // C1 controls in UTF-8 are 0xc2 0x80 to 0xc2 0x9f.
        const bool c1 = c == 0xc2 && i + 1 < text.size() && uchar(text[i + 1]) >= 0x80
            && uchar(text[i + 1]) <= 0x9f;
        if (c == '\n' || c == '\r' || c == '\t')
            out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
        else if (c < 0x20 || c == 0x7f || c1) {
            const int count = c1 ? 2 : 1;
            for (int k = 0; k < count; ++k)
                out += "\\x" + QByteArray::number(uchar(text[i + k]), 16).rightJustified(2, '0');
            i += count - 1;
        } else
            out += char(c);
    }
    return out;
}

size_t afterNulBytes(const char *line, size_t length, QString *leftOut)
{
    const void *last = memrchr(line, '\0', length);
    if (!last)
        return 0;
    const size_t start = size_t(static_cast<const char *>(last) - line) + 1;
    const size_t cut = strnlen(line, length);
    *leftOut = cut == 0 ? QStringLiteral("NUL bytes")
                        : QStringLiteral("\"%1\" cut off by NUL bytes")
                              .arg(QString::fromLocal8Bit(line, int(cut)));
    return start;
}

void splitCells(char *line, std::vector<char *> &cells)
{
    cells.clear();
    char *cell = line;
    for (char *at = line;; ++at) {
        if (*at == ',' || *at == '\0') {
            const bool last = *at == '\0';
            cells.push_back(const_cast<char *>(trimmed(cell, at)));
            if (last)
                break;
            cell = at + 1;
        }
    }
}

std::vector<int> headerColumns(const std::vector<char *> &cells)
{
    std::vector<int> columns;
    std::array<bool, ColumnCount> seen {};
    for (size_t i = 1; i < cells.size(); ++i) {
        int column = columnByHeader(cells[i]);
        if (column >= 0 && seen[size_t(column)])
            column = -1;
        if (column >= 0)
            seen[size_t(column)] = true;
        columns.push_back(column);
    }
    return columns;
}

struct RowReader::Private
{
    const Months months;
    LocalClock clock;
    // The last text of each state column and its index: states change
    // seldom, and a text is looked up only when it changed.
    std::array<std::string, ColumnCount> lastState;
    std::array<int, ColumnCount> lastStateIndex {};
};

RowReader::RowReader()
    : d(new Private)
{
}

RowReader::~RowReader()
{
    delete d;
}

bool RowReader::parseStamp(const char *text, long long *result)
{
    return ::parseStamp(text, strlen(text), d->months, d->clock, result);
}

QString RowReader::readCells(const std::vector<char *> &cells, const std::vector<int> &columns,
    std::array<QStringList, ColumnCount> &states, float *values)
{
    if (cells.size() != columns.size() + 1)
        return QStringLiteral("%1 values after the time where the header has %2")
            .arg(cells.size() - 1)
            .arg(columns.size());
    for (size_t i = 0; i < columns.size(); ++i) {
        if (columns[i] < 0)
            continue;
        const Column column = Column(columns[i]);
        const char *text = cells[i + 1];
        if (isState(column)) {
            if (!d->lastState[column].empty() && d->lastState[column] == text) {
                values[column] = float(d->lastStateIndex[column]);
                continue;
            }
            const QString state = stateWord(column, text);
            int index = states[column].indexOf(state);
            if (index < 0) {
                index = states[column].size();
                states[column] << state;
            }
            values[column] = float(index);
            d->lastState[column] = text;
            d->lastStateIndex[column] = index;
            continue;
        }
        char *end = nullptr;
        errno = 0;
        const long long value = strtoll(text, &end, 10);
        if (end == text || *end || errno == ERANGE)
            return QStringLiteral("%1 \"%2\" is not a whole number")
                .arg(QLatin1String(columnName(column)), QString::fromLocal8Bit(text));
        values[column] = value == markerCell(column) ? std::numeric_limits<float>::quiet_NaN()
                                                     : float(value);
    }
    return QString();
}

ChargeLog readChargeLog(FILE *stream, const QString &name, const ReadRange &range)
{
    const size_t maxLine = range.maxLine;
    ChargeLog log;
    RowReader reader;
    const QByteArray prefix = "charge-plot: " + escapedLine(name.toLocal8Bit()) + ": line ";
    auto warn = [&prefix](long long line, const QString &reason) {
        fprintf(stderr, "%s%lld: %s\n", prefix.constData(), line,
            escapedLine(reason.toLocal8Bit()).constData());
    };

    // The column of each field after the time in the current header.
    std::vector<int> columns;
    bool header = false;
    std::vector<char *> cells;
    LineReader lines(stream, maxLine);
    long long number = 0;
    for (;;) {
        size_t length = 0;
        const int got = lines.next(&length);
        if (got == 0)
            break;
        ++number;
        if (got == -1) {
            warn(number, QStringLiteral("cut off (no line end), ignored"));
            break;
        }
        if (got == -2) {
            warn(number, QStringLiteral("longer than %1 bytes, ignored").arg(maxLine));
            continue;
        }
        char *line = lines.data();
        QString leftOut;
        if (const size_t start = afterNulBytes(line, length, &leftOut); start > 0) {
            warn(number, leftOut + QLatin1String(", ignored"));
            line += start;
            length -= start;
        }
        if (length > 0 && line[length - 1] == '\r')
            line[--length] = '\0';
        if (length == 0)
            continue;

        splitCells(line, cells);
        if (strcmp(cells[0], "TIME") == 0) {
            // charge-recorder was started (again): a new segment.
            if (!log.segments.empty())
                finish(log.segments.back());
            log.segments.emplace_back();
            columns = headerColumns(cells);
            for (int column : columns) {
                if (column >= 0)
                    log.segments.back().present[size_t(column)] = true;
            }
            header = true;
            continue;
        }
        if (!header) {
            warn(number, QStringLiteral("not a header, and no header before it"));
            continue;
        }
        // The count of cells first, then the stamp, then each value.
        float values[ColumnCount];
        long long time = 0;
        QString problem;
        if (cells.size() == columns.size() + 1 && !reader.parseStamp(cells[0], &time))
            problem = QStringLiteral("time stamp \"%1\" not understood")
                          .arg(QString::fromLocal8Bit(cells[0]));
        else
            problem = reader.readCells(cells, columns, log.states, values);
        if (!problem.isEmpty()) {
            warn(number, problem);
            continue;
        }
        if (time < range.from || time > range.to)
            continue;

        Segment &segment = log.segments.back();
        segment.times.push_back(time);
        for (int c = 0; c < ColumnCount; ++c) {
            if (segment.present[c])
                segment.values[c].push_back(values[c]);
        }
        if (log.rows == 0) {
            log.firstStamp = QString::fromLocal8Bit(cells[0]);
            log.firstTime = log.lastTime = time;
        }
        log.lastStamp = QString::fromLocal8Bit(cells[0]);
        log.firstTime = std::min(log.firstTime, time);
        log.lastTime = std::max(log.lastTime, time);
        ++log.rows;
    }
    if (!log.segments.empty())
        finish(log.segments.back());
    return log;
}
