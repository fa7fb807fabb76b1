// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// charge-plot's chart without a painter: the axes, the thinning of a trace,
// the state each pixel shows, and the plan of panels, traces and colours.

#include "chartaxes.h"
#include "chartplan.h"
#include "chartreduce.h"

#include <QtTest>

#include <cmath>
#include <cstdio>
#include <ctime>

Q_DECLARE_METATYPE(AxisKind)

class ChartPartsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void valueAxes_data();
    void valueAxes();
    void timeTicks_data();
    void timeTicks();
    void thinning_data();
    void thinning();
    void statesHeldUntilAGap();
    void planOfSeveralLogs_data();
    void planOfSeveralLogs();
    void stateColours_data();
    void stateColours();
    void manyStateWords_data();
    void manyStateWords();
};

namespace {

// Seconds since the epoch of 06 Dec 2026 10:05:00 UTC.
constexpr long long december = 1796551500;

ChargeLog read(const QByteArray &csv)
{
    FILE *stream = fmemopen(const_cast<char *>(csv.constData()), size_t(csv.size()), "r");
    const ChargeLog log = readChargeLog(stream, QStringLiteral("test"));
    fclose(stream);
    return log;
}

QByteArray stamp(int seconds)
{
    return QDateTime::fromSecsSinceEpoch(december + seconds, Qt::UTC)
        .toString("dd MMM yyyy HH:mm:ss")
        .toLatin1();
}

// One column, a row a second from 0 on (a row of no value: no row).
QByteArray columnLog(const char *header, const QList<QByteArray> &values)
{
    QByteArray csv = QByteArray("TIME, ") + header + "\n";
    for (int i = 0; i < values.size(); ++i) {
        if (!values[i].isEmpty())
            csv += stamp(i) + ", " + values[i] + "\n";
    }
    return csv;
}

} // namespace

void ChartPartsTest::initTestCase()
{
    qputenv("TZ", "UTC");
    tzset();
    QCOMPARE(stamp(0), QByteArray("06 Dec 2026 10:05:00"));
}

void ChartPartsTest::valueAxes_data()
{
    QTest::addColumn<double>("lowest");
    QTest::addColumn<double>("highest");
    QTest::addColumn<AxisKind>("kind");
    QTest::addColumn<bool>("whole");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("step");
    QTest::addColumn<int>("count");

    QTest::newRow("voltages from 3900 to 4100 mV") << 3900.0 << 4100.0 << AxisKind::Plain << true
                                                   << 3900.0 << 50.0 << 4;
    QTest::newRow("a constant voltage: a range around it")
        << 3900.0 << 3900.0 << AxisKind::Plain << true << 3896.0 << 2.0 << 4;
    QTest::newRow("a constant of 2^53: a few ticks, not an endless loop")
        << 9007199254740992.0 << 9007199254740992.0 << AxisKind::Plain << true << 8995e12 << 5e12
        << 5;
    QTest::newRow("a constant of 2^64") << 18446744073709551616.0 << 18446744073709551616.0
                                         << AxisKind::Plain << true << 1842e16 << 1e16 << 5;
    QTest::newRow("the largest floats apart") << -3.4e38 << 3.4e38 << AxisKind::Plain << true
                                              << -4e38 << 2e38 << 4;
    QTest::newRow("a percentage from 40 to 60: 0 to 100")
        << 40.0 << 60.0 << AxisKind::Percent << true << 0.0 << 20.0 << 5;
    QTest::newRow("bars up to 7: room above") << 3.0 << 7.0 << AxisKind::Bars << true << 0.0
                                              << 2.0 << 4;
    QTest::newRow("half an hour in hours") << 0.0 << 0.5 << AxisKind::Plain << false << 0.0
                                           << 0.1 << 5;
    QTest::newRow("half an hour in hours, whole ticks only")
        << 0.0 << 0.5 << AxisKind::Plain << true << 0.0 << 1.0 << 1;
}

void ChartPartsTest::valueAxes()
{
    QFETCH(double, lowest);
    QFETCH(double, highest);
    QFETCH(AxisKind, kind);
    QFETCH(bool, whole);
    QFETCH(double, low);
    QFETCH(double, step);
    QFETCH(int, count);

    const ValueAxis axis = valueAxis(lowest, highest, kind, whole);
    QCOMPARE(axis.low, low);
    QCOMPARE(axis.step, step);
    QCOMPARE(axis.count, count);
    QCOMPARE(axis.high, low + count * step);
}

void ChartPartsTest::timeTicks_data()
{
    QTest::addColumn<long long>("start");
    QTest::addColumn<long long>("end");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("date");

    // 1048 pixels: at most nine ticks 105 pixels apart.
    QTest::newRow("a minute: every ten seconds")
        << december << december + 60 << 7 << "10:05:00" << "6 Dec 2026";
    QTest::newRow("ninety seconds: every ten")
        << december + 1 << december + 91 << 9 << "10:05:10" << "6 Dec 2026";
    QTest::newRow("99 seconds: every ten")
        << december << december + 99 << 10 << "10:05:00" << "6 Dec 2026";
    QTest::newRow("100 seconds: every fifteen")
        << december << december + 100 << 7 << "10:05:00" << "6 Dec 2026";
    QTest::newRow("ten days: every other midnight")
        << december << december + 10 * 86400 << 5 << "7 Dec" << "";
    QTest::newRow("up to two days before the year 10000: no more ticks than fit")
        << december << 253402128000LL << 9 << "7 Dec" << "";
    QTest::newRow("a second later: none") << december << 253402128001LL << 0 << "" << "";
    QTest::newRow("a year of nine digits: none")
        << december << 9467280000000000LL << 0 << "" << "";
    QTest::newRow("from two days after the year 0") << -62135424000LL << -62135424000LL + 60
                                                     << 7 << "00:00:00" << "3 Jan 0001";
    QTest::newRow("before 1970: from the first whole step")
        << -25LL << 60LL << 9 << "23:59:40" << "31 Dec 1969";
    QTest::newRow("a second earlier: none") << -62135424001LL << -62135424000LL + 60 << 0 << ""
                                            << "";
    QTest::newRow("an end before the start: none") << december << december - 1 << 0 << "" << "";
}

void ChartPartsTest::timeTicks()
{
    QFETCH(long long, start);
    QFETCH(long long, end);
    QFETCH(int, count);
    QFETCH(QString, first);
    QFETCH(QString, date);

    const std::vector<TimeTick> ticks = ::timeTicks(start, end, 1048);
    QCOMPARE(int(ticks.size()), count);
    if (count == 0)
        return;
    QCOMPARE(ticks.front().label, first);
    QCOMPARE(ticks.front().date, date);
    for (size_t i = 1; i < ticks.size(); ++i)
        QVERIFY(ticks[i].time > ticks[i - 1].time);
}

void ChartPartsTest::thinning_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<int>("width");
    // The rows of each line.
    QTest::addColumn<QList<QList<int>>>("lines");

    QTest::newRow("a row a pixel: every row")
        << columnLog("VOLTAGE", { "3900", "3901", "3902" }) << 2
        << QList<QList<int>> { { 0, 1, 2 } };
    QTest::newRow("rows in one pixel: the lowest and the highest, in their order")
        << columnLog("VOLTAGE", { "3900", "3950", "3800", "3900", "3910" }) << 1
        << QList<QList<int>> { { 1, 2, 4 } };
    QTest::newRow("a marker ends a line: a row alone")
        << columnLog("VOLTAGE", { "3900", "-1", "3902", "3903" }) << 3
        << QList<QList<int>> { { 0 }, { 2, 3 } };
    QTest::newRow("a gap of three intervals ends a line")
        << columnLog("VOLTAGE", { "3900", "3901", "", "", "3904", "3905" }) << 5
        << QList<QList<int>> { { 0, 1 }, { 2, 3 } };
    QTest::newRow("a gap of two intervals does not")
        << columnLog("VOLTAGE", { "3900", "3901", "", "3903" }) << 3
        << QList<QList<int>> { { 0, 1, 2 } };
}

void ChartPartsTest::thinning()
{
    QFETCH(QByteArray, log);
    QFETCH(int, width);
    QFETCH(QList<QList<int>>, lines);

    const ChargeLog read = ::read(log);
    QCOMPARE(int(read.segments.size()), 1);
    const std::vector<std::vector<size_t>> thinned = thinnedLines(read.segments.front(), Voltage,
        TimeScale { read.firstTime, read.lastTime, width });
    QList<QList<int>> rows;
    for (const auto &line : thinned)
        rows << QList<int>(line.begin(), line.end());
    QCOMPARE(rows, lines);
}

// A state holds until the next row, and for one interval before a gap and
// at the end: over 11 s, LOW for 1 s before the gap and 1 s after it.
void ChartPartsTest::statesHeldUntilAGap()
{
    const ChargeLog log = read(columnLog("BATTERY_STATE",
        { "OK", "OK", "LOW", "", "", "", "", "", "", "", "LOW", "OK" }));
    QCOMPARE(log.states[BatteryState], QStringList({ "OK", "LOW" }));
    const TimeScale scale { log.firstTime, log.lastTime, 11 };
    QCOMPARE(dominantStates(log, BatteryState, { 0, 1 }, 2, scale),
        std::vector<int>({ 0, 0, 1, -1, -1, -1, -1, -1, -1, -1, 1, 0 }));
    // Both words in one group, the others'.
    QCOMPARE(dominantStates(log, BatteryState, { 0, 0 }, 1, scale),
        std::vector<int>({ 0, 0, 0, -1, -1, -1, -1, -1, -1, -1, 0, 0 }));
}

void ChartPartsTest::planOfSeveralLogs_data()
{
    QTest::addColumn<QList<QByteArray>>("logs");
    QTest::addColumn<QStringList>("panels");
    // Of the first panel's traces: dash, gap and offset, none for solid.
    QTest::addColumn<QList<QList<double>>>("dashes");

    const QByteArray voltage = columnLog("VOLTAGE", { "3900", "3901" });
    const QByteArray charge = columnLog("CAPA_PCT", { "80", "79" });
    QTest::newRow("one log: solid") << QList<QByteArray> { voltage } << QStringList { "voltage" }
                                    << QList<QList<double>> { {} };
    QTest::newRow("two logs: the second in every other dash")
        << QList<QByteArray> { voltage, voltage } << QStringList { "voltage" }
        << QList<QList<double>> { {}, { 4, 4, -4 } };
    QTest::newRow("five logs: each later one in a slot of its own")
        << QList<QByteArray> { voltage, voltage, voltage, voltage, voltage }
        << QStringList { "voltage" }
        << QList<QList<double>> { {}, { 4, 16, -4 }, { 4, 16, -8 }, { 4, 16, -12 },
               { 4, 16, -16 } };
    QTest::newRow("logs that share no column: no panel")
        << QList<QByteArray> { voltage, charge } << QStringList {} << QList<QList<double>> {};
    QTest::newRow("the second column of a panel dashed, shifted for each log")
        << QList<QByteArray> { columnLog("BATTERY_CURRENT, BATTERY_AVG_CURRENT",
                                   { "-200, -200", "-210, -205" }),
               columnLog("BATTERY_CURRENT, BATTERY_AVG_CURRENT", { "-200, -200", "-210, -205" }) }
        << QStringList { "current" }
        << QList<QList<double>> { {}, { 4, 4, -4 }, { 4, 3, 0 }, { 4, 3, 3.5 } };
}

void ChartPartsTest::planOfSeveralLogs()
{
    QFETCH(QList<QByteArray>, logs);
    QFETCH(QStringList, panels);
    QFETCH(QList<QList<double>>, dashes);

    std::vector<ChargeLog> read;
    for (const QByteArray &log : logs)
        read.push_back(::read(log));
    std::vector<const ChargeLog *> pointers;
    QStringList labels;
    for (const ChargeLog &log : read) {
        pointers.push_back(&log);
        labels << QStringLiteral("log %1").arg(labels.size());
    }
    const ChartPlan plan = planChart(pointers, labels, {});
    QStringList names;
    for (const Panel &panel : plan.panels)
        names << panel.name;
    QCOMPARE(names, panels);
    QVERIFY(plan.stateColumns.empty());
    if (plan.panels.empty())
        return;
    QList<QList<double>> styles;
    for (const Trace &trace : plan.panels.front().traces) {
        QList<double> style(trace.dashes.begin(), trace.dashes.end());
        if (!style.isEmpty())
            style << trace.dashOffset;
        styles << style;
    }
    QCOMPARE(styles, dashes);
}

void ChartPartsTest::stateColours_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("word");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("colour");

    QTest::newRow("a USB port of 500 mA in blue") << int(ChargerType) << "USB500MA" << 5
                                                  << 0x1f77b4;
    QTest::newRow("no charger in light grey") << int(ChargerType) << "NONE" << 0 << 0xd9d9d9;
    QTest::newRow("charging in green") << int(ChargingState) << "STARTED" << 3 << 0x74c476;
    QTest::newRow("an empty battery in dark red") << int(BatteryState) << "EMPTY" << 0
                                                  << 0x67000d;
    QTest::newRow("a battery in error in red") << int(BatteryState) << "ERROR" << 1 << 0xd62728;
    QTest::newRow("a word of another column's table: by its place")
        << int(BatteryState) << "WALL" << 2 << 0xe377c2;
    QTest::newRow("a number the recorder has no word for: by its place")
        << int(ChargerType) << "Undefined charger type: 9" << 7 << 0x17becf;
}

void ChartPartsTest::stateColours()
{
    QFETCH(int, column);
    QFETCH(QString, word);
    QFETCH(int, index);
    QFETCH(int, colour);

    QCOMPARE(stateColour(Column(column), word, index), colour);
    // Every word of the recorder's tables has a colour of its own, not one
    // of those the other words take by their place.
    for (Column stateColumn : { ChargerType, ChargingState, BatteryState }) {
        const StateWords &words = *batteryColumns[stateColumn].states;
        for (int i = 0; i < words.count; ++i) {
            const int own = stateColour(stateColumn, QLatin1String(words.words[i]), 0);
            QVERIFY2(own == stateColour(stateColumn, QLatin1String(words.words[i]), 1),
                words.words[i]);
        }
    }
}

void ChartPartsTest::manyStateWords_data()
{
    QTest::addColumn<int>("words");
    QTest::addColumn<int>("shown");
    QTest::addColumn<int>("others");

    QTest::newRow("23 words: each its own") << 23 << 23 << 0;
    QTest::newRow("24 words: each its own") << 24 << 24 << 0;
    QTest::newRow("25 words: one shares the others' colour") << 25 << 24 << 1;
    QTest::newRow("20000 words") << 20000 << 24 << 19976;
}

void ChartPartsTest::manyStateWords()
{
    QFETCH(int, words);
    QFETCH(int, shown);
    QFETCH(int, others);

    QList<QByteArray> values;
    for (int i = 0; i < words; ++i)
        values << "STATE" + QByteArray::number(i);
    const ChargeLog log = read(columnLog("BATTERY_STATE", values));
    const ChartPlan plan = planChart({ &log }, { QStringLiteral("log") }, {});
    QCOMPARE(int(plan.stateWords[BatteryState].size()), shown);
    QCOMPARE(plan.otherWords[BatteryState], others);
    const std::vector<int> groups = stateGroups(plan, log, BatteryState);
    QCOMPARE(groups.front(), 0);
    QCOMPARE(groups.back(), shown == words ? words - 1 : 24);
}

QTEST_GUILESS_MAIN(ChartPartsTest)
#include "tst_chartparts.moc"
