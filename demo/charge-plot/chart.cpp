// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// Placing and painting a chart with QPainter: the same code paints the PNG
// and the SVG.

#include "chart.h"

#include "chartreduce.h"

#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int left = 88; // tick labels of the left axes, names of the state rows
constexpr int right = 64; // tick labels of a right axis
constexpr int titleLeft = left - 60; // of a panel's title
constexpr int titleHeight = 58;
constexpr int panelHeader = 30; // a title and one line of keys
constexpr int keyLine = 18; // each further line of keys
constexpr int keyLineLength = 22; // a key's line before its text
constexpr int keyGap = 18; // between two keys
constexpr int defaultPlotHeight = 130;
constexpr int minimumPlotHeight = 40;
constexpr int panelGap = 14;
constexpr int stateRow = 20;
constexpr int stateGap = 4;
constexpr int headingRow = 18;
constexpr int axisHeight = 40;
constexpr int bottomMargin = 14;
constexpr int longestLegendText = 240;

constexpr int tickFont = 12;
constexpr int headerFont = 13;
constexpr int titleFont = 17;

QFont font(int pixels, bool bold = false)
{
    QFont result(QStringLiteral("DejaVu Sans"));
    result.setPixelSize(pixels);
    result.setBold(bold);
    return result;
}

QString thousands(long long value)
{
    QLocale english(QLocale::English);
    return english.toString(value);
}

} // namespace

QPen Chart::pen(const Trace &trace, double lineWidth)
{
    QPen result(QColor(QRgb(trace.colour)), lineWidth, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin);
    if (!trace.dashes.isEmpty()) {
        result.setDashPattern(trace.dashes);
        result.setDashOffset(trace.dashOffset);
    } else {
        result.setCapStyle(Qt::RoundCap);
    }
    return result;
}

Chart::Chart(const std::vector<const ChargeLog *> &logs, const QStringList &labels,
    const ChartLayout &layout)
    : plan(planChart(logs, labels, layout.panels))
    , width(layout.width)
    , plotWidth(layout.width - left - right)
    , plotHeight(defaultPlotHeight)
    , requestedHeight(layout.height)
    , legendHeight(0)
{
    layOutKeys();
    layOutLegend();
    if (requestedHeight > 0 && !plan.panels.empty()) {
        const int fixed = fixedHeight();
        plotHeight = std::max(minimumPlotHeight, (requestedHeight - fixed) / int(plan.panels.size()));
    }
    ticks = timeTicks(plan.start, plan.end, plotWidth);
}

int Chart::stateBandHeight() const
{
    int height = 0;
    for (const StateRow &row : plan.stateRows)
        height += row.source ? stateRow + stateGap : headingRow;
    return height;
}

// The first and the last time stamp of all the logs.
QString Chart::title() const
{
    const ChargeLog *first = plan.logs.front(), *last = plan.logs.front();
    for (const ChargeLog *one : plan.logs) {
        if (one->firstTime < first->firstTime)
            first = one;
        if (one->lastTime > last->lastTime)
            last = one;
    }
    return drawable(QStringLiteral("Battery log%1 %2 to %3")
                        .arg(plan.logs.size() > 1 ? QStringLiteral("s") : QString(),
                            first->firstStamp, last->lastStamp));
}

QStringList Chart::leftOut() const
{
    QStringList columns;
    for (const BatteryColumn &entry : batteryColumns) {
        bool written = false, has = false;
        for (const ChargeLog *one : plan.logs) {
            written = written || one->written(entry.column);
            has = has || one->has(entry.column);
        }
        if (entry.kind != CellKind::State && written && !has)
            columns << QLatin1String(entry.header);
    }
    return columns;
}

// The keys of a panel follow its title and end at the plot's right edge;
// those that do not fit go on further lines, from under the title's start.
// A text too long for any line is shortened.
void Chart::layOutKeys()
{
    const QFontMetrics titleMetrics(font(headerFont, true));
    const QFontMetrics metrics(font(tickFont));
    const int rightEdge = left + plotWidth;
    for (const Panel &panel : plan.panels) {
        std::vector<KeyEntry> entries;
        const int afterTitle = titleLeft + titleMetrics.horizontalAdvance(panel.title) + keyGap;
        // The widths of each line's entries, a line and its text, with a
        // gap between two.
        std::vector<int> lineWidths { 0 };
        for (size_t i = 0; i < panel.traces.size(); ++i) {
            const QString text = metrics.elidedText(panel.traces[i].label, Qt::ElideMiddle,
                rightEdge - titleLeft - keyLineLength);
            const int entryWidth = keyLineLength + metrics.horizontalAdvance(text);
            const auto fits = [&](int lineWidth) {
                const int lineStart = lineWidths.size() == 1 ? afterTitle : titleLeft;
                return rightEdge - lineWidth - (lineWidth > 0 ? keyGap : 0) - entryWidth >= lineStart;
            };
            if (!fits(lineWidths.back()) && (lineWidths.back() > 0 || lineWidths.size() == 1))
                lineWidths.push_back(0);
            int &lineWidth = lineWidths.back();
            // For now, where the entry starts within its line.
            entries.push_back({ i, text, lineWidth + (lineWidth > 0 ? keyGap : 0),
                int(lineWidths.size()) - 1 });
            lineWidth = entries.back().x + entryWidth;
        }
        // Each line ends at the plot's right edge.
        for (KeyEntry &entry : entries)
            entry.x += rightEdge - lineWidths[size_t(entry.line)] + keyLineLength;
        keyLines.push_back(int(lineWidths.size()));
        keys.push_back(std::move(entries));
    }
}

int Chart::headerHeight(size_t panel) const
{
    return panelHeader + (keyLines[panel] - 1) * keyLine;
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
    for (Column column : plan.stateColumns) {
        if (x > left)
            x += 18;
        const QString title = QLatin1String(stateTitle(column)) + QLatin1Char(':');
        place(title, -1, titleMetrics.horizontalAdvance(title) + 8);
        const QStringList &states = plan.stateWords[column];
        for (int i = 0; i < states.size(); ++i) {
            // However long a word, its item fits on a line.
            const QString text
                = metrics.elidedText(drawable(states[i]), Qt::ElideMiddle, longestLegendText);
            place(text, stateColour(column, states[i], i), 16 + metrics.horizontalAdvance(text) + 14);
        }
        if (const long long others = plan.otherWords[column]) {
            const QString text = others == 1
                ? QStringLiteral("1 other word")
                : QStringLiteral("%1 other words").arg(thousands(others));
            place(text, otherStatesColour, 16 + metrics.horizontalAdvance(text) + 14);
        }
    }
    legendHeight = legend.empty() ? 0 : (line + 1) * 20 + 6;
}

// Everything but the plots of the panels.
int Chart::fixedHeight() const
{
    int height = titleHeight;
    for (size_t i = 0; i < plan.panels.size(); ++i)
        height += headerHeight(i) + panelGap;
    if (!plan.stateColumns.empty())
        height += panelHeader + stateBandHeight();
    return height + axisHeight + legendHeight + bottomMargin;
}

int Chart::minimumHeight() const
{
    return fixedHeight() + int(plan.panels.size()) * minimumPlotHeight;
}

bool Chart::empty() const
{
    return plan.panels.empty() && plan.stateColumns.empty();
}

QSize Chart::size() const
{
    const int height = fixedHeight() + int(plan.panels.size()) * plotHeight;
    return QSize(width, std::max(height, requestedHeight));
}

double Chart::x(long long time) const
{
    return left + TimeScale { plan.start, plan.end, plotWidth }.x(time);
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
    for (const ChargeLog *one : plan.logs)
        rows += one->rows;
    QString note = QStringLiteral("%1 rows").arg(thousands(rows));
    if (plan.logs.size() > 1)
        note += QStringLiteral(" from %1 logs: %2")
                    .arg(plan.logs.size())
                    .arg(plan.labels.join(QLatin1String(", ")));
    else if (plan.logs.front()->segments.size() > 1)
        note += QStringLiteral(" from %1 runs of charge-recorder (dashed line: started again)")
                    .arg(plan.logs.front()->segments.size());
    note += QStringLiteral("; no line where rows are missing");
    painter.drawText(QRect(left, 32, plotWidth, 18), Qt::AlignLeft | Qt::AlignVCenter, note);

    int top = titleHeight;
    for (size_t i = 0; i < plan.panels.size(); ++i) {
        drawPanel(painter, i, top);
        top += headerHeight(i) + plotHeight + panelGap;
    }
    if (!plan.stateColumns.empty()) {
        drawStates(painter, top);
        top += panelHeader + stateBandHeight();
    }
    drawTimeAxis(painter, top - (plan.stateColumns.empty() ? panelGap : stateGap));
    drawLegend(painter, top + axisHeight);
}

void Chart::drawPanel(QPainter &painter, size_t index, int top) const
{
    const Panel &panel = plan.panels[index];
    const int header = headerHeight(index);
    const QRectF plot(left, top + header, plotWidth, plotHeight);

    // Header: what is drawn and its unit on the left, the traces' keys on
    // the right, on as many lines as they need.
    painter.setPen(Qt::black);
    painter.setFont(font(headerFont, true));
    painter.drawText(QRect(titleLeft, top, plotWidth, panelHeader - 11),
        Qt::AlignLeft | Qt::AlignBottom, panel.title);
    painter.setFont(font(tickFont));
    const QFontMetrics metrics(font(tickFont));
    for (const KeyEntry &entry : keys[index]) {
        const Trace &trace = panel.traces[entry.trace];
        const int lineTop = top + entry.line * keyLine;
        const int textWidth = metrics.horizontalAdvance(entry.text);
        painter.setPen(QColor(0x33, 0x33, 0x33));
        painter.drawText(QRect(entry.x, lineTop, textWidth + 2, panelHeader - 11),
            Qt::AlignLeft | Qt::AlignBottom, entry.text);
        // The key shows the dash, wherever the line's dashes start.
        QPen keyPen = pen(trace, 2.5);
        keyPen.setDashOffset(0);
        painter.setPen(keyPen);
        painter.drawLine(QPointF(entry.x - keyLineLength, lineTop + panelHeader - 16),
            QPointF(entry.x - 6, lineTop + panelHeader - 16));
    }

    // Value ranges of the left and right axes.
    double range[2][2] = { { std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest() },
        { std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest() } };
    for (const Trace &trace : panel.traces) {
        for (const Segment &segment : trace.source->segments) {
            if (!segment.present[trace.column])
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
    ValueAxis axes[2];
    for (int side = 0; side < 2; ++side) {
        if (range[side][0] <= range[side][1])
            axes[side] = valueAxis(range[side][0], range[side][1],
                side == 1 ? AxisKind::Bars : panel.percent ? AxisKind::Percent : AxisKind::Plain,
                panel.scale == 1);
    }

    painter.setPen(QPen(QColor(0x99, 0x99, 0x99), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot);
    painter.setFont(font(tickFont));
    for (int side = 0; side < 2; ++side) {
        if (range[side][0] > range[side][1])
            continue;
        const ValueAxis &axis = axes[side];
        for (int i = 0; i <= axis.count; ++i) {
            const double value = axis.low + i * axis.step;
            const double y = plot.bottom() - (value - axis.low) / (axis.high - axis.low) * plot.height();
            if (side == 0 && i > 0 && i < axis.count) {
                painter.setPen(QPen(QColor(0xe6, 0xe6, 0xe6), 1));
                painter.drawLine(QPointF(plot.left() + 1, y), QPointF(plot.right() - 1, y));
            }
            painter.setPen(QColor(0x33, 0x33, 0x33));
            const QString text = tickText(value, axis.step);
            if (side == 0)
                painter.drawText(QRectF(0, y - 8, left - 8, 16), Qt::AlignRight | Qt::AlignVCenter, text);
            else
                painter.drawText(QRectF(plot.right() + 8, y - 8, right - 10, 16),
                    Qt::AlignLeft | Qt::AlignVCenter, text);
        }
    }
    drawTimeGrid(painter, plot);
    for (const Trace &trace : panel.traces)
        drawTrace(painter, trace, panel.scale, axes[trace.rightAxis], top + header);
}

// One trace as its thinned lines; a row alone between breaks is a dot that
// can be seen.
void Chart::drawTrace(QPainter &painter, const Trace &trace, double scale, const ValueAxis &axis,
    int top) const
{
    painter.setPen(pen(trace, 1.5));
    const double yScale = plotHeight / (axis.high - axis.low);
    const TimeScale timeScale { plan.start, plan.end, plotWidth };
    for (const Segment &segment : trace.source->segments) {
        const auto &values = segment.values[trace.column];
        for (const std::vector<size_t> &rows : thinnedLines(segment, trace.column, timeScale)) {
            QPolygonF line;
            for (size_t row : rows)
                line << QPointF(x(segment.times[row]),
                    top + plotHeight - (values[row] * scale - axis.low) * yScale);
            if (line.size() == 1) {
                painter.setBrush(painter.pen().color());
                painter.drawEllipse(line.first(), 1.5, 1.5);
                painter.setBrush(Qt::NoBrush);
            } else {
                painter.drawPolyline(line);
            }
        }
    }
}

// Each pixel column of a state row shows the state that lasted longest in
// it.
void Chart::drawStates(QPainter &painter, int top) const
{
    painter.setPen(Qt::black);
    painter.setFont(font(headerFont, true));
    painter.drawText(QRect(titleLeft, top, plotWidth, panelHeader - 11),
        Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("States"));
    int rowTop = top + panelHeader;
    const TimeScale timeScale { plan.start, plan.end, plotWidth };
    for (const StateRow &row : plan.stateRows) {
        const Column column = row.column;
        if (!row.source) {
            // A column's heading above its logs' rows.
            painter.setPen(Qt::black);
            painter.setFont(font(tickFont, true));
            painter.drawText(QRect(0, rowTop, plotWidth, headingRow), Qt::AlignLeft | Qt::AlignBottom,
                row.title);
            rowTop += headingRow;
            continue;
        }
        const QStringList &shown = plan.stateWords[column];
        const int groups = int(shown.size()) + 1;
        const std::vector<int> states = dominantStates(*row.source, column,
            stateGroups(plan, *row.source, column), groups, timeScale);
        painter.setPen(Qt::NoPen);
        int runStart = 0;
        int runState = -1;
        auto paintRun = [&](int until) {
            if (runState < 0)
                return;
            painter.setBrush(QColor(QRgb(runState < groups - 1
                    ? stateColour(column, shown[runState], runState)
                    : otherStatesColour)));
            painter.drawRect(QRectF(left + runStart, rowTop, until - runStart, stateRow));
        };
        for (int pixel = 0; pixel <= plotWidth; ++pixel) {
            if (states[size_t(pixel)] != runState) {
                paintRun(pixel);
                runStart = pixel;
                runState = states[size_t(pixel)];
            }
        }
        paintRun(plotWidth);
        painter.setBrush(Qt::NoBrush);
        drawTimeGrid(painter, QRectF(left, rowTop, plotWidth, stateRow));
        painter.setPen(QPen(QColor(0x99, 0x99, 0x99), 1));
        painter.drawRect(QRectF(left, rowTop, plotWidth, stateRow));
        painter.setPen(Qt::black);
        painter.setFont(font(tickFont));
        painter.drawText(QRect(0, rowTop, left - 8, stateRow), Qt::AlignRight | Qt::AlignVCenter,
            QFontMetrics(font(tickFont)).elidedText(row.title, Qt::ElideMiddle, left - 10));
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

void Chart::drawTimeGrid(QPainter &painter, const QRectF &plot) const
{
    painter.setPen(QPen(QColor(0xe6, 0xe6, 0xe6), 1));
    for (const TimeTick &tick : ticks)
        painter.drawLine(QPointF(x(tick.time), plot.top() + 1), QPointF(x(tick.time), plot.bottom() - 1));
    painter.setPen(QPen(QColor(0x55, 0x55, 0x55), 1, Qt::DashLine));
    for (const ChargeLog *one : plan.logs) {
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
    for (const TimeTick &tick : ticks) {
        const double at = x(tick.time);
        painter.setPen(QPen(QColor(0x99, 0x99, 0x99), 1));
        painter.drawLine(QPointF(at, bottom), QPointF(at, bottom + 4));
        painter.setPen(QColor(0x33, 0x33, 0x33));
        painter.drawText(QRectF(at - 50, bottom + 5, 100, 16), Qt::AlignHCenter | Qt::AlignTop, tick.label);
        if (!tick.date.isEmpty())
            painter.drawText(QRectF(at - 60, bottom + 20, 120, 16), Qt::AlignHCenter | Qt::AlignTop, tick.date);
    }
}
