#ifndef DEMO_CHARGE_PLOT_CHARGELOG_H
#define DEMO_CHARGE_PLOT_CHARGELOG_H

#include <QString>
#include <QStringList>

#include <array>
#include <cstdio>
#include <deque>
#include <vector>

// The columns that charge-recorder writes, in its order.
enum Column {
    ChargerType,
    ChargingState,
    ChargingTime,
    BatteryState,
    Bars,
    Percent,
    MilliampHours,
    Voltage,
    Current,
    AverageCurrent,
    CoulombCounter,
    TalkCurrent,
    TalkTime,
    ActiveCurrent,
    ActiveTime,
    IdleCurrent,
    IdleTime,
    ColumnCount
};

// The header text of a column, without the leading ", ".
const char *columnName(Column column);
bool isState(Column column);

// One run of the recorder: the rows after one header. Values are kept per
// column, as float (exact for every whole number a battery reports, and
// half the memory of double); a state column holds indexes into
// ChargeLog::states. Deques grow in blocks, without copying what they hold,
// so a week of rows never needs twice its memory.
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
    bool has(Column column) const;
};

// Reads a log from the stream; name is how warnings call it. Each line that
// is not a row of its header's columns costs one warning on standard
// error, naming the line, and is left out.
ChargeLog readChargeLog(FILE *stream, const QString &name);

#endif
