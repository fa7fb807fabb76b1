// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// charge-plot: the pictures it draws from charge-recorder logs, read back
// from the SVG (panel titles, labels, lines and their points), its warnings
// about lines it cannot use, and its failures.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <unistd.h>

#include "timelocale.h"

#ifndef CHARGE_PLOT_PATH
#error "CHARGE_PLOT_PATH must name the program"
#endif
#ifndef CHARGE_RECORDER_PATH
#error "CHARGE_RECORDER_PATH must name the recorder"
#endif

namespace {

constexpr int deadlineMs = 60000;

// What the test sees of an SVG: its texts, and the points of each data line
// by colour (data lines are drawn 1.5 wide, a row alone as a dot; legend
// swatches and grid lines are drawn otherwise).
struct Picture
{
    QStringList texts;
    QList<QPointF> textPlaces; // where each of texts starts
    QMap<QString, QList<int>> lines; // colour: points of each line in order
    QMap<QString, QList<QPointF>> points; // colour: all points
    QStringList dashed; // "dashed " and the colour of each dashed data line
    QMap<QString, double> filled; // fill colour: width of its rectangles together
    int width = 0;
    int height = 0;

    static Picture read(const QByteArray &svg)
    {
        Picture picture;
        QXmlStreamReader xml(svg);
        QStringList strokes { QString() };
        QStringList fills { QString() };
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isEndElement() && xml.name() == QLatin1String("g")) {
                strokes.removeLast();
                fills.removeLast();
            }
            if (!xml.isStartElement())
                continue;
            const QXmlStreamAttributes attributes = xml.attributes();
            if (xml.name() == QLatin1String("svg")) {
                const QStringList box = attributes.value("viewBox").toString().split(' ');
                picture.width = box.value(2).toInt();
                picture.height = box.value(3).toInt();
            } else if (xml.name() == QLatin1String("rect")) {
                picture.filled[fills.last()] += attributes.value("width").toDouble();
            } else if (xml.name() == QLatin1String("g")) {
                fills << attributes.value("fill").toString();
                strokes << (attributes.value("stroke-width") == QLatin1String("1.5")
                        ? attributes.value("stroke").toString()
                        : QString());
                if (!strokes.last().isEmpty() && attributes.hasAttribute("stroke-dasharray")
                    && attributes.value("stroke-dasharray") != QLatin1String("none"))
                    picture.dashed << "dashed " + strokes.last();
            } else if (xml.name() == QLatin1String("text")) {
                picture.textPlaces << QPointF(attributes.value("x").toDouble(),
                    attributes.value("y").toDouble());
                picture.texts << xml.readElementText(QXmlStreamReader::IncludeChildElements);
            } else if ((xml.name() == QLatin1String("ellipse")
                           || xml.name() == QLatin1String("circle"))
                && !strokes.last().isEmpty()) {
                // A row alone is a dot: a line of one point.
                picture.lines[strokes.last()] << 1;
                picture.points[strokes.last()] << QPointF(attributes.value("cx").toDouble(),
                    attributes.value("cy").toDouble());
            } else if (xml.name() == QLatin1String("polyline") && !strokes.last().isEmpty()) {
                const QStringList pairs = attributes.value("points").toString().split(
                    ' ', Qt::SkipEmptyParts);
                picture.lines[strokes.last()] << pairs.size();
                for (const QString &pair : pairs)
                    picture.points[strokes.last()]
                        << QPointF(pair.section(',', 0, 0).toDouble(),
                            pair.section(',', 1, 1).toDouble());
            }
        }
        if (xml.hasError())
            qWarning() << "SVG not readable:" << xml.errorString();
        return picture;
    }
};

const QString blue = QStringLiteral("#1f77b4");

struct Run
{
    QByteArray output;
    QByteArray error;
    int exitCode = -1;
};

Run plot(const QTemporaryDir &dir, const QStringList &arguments, const QByteArray &input = {},
    const QStringList &environment = {})
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C");
    env.insert("TZ", "UTC");
    for (const QString &pair : environment)
        env.insert(pair.section('=', 0, 0), pair.section('=', 1));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir.path());
    process.start(CHARGE_PLOT_PATH, arguments);
    process.waitForStarted(deadlineMs);
    process.write(input);
    process.closeWriteChannel();
    Run run;
    if (!process.waitForFinished(deadlineMs) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.output = process.readAllStandardOutput();
    run.error = process.readAllStandardError();
    run.exitCode = process.exitCode();
    return run;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
}

// A row the given number of seconds after 06 Dec 2026 10:05:00 UTC.
QByteArray stamp(int seconds, const char *month = "Dec")
{
    const QDateTime start(QDate(2026, 12, 6), QTime(10, 5), Qt::UTC);
    const QDateTime at = start.addSecs(seconds);
    return at.toString("dd").toLatin1() + ' ' + month + ' ' + at.toString("yyyy HH:mm:ss").toLatin1();
}

QByteArray voltageLog(std::initializer_list<int> seconds)
{
    QByteArray log = "TIME, VOLTAGE\n";
    int value = 3900;
    for (int second : seconds)
        log += stamp(second) + ", " + QByteArray::number(value++) + "\n";
    return log;
}

const QByteArray allHeader
    = "TIME, CHARGER_TYPE, CHARGING_STATE, CHARGING_TIME, BATTERY_STATE, CAPA_BARS, "
      "CAPA_PCT, CAPA_MAH, VOLTAGE, BATTERY_CURRENT, BATTERY_AVG_CURRENT, "
      "COULOMB_COUNTER, TALK_CURRENT, TALK_TIME, ACTIVE_CURRENT, ACTIVE_TIME, "
      "IDLE_CURRENT, IDLE_TIME\n";

const QStringList panelTitles = { "Charge (%)", "Charge (mAh)", "Voltage (mV)",
    "Battery current (mA)", "Average current of a use (mA)", "Remaining time (min)",
    "Remaining time (h)", "States" };

} // namespace

class ChargePlotTest : public QObject
{
    Q_OBJECT
private slots:
    void drawing_data();
    void drawing();
    void pictureSize_data();
    void pictureSize();
    void localeOfTheStamps();
    void failures_data();
    void failures();
    void severalLogs();
    void helpAndVersion();
    void pictureThatDoesNotFit_data();
    void pictureThatDoesNotFit();
    void recorderOutput();
    void keysOfSeveralLogs();
    void tooManyLogsForOnePicture();
    void hostileLogs_data();
    void hostileLogs();
};

void ChargePlotTest::drawing_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QByteArray>("warnings");
    QTest::addColumn<QStringList>("panels");
    // Texts that the picture holds, besides the panel titles.
    QTest::addColumn<QStringList>("texts");
    // Points of each line in the first trace colour.
    QTest::addColumn<QList<int>>("lines");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("all columns: six panels and the state band with its legend")
        << allHeader + stamp(0)
            + ", NONE, STOPPED, 0, OK, 6, 80, 1056, 3985, -210, -210, 1056, 290, 218, 210, 301, "
              "11, 5760\n"
            + stamp(1)
            + ", WALL, STARTED, 30, LOW, 5, 79, 1055, 3990, 600, 200, 1055, 290, 217, 210, 300, "
              "11, 5750\n"
            + stamp(2)
            + ", WALL, ERROR, 29, Undefined battery state: 9, 5, 79, 1055, 3991, 610, 605, 1055, "
              "290, 217, 210, 300, 11, 5750\n"
        << QByteArray()
        << QStringList { "Charge (%)", "Charge (mAh)", "Voltage (mV)", "Battery current (mA)",
               "Average current of a use (mA)", "Remaining time (h)", "States" }
        << QStringList { "Battery log 06 Dec 2026 10:05:00 to 06 Dec 2026 10:05:02",
               "3 rows; no line where rows are missing", "percent", "bars (right axis)",
               "voltage", "average current", "until full", "idle", "Charger", "Charging",
               "Battery", "Charger:", "NONE", "WALL", "idle (right axis)", "dashed #d62728", "STOPPED", "STARTED", "ERROR", "OK", "LOW",
               "Undefined battery state: 9", "10:05:00", "6 Dec 2026", "10:05:01", "10:05:02" }
        << QList<int> { 3, 3, 3, 3, 3, 3 } << QStringList {};
    QTest::newRow("only the voltage: one panel, one line of three points")
        << voltageLog({ 0, 1, 2 }) << QByteArray() << QStringList { "Voltage (mV)" }
        << QStringList { "3900", "3901", "3902" } << QList<int> { 3 } << QStringList {};
    QTest::newRow("states written as numbers show as the recorder's words")
        << QByteArray("TIME, CHARGER_TYPE, BATTERY_STATE\n") + stamp(0) + ", 1, 3\n" + stamp(1)
            + ", 7, -2\n"
        << QByteArray() << QStringList { "States" }
        << QStringList { "WALL", "FULL", "Undefined charger type: 7",
               "Undefined battery state: -2" }
        << QList<int> {} << QStringList {};
    QTest::newRow("a gap longer than twice the interval is a break")
        << voltageLog({ 0, 1, 2, 3, 10, 11 }) << QByteArray() << QStringList { "Voltage (mV)" }
        << QStringList {} << QList<int> { 4, 2 } << QStringList {};
    QTest::newRow("rows twice the interval apart are joined")
        << voltageLog({ 0, 1, 2, 4, 5 }) << QByteArray() << QStringList { "Voltage (mV)" }
        << QStringList {} << QList<int> { 5 } << QStringList {};
    QTest::newRow("rows three intervals apart are a break")
        << voltageLog({ 0, 1, 2, 5, 6 }) << QByteArray() << QStringList { "Voltage (mV)" }
        << QStringList {} << QList<int> { 3, 2 } << QStringList {};
    QTest::newRow("a clock set back is a break")
        << voltageLog({ 0, 1, 2, -3600, -3599 }) << QByteArray()
        << QStringList { "Voltage (mV)" } << QStringList {} << QList<int> { 3, 2 } << QStringList {};
    QTest::newRow("a second header starts a new run")
        << voltageLog({ 0, 1, 2 }) + voltageLog({ 3, 4 }) << QByteArray()
        << QStringList { "Voltage (mV)" }
        << QStringList { "5 rows from 2 runs of charge-recorder (dashed line: started again); no "
                         "line where rows are missing" }
        << QList<int> { 3, 2 } << QStringList {};
    QTest::newRow("a run with other columns")
        << voltageLog({ 0, 1, 2 }) + "TIME, CAPA_PCT\n" + stamp(3) + ", 50\n" + stamp(4)
            + ", 49\n"
        << QByteArray() << QStringList { "Charge (%)", "Voltage (mV)" }
        << QStringList { "percent", "voltage" } << QList<int> { 2, 3 } << QStringList {};
    QTest::newRow("bad lines: one warning each, the rest drawn")
        << voltageLog({ 0, 1 }) + "06 Dec 2026 10:05:02\n" + stamp(3) + ", 39x0\n"
            + "6 Dec 2026 10:5:04, 3900\n" + stamp(5) + ", 3901, 12\n" + voltageLog({ 6 }).mid(14)
        << QByteArray("charge-plot: log.csv: line 4: 0 values after the time where the header "
                      "has 1\n"
                      "charge-plot: log.csv: line 5: VOLTAGE \"39x0\" is not a whole number\n"
                      "charge-plot: log.csv: line 6: time stamp \"6 Dec 2026 10:5:04\" not "
                      "understood\n"
                      "charge-plot: log.csv: line 7: 2 values after the time where the header "
                      "has 1\n")
        << QStringList { "Voltage (mV)" } << QStringList { "3 rows; no line where rows are missing" }
        << QList<int> { 2, 1 } << QStringList {};
    QTest::newRow("lines before the first header")
        << "garbage\n" + voltageLog({ 0, 1 })
        << QByteArray("charge-plot: log.csv: line 1: not a header, and no header before it\n")
        << QStringList { "Voltage (mV)" } << QStringList {} << QList<int> { 2 } << QStringList {};
    QTest::newRow("the last line cut off by a kill")
        << voltageLog({ 0, 1, 2 }) + stamp(3) + ", 39"
        << QByteArray("charge-plot: log.csv: line 5: cut off (no line end), ignored\n")
        << QStringList { "Voltage (mV)" } << QStringList {} << QList<int> { 3 } << QStringList {};
    QTest::newRow("NUL bytes of a crash before the next run's header on the same line")
        << voltageLog({ 0, 1, 2 }) + stamp(3) + ", 39" + QByteArray(8, '\0') + "TIME, CAPA_PCT\n"
            + stamp(4) + ", 50\n" + stamp(5) + ", 49\n"
        << QByteArray("charge-plot: log.csv: line 5: \"06 Dec 2026 10:05:03, 39\" cut off by NUL "
                      "bytes, ignored\n")
        << QStringList { "Charge (%)", "Voltage (mV)" } << QStringList {} << QList<int> { 2, 3 }
        << QStringList {};
    QTest::newRow("a day of rows: ticks every few hours, dates under the day's first")
        << voltageLog({ 0, 3600 * 6, 3600 * 12, 3600 * 18, 3600 * 24, 3600 * 26 })
        << QByteArray() << QStringList { "Voltage (mV)" }
        << QStringList { "12:00", "15:00", "18:00", "21:00", "00:00", "7 Dec 2026", "03:00",
               "06:00", "09:00", "12:00" }
        << QList<int> { 6 } << QStringList {};
    QTest::newRow("a marker is a gap, not a point")
        << QByteArray("TIME, VOLTAGE\n") + stamp(0) + ", 3900\n" + stamp(1) + ", -1\n" + stamp(2)
            + ", 3902\n" + stamp(3) + ", 3903\n"
        << QByteArray() << QStringList { "Voltage (mV)" } << QStringList { "3902" }
        << QList<int> { 1, 2 } << QStringList {};
    QTest::newRow("columns of nothing but markers are left out with one warning")
        << QByteArray("TIME, VOLTAGE, CAPA_PCT, TALK_TIME, COULOMB_COUNTER\n") + stamp(0)
            + ", 3900, -1, -1, -596523\n" + stamp(1) + ", 3901, -1, -1, -596523\n"
        << QByteArray("charge-plot: no battery values in log.csv: CAPA_PCT, COULOMB_COUNTER, "
                      "TALK_TIME left out\n")
        << QStringList { "Voltage (mV)" } << QStringList {} << QList<int> { 2 } << QStringList {};
    QTest::newRow("the average current dashed over the current it equals")
        << QByteArray("TIME, BATTERY_CURRENT, BATTERY_AVG_CURRENT\n") + stamp(0) + ", -200, -200\n"
            + stamp(1) + ", -200, -200\n"
        << QByteArray() << QStringList { "Battery current (mA)" }
        << QStringList { "dashed #d62728" } << QList<int> { 2 } << QStringList {};
    QTest::newRow("31 February and a line past the bound are bad lines")
        << voltageLog({ 0, 1 }) + "31 Feb 2026 10:05:02, 3900\n" + QByteArray(70000, '9') + ", 3900\n"
            + voltageLog({ 2 }).mid(14)
        << QByteArray("charge-plot: log.csv: line 4: time stamp \"31 Feb 2026 10:05:02\" not "
                      "understood\n"
                      "charge-plot: log.csv: line 5: longer than 65536 bytes, ignored\n")
        << QStringList { "Voltage (mV)" } << QStringList {} << QList<int> { 3 } << QStringList {};
    QTest::newRow("control characters of a log are escaped in warnings")
        << voltageLog({ 0, 1 }) + "\x1b[2J\rall fine\a, 3900\n"
        << QByteArray("charge-plot: log.csv: line 4: time stamp \"\\x1b[2J\\rall fine\\x07\" not "
                      "understood\n")
        << QStringList { "Voltage (mV)" } << QStringList {} << QList<int> { 2 } << QStringList {};
    QTest::newRow("--from and --to leave out the rows outside")
        << voltageLog({ 0, 1, 2, 3, 4 }) << QByteArray() << QStringList { "Voltage (mV)" }
        << QStringList { "Battery log 06 Dec 2026 10:05:01 to 06 Dec 2026 10:05:03" }
        << QList<int> { 3 }
        << QStringList { "--from=2026-12-06 10:05:01", "--to=2026-12-06T10:05:03" };
    QTest::newRow("--panels draws only those named")
        << allHeader + stamp(0)
            + ", NONE, STOPPED, 0, OK, 6, 80, 1056, 3985, -210, -210, 1056, 290, 218, 210, 301, "
              "11, 5760\n"
        << QByteArray() << QStringList { "Voltage (mV)", "States" } << QStringList {}
        << QList<int> { 1 } << QStringList { "--panels=states,voltage" };
    QTest::newRow("a gap inside an earlier run is a break too")
        << voltageLog({ 0, 1, 5, 6 }) + voltageLog({ 7, 8 }) << QByteArray()
        << QStringList { "Voltage (mV)" } << QStringList {} << QList<int> { 2, 2, 2 }
        << QStringList {};
    QTest::newRow("rows in the same second are joined")
        << voltageLog({ 0, 0, 1, 2 }) << QByteArray() << QStringList { "Voltage (mV)" }
        << QStringList {} << QList<int> { 4 } << QStringList {};
    QTest::newRow("remaining times over five hours in hours")
        << QByteArray("TIME, TALK_TIME\n") + stamp(0) + ", 600\n" + stamp(1) + ", 120\n"
        << QByteArray() << QStringList { "Remaining time (h)" } << QStringList { "2", "10" }
        << QList<int> { 2 } << QStringList {};
    QTest::newRow("idle time within four times the others shares their axis")
        << QByteArray("TIME, TALK_TIME, IDLE_TIME\n") + stamp(0) + ", 100, 400\n"
        << QByteArray() << QStringList { "Remaining time (h)" } << QStringList { "idle" }
        << QList<int> { 1 } << QStringList {};
}

void ChargePlotTest::drawing()
{
    QFETCH(QByteArray, log);
    QFETCH(QByteArray, warnings);
    QFETCH(QStringList, panels);
    QFETCH(QStringList, texts);
    QFETCH(QList<int>, lines);
    QFETCH(QStringList, arguments);

    QTemporaryDir dir;
    writeFile(dir.filePath("log.csv"), log);
    const Run run = plot(dir, arguments << "log.csv");
    QCOMPARE(run.error, warnings);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.output, QByteArray());

    const Picture picture = Picture::read(readFile(dir.filePath("log.svg")));
    QStringList shownPanels;
    for (const QString &text : picture.texts) {
        if (panelTitles.contains(text))
            shownPanels << text;
    }
    QCOMPARE(shownPanels, panels);
    for (const QString &text : texts)
        QVERIFY2(picture.texts.contains(text) || picture.dashed.contains(text), qPrintable(text + " missing in: " + picture.texts.join(" | ")));
    QCOMPARE(picture.lines.value(blue), lines);
}

// A week of one-second rows thins to at most two points a pixel column,
// and a spike of one row stays in the picture.
void ChargePlotTest::pictureSize_data()
{
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("one panel") << voltageLog({ 0, 1 }) << QSize(1200, 286) << QStringList {};
    QTest::newRow("a width of its own") << voltageLog({ 0, 1 }) << QSize(800, 286)
                                        << QStringList { "--size=800" };
    QTest::newRow("a height of its own")
        << voltageLog({ 0, 1 }) << QSize(800, 600) << QStringList { "--size=800x600" };
    QTest::newRow("all columns in the least height they need")
        << allHeader + stamp(0)
            + ", NONE, STOPPED, 0, OK, 6, 80, 1056, 3985, -210, -210, 1056, 290, 218, 210, 301, "
              "11, 5760\n"
        << QSize(1200, 744) << QStringList { "--size=1200x744" };
    QTest::newRow("all columns a pixel higher than they need")
        << allHeader + stamp(0)
            + ", NONE, STOPPED, 0, OK, 6, 80, 1056, 3985, -210, -210, 1056, 290, 218, 210, 301, "
              "11, 5760\n"
        << QSize(1200, 745) << QStringList { "--size=1200x745" };
    QTest::newRow("all columns")
        << allHeader + stamp(0)
            + ", NONE, STOPPED, 0, OK, 6, 80, 1056, 3985, -210, -210, 1056, 290, 218, 210, 301, "
              "11, 5760\n"
        << QSize(1200, 1284) << QStringList {};
}

// PNG by the output's name, as large as the SVG says.
void ChargePlotTest::pictureSize()
{
    QFETCH(QByteArray, log);
    QFETCH(QSize, size);
    QFETCH(QStringList, arguments);

    QTemporaryDir dir;
    writeFile(dir.filePath("log.csv"), log);
    QCOMPARE(plot(dir, QStringList { "-o", "picture.PNG", "log.csv" } + arguments).exitCode, 0);
    const QByteArray png = readFile(dir.filePath("picture.PNG"));
    QVERIFY(png.startsWith("\x89PNG\r\n\x1a\n"));
    // The IHDR chunk comes first: width and height, 32 bits big-endian.
    QCOMPARE(png.mid(12, 4), QByteArray("IHDR"));
    QCOMPARE(QSize(qFromBigEndian<quint32>(png.constData() + 16),
                 qFromBigEndian<quint32>(png.constData() + 20)),
        size);

    QCOMPARE(plot(dir, QStringList { "--output=picture.svg", "log.csv" } + arguments).exitCode, 0);
    const Picture picture = Picture::read(readFile(dir.filePath("picture.svg")));
    QCOMPARE(QSize(picture.width, picture.height), size);
}

// The recorder writes the month as its locale abbreviates it; charge-plot
// reads it in the same locale, and in the C locale's words as well.
void ChargePlotTest::localeOfTheStamps()
{
    QTemporaryDir dir;
    const QByteArray complaint = buildMonthLocale(dir.path(),
        { "Jan.", "Feb.", "Mär.", "Apr.", "Mai", "Jun.", "Jul.", "Aug.", "Sep.", "Okt.", "Nov.",
            "Dez." },
        deadlineMs);
    QVERIFY2(complaint.isEmpty(), complaint.constData());

    const QByteArray log = "TIME, VOLTAGE\n" + stamp(0, "Dez.") + ", 3900\n" + stamp(1, "Dez.")
        + ", 3901\n" + stamp(2) + ", 3902\n" + stamp(3, "Dic") + ", 3903\n";
    writeFile(dir.filePath("log.csv"), log);
    const Run run = plot(dir, { "log.csv" }, {},
        { "LOCPATH=" + dir.path(), "LC_ALL=xx_XX.UTF-8" });
    QCOMPARE(run.error,
        QByteArray("charge-plot: log.csv: line 5: time stamp \"06 Dic 2026 10:05:03\" not "
                   "understood\n"));
    QCOMPARE(run.exitCode, 0);
    const Picture picture = Picture::read(readFile(dir.filePath("log.svg")));
    QCOMPARE(picture.lines.value(blue), QList<int> { 3 });
    QVERIFY(picture.texts.contains("Battery log 06 Dez. 2026 10:05:00 to 06 Dec 2026 10:05:02"));
}

void ChargePlotTest::failures_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("error");
    // The files in the directory afterwards.
    QTest::addColumn<QStringList>("files");

    const QByteArray tryHelp = "Try 'charge-plot --help'.\n";

    QTest::newRow("standard input draws charge.svg")
        << QStringList {} << voltageLog({ 0, 1 }) << 0 << QByteArray()
        << QStringList { "charge.svg" };
    QTest::newRow("- is standard input")
        << QStringList { "-o", "out.png", "-" } << voltageLog({ 0, 1 }) << 0 << QByteArray()
        << QStringList { "out.png" };
    QTest::newRow("a header and no row")
        << QStringList { "-" } << QByteArray("TIME, VOLTAGE\n") << 1
        << QByteArray("charge-plot: standard input: no rows to draw\n") << QStringList {};
    QTest::newRow("an empty log") << QStringList {} << QByteArray() << 1
                                  << QByteArray("charge-plot: standard input: no rows to draw\n")
                                  << QStringList {};
    QTest::newRow("no row within --from and --to")
        << QStringList { "--from=2026-12-06 10:06", "-" } << voltageLog({ 0, 1 }) << 1
        << QByteArray("charge-plot: standard input: no rows to draw\n") << QStringList {};
    QTest::newRow("a log that is not there")
        << QStringList { "missing.csv" } << QByteArray() << 1
        << QByteArray("charge-plot: missing.csv: No such file or directory\n") << QStringList {};
    QTest::newRow("a picture of another kind")
        << QStringList { "-o", "out.jpg" } << voltageLog({ 0 }) << 2
        << "charge-plot: out.jpg: the picture's name must end in .svg or .png\n" + tryHelp
        << QStringList {};
    QTest::newRow("a picture that cannot be written")
        << QStringList { "-o", "no/such/dir/out.svg" } << voltageLog({ 0 }) << 1
        << QByteArray("charge-plot: no/such/dir/out.svg: No such file or directory\n")
        << QStringList {};
    QTest::newRow("a picture in place of the log")
        << QStringList { "-o", "log.svg", "log.svg" } << QByteArray() << 2
        << "charge-plot: log.svg: the picture would overwrite the log\n" + tryHelp
        << QStringList {};
    QTest::newRow("a picture that is a hard link of the log")
        << QStringList { "-o", "picture.svg", "log.csv" } << QByteArray() << 2
        << "charge-plot: picture.svg: the picture would overwrite the log\n" + tryHelp
        << QStringList { "log.csv", "picture.svg" };
    QTest::newRow("standard input twice") << QStringList { "-", "-" } << QByteArray() << 2
                              << "charge-plot: standard input (-) given more than once\n" + tryHelp << QStringList {};
    QTest::newRow("a label that names no log")
        << QStringList { "-", "--label=phone" } << QByteArray() << 2
        << "charge-plot: --label: \"phone\" names no log\n" + tryHelp << QStringList {};
    QTest::newRow("an unknown option is named")
        << QStringList { "--colour=red" } << QByteArray() << 2
        << "charge-plot: unknown or ambiguous option '--colour'\n" + tryHelp << QStringList {};
    QTest::newRow("an unknown short option is named")
        << QStringList { "-x" } << QByteArray() << 2
        << "charge-plot: unknown option '-x'\n" + tryHelp << QStringList {};
    QTest::newRow("an option without its value")
        << QStringList { "--output" } << QByteArray() << 2
        << "charge-plot: option '--output' needs a value\n" + tryHelp << QStringList {};
    QTest::newRow("help given a value")
        << QStringList { "--help=all" } << QByteArray() << 2
        << "charge-plot: option '--help' takes no value\n" + tryHelp << QStringList {};
    QTest::newRow("a time that is not one")
        << QStringList { "--to=yesterday" } << QByteArray() << 2
        << "charge-plot: --to: \"yesterday\" is not a time (YYYY-MM-DD or YYYY-MM-DD "
           "HH:MM[:SS])\n"
            + tryHelp
        << QStringList {};
    QTest::newRow("--from after --to")
        << QStringList { "--from=2026-12-07", "--to=2026-12-06" } << QByteArray() << 2
        << "charge-plot: --from: later than --to\n" + tryHelp << QStringList {};
    QTest::newRow("a size too narrow")
        << QStringList { "--size=300x200" } << QByteArray() << 2
        << "charge-plot: --size: \"300x200\" is not a width from 400 to 20000, or "
           "WIDTHxHEIGHT\n"
            + tryHelp
        << QStringList {};
    QTest::newRow("a panel that does not exist")
        << QStringList { "--panels=voltage,temperature" } << QByteArray() << 2
        << "charge-plot: --panels: no panel \"temperature\"; there are charge, capacity, "
           "voltage, current, uses, remaining, states\n"
            + tryHelp
        << QStringList {};
}

void ChargePlotTest::failures()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, error);
    QFETCH(QStringList, files);

    QTemporaryDir dir;
    if (files.contains("picture.svg")) {
        writeFile(dir.filePath("log.csv"), voltageLog({ 0, 1 }));
        QCOMPARE(link(qPrintable(dir.filePath("log.csv")), qPrintable(dir.filePath("picture.svg"))), 0);
    }
    const Run run = plot(dir, arguments, input);
    QCOMPARE(run.error, error);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), files);
    if (files.contains("picture.svg"))
        QCOMPARE(readFile(dir.filePath("log.csv")), voltageLog({ 0, 1 }));
}

// Several logs in one picture: one colour a log, named by its file or its
// label; the columns that every log has, drawn in the panels they always
// have.
void ChargePlotTest::severalLogs()
{
    QTemporaryDir dir;
    writeFile(dir.filePath("a.csv"), "TIME, VOLTAGE, CAPA_PCT\n" + stamp(0) + ", 3900, 80\n" + stamp(1) + ", 3901, 80\n");
    writeFile(dir.filePath("b.csv"), "TIME, BATTERY_STATE, VOLTAGE\n" + stamp(0) + ", OK, 3800\n" + stamp(2) + ", LOW, 3700\n" + stamp(3) + ", LOW, 3600\n");
    const Run run = plot(dir, { "-o", "both.svg", "a.csv", "--label=phone two", "b.csv" });
    QCOMPARE(run.error, QByteArray());
    QCOMPARE(run.exitCode, 0);
    const Picture picture = Picture::read(readFile(dir.filePath("both.svg")));
    for (const char *text : { "Voltage (mV)", "a.csv", "phone two", "5 rows from 2 logs: a.csv, phone two; no line where rows are missing" })
        QVERIFY2(picture.texts.contains(text), text);
    for (const char *text : { "Charge (%)", "States" })
        QVERIFY2(!picture.texts.contains(text), text);
    QCOMPARE(picture.lines.value(blue), QList<int> { 2 });
    QCOMPARE(picture.lines.value("#d62728"), QList<int> { 3 });
}

// --help and --version: on standard output, status 0.
void ChargePlotTest::helpAndVersion()
{
    QTemporaryDir dir;
    const Run help = plot(dir, { "--help" });
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.output.startsWith("Usage: charge-plot [OPTION]... [LOG]...\n"));
    QCOMPARE(help.error, QByteArray());
    const Run version = plot(dir, { "--vers" });
    QCOMPARE(version.exitCode, 0);
    QVERIFY2(QRegularExpression("^charge-plot \\d+\\.\\d+\\.\\d+\n$").match(version.output).hasMatch(),
        version.output.constData());
}

// A picture that does not fit (a file-size limit; a full disk alike) is
// named by its cause, and the old picture stays whole.
void ChargePlotTest::pictureThatDoesNotFit_data()
{
    QTest::addColumn<QString>("signal");
    QTest::newRow("the file-size signal ignored") << "trap '' XFSZ; ";
    QTest::newRow("the file-size signal at its default") << "";
}

void ChargePlotTest::pictureThatDoesNotFit()
{
    QFETCH(QString, signal);
    QTemporaryDir dir;
    writeFile(dir.filePath("log.csv"), voltageLog({ 0, 1, 2, 3 }));
    writeFile(dir.filePath("log.svg"), "the old picture");
    QProcess shell;
    shell.setWorkingDirectory(dir.path());
    shell.start("/bin/sh",
        { "-c", signal + "ulimit -f 4; exec \"$0\" -o log.svg log.csv", CHARGE_PLOT_PATH });
    QVERIFY(shell.waitForFinished(deadlineMs));
    QCOMPARE(shell.readAllStandardError(), QByteArray("charge-plot: log.svg: File too large\n"));
    QCOMPARE(shell.exitCode(), 1);
    QCOMPARE(readFile(dir.filePath("log.svg")), QByteArray("the old picture"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({ "log.csv", "log.svg" }));
}

// What the recorder writes on the virtual handset is drawn without a
// warning, every state in the band.
void ChargePlotTest::recorderOutput()
{
    QTemporaryDir dir;
    QProcess recorder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &name : env.keys()) {
        if (name.startsWith("KVSYSTEM_"))
            env.remove(name);
    }
    recorder.setProcessEnvironment(env);
    recorder.start(CHARGE_RECORDER_PATH, { "--interval=1" });
    QByteArray log;
    while (log.count('\n') < 4 && recorder.waitForReadyRead(deadlineMs))
        log += recorder.readAllStandardOutput();
    recorder.kill();
    recorder.waitForFinished(deadlineMs);
    QCOMPARE(log.count('\n'), 4);
    log.truncate(log.lastIndexOf('\n') + 1);

    const Run run = plot(dir, { "-o", "virtual.svg", "-" }, log);
    QCOMPARE(run.error, QByteArray());
    QCOMPARE(run.exitCode, 0);
    const Picture picture = Picture::read(readFile(dir.filePath("virtual.svg")));
    for (const char *text : { "Charge (%)", "Voltage (mV)", "Remaining time (h)", "States",
             "NONE", "STOPPED", "OK" })
        QVERIFY2(picture.texts.contains(text), text);
    QCOMPARE(picture.lines.value(blue), QList<int>({ 3, 3, 3, 3, 3, 3 }));
}

// Two logs of every column: each panel's keys take the lines they need,
// right of its title and within the picture; the second log's equal lines
// are dashed over the first's.
void ChargePlotTest::keysOfSeveralLogs()
{
    QTemporaryDir dir;
    const QByteArray log = allHeader + stamp(0)
        + ", NONE, STOPPED, 0, OK, 6, 80, 1056, 3985, -210, -210, 1056, 290, 218, 210, 301, 11, "
          "5760\n"
        + stamp(1)
        + ", WALL, STARTED, 30, LOW, 5, 79, 1055, 3990, 600, 200, 1055, 290, 217, 210, 300, 11, "
          "5750\n";
    writeFile(dir.filePath("a-long-name-of-a-handset.csv"), log);
    writeFile(dir.filePath("another-long-name.csv"), log);
    const Run run = plot(dir, { "-o", "both.svg", "a-long-name-of-a-handset.csv",
        "another-long-name.csv" });
    QCOMPARE(run.exitCode, 0);
    const Picture picture = Picture::read(readFile(dir.filePath("both.svg")));
    QVERIFY(picture.width == 1200);
    int keyLines = 0;
    for (const char *title : { "Charge (mAh)", "Battery current (mA)", "Remaining time (h)" }) {
        const int at = picture.texts.indexOf(QString(title));
        QVERIFY2(at >= 0, title);
        const QPointF place = picture.textPlaces[at];
        for (int i = 0; i < picture.texts.size(); ++i) {
            const QPointF other = picture.textPlaces[i];
            QVERIFY2(other.x() >= 0, qPrintable(picture.texts[i]));
            // Keys on the title's line start after it, further lines below it.
            if (i != at && qAbs(other.y() - place.y()) < 3)
                QVERIFY2(other.x() > place.x() + 150, qPrintable(picture.texts[i]));
            if (picture.texts[i].startsWith("another-long-name.csv ")
                && other.y() > place.y() + 10 && other.y() < place.y() + 40)
                ++keyLines;
        }
    }
    QVERIFY(keyLines >= 3);
    QVERIFY(picture.dashed.contains("dashed #d62728"));
    QCOMPARE(picture.lines.value(blue), picture.lines.value("#d62728"));
}

// Each log adds its keys and state rows: a picture higher than the largest
// side is refused, not drawn.
void ChargePlotTest::tooManyLogsForOnePicture()
{
    QTemporaryDir dir;
    const QByteArray log = allHeader + stamp(0)
        + ", NONE, STOPPED, 0, OK, 6, 80, 1056, 3985, -210, -210, 1056, 290, 218, 210, 301, 11, "
          "5760\n";
    QStringList names;
    for (int i = 0; i < 80; ++i) {
        names << QStringLiteral("handset-%1.csv").arg(i);
        writeFile(dir.filePath(names.last()), log);
    }
    const Run run = plot(dir, QStringList { "--size=400", "-o", "all.svg" } + names);
    QVERIFY2(run.error.startsWith("charge-plot: handset-0.csv, handset-1.csv, "), run.error.constData());
    QVERIFY2(run.error.contains(" pixels high, more than 20000; draw fewer logs or panels\n"),
        run.error.constData());
    QCOMPARE(run.exitCode, 1);
    QVERIFY(!QFile::exists(dir.filePath("all.svg")));
}

// A log of the given number of distinct battery states, one a row.
QByteArray manyStates(int count)
{
    QByteArray log = "TIME, BATTERY_STATE\n";
    for (int i = 0; i < count; ++i)
        log += stamp(i) + ", STATE" + QByteArray::number(i) + "\n";
    return log;
}

void ChargePlotTest::hostileLogs_data()
{
    // log.csv under its name, drawn after the arguments; other.csv is a
    // log of the charge to draw beside it.
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    // Null: whatever the reader warns about.
    QTest::addColumn<QByteArray>("error");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("height"); // 0: any

    const QByteArray charge = "TIME, CAPA_PCT\n" + stamp(0) + ", 80\n" + stamp(1) + ", 79\n";
    const QString replaced = QString(QChar(0xfffd));
    QTest::newRow("a control character in a state word is replaced")
        << "TIME, BATTERY_STATE\n" + stamp(0) + ", O\x01K\n" << "log.csv" << QStringList {} << 0
        << QByteArray() << QStringList { "O" + replaced + "K" } << 0;
    QTest::newRow("a control character in a label is replaced")
        << charge << "log.csv" << QStringList { "--label=a\x1b[1mb", "other.csv", "--label=c\td" }
        << 0 << QByteArray()
        << QStringList { "a" + replaced + "[1mb percent", "c" + replaced + "d percent" }
        << 0;
    QTest::newRow("a control character in a file name is replaced")
        << charge << "a\x7f\x02.csv" << QStringList { "other.csv" } << 0 << QByteArray()
        << QStringList { "a" + replaced + replaced + ".csv percent" } << 0;
    QTest::newRow("logs that share no column are refused")
        << voltageLog({ 0, 1 }) << "log.csv" << QStringList { "other.csv" } << 1
        << QByteArray("charge-plot: other.csv, log.csv: the logs share no column to draw; draw "
                      "each on its own\n")
        << QStringList {} << 0;
    QTest::newRow("panels that the log has no column for are refused")
        << voltageLog({ 0, 1 }) << "log.csv" << QStringList { "--panels=charge,states" } << 1
        << QByteArray("charge-plot: log.csv: no column to draw\n") << QStringList {} << 0;
    QTest::newRow("24 state words: each in the legend")
        << manyStates(24) << "log.csv" << QStringList {} << 0 << QByteArray()
        << QStringList { "STATE0", "STATE23" } << 212;
    QTest::newRow("25 state words: the last shares a colour with no other")
        << manyStates(25) << "log.csv" << QStringList {} << 0 << QByteArray()
        << QStringList { "STATE0", "STATE23", "1 other word" } << 212;
    QTest::newRow("3000 state words: the legend no higher than for 25")
        << manyStates(3000) << "log.csv" << QStringList {} << 0 << QByteArray()
        << QStringList { "STATE23", "2,976 other words" } << 212;
    QTest::newRow("a year beyond the calendar: no hang")
        << voltageLog({ 0 }) + "07 Dec 300000000 10:00:01, 3950\n" << "log.csv" << QStringList {}
        << 0 << QByteArray() << QStringList { "Voltage (mV)" } << 0;
    QTest::newRow("a value of 2^53: no hang")
        << "TIME, VOLTAGE\n" + stamp(0) + ", 9007199254740992\n" << "log.csv" << QStringList {}
        << 0 << QByteArray() << QStringList { "Voltage (mV)" } << 0;
    QTest::newRow("the largest value: no hang")
        << "TIME, VOLTAGE\n" + stamp(0) + ", 9223372036854775807\n" + stamp(1)
            + ", -9223372036854775807\n"
        << "log.csv" << QStringList {} << 0 << QByteArray() << QStringList { "Voltage (mV)" } << 0;
    const QByteArray full = allHeader + stamp(0)
        + ", NONE, STOPPED, 0, OK, 6, 80, 1056, 3985, -210, -210, 1056, 290, 218, 210, 301, 11, "
          "5760\n";
    QTest::newRow("a height a pixel below what the panels need is refused")
        << full << "log.csv" << QStringList { "--size=1200x743" } << 2
        << QByteArray("charge-plot: --size: a height of 743 cannot hold the panels of log.csv; "
                      "they need at least 744\nTry 'charge-plot --help'.\n")
        << QStringList {} << 0;
}

// What a log or a command line holds that the picture cannot take as it
// is: the SVG stays well-formed XML, the picture within its bounds.
void ChargePlotTest::hostileLogs()
{
    QFETCH(QByteArray, log);
    QFETCH(QString, name);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, error);
    QFETCH(QStringList, texts);
    QFETCH(int, height);

    QTemporaryDir dir;
    writeFile(dir.filePath(name), log);
    writeFile(dir.filePath("other.csv"),
        "TIME, CAPA_PCT\n" + stamp(0) + ", 80\n" + stamp(1) + ", 79\n");
    const Run run = plot(dir, QStringList { "-o", "out.svg" } + arguments + QStringList { name });
    if (!error.isNull())
        QCOMPARE(run.error, error);
    QCOMPARE(run.exitCode, exitCode);
    if (exitCode != 0) {
        QVERIFY(!QFile::exists(dir.filePath("out.svg")));
        return;
    }
    const QByteArray svg = readFile(dir.filePath("out.svg"));
    QXmlStreamReader xml(svg);
    while (!xml.atEnd())
        xml.readNext();
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    const QString xmllint = QStandardPaths::findExecutable("xmllint");
    if (!xmllint.isEmpty()) {
        QProcess lint;
        lint.start(xmllint, { "--noout", dir.filePath("out.svg") });
        QVERIFY(lint.waitForFinished(deadlineMs));
        QCOMPARE(lint.readAllStandardError(), QByteArray());
        QCOMPARE(lint.exitCode(), 0);
    }
    const Picture picture = Picture::read(svg);
    for (const QString &text : texts)
        QVERIFY2(picture.texts.contains(text), qPrintable(text));
    if (height > 0)
        QCOMPARE(picture.height, height);
}

QTEST_GUILESS_MAIN(ChargePlotTest)
#include "tst_chargeplot.moc"
