// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_CHARGE_PLOT_CHART_H
#define DEMO_CHARGE_PLOT_CHART_H

#include "chargelog.h"
#include "chartaxes.h"
#include "chartplan.h"

#include <QPen>
#include <QSize>
#include <QString>
#include <QStringList>

#include <vector>

class QPainter;
class QRectF;

// What the user chose of the picture: its width, its height (0: as the
// panels need), and which panels (empty: every one the log has).
struct ChartLayout
{
    int width = 1200;
    int height = 0;
    QStringList panels;
};

// The picture of a log: panels of the value columns on one time axis, a
// band of the state columns with its legend, and a title. Its width is
// fixed; its height depends on the columns the log has. What it shows is
// planned (chartplan.h) and reduced to its pixels (chartreduce.h); this
// class places it and paints it.
class Chart
{
public:
    // One log or several, each with its label.
    Chart(const std::vector<const ChargeLog *> &logs, const QStringList &labels,
        const ChartLayout &layout);

    static constexpr int minimumWidth = 400;
    static constexpr int maximumSide = 20000;
    // The names --panels takes, in the order the panels are drawn.
    static QStringList panelNames() { return ::panelNames(); }

    QSize size() const;
    // The lowest height that holds the panels, for a height asked for.
    int minimumHeight() const;
    // Nothing to draw: the logs share no column, or --panels named none
    // they have.
    bool empty() const;
    QString title() const;
    // The headers of the value columns that hold nothing but markers: no
    // panel shows them.
    QStringList leftOut() const;
    void draw(QPainter &painter) const;

private:
    // A trace's line and text in its panel's header: lines of entries,
    // each line ending at the plot's right edge.
    struct KeyEntry
    {
        size_t trace;
        QString text; // shortened to fit a line
        int x; // of the text
        int line;
    };
    // The legend of the state band: a title for each state column, then a
    // swatch and text for each of its states, in lines.
    struct LegendItem
    {
        QString text;
        int colour; // RGB; -1 for a title
        int x;
        int line;
    };

    static QPen pen(const Trace &trace, double lineWidth);
    double x(long long time) const;
    int fixedHeight() const;
    int headerHeight(size_t panel) const;
    void layOutKeys();
    void layOutLegend();
    void drawPanel(QPainter &painter, size_t index, int top) const;
    void drawTrace(QPainter &painter, const Trace &trace, double scale, const ValueAxis &axis,
        int top) const;
    void drawStates(QPainter &painter, int top) const;
    void drawLegend(QPainter &painter, int top) const;
    void drawTimeGrid(QPainter &painter, const QRectF &plot) const;
    void drawTimeAxis(QPainter &painter, int bottom) const;
    int stateBandHeight() const;

    ChartPlan plan;
    int width;
    int plotWidth;
    int plotHeight;
    int requestedHeight;
    std::vector<std::vector<KeyEntry>> keys; // of each panel
    std::vector<int> keyLines; // of each panel
    std::vector<LegendItem> legend;
    int legendHeight;
    std::vector<TimeTick> ticks;
};

#endif
