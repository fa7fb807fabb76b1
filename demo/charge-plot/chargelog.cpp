// Reading charge-recorder's CSV: headers, rows, time stamps in the
// recorder's locale, and the lines that are neither.

#include "chargelog.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <locale.h>
#include <string>

namespace {

const char *const names[ColumnCount] = {
    "CHARGER_TYPE",
    "CHARGING_STATE",
    "CHARGING_TIME",
    "BATTERY_STATE",
    "CAPA_BARS",
    "CAPA_PCT",
    "CAPA_MAH",
    "VOLTAGE",
    "BATTERY_CURRENT",
    "BATTERY_AVG_CURRENT",
    "COULOMB_COUNTER",
    "TALK_CURRENT",
    "TALK_TIME",
    "ACTIVE_CURRENT",
    "ACTIVE_TIME",
    "IDLE_CURRENT",
    "IDLE_TIME",
};

// A state written as a number (charge-recorder --numerical) is shown with
// the word the recorder writes without that option, so both kinds of log
// look alike.
QString stateText(Column column, const char *text)
{
    char *end = nullptr;
    errno = 0;
    const long value = strtol(text, &end, 10);
    if (end == text || *end || errno == ERANGE)
        return QString::fromLocal8Bit(text);
    static const char *const chargerTypes[] = { "UNKNOWN", "NONE", "WALL", "USB500MA", "USB100MA" };
    static const char *const chargingStates[] = { "STOPPED", "STARTED", "ERROR" };
    static const char *const batteryStates[] = { "EMPTY", "LOW", "OK", "FULL", "ERROR" };
    switch (column) {
    case ChargerType:
        if (value >= -1 && value <= 3)
            return QLatin1String(chargerTypes[value + 1]);
        return QStringLiteral("Undefined charger type: %1").arg(value);
    case ChargingState:
        if (value >= 0 && value <= 2)
            return QLatin1String(chargingStates[value]);
        return QStringLiteral("Undefined charging state: %1").arg(value);
    default:
        if (value >= 0 && value <= 4)
            return QLatin1String(batteryStates[value]);
        return QStringLiteral("Undefined battery state: %1").arg(value);
    }
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
    if (yearStart <= dayEnd + 2 || !digits(yearStart, size_t(yearEnd - yearStart), &year))
        return false;
    const int month = months.find(dayEnd + 1, size_t(yearStart - 1 - (dayEnd + 1)));
    if (month < 0)
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

} // namespace

const char *columnName(Column column)
{
    return names[column];
}

bool isState(Column column)
{
    return column == ChargerType || column == ChargingState || column == BatteryState;
}

bool Segment::breakBetween(size_t row) const
{
    const long long step = times[row] - times[row - 1];
    return step < 0 || (interval > 0 && step > 2 * interval);
}

bool ChargeLog::has(Column column) const
{
    for (const Segment &segment : segments) {
        if (segment.present[column] && !segment.times.empty())
            return true;
    }
    return false;
}

ChargeLog readChargeLog(FILE *stream, const QString &name)
{
    ChargeLog log;
    const Months months;
    LocalClock clock;
    const QByteArray prefix = "charge-plot: " + name.toLocal8Bit() + ": line ";
    auto warn = [&prefix](long long line, const QString &reason) {
        fprintf(stderr, "%s%lld: %s\n", prefix.constData(), line,
            reason.toLocal8Bit().constData());
    };

    // Position of each field after the time in the current header: its
    // column, or -1 for a column this program does not know.
    std::vector<int> fields;
    // The last text of each state column and its index: states change
    // seldom, and a text is looked up only when it changed.
    std::array<std::string, ColumnCount> lastState;
    std::array<int, ColumnCount> lastStateIndex {};
    bool header = false;
    std::vector<char *> cells;
    char *line = nullptr;
    size_t capacity = 0;
    long long number = 0;
    ssize_t length;
    while ((length = getline(&line, &capacity, stream)) > 0) {
        ++number;
        if (line[length - 1] != '\n') {
            warn(number, QStringLiteral("cut off (no line end), ignored"));
            break;
        }
        line[--length] = '\0';
        if (length > 0 && line[length - 1] == '\r')
            line[--length] = '\0';
        if (length == 0)
            continue;

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

        if (strcmp(cells[0], "TIME") == 0) {
            // charge-recorder was started (again): a new segment.
            if (!log.segments.empty())
                finish(log.segments.back());
            log.segments.emplace_back();
            Segment &segment = log.segments.back();
            fields.clear();
            for (size_t i = 1; i < cells.size(); ++i) {
                int column = -1;
                for (int c = 0; c < ColumnCount; ++c) {
                    if (strcmp(cells[i], names[c]) == 0 && !segment.present[c]) {
                        column = c;
                        segment.present[c] = true;
                    }
                }
                fields.push_back(column);
            }
            header = true;
            continue;
        }
        if (!header) {
            warn(number, QStringLiteral("not a header, and no header before it"));
            continue;
        }
        if (cells.size() != fields.size() + 1) {
            warn(number,
                QStringLiteral("%1 values after the time where the header has %2")
                    .arg(cells.size() - 1)
                    .arg(fields.size()));
            continue;
        }
        long long time;
        if (!parseStamp(cells[0], strlen(cells[0]), months, clock, &time)) {
            warn(number,
                QStringLiteral("time stamp \"%1\" not understood").arg(QString::fromLocal8Bit(cells[0])));
            continue;
        }
        float values[ColumnCount];
        bool valid = true;
        for (size_t i = 0; i < fields.size() && valid; ++i) {
            if (fields[i] < 0)
                continue;
            const Column column = Column(fields[i]);
            const char *text = cells[i + 1];
            if (isState(column)) {
                if (!lastState[column].empty() && lastState[column] == text) {
                    values[column] = float(lastStateIndex[column]);
                    continue;
                }
                const QString state = stateText(column, text);
                int index = log.states[column].indexOf(state);
                if (index < 0) {
                    index = log.states[column].size();
                    log.states[column] << state;
                }
                values[column] = float(index);
                lastState[column] = text;
                lastStateIndex[column] = index;
                continue;
            }
            char *end = nullptr;
            errno = 0;
            const long long value = strtoll(text, &end, 10);
            if (end == text || *end || errno == ERANGE) {
                warn(number,
                    QStringLiteral("%1 \"%2\" is not a whole number")
                        .arg(QLatin1String(names[column]), QString::fromLocal8Bit(text)));
                valid = false;
            }
            values[column] = float(value);
        }
        if (!valid)
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
    free(line);
    if (!log.segments.empty())
        finish(log.segments.back());
    return log;
}
