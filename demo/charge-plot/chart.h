// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_CHARGE_PLOT_CHART_H
#define DEMO_CHARGE_PLOT_CHART_H

#include "chargelog.h"

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
// fixed; its height depends on the columns the log has.
class Chart
{
public:
    // One log or several, each with its label.
    Chart(const std::vector<const ChargeLog *> &logs, const QStringList &labels,
        const ChartLayout &layout);

    static constexpr int minimumWidth = 400;
    static constexpr int maximumSide = 20000;
    // The names --panels takes, in the order the panels are drawn.
    static QStringList panelNames();

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
    struct Trace
    {
        Column column;
        QString label;
        int colour; // RGB
        bool rightAxis;
        bool dashed; // drawn over another trace of the panel that may hide it
        const ChargeLog *source;
    };
    // A row of the state band: a column of one log, or (source null) the
    // heading of a column above its logs' rows.
    struct StateRow
    {
        Column column;
        const ChargeLog *source;
        QString title;
    };
    struct Panel
    {
        QString title; // with the unit
        QString rightTitle;
        QString name; // as --panels calls it
        std::vector<Trace> traces;
        double scale = 1; // drawn value per logged value
        bool percent = false;
    };

    static QPen pen(const Trace &trace, double lineWidth);
    double x(long long time) const;
    int fixedHeight() const;
    void drawPanel(QPainter &painter, const Panel &panel, int top) const;
    void drawTrace(QPainter &painter, const Trace &trace, double scale, double low, double high,
        int top) const;
    void drawStates(QPainter &painter, int top) const;
    void layOutLegend();
    void drawLegend(QPainter &painter, int top) const;
    struct Tick
    {
        long long time;
        QString label;
        QString date; // under the label where the day changes
    };
    std::vector<Tick> timeTicks() const;
    void drawTimeGrid(QPainter &painter, const QRectF &plot) const;
    void drawTimeAxis(QPainter &painter, int bottom) const;

    bool shared(Column column) const;
    int stateBandHeight() const;

    const ChargeLog &log;
    std::vector<const ChargeLog *> logs;
    QStringList labels;
    std::vector<StateRow> stateRows;
    // Each state column's words over all the logs, in order of first
    // appearance: the colour of a word that is not known by its index.
    std::array<QStringList, ColumnCount> stateWords;
    // How many words of each state column are not in stateWords.
    std::array<long long, ColumnCount> otherWords {};
    int width;
    int plotWidth;
    int plotHeight;
    int requestedHeight;
    std::vector<Panel> panels;
    std::vector<Column> stateColumns;
    // The legend of the state band: a title for each state column, then a
    // swatch and text for each of its states, in lines.
    struct LegendItem
    {
        QString text;
        int colour; // RGB; -1 for a title
        int x;
        int line;
    };
    std::vector<LegendItem> legend;
    long long start;
    long long end;
    int legendHeight;
    std::vector<Tick> ticks;
};

#endif
