// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "textfile.h"

#include <cerrno>
#include <cstdlib>

namespace {

// Prometheus names carry their base unit (seconds, volts, amperes,
// coulombs, a ratio for a share); a column's unit says how far it is from it.
// Bars count themselves.
constexpr Gauge gauges[ColumnCount] = {
    { "kvsystem2_charger_type", "The charger connected, as charge-recorder's CHARGER_TYPE.", 1 },
    { "kvsystem2_charging_state", "Whether the battery charges, as CHARGING_STATE.", 1 },
    { "kvsystem2_charging_time_seconds", "Time until the battery is full.", 60 },
    { "kvsystem2_battery_state", "The battery's state, as BATTERY_STATE.", 1 },
    { "kvsystem2_battery_capacity_bars", "Charge left as the bars shown, 0 to 7.", 1 },
    { "kvsystem2_battery_capacity_ratio", "Charge left as a share of full, 0 to 1.", 0.01 },
    { "kvsystem2_battery_capacity_coulombs", "Charge left.", 3.6 },
    { "kvsystem2_battery_voltage_volts", "Battery voltage.", 0.001 },
    { "kvsystem2_battery_current_amperes", "Battery current, negative while discharging.", 0.001 },
    { "kvsystem2_battery_average_current_amperes",
        "Average battery current since the previous row.", 0.001 },
    // The exposition format's naming rules keep the type words (counter,
    // gauge, ...) out of a name: the coulomb counter's reading is the net
    // charge that has flowed.
    { "kvsystem2_battery_net_charge_coulombs",
        "Charge that has flowed, counting down while discharging (the coulomb counter).", 3.6 },
    { "kvsystem2_talk_current_amperes", "Average current while talking.", 0.001 },
    { "kvsystem2_talk_time_seconds", "Time left for talking.", 60 },
    { "kvsystem2_active_current_amperes", "Average current in active use.", 0.001 },
    { "kvsystem2_active_time_seconds", "Time left in active use.", 60 },
    { "kvsystem2_idle_current_amperes", "Average current while idling.", 0.001 },
    { "kvsystem2_idle_time_seconds", "Time left idling.", 60 },
};

bool parseWhole(const char *text, long long *value)
{
    char *end = nullptr;
    errno = 0;
    *value = strtoll(text, &end, 10);
    return end != text && !*end && errno != ERANGE;
}

// A label value in the exposition format: backslash, quote and line end escaped.
QByteArray labelValue(const QString &text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

QByteArray number(double value)
{
    // Fifteen digits: every whole cell times its scale, without the binary
    // noise of 3900 * 0.001.
    return QByteArray::number(value, 'g', 15);
}

} // namespace

const Gauge &gaugeOf(Column column)
{
    return gauges[column];
}

QString readRow(const std::vector<char *> &cells, const std::vector<int> &header, Row *row)
{
    if (cells.size() != header.size() + 1)
        return QStringLiteral("%1 values after the time where the header has %2")
            .arg(cells.size() - 1)
            .arg(header.size());
    row->columns.clear();
    for (size_t i = 0; i < header.size(); ++i) {
        if (header[i] < 0)
            continue;
        const Column column = Column(header[i]);
        const BatteryColumn &entry = batteryColumns[column];
        const char *text = cells[i + 1];
        long long value = 0;
        const bool whole = parseWhole(text, &value);
        if (entry.states) {
            // Words, or their numbers where the recorder ran with --numerical.
            row->states[column] = whole && value >= INT_MIN && value <= INT_MAX
                ? stateText(*entry.states, int(value))
                : QString::fromLocal8Bit(text);
        } else if (!whole) {
            return QStringLiteral("%1 \"%2\" is not a whole number")
                .arg(QLatin1String(entry.header), QString::fromLocal8Bit(text));
        } else {
            row->values[column] = value == markerCell(column) ? std::nullopt
                                                               : std::optional<long long>(value);
        }
        row->columns.push_back(column);
    }
    return QString();
}

QByteArray textfile(const Row &row, const QString &device)
{
    const QByteArray label = "device=\"" + labelValue(device) + '"';
    QByteArray out;
    out.reserve(2048);
    out += "# HELP kvsystem2_row_timestamp_seconds When charge-recorder wrote the row.\n"
           "# TYPE kvsystem2_row_timestamp_seconds gauge\n"
           "kvsystem2_row_timestamp_seconds{"
        + label + "} " + QByteArray::number(row.time) + '\n';
    for (const Column column : row.columns) {
        const BatteryColumn &entry = batteryColumns[column];
        const Gauge &gauge = gauges[column];
        if (!entry.states && !row.values[column])
            continue; // the battery had no figure: no sample, not a made-up one
        out += QByteArray("# HELP ") + gauge.name + ' ' + gauge.help + '\n';
        out += QByteArray("# TYPE ") + gauge.name + " gauge\n";
        if (!entry.states) {
            out += QByteArray(gauge.name) + '{' + label + "} "
                + number(double(*row.values[column]) * gauge.scale) + '\n';
            continue;
        }
        // A state set: one series a word, 1 for the row's own; a value the
        // table has no word for is a series of its own.
        const QString &current = row.states[column];
        bool known = false;
        for (int i = 0; i < entry.states->count; ++i) {
            const QString word = QLatin1String(entry.states->words[i]);
            known = known || word == current;
            out += QByteArray(gauge.name) + '{' + label + ",state=\"" + labelValue(word) + "\"} "
                + (word == current ? "1\n" : "0\n");
        }
        if (!known)
            out += QByteArray(gauge.name) + '{' + label + ",state=\"" + labelValue(current)
                + "\"} 1\n";
    }
    return out;
}
