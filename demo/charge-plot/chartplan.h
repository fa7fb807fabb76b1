// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_CHARGE_PLOT_CHARTPLAN_H
#define DEMO_CHARGE_PLOT_CHARTPLAN_H

// What a chart of some logs shows, before anything is measured or painted:
// its panels with their traces and colours, and the rows and words of the
// state band.

#include "chargelog.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <vector>

// One column of one log in a panel.
struct Trace
{
    Column column;
    QString label;
    int colour; // RGB
    bool rightAxis;
    // Dash and gap lengths in line widths; empty: solid. A trace that may
    // lie on an earlier one of its panel is dashed so that the earlier one
    // shows between the dashes.
    QVector<double> dashes;
    double dashOffset = 0;
    const ChargeLog *source;
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

// A row of the state band: a column of one log, or (source null) the
// heading of a column above its logs' rows.
struct StateRow
{
    Column column;
    const ChargeLog *source;
    QString title;
};

// The words of a state column that get a colour and a place in the legend
// each; the rest share one, so that a log of endless words keeps the
// picture within its bounds.
constexpr int maximumLegendWords = 24;
// The colour that the other words share.
constexpr int otherStatesColour = 0x525252;

struct ChartPlan
{
    std::vector<const ChargeLog *> logs;
    QStringList labels; // of each log, as the picture can hold them
    long long start = 0; // the first time of all the logs
    long long end = 1; // the last, later than start
    std::vector<Panel> panels;
    std::vector<Column> stateColumns;
    std::vector<StateRow> stateRows;
    // Each state column's words over all the logs, in order of first
    // appearance, at most maximumLegendWords; and how many more there are.
    std::array<QStringList, ColumnCount> stateWords;
    std::array<long long, ColumnCount> otherWords {};
};

// The panels of the logs that every log has columns for (all of them, or
// those wanted, named as panelNames() names them).
ChartPlan planChart(const std::vector<const ChargeLog *> &logs, const QStringList &labels,
    const QStringList &wanted);

// The names --panels takes, in the order the panels are drawn.
QStringList panelNames();

// What the picture calls a state column.
const char *stateTitle(Column column);

// The colour of a state word: the one its column's table index gives it,
// or one of a few others by its place among the column's words.
int stateColour(Column column, const QString &word, int index);

// For each of the log's state indexes of the column, the place of its word
// among the plan's words of the column, or for the others one past them.
std::vector<int> stateGroups(const ChartPlan &plan, const ChargeLog &log, Column column);

// Text as an SVG can hold it: XML 1.0 has no place for control characters
// (a tab and a line end included, which a label has no use for either),
// U+FFFE, U+FFFF or half a surrogate pair; each becomes U+FFFD.
QString drawable(const QString &text);

#endif
