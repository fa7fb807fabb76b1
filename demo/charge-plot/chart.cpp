// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// Drawing a charge log with QPainter: the same code paints the PNG and the
// SVG.

#include "chart.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int left = 88; // tick labels of the left axes, names of the state rows
constexpr int right = 64; // tick labels of a right axis
constexpr int titleHeight = 58;
constexpr int panelHeader = 30;
constexpr int defaultPlotHeight = 130;
constexpr int minimumPlotHeight = 40;
constexpr int panelGap = 14;
constexpr int stateRow = 20;
constexpr int stateGap = 4;
constexpr int headingRow = 18;
constexpr int axisHeight = 40;
constexpr int bottomMargin = 14;

// The words of a state column that get a colour and a place in the legend
// each; the rest share one, so that a log of endless words keeps the
// picture within its bounds.
constexpr int maximumLegendWords = 24;
constexpr int otherStates = 0x525252;
constexpr int longestLegendText = 240;

constexpr int tickFont = 12;
constexpr int headerFont = 13;
constexpr int titleFont = 17;

// Colours that tell the traces of a panel apart at a glance.
const int palette[] = { 0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd, 0x8c564b };

QFont font(int pixels, bool bold = false)
{
    QFont result(QStringLiteral("DejaVu Sans"));
    result.setPixelSize(pixels);
    result.setBold(bold);
    return result;
}

// A tick spacing of 1, 2 or 5 times a power of ten, about count ticks over
// the range; whole numbers only, as the log holds.
double niceStep(double range, int count, bool whole)
{
    const double raw = range / count;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double normal = raw / magnitude;
    double step = (normal < 1.5 ? 1 : normal < 3 ? 2 : normal < 7 ? 5 : 10) * magnitude;
    if (whole && step < 1)
        step = 1;
    return step;
}

QString tickText(double value, double step)
{
    const int decimals = step >= 1 ? 0 : int(std::ceil(-std::log10(step) - 1e-9));
    return QLocale::c().toString(value, 'f', decimals);
}

// Words the states are known by, each with the colour that suits it.
QColor stateColour(const QString &state, int index)
{
    static const struct
    {
        const char *word;
        int colour;
    } known[] = {
        { "NONE", 0xd9d9d9 },
        { "UNKNOWN", 0xa6a6a6 },
        { "WALL", 0x2ca02c },
        { "USB500MA", 0x1f77b4 },
        { "USB100MA", 0x9ecae1 },
        { "STOPPED", 0xd9d9d9 },
        { "STARTED", 0x74c476 },
        { "ERROR", 0xd62728 },
        { "EMPTY", 0x67000d },
        { "LOW", 0xfd8d3c },
        { "OK", 0x9ecae1 },
        { "FULL", 0x3182bd },
    };
    for (const auto &entry : known) {
        if (state == QLatin1String(entry.word))
            return QColor(QRgb(entry.colour));
    }
    static const int others[] = { 0xbcbd22, 0x17becf, 0xe377c2, 0x8c564b, 0x7f7f7f, 0x9467bd };
    return QColor(QRgb(others[index % 6]));
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

QString thousands(long long value)
{
    QLocale english(QLocale::English);
    return english.toString(value);
}

// Text as an SVG can hold it: XML 1.0 has no place for control characters
// (a tab and a line end included, which a label has no use for either),
// U+FFFE, U+FFFF or half a surrogate pair; each becomes U+FFFD.
QString drawable(const QString &text)
{
    QString result = text;
    for (int i = 0; i < result.size(); ++i) {
        const char16_t unit = result.at(i).unicode();
        const bool pairStart = QChar::isHighSurrogate(unit) && i + 1 < result.size()
            && result.at(i + 1).isLowSurrogate();
        if (pairStart) {
            ++i;
            continue;
        }
        if (unit < 0x20 || (unit >= 0x7f && unit < 0xa0) || unit == 0xfffe || unit == 0xffff
            || QChar::isSurrogate(unit))
            result[i] = QChar(QChar::ReplacementCharacter);
    }
    return result;
}

// A value axis as ticks from low to high: never more than a screen holds,
// even where adding the step no longer changes a value as large as 2^53.
constexpr int maximumValueTicks = 64;

} // namespace

QPen Chart::pen(const Trace &trace, double lineWidth)
{
    QPen result(QColor(QRgb(trace.colour)), lineWidth, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin);
    if (trace.dashed)
        result.setDashPattern({ 4, 3 });
    else
        result.setCapStyle(Qt::RoundCap);
    return result;
}

QStringList Chart::panelNames()
{
    return { QStringLiteral("charge"), QStringLiteral("capacity"), QStringLiteral("voltage"),
        QStringLiteral("current"), QStringLiteral("uses"), QStringLiteral("remaining"),
        QStringLiteral("states") };
}

// The largest value of a column in any of the logs, markers left out; 0
// for none.
static double largest(const std::vector<const ChargeLog *> &logs, Column column)
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

bool Chart::shared(Column column) const
{
    for (const ChargeLog *one : logs) {
        if (!one->has(column))
            return false;
    }
    return true;
}

Chart::Chart(const std::vector<const ChargeLog *> &logs, const QStringList &labels,
    const ChartLayout &layout)
    : log(*logs.front())
    , logs(logs)
    , width(layout.width)
    , plotWidth(layout.width - left - right)
    , plotHeight(defaultPlotHeight)
    , requestedHeight(layout.height)
    , start(logs.front()->firstTime)
    , end(logs.front()->lastTime)
    , legendHeight(0)
{
    for (const QString &label : labels)
        this->labels << drawable(label);
    for (const ChargeLog *one : logs) {
        start = std::min(start, one->firstTime);
        end = std::max(end, one->lastTime);
    }
    end = std::max(end, start + 1);
    // Several logs: one colour a log, and the later columns of a panel
    // dashed. One log: one colour a column, the later ones dashed.
    const bool several = logs.size() > 1;
    auto addTraces = [this, several](Panel &panel, Column column, const QString &label,
                         int colour, bool rightAxis, bool dashed, int kinds) {
        for (size_t i = 0; i < this->logs.size(); ++i) {
            const QString name = !several ? label
                : kinds > 1 ? this->labels[int(i)] + QLatin1Char(' ') + label
                            : this->labels[int(i)];
            panel.traces.push_back({ column, name,
                several ? palette[i % (sizeof palette / sizeof *palette)] : colour, rightAxis,
                dashed, this->logs[i] });
        }
    };
    const auto wanted = [&layout](const char *name) {
        return layout.panels.isEmpty() || layout.panels.contains(QLatin1String(name));
    };
    // Later traces of a panel are dashed: where two series are equal (the
    // remaining charge and the coulomb counter, the current and its
    // average) the solid one shows between the dashes.
    auto add = [this, &wanted, &addTraces](Panel panel, const char *name,
                   std::initializer_list<std::pair<Column, const char *>> columns) {
        if (!wanted(name))
            return;
        panel.name = QLatin1String(name);
        // A log's name alone where the panel can show one column only.
        const int kinds = int(columns.size());
        int colour = 0;
        for (const auto &[column, label] : columns) {
            if (shared(column)) {
                addTraces(panel, column, QLatin1String(label), palette[colour], false, colour > 0,
                    kinds);
                ++colour;
            }
        }
        if (!panel.traces.empty())
            panels.push_back(panel);
    };

    Panel charge;
    charge.title = QStringLiteral("Charge (%)");
    charge.percent = true;
    charge.name = QStringLiteral("charge");
    const int chargeKinds = 2;
    if (shared(Percent))
        addTraces(charge, Percent, QStringLiteral("percent"), palette[0], false, false, chargeKinds);
    if (shared(Bars) && shared(Percent)) {
        addTraces(charge, Bars, QStringLiteral("bars (right axis)"), palette[3], true, true,
            chargeKinds);
        charge.rightTitle = QStringLiteral("bars");
    } else if (shared(Bars)) {
        charge.title = QStringLiteral("Charge (bars)");
        charge.percent = false;
        addTraces(charge, Bars, QStringLiteral("bars"), palette[3], false, false, chargeKinds);
    }
    if (!charge.traces.empty() && wanted("charge"))
        panels.push_back(charge);

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
    if (!panels.empty() && panels.back().name == QLatin1String("remaining")) {
        Panel &shown = panels.back();
        if (shown.traces.back().column == IdleTime && shown.traces.front().column != IdleTime
            && largest(logs, IdleTime) > 4 * others) {
            for (Trace &idle : shown.traces) {
                if (idle.column != IdleTime)
                    continue;
                idle.rightAxis = true;
                idle.dashed = several;
                idle.label = several ? idle.label + QStringLiteral(" (right axis)")
                                     : QStringLiteral("idle (right axis)");
            }
            shown.rightTitle = QStringLiteral("idle");
        }
    }

    if (wanted("states")) {
        for (Column column : { ChargerType, ChargingState, BatteryState }) {
            bool everyLog = true;
            QSet<QString> seen;
            for (const ChargeLog *one : logs) {
                everyLog = everyLog && one->written(column);
                for (const QString &word : one->states[column]) {
                    if (seen.contains(word))
                        continue;
                    seen.insert(word);
                    if (stateWords[column].size() < maximumLegendWords)
                        stateWords[column] << word;
                    else
                        ++otherWords[column];
                }
            }
            if (!everyLog)
                continue;
            stateColumns.push_back(column);
            // Several logs: a heading for the column, then a row a log.
            if (several)
                stateRows.push_back({ column, nullptr, QLatin1String(stateTitle(column)) });
            for (size_t i = 0; i < logs.size(); ++i)
                stateRows.push_back({ column, logs[i],
                    several ? this->labels[int(i)] : QLatin1String(stateTitle(column)) });
        }
    }
    layOutLegend();
    if (requestedHeight > 0 && !panels.empty()) {
        const int fixed = fixedHeight();
        plotHeight = std::max(minimumPlotHeight, (requestedHeight - fixed) / int(panels.size()));
    }
    ticks = timeTicks();
}

int Chart::stateBandHeight() const
{
    int height = 0;
    for (const StateRow &row : stateRows)
        height += row.source ? stateRow + stateGap : headingRow;
    return height;
}

// The first and the last time stamp of all the logs.
QString Chart::title() const
{
    const ChargeLog *first = logs.front(), *last = logs.front();
    for (const ChargeLog *one : logs) {
        if (one->firstTime < first->firstTime)
            first = one;
        if (one->lastTime > last->lastTime)
            last = one;
    }
    return drawable(QStringLiteral("Battery log%1 %2 to %3")
                        .arg(logs.size() > 1 ? QStringLiteral("s") : QString(),
                            first->firstStamp, last->lastStamp));
}

QStringList Chart::leftOut() const
{
    QStringList columns;
    for (const BatteryColumn &entry : batteryColumns) {
        bool written = false, has = false;
        for (const ChargeLog *one : logs) {
            written = written || one->written(entry.column);
            has = has || one->has(entry.column);
        }
        if (entry.kind != CellKind::State && written && !has)
            columns << QLatin1String(entry.header);
    }
    return columns;
}

void Chart::layOutLegend()
{
    const QFontMetrics titleMetrics(font(tickFont, true));
    const QFontMetrics metrics(font(tickFont));
    int x = left;
    int line = 0;
    auto place = [&](const QString &text, int colour, int itemWidth) {
        if (x > left && x + itemWidth > width - right) {
            x = left;
            ++line;
        }
        legend.push_back({ text, colour, x, line });
        x += itemWidth;
    };
    for (Column column : stateColumns) {
        if (x > left)
            x += 18;
        const QString title = QLatin1String(stateTitle(column)) + QLatin1Char(':');
        place(title, -1, titleMetrics.horizontalAdvance(title) + 8);
        const QStringList &states = stateWords[column];
        for (int i = 0; i <= states.size(); ++i) {
            if (i == states.size() && otherWords[column] == 0)
                break;
            // However long a word, its item fits on a line.
            const QString text = i < states.size()
                ? metrics.elidedText(drawable(states[i]), Qt::ElideMiddle, longestLegendText)
                : otherWords[column] == 1
                ? QStringLiteral("1 other word")
                : QStringLiteral("%1 other words").arg(thousands(otherWords[column]));
            const int colour = i < states.size() ? int(stateColour(states[i], i).rgb() & 0xffffff)
                                                 : otherStates;
            place(text, colour, 16 + metrics.horizontalAdvance(text) + 14);
        }
    }
    legendHeight = legend.empty() ? 0 : (line + 1) * 20 + 6;
}

// Everything but the plots of the panels.
int Chart::fixedHeight() const
{
    int height = titleHeight + int(panels.size()) * (panelHeader + panelGap);
    if (!stateColumns.empty())
        height += panelHeader + stateBandHeight();
    return height + axisHeight + legendHeight + bottomMargin;
}

int Chart::minimumHeight() const
{
    return fixedHeight() + int(panels.size()) * minimumPlotHeight;
}

bool Chart::empty() const
{
    return panels.empty() && stateColumns.empty();
}

QSize Chart::size() const
{
    const int height = fixedHeight() + int(panels.size()) * plotHeight;
    return QSize(width, std::max(height, requestedHeight));
}

double Chart::x(long long time) const
{
    return left + double(time - start) / double(end - start) * plotWidth;
}

void Chart::draw(QPainter &painter) const
{
    painter.fillRect(QRect(QPoint(0, 0), size()), Qt::white);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);

    painter.setPen(Qt::black);
    painter.setFont(font(titleFont, true));
    painter.drawText(QRect(left, 8, plotWidth, 24), Qt::AlignLeft | Qt::AlignVCenter, title());
    painter.setFont(font(tickFont));
    painter.setPen(QColor(0x55, 0x55, 0x55));
    long long rows = 0;
    for (const ChargeLog *one : logs)
        rows += one->rows;
    QString note = QStringLiteral("%1 rows").arg(thousands(rows));
    if (logs.size() > 1)
        note += QStringLiteral(" from %1 logs: %2").arg(logs.size()).arg(labels.join(QLatin1String(", ")));
    else if (log.segments.size() > 1)
        note += QStringLiteral(" from %1 runs of charge-recorder (dashed line: started again)")
                    .arg(log.segments.size());
    note += QStringLiteral("; no line where rows are missing");
    painter.drawText(QRect(left, 32, plotWidth, 18), Qt::AlignLeft | Qt::AlignVCenter, note);

    int top = titleHeight;
    for (const Panel &panel : panels) {
        drawPanel(painter, panel, top);
        top += panelHeader + plotHeight + panelGap;
    }
    if (!stateColumns.empty()) {
        drawStates(painter, top);
        top += panelHeader + stateBandHeight();
    }
    drawTimeAxis(painter, top - (stateColumns.empty() ? panelGap : stateGap));
    drawLegend(painter, top + axisHeight);
}

void Chart::drawPanel(QPainter &painter, const Panel &panel, int top) const
{
    const QRectF plot(left, top + panelHeader, plotWidth, plotHeight);

    // Header: what is drawn and its unit on the left, the traces' colours on the right.
    painter.setPen(Qt::black);
    painter.setFont(font(headerFont, true));
    painter.drawText(QRect(left - 60, top, plotWidth, panelHeader - 11),
        Qt::AlignLeft | Qt::AlignBottom, panel.title);
    painter.setFont(font(tickFont));
    const QFontMetrics metrics(font(tickFont));
    int legendX = left + plotWidth;
    for (auto trace = panel.traces.rbegin(); trace != panel.traces.rend(); ++trace) {
        const int textWidth = metrics.horizontalAdvance(trace->label);
        legendX -= textWidth;
        painter.setPen(QColor(0x33, 0x33, 0x33));
        painter.drawText(QRect(legendX, top, textWidth + 2, panelHeader - 11),
            Qt::AlignLeft | Qt::AlignBottom, trace->label);
        painter.setPen(pen(*trace, 2.5));
        painter.drawLine(QPointF(legendX - 22, top + panelHeader - 16),
            QPointF(legendX - 6, top + panelHeader - 16));
        legendX -= 22 + 18;
    }

    // Value ranges of the left and right axes.
    double range[2][2] = { { std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest() },
        { std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest() } };
    for (const Trace &trace : panel.traces) {
        for (const Segment &segment : trace.source->segments) {
            if (!segment.present[trace.column] || segment.values[trace.column].empty())
                continue;
            double *r = range[trace.rightAxis];
            for (float value : segment.values[trace.column]) {
                if (std::isnan(value))
                    continue; // no figure: a gap
                r[0] = std::min(r[0], value * panel.scale);
                r[1] = std::max(r[1], value * panel.scale);
            }
        }
    }
    double axis[2][3]; // low, high, step
    for (int side = 0; side < 2; ++side) {
        double low = range[side][0], high = range[side][1];
        if (low > high)
            continue;
        if (side == 0 && panel.percent) {
            low = std::min(0.0, low);
            high = std::max(100.0, high);
        } else if (side == 1) {
            // Bars from none, with room above the highest so that its line
            // does not hide in the frame.
            low = std::min(0.0, low);
            high += 1;
        }
        // A constant: a range around it, wide enough to change a value
        // as large as a float holds.
        if (!(high - low > std::max(std::abs(low), std::abs(high)) * 1e-6)) {
            const double margin = std::max(1.0, std::abs(high) * 1e-3);
            low -= margin;
            high += margin;
        }
        const double step = niceStep(high - low, 4, panel.scale == 1);
        axis[side][0] = std::floor(low / step) * step;
        axis[side][1] = std::ceil(high / step) * step;
        axis[side][2] = step;
    }

    painter.setPen(QPen(QColor(0x99, 0x99, 0x99), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot);
    painter.setFont(font(tickFont));
    for (int side = 0; side < 2; ++side) {
        if (range[side][0] > range[side][1])
            continue;
        const double low = axis[side][0], high = axis[side][1], step = axis[side][2];
        const double count = std::min(double(maximumValueTicks), std::round((high - low) / step));
        for (int i = 0; i <= int(count); ++i) {
            const double value = low + i * step;
            const double y = plot.bottom() - (value - low) / (high - low) * plot.height();
            if (side == 0 && value > low + step / 2 && value < high - step / 2) {
                painter.setPen(QPen(QColor(0xe6, 0xe6, 0xe6), 1));
                painter.drawLine(QPointF(plot.left() + 1, y), QPointF(plot.right() - 1, y));
            }
            painter.setPen(QColor(0x33, 0x33, 0x33));
            const QString text = tickText(value, step);
            if (side == 0)
                painter.drawText(QRectF(0, y - 8, left - 8, 16), Qt::AlignRight | Qt::AlignVCenter, text);
            else
                painter.drawText(QRectF(plot.right() + 8, y - 8, right - 10, 16),
                    Qt::AlignLeft | Qt::AlignVCenter, text);
        }
    }
    drawTimeGrid(painter, plot);
    for (const Trace &trace : panel.traces)
        drawTrace(painter, trace, panel.scale, axis[trace.rightAxis][0], axis[trace.rightAxis][1], top + panelHeader);
}

// One trace, thinned to the picture's resolution: of the rows that fall
// into one pixel column only the lowest and the highest are drawn, in the
// order they came, so a spike of a single row stays visible. Rows further
// apart than a break are not joined.
void Chart::drawTrace(QPainter &painter, const Trace &trace, double scale, double low,
    double high, int top) const
{
    painter.setPen(pen(trace, 1.5));
    const double yScale = plotHeight / (high - low);
    auto y = [&](float value) { return top + plotHeight - (value * scale - low) * yScale; };
    QPolygonF line;
    auto flush = [&]() {
        if (line.size() == 1) {
            // A row alone between breaks: a dot that can be seen.
            painter.setBrush(painter.pen().color());
            painter.drawEllipse(line.first(), 1.5, 1.5);
            painter.setBrush(Qt::NoBrush);
        }
        else if (line.size() > 1)
            painter.drawPolyline(line);
        line.clear();
    };
    for (const Segment &segment : trace.source->segments) {
        if (!segment.present[trace.column])
            continue;
        const auto &values = segment.values[trace.column];
        const auto &times = segment.times;
        long column = -1;
        size_t lowRow = 0, highRow = 0;
        auto emitColumn = [&]() {
            if (column < 0)
                return;
            const size_t first = std::min(lowRow, highRow), second = std::max(lowRow, highRow);
            line << QPointF(x(times[first]), y(values[first]));
            if (second != first)
                line << QPointF(x(times[second]), y(values[second]));
        };
        for (size_t row = 0; row < times.size(); ++row) {
            if (std::isnan(values[row])) {
                // No figure: the line stops here, and starts again at the
                // next row that has one.
                emitColumn();
                column = -1;
                flush();
                continue;
            }
            if (row > 0 && !std::isnan(values[row - 1]) && segment.breakBetween(row)) {
                emitColumn();
                column = -1;
                flush();
            }
            const long pixel = long(std::floor(x(times[row]) - left));
            if (pixel != column) {
                emitColumn();
                column = pixel;
                lowRow = highRow = row;
            } else {
                if (values[row] < values[lowRow])
                    lowRow = row;
                if (values[row] > values[highRow])
                    highRow = row;
            }
        }
        emitColumn();
        flush();
    }
}

// Each pixel column of a state row shows the state that lasted longest in
// it. A row's state holds until the next row, or for one interval before a
// break and at the end.
void Chart::drawStates(QPainter &painter, int top) const
{
    painter.setPen(Qt::black);
    painter.setFont(font(headerFont, true));
    painter.drawText(QRect(left - 60, top, plotWidth, panelHeader - 11),
        Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("States"));
    int rowTop = top + panelHeader;
    for (const StateRow &stateRow_ : stateRows) {
        const Column column = stateRow_.column;
        if (!stateRow_.source) {
            // A column's heading above its logs' rows.
            painter.setPen(Qt::black);
            painter.setFont(font(tickFont, true));
            painter.drawText(QRect(0, rowTop, plotWidth, headingRow), Qt::AlignLeft | Qt::AlignBottom,
                stateRow_.title);
            rowTop += headingRow;
            continue;
        }
        const ChargeLog &source = *stateRow_.source;
        // Each of the log's words as the legend shows it: its own colour, or
        // the one the other words share (the last).
        const QStringList &shown = stateWords[column];
        const int count = int(shown.size()) + 1;
        std::vector<int> bucket;
        bucket.reserve(size_t(source.states[column].size()));
        for (const QString &word : source.states[column]) {
            const int index = shown.indexOf(word);
            bucket.push_back(index < 0 ? count - 1 : index);
        }
        std::vector<float> share(size_t(plotWidth + 1) * size_t(count), 0.0f);
        for (const Segment &segment : source.segments) {
            if (!segment.present[column])
                continue;
            const auto &times = segment.times;
            const auto &values = segment.values[column];
            for (size_t row = 0; row < times.size(); ++row) {
                const bool joined = row + 1 < times.size() && !segment.breakBetween(row + 1);
                const long long until = joined ? times[row + 1]
                                                : times[row] + std::max(segment.interval, 1LL);
                const size_t word = size_t(values[row]);
                if (!(values[row] >= 0) || word >= bucket.size())
                    continue;
                // Within the plot before any becomes a whole number.
                const double a = std::clamp(x(times[row]) - left, 0.0, double(plotWidth + 1));
                const double b = std::clamp(std::max(x(until) - left, a + 0.01), 0.0,
                    double(plotWidth + 1));
                for (long pixel = long(std::floor(a)); pixel < long(std::ceil(b)) && pixel <= plotWidth;
                     ++pixel) {
                    const double overlap = std::min(b, pixel + 1.0) - std::max(a, double(pixel));
                    share[size_t(pixel) * size_t(count) + size_t(bucket[word])] += float(overlap);
                }
            }
        }
        painter.setPen(Qt::NoPen);
        int runStart = 0;
        int runState = -1;
        auto paintRun = [&](int until) {
            if (runState >= 0) {
                painter.setBrush(runState < count - 1
                        ? stateColour(shown[runState], runState)
                        : QColor(QRgb(otherStates)));
                painter.drawRect(QRectF(left + runStart, rowTop, until - runStart, stateRow));
            }
        };
        for (int pixel = 0; pixel <= plotWidth; ++pixel) {
            int state = -1;
            float longest = 0;
            for (int i = 0; i < count; ++i) {
                const float value = share[size_t(pixel) * size_t(count) + size_t(i)];
                if (value > longest) {
                    longest = value;
                    state = i;
                }
            }
            if (state != runState) {
                paintRun(pixel);
                runStart = pixel;
                runState = state;
            }
        }
        paintRun(std::min(plotWidth, plotWidth + 1));
        painter.setBrush(Qt::NoBrush);
        drawTimeGrid(painter, QRectF(left, rowTop, plotWidth, stateRow));
        painter.setPen(QPen(QColor(0x99, 0x99, 0x99), 1));
        painter.drawRect(QRectF(left, rowTop, plotWidth, stateRow));
        painter.setPen(Qt::black);
        painter.setFont(font(tickFont));
        painter.drawText(QRect(0, rowTop, left - 8, stateRow), Qt::AlignRight | Qt::AlignVCenter,
            QFontMetrics(font(tickFont)).elidedText(stateRow_.title, Qt::ElideMiddle, left - 10));
        rowTop += stateRow + stateGap;
    }
}

void Chart::drawLegend(QPainter &painter, int top) const
{
    for (const LegendItem &item : legend) {
        const int y = top + item.line * 20;
        if (item.colour < 0) {
            painter.setPen(Qt::black);
            painter.setFont(font(tickFont, true));
            painter.drawText(QRect(item.x, y, 200, 18), Qt::AlignLeft | Qt::AlignVCenter, item.text);
            continue;
        }
        painter.setPen(QPen(QColor(0x66, 0x66, 0x66), 0.5));
        painter.setBrush(QColor(QRgb(item.colour)));
        painter.drawRect(QRectF(item.x, y + 3, 12, 12));
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QColor(0x33, 0x33, 0x33));
        painter.setFont(font(tickFont));
        painter.drawText(QRect(item.x + 16, y, 400, 18), Qt::AlignLeft | Qt::AlignVCenter, item.text);
    }
}

std::vector<Chart::Tick> Chart::timeTicks() const
{
    static const long long steps[] = { 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600,
        7200, 10800, 21600, 43200, 86400, 172800, 604800 };
    const long long span = end - start;
    const long long most = plotWidth / 105;
    long long step = 0;
    for (long long candidate : steps) {
        if (span / candidate <= most) {
            step = candidate;
            break;
        }
    }
    if (step == 0)
        step = ((span / most) / 604800 + 1) * 604800;

    std::vector<Tick> ticks;
    // Times beyond the calendar QDateTime knows get no ticks: a day or a
    // time it cannot name would never reach the end.
    if (!QDateTime::fromSecsSinceEpoch(start).isValid() || !QDateTime::fromSecsSinceEpoch(end).isValid())
        return ticks;
    // Never more ticks than fit, whatever the calendar does.
    const size_t tickCount = size_t(most) + 2;
    const QLocale locale = QLocale::c();
    if (step >= 86400) {
        // Local midnights, every step days.
        QDate day = QDateTime::fromSecsSinceEpoch(start).date();
        if (QDateTime(day, QTime(0, 0)).toSecsSinceEpoch() < start)
            day = day.addDays(1);
        for (; day.isValid() && ticks.size() < tickCount
             && QDateTime(day, QTime(0, 0)).toSecsSinceEpoch() <= end;
             day = day.addDays(step / 86400))
            ticks.push_back({ QDateTime(day, QTime(0, 0)).toSecsSinceEpoch(),
                locale.toString(day, QStringLiteral("d MMM")), QString() });
        return ticks;
    }
    const long long offset = QDateTime::fromSecsSinceEpoch(start).offsetFromUtc();
    long long first = (start + offset + step - 1) / step * step - offset;
    if (start + offset < 0 && (start + offset) % step)
        first -= step;
    QDate lastDate;
    for (long long tick = first; tick <= end && ticks.size() < tickCount; tick += step) {
        const QDateTime local = QDateTime::fromSecsSinceEpoch(tick);
        const QString time = locale.toString(local.time(),
            step < 60 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm"));
        QString date;
        if (local.date() != lastDate)
            date = locale.toString(local.date(), QStringLiteral("d MMM yyyy"));
        lastDate = local.date();
        ticks.push_back({ tick, time, date });
    }
    return ticks;
}

void Chart::drawTimeGrid(QPainter &painter, const QRectF &plot) const
{
    painter.setPen(QPen(QColor(0xe6, 0xe6, 0xe6), 1));
    for (const Tick &tick : ticks)
        painter.drawLine(QPointF(x(tick.time), plot.top() + 1), QPointF(x(tick.time), plot.bottom() - 1));
    painter.setPen(QPen(QColor(0x55, 0x55, 0x55), 1, Qt::DashLine));
    for (const ChargeLog *one : logs) {
        for (size_t i = 1; i < one->segments.size(); ++i) {
            if (!one->segments[i].times.empty()) {
                const double at = x(one->segments[i].times.front());
                painter.drawLine(QPointF(at, plot.top()), QPointF(at, plot.bottom()));
            }
        }
    }
}

void Chart::drawTimeAxis(QPainter &painter, int bottom) const
{
    painter.setFont(font(tickFont));
    const QFontMetrics metrics(font(tickFont));
    for (const Tick &tick : ticks) {
        const double at = x(tick.time);
        painter.setPen(QPen(QColor(0x99, 0x99, 0x99), 1));
        painter.drawLine(QPointF(at, bottom), QPointF(at, bottom + 4));
        painter.setPen(QColor(0x33, 0x33, 0x33));
        painter.drawText(QRectF(at - 50, bottom + 5, 100, 16), Qt::AlignHCenter | Qt::AlignTop, tick.label);
        if (!tick.date.isEmpty())
            painter.drawText(QRectF(at - 60, bottom + 20, 120, 16), Qt::AlignHCenter | Qt::AlignTop, tick.date);
    }
}
