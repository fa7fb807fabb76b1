// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "chartplan.h"

#include <QSet>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

// Colours that tell the traces of a panel apart at a glance.
const int palette[] = { 0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd, 0x8c564b };

// The colours of each state column's words, in the order of its table
// (batterycolumns.h): the charger's from unknown and none to the USB
// ports, the charging states, the battery's from empty to full and error.
constexpr int chargerTypeColours[] = { 0xa6a6a6, 0xd9d9d9, 0x2ca02c, 0x1f77b4, 0x9ecae1 };
constexpr int chargingStateColours[] = { 0xd9d9d9, 0x74c476, 0xd62728 };
constexpr int batteryStateColours[] = { 0x67000d, 0xfd8d3c, 0x9ecae1, 0x3182bd, 0xd62728 };
static_assert(std::size(chargerTypeColours) == std::size(chargerTypeWords)
        && std::size(chargingStateColours) == std::size(chargingStateWords)
        && std::size(batteryStateColours) == std::size(batteryStateWords),
    "a colour for each word of the state tables");

// A word beyond the tables: the recorder's prefix and a number, or a word
// of a later recorder.
constexpr int otherColours[] = { 0xbcbd22, 0x17becf, 0xe377c2, 0x8c564b, 0x7f7f7f, 0x9467bd };

// The largest value of a column in any of the logs, markers left out; 0
// for none.
double largest(const std::vector<const ChargeLog *> &logs, Column column)
{
    double result = 0;
    for (const ChargeLog *log : logs)
        for (const Segment &segment : log->segments) {
            if (!segment.present[column])
                continue;
            for (float value : segment.values[column]) {
                if (!std::isnan(value))
                    result = std::max(result, double(value));
            }
        }
    return result;
}

bool shared(const std::vector<const ChargeLog *> &logs, Column column)
{
    return std::all_of(logs.begin(), logs.end(), [column](const ChargeLog *log) { return log->has(column); });
}

// Several logs: one colour a log. Where the lines of two logs coincide, the
// later would hide the earlier: each later log is dashed in a slot of its
// own, one dash in as many dash lengths as there are logs, so that every
// log shows along a line they share, the first between all the dashes.
// The later columns of a panel are dashed as with one log, each log's
// dashes shifted.
void styleTrace(Trace &trace, int rank, size_t log, size_t logs)
{
    const double dash = 4;
    if (rank > 0) {
        trace.dashes = { dash, 3 };
        trace.dashOffset = logs > 1 ? double(log) * (dash + 3) / double(logs) : 0;
    } else if (log > 0) {
        trace.dashes = { dash, dash * double(logs - 1) };
        trace.dashOffset = -dash * double(log);
    }
}

} // namespace

QString drawable(const QString &text)
{
    QString result = text;
    for (int i = 0; i < result.size(); ++i) {
        const char16_t unit = result.at(i).unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < result.size() && result.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        if (unit < 0x20 || (unit >= 0x7f && unit < 0xa0) || unit == 0xfffe || unit == 0xffff
            || QChar::isSurrogate(unit))
            result[i] = QChar(QChar::ReplacementCharacter);
    }
    return result;
}

const char *stateTitle(Column column)
{
    switch (column) {
    case ChargerType:
        return "Charger";
    case ChargingState:
        return "Charging";
    default:
        return "Battery";
    }
}

QStringList panelNames()
{
    return { QStringLiteral("charge"), QStringLiteral("capacity"), QStringLiteral("voltage"),
        QStringLiteral("current"), QStringLiteral("uses"), QStringLiteral("remaining"),
        QStringLiteral("states") };
}

int stateColour(Column column, const QString &word, int index)
{
    static const struct
    {
        const int *colours;
        size_t count;
    } colours[] = {
        { chargerTypeColours, std::size(chargerTypeColours) },
        { chargingStateColours, std::size(chargingStateColours) },
        { batteryStateColours, std::size(batteryStateColours) },
    };
    const StateWords *words = batteryColumns[column].states;
    const int table = column == ChargerType ? 0 : column == ChargingState ? 1 : 2;
    if (words) {
        for (int i = 0; i < words->count; ++i) {
            if (word == QLatin1String(words->words[i]) && size_t(i) < colours[table].count)
                return colours[table].colours[i];
        }
    }
    return otherColours[size_t(std::max(index, 0)) % std::size(otherColours)];
}

std::vector<int> stateGroups(const ChartPlan &plan, const ChargeLog &log, Column column)
{
    const QStringList &shown = plan.stateWords[column];
    std::vector<int> groups;
    groups.reserve(size_t(log.states[column].size()));
    for (const QString &word : log.states[column]) {
        const int index = shown.indexOf(word);
        groups.push_back(index < 0 ? int(shown.size()) : index);
    }
    return groups;
}

ChartPlan planChart(const std::vector<const ChargeLog *> &logs, const QStringList &labels,
    const QStringList &wanted)
{
    ChartPlan plan;
    plan.logs = logs;
    for (const QString &label : labels)
        plan.labels << drawable(label);
    plan.start = logs.front()->firstTime;
    plan.end = logs.front()->lastTime;
    for (const ChargeLog *one : logs) {
        plan.start = std::min(plan.start, one->firstTime);
        plan.end = std::max(plan.end, one->lastTime);
    }
    plan.end = std::max(plan.end, plan.start + 1);

    const bool several = logs.size() > 1;
    // Several logs: one colour a log, the log's label in the legend (and
    // the column's where the panel can show more than one). One log: one
    // colour a column.
    auto addTraces = [&](Panel &panel, Column column, const QString &label, int colour,
                         bool rightAxis, int rank, int kinds) {
        for (size_t i = 0; i < logs.size(); ++i) {
            const QString name = !several ? label
                : kinds > 1 ? plan.labels[int(i)] + QLatin1Char(' ') + label
                            : plan.labels[int(i)];
            Trace trace { column, name,
                several ? palette[i % std::size(palette)] : colour, rightAxis, {}, 0, logs[i] };
            styleTrace(trace, rank, i, logs.size());
            panel.traces.push_back(trace);
        }
    };
    const auto isWanted = [&wanted](const char *name) {
        return wanted.isEmpty() || wanted.contains(QLatin1String(name));
    };
    // Later columns of a panel are dashed: where two series are equal (the
    // remaining charge and the coulomb counter, the current and its
    // average) the solid one shows between the dashes.
    auto add = [&](Panel panel, const char *name,
                   std::initializer_list<std::pair<Column, const char *>> columns) {
        if (!isWanted(name))
            return;
        panel.name = QLatin1String(name);
        const int kinds = int(columns.size());
        int rank = 0;
        for (const auto &[column, label] : columns) {
            if (shared(logs, column)) {
                addTraces(panel, column, QLatin1String(label), palette[rank], false, rank, kinds);
                ++rank;
            }
        }
        if (!panel.traces.empty())
            plan.panels.push_back(panel);
    };

    Panel charge;
    charge.title = QStringLiteral("Charge (%)");
    charge.percent = true;
    charge.name = QStringLiteral("charge");
    const int chargeKinds = 2;
    if (shared(logs, Percent))
        addTraces(charge, Percent, QStringLiteral("percent"), palette[0], false, 0, chargeKinds);
    if (shared(logs, Bars) && shared(logs, Percent)) {
        addTraces(charge, Bars, QStringLiteral("bars (right axis)"), palette[3], true, 1,
            chargeKinds);
        charge.rightTitle = QStringLiteral("bars");
    } else if (shared(logs, Bars)) {
        charge.title = QStringLiteral("Charge (bars)");
        charge.percent = false;
        addTraces(charge, Bars, QStringLiteral("bars"), palette[3], false, 0, chargeKinds);
    }
    if (!charge.traces.empty() && isWanted("charge"))
        plan.panels.push_back(charge);

    Panel capacity;
    capacity.title = QStringLiteral("Charge (mAh)");
    add(capacity, "capacity",
        { { MilliampHours, "remaining" }, { CoulombCounter, "coulomb counter" } });
    Panel voltage;
    voltage.title = QStringLiteral("Voltage (mV)");
    add(voltage, "voltage", { { Voltage, "voltage" } });
    Panel current;
    current.title = QStringLiteral("Battery current (mA)");
    add(current, "current", { { Current, "current" }, { AverageCurrent, "average current" } });
    Panel uses;
    uses.title = QStringLiteral("Average current of a use (mA)");
    add(uses, "uses",
        { { TalkCurrent, "talk" }, { ActiveCurrent, "active" }, { IdleCurrent, "idle" } });

    // Remaining times are logged in minutes; days of idle time read better
    // in hours. Idle time lasts some twenty times as long as talk or
    // active use: on one axis it flattens them onto the bottom, so it gets
    // the right axis of its own when it is more than four times the rest.
    Panel remaining;
    double longest = 0;
    double others = 0;
    for (Column column : { ChargingTime, TalkTime, ActiveTime, IdleTime }) {
        longest = std::max(longest, largest(logs, column));
        if (column != IdleTime)
            others = std::max(others, largest(logs, column));
    }
    const bool hours = longest > 300;
    remaining.title = hours ? QStringLiteral("Remaining time (h)")
                            : QStringLiteral("Remaining time (min)");
    remaining.scale = hours ? 1.0 / 60 : 1;
    add(remaining, "remaining",
        { { ChargingTime, "until full" }, { TalkTime, "talk" }, { ActiveTime, "active" },
            { IdleTime, "idle" } });
    if (!plan.panels.empty() && plan.panels.back().name == QLatin1String("remaining")) {
        Panel &shown = plan.panels.back();
        if (shown.traces.back().column == IdleTime && shown.traces.front().column != IdleTime
            && largest(logs, IdleTime) > 4 * others) {
            for (size_t i = 0; i < shown.traces.size(); ++i) {
                Trace &idle = shown.traces[i];
                if (idle.column != IdleTime)
                    continue;
                // Alone on its axis: solid, as the first of a panel.
                idle.rightAxis = true;
                idle.dashes.clear();
                idle.dashOffset = 0;
                styleTrace(idle, 0, several ? i % logs.size() : 0, logs.size());
                idle.label = several ? idle.label + QStringLiteral(" (right axis)")
                                     : QStringLiteral("idle (right axis)");
            }
            shown.rightTitle = QStringLiteral("idle");
        }
    }

    if (isWanted("states")) {
        for (Column column : { ChargerType, ChargingState, BatteryState }) {
            bool everyLog = true;
            QSet<QString> seen;
            for (const ChargeLog *one : logs) {
                everyLog = everyLog && one->written(column);
                for (const QString &word : one->states[column]) {
                    if (seen.contains(word))
                        continue;
                    seen.insert(word);
                    if (plan.stateWords[column].size() < maximumLegendWords)
                        plan.stateWords[column] << word;
                    else
                        ++plan.otherWords[column];
                }
            }
            if (!everyLog)
                continue;
            plan.stateColumns.push_back(column);
            // Several logs: a heading for the column, then a row a log.
            if (several)
                plan.stateRows.push_back({ column, nullptr, QLatin1String(stateTitle(column)) });
            for (size_t i = 0; i < logs.size(); ++i)
                plan.stateRows.push_back({ column, logs[i],
                    several ? plan.labels[int(i)] : QLatin1String(stateTitle(column)) });
        }
    }
    return plan;
}
