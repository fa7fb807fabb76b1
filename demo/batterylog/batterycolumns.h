// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_BATTERYLOG_BATTERYCOLUMNS_H
#define DEMO_BATTERYLOG_BATTERYCOLUMNS_H

// The columns of a charge-recorder log, in one table that the recorder
// writes from and charge-plot reads by: the option that selects a column,
// its header text, how its cell is derived from the battery's getter, its
// unit, and for the state columns the words of each value.

#include <QString>

#include <climits>
#include <cstddef>

// The columns in the order of header and rows.
enum Column : int {
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

// How a cell is made from what the getter answered.
enum class CellKind {
    State, // a word from the column's state table, or the number itself
    Value, // the answer as it is
    Minutes, // seconds written as whole minutes, truncated toward zero
    Average, // the average current since the previous row, from the counter
    Counter, // the counter's mA·s written as whole mAh, truncated toward zero
};

// What the battery answers where the device has no figure for a value: a
// time, the cumulative current, anything else. The recorder checks these
// against the library's own names at compile time.
constexpr int noValue = -1;
constexpr int noTime = -60;
constexpr int noCounter = INT_MIN;
constexpr int secondsPerMinute = 60;
constexpr int secondsPerHour = 3600;

// The words of a state column's values, from `first` on; other values are
// written as `prefix` followed by the number.
struct StateWords
{
    const char *prefix;
    int first;
    const char *const *words;
    int count;
};

inline constexpr const char *chargerTypeWords[] = { "UNKNOWN", "NONE", "WALL", "USB500MA",
    "USB100MA" };
inline constexpr const char *chargingStateWords[] = { "STOPPED", "STARTED", "ERROR" };
inline constexpr const char *batteryStateWords[] = { "EMPTY", "LOW", "OK", "FULL", "ERROR" };

inline constexpr StateWords chargerTypeStates { "Undefined charger type: ", -1, chargerTypeWords,
    5 };
inline constexpr StateWords chargingStateStates { "Undefined charging state: ", 0,
    chargingStateWords, 3 };
inline constexpr StateWords batteryStateStates { "Undefined battery state: ", 0,
    batteryStateWords, 5 };

struct BatteryColumn
{
    Column column;
    int bit; // in the recorder's column mask, and the value its option gives
    const char *option;
    const char *header; // without the ", " that precedes it in the log
    CellKind kind;
    const char *unit; // empty for a state
    const StateWords *states; // null unless kind is State
};

inline constexpr BatteryColumn batteryColumns[ColumnCount] = {
    { ChargerType, 0, "charger-type", "CHARGER_TYPE", CellKind::State, "", &chargerTypeStates },
    { ChargingState, 1, "charging-state", "CHARGING_STATE", CellKind::State, "",
        &chargingStateStates },
    { ChargingTime, 2, "charging-time", "CHARGING_TIME", CellKind::Minutes, "min", nullptr },
    { BatteryState, 3, "battery-state", "BATTERY_STATE", CellKind::State, "",
        &batteryStateStates },
    // Bit 4 selects nothing.
    { Bars, 5, "battery-bars", "CAPA_BARS", CellKind::Value, "bars", nullptr },
    { Percent, 6, "battery-pct", "CAPA_PCT", CellKind::Value, "%", nullptr },
    { MilliampHours, 7, "battery-mah", "CAPA_MAH", CellKind::Value, "mAh", nullptr },
    { Voltage, 8, "battery-voltage", "VOLTAGE", CellKind::Value, "mV", nullptr },
    { Current, 9, "battery-current", "BATTERY_CURRENT", CellKind::Value, "mA", nullptr },
    { AverageCurrent, 10, "battery-avg-current", "BATTERY_AVG_CURRENT", CellKind::Average, "mA",
        nullptr },
    { CoulombCounter, 11, "coulomb-counter", "COULOMB_COUNTER", CellKind::Counter, "mAh",
        nullptr },
    { TalkCurrent, 12, "talk-current", "TALK_CURRENT", CellKind::Value, "mA", nullptr },
    { TalkTime, 13, "talk-time", "TALK_TIME", CellKind::Minutes, "min", nullptr },
    { ActiveCurrent, 14, "active-current", "ACTIVE_CURRENT", CellKind::Value, "mA", nullptr },
    { ActiveTime, 15, "active-time", "ACTIVE_TIME", CellKind::Minutes, "min", nullptr },
    { IdleCurrent, 16, "idle-current", "IDLE_CURRENT", CellKind::Value, "mA", nullptr },
    { IdleTime, 17, "idle-time", "IDLE_TIME", CellKind::Minutes, "min", nullptr },
};

constexpr bool columnsInOrder()
{
    for (int i = 0; i < ColumnCount; ++i) {
        if (batteryColumns[i].column != i || batteryColumns[i].bit < 0 || batteryColumns[i].bit > 31
            || (i > 0 && batteryColumns[i].bit <= batteryColumns[i - 1].bit))
            return false;
    }
    return true;
}
static_assert(columnsInOrder(), "rows by column, bits rising: the log's order is the bits' order");

// The cell a column holds where the battery had no figure: the library's
// marker passed through the column's conversion. The counter's marker
// divided by 3600 is -596523, a count no battery reaches; a real counter
// never writes it.
constexpr long long markerCell(Column column)
{
    switch (batteryColumns[column].kind) {
    case CellKind::State:
        return LLONG_MIN; // a state has words for every value
    case CellKind::Minutes:
        return noTime / secondsPerMinute;
    case CellKind::Counter:
        return noCounter / secondsPerHour;
    case CellKind::Value:
    case CellKind::Average:
        break;
    }
    return noValue;
}

// The word of a state column's value, or its prefix and the number.
QString stateText(const StateWords &states, int value);

// The column a header names (without ", "), or -1.
int columnByHeader(const char *header);

#endif
