// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// charge-recorder: the command line, the CSV header and rows, the schedule
// on the wall clock's grid, and every way the recorder ends with code 1.
//
// The recorder runs with a preloaded wall clock (support/fakeclock.cpp)
// that starts at 06 Dec 2026 10:05:00.250 UTC and then runs in real time,
// so that time stamps can be compared byte for byte: rows due on the grid
// carry the second of their due time as long as they come less than 0.75 s
// late, which a busy machine does not come near. Where the clock steps, it
// steps half-way between two rows (FAKECLOCK_STEP), half a second from
// either.

#include "demoprocess.h"
#include "timelocale.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#ifndef FAKECLOCK_PATH
#error "FAKECLOCK_PATH must name the preloaded wall clock"
#endif

class ChargeRecorderTest : public QObject
{
    Q_OBJECT
private slots:
    void refusedCommandLine_data();
    void refusedCommandLine();
    void help_data();
    void help();
    void columns_data();
    void columns();
    void cells_data();
    void cells();
    void intervals_data();
    void intervals();
    void averageCurrent_data();
    void averageCurrent();
    void schedule_data();
    void schedule();
    void clockFailures_data();
    void clockFailures();
    void timeStampLength_data();
    void timeStampLength();
    void outputFailures_data();
    void outputFailures();
    void virtualHandset();
};

namespace {

const char *const program = "charge-recorder";
const QString ctor = QStringLiteral("KvBattery::KvBattery(null)");
const QString dtor = QStringLiteral("KvBattery::~KvBattery()");

// The time stamp of a row the given number of seconds after the start
// (06 Dec 2026 10:05:00 UTC), or before it.
QByteArray stamp(int seconds)
{
    const QDateTime start(QDate(2026, 12, 6), QTime(10, 5), Qt::UTC);
    return QLocale::c().toString(start.addSecs(seconds), "dd MMM yyyy HH:mm:ss").toLatin1();
}

QString call(const char *getter, int result)
{
    return QStringLiteral("KvBattery::%1 = %2").arg(QLatin1String(getter)).arg(result);
}

QByteArray usage(const QString &path)
{
    return "Usage: " + path.toLocal8Bit()
        + " [COLUMN-OPTIONS] [OTHER-OPTIONS]\n"
          "\n"
          "Output battery related values at desired interval in CSV format.\n"
          "Note: All times are in minutes.\n"
          "\n"
          "COLUMN-OPTIONS (if nothing given, ALL assumed):\n"
          "  --charger-type\n"
          "  --charging-state\n"
          "  --charging-time\n"
          "  --battery-state\n"
          "  --battery-bars\n"
          "  --battery-pct\n"
          "  --battery-mah\n"
          "  --battery-voltage\n"
          "  --battery-current\n"
          "  --battery-avg-current\n"
          "  --coulomb-counter\n"
          "  --talk-current\n"
          "  --talk-time\n"
          "  --active-current\n"
          "  --active-time\n"
          "  --idle-current\n"
          "  --idle-time\n"
          "OTHER-OPTIONS:\n"
          "  --interval=NSECS\n"
          "  --numerical    output state, type etc columns as numbers instead of strings  --help\n"
          "\n";
}

// English messages from getopt_long(), time stamps in UTC on the fake clock.
void prepare(DemoProcess &recorder, const QByteArray &rate = "1")
{
    recorder.setEnvironment("LC_ALL", "C");
    recorder.setEnvironment("TZ", "UTC");
    recorder.setEnvironment("LD_PRELOAD", FAKECLOCK_PATH);
    recorder.setEnvironment("FAKECLOCK_START", "1796551500.25");
    recorder.setEnvironment("FAKECLOCK_RATE", rate);
}

bool waitForLines(DemoProcess &recorder, int count)
{
    return recorder.waitUntil(
        [count](const QByteArray &out, const QByteArray &) { return out.count('\n') >= count; });
}

QStringList firstLines(DemoProcess &recorder, int count)
{
    return DemoProcess::lines(recorder.output()).mid(0, count);
}

const QByteArray allHeader
    = "TIME, CHARGER_TYPE, CHARGING_STATE, CHARGING_TIME, BATTERY_STATE, CAPA_BARS, "
      "CAPA_PCT, CAPA_MAH, VOLTAGE, BATTERY_CURRENT, BATTERY_AVG_CURRENT, "
      "COULOMB_COUNTER, TALK_CURRENT, TALK_TIME, ACTIVE_CURRENT, ACTIVE_TIME, "
      "IDLE_CURRENT, IDLE_TIME";

// A battery whose every getter gives its own value.
const QByteArray distinctBattery = R"({"battery": {
    "chargerType": 1, "chargingState": 1, "remainingChargingTime": 5400, "batteryState": 2,
    "remainingCapacityBars": 5, "remainingCapacityPct": 71, "remainingCapacitymAh": 937,
    "voltage": 3912, "batteryCurrent": 420, "cumulativeBatteryCurrent": 3373200,
    "averageTalkCurrent": 290, "remainingTalkTime": 11631, "averageActiveCurrent": 210,
    "remainingActiveTime": 16062, "averageIdleCurrent": 11, "remainingIdleTime": 306655}})";

const QStringList allCalls = {
    call("getChargerType()", 1),
    call("getChargingState()", 1),
    call("getRemainingChargingTime()", 5400),
    call("getBatteryState()", 2),
    call("getRemainingCapacityBars()", 5),
    call("getRemainingCapacityPct()", 71),
    call("getRemainingCapacitymAh()", 937),
    call("getVoltage()", 3912),
    call("getBatteryCurrent()", 420),
    call("getCumulativeBatteryCurrent()", 3373200),
    call("getBatteryCurrent()", 420),
    call("getAverageTalkCurrent(0)", 290),
    call("getRemainingTalkTime(0)", 11631),
    call("getAverageActiveCurrent(0)", 210),
    call("getRemainingActiveTime(0)", 16062),
    call("getAverageIdleCurrent(0)", 11),
    call("getRemainingIdleTime(0)", 306655),
};

} // namespace

void ChargeRecorderTest::refusedCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    // %p stands for the program path, which getopt_long() names.
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("interval zero")
        << QStringList { "--interval=0" } << QByteArray("Invalid interval: 0\n\n");
    QTest::newRow("interval without a number")
        << QStringList { "--interval=abc" } << QByteArray("Invalid interval: abc\n\n");
    QTest::newRow("empty interval")
        << QStringList { "--interval=" } << QByteArray("Invalid interval: \n\n");
    QTest::newRow("empty interval as the next argument")
        << QStringList { "--interval", "" } << QByteArray("Invalid interval: \n\n");
    QTest::newRow("negative interval")
        << QStringList { "--interval=-5" } << QByteArray("Invalid interval: -5\n\n");
    QTest::newRow("interval too long for the timer's millisecond delay")
        << QStringList { "--interval=2147484" } << QByteArray("Invalid interval: 2147484\n\n");
    QTest::newRow("interval whose low 32 bits read 1")
        << QStringList { "--interval=4294967297" }
        << QByteArray("Invalid interval: 4294967297\n\n");
    QTest::newRow("interval beyond what strtol can hold")
        << QStringList { "--interval=99999999999999999999" }
        << QByteArray("Invalid interval: 99999999999999999999\n\n");
    QTest::newRow("refused interval after columns and a valid interval")
        << QStringList { "--battery-pct", "--interval=5", "--interval=0x10" }
        << QByteArray("Invalid interval: 0x10\n\n");
    QTest::newRow("help with an invalid interval")
        << QStringList { "--help", "--interval=0" } << QByteArray("Invalid interval: 0\n\n");
    QTest::newRow("interval as the last argument without a value") << QStringList { "--battery-pct",
        "--interval" } << QByteArray("%p: option '--interval' requires an argument\n");
    QTest::newRow("ambiguous prefix")
        << QStringList { "--battery" }
        << QByteArray("%p: option '--battery' is ambiguous; possibilities: '--battery-state' "
                      "'--battery-bars' "
                      "'--battery-pct' '--battery-mah' '--battery-voltage' '--battery-current' "
                      "'--battery-avg-current'\n");
    QTest::newRow("unknown option")
        << QStringList { "--voltage" } << QByteArray("%p: unrecognized option '--voltage'\n");
    QTest::newRow("short option") << QStringList { "-h" }
                                  << QByteArray("%p: invalid option -- 'h'\n");
    QTest::newRow("value attached to an option that takes none")
        << QStringList { "--numerical=1" }
        << QByteArray("%p: option '--numerical' doesn't allow an argument\n");
    QTest::newRow("help with an unknown option")
        << QStringList { "--help", "--all" } << QByteArray("%p: unrecognized option '--all'\n");
    QTest::newRow("a refused option ends parsing before a later bad interval")
        << QStringList { "--all", "--interval=0" }
        << QByteArray("%p: unrecognized option '--all'\n");
}

void ChargeRecorderTest::refusedCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, message);

    DemoProcess recorder(program);
    prepare(recorder);
    recorder.start(arguments);
    QVERIFY(recorder.waitForFinished());

    message.replace("%p", recorder.programPath().toLocal8Bit());
    QCOMPARE(DemoProcess::lines(recorder.error()),
        DemoProcess::lines(message + usage(recorder.programPath())));
    QCOMPARE(recorder.output(), QByteArray("\n"));
    QCOMPARE(recorder.exitStatus(), QProcess::NormalExit);
    QCOMPARE(recorder.exitCode(), 1);
    // No battery value was read.
    QCOMPARE(recorder.trace(), QStringList({ ctor, dtor }));
}

void ChargeRecorderTest::help_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("help alone") << QStringList { "--help" };
    QTest::newRow("help among column options")
        << QStringList { "--battery-pct", "--help", "--idle-time" };
    QTest::newRow("prefix of help") << QStringList { "--he" };
    QTest::newRow("help with an interval and numbers")
        << QStringList { "--numerical", "--help", "--interval", "5" };
}

void ChargeRecorderTest::help()
{
    QFETCH(QStringList, arguments);

    DemoProcess recorder(program);
    prepare(recorder);
    recorder.start(arguments);
    QVERIFY(recorder.waitForFinished());

    QCOMPARE(
        DemoProcess::lines(recorder.output()), DemoProcess::lines(usage(recorder.programPath())));
    QCOMPARE(recorder.error(), QByteArray());
    QCOMPARE(recorder.exitStatus(), QProcess::NormalExit);
    QCOMPARE(recorder.exitCode(), 0);
    // No clock, no header, no getter.
    QCOMPARE(recorder.trace(), QStringList({ ctor, dtor }));
}

void ChargeRecorderTest::columns_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<QStringList>("calls");

    QTest::newRow("no column option gives all seventeen in table order")
        << QStringList() << allHeader
        << QByteArray("WALL, STARTED, 90, OK, 5, 71, 937, 3912, 420, 420, 937, 290, 193, 210, 267, "
                      "11, 5110")
        << allCalls;
    QTest::newRow("numerical alone keeps all columns, states as numbers")
        << QStringList { "--numerical" } << allHeader
        << QByteArray("1, 1, 90, 2, 5, 71, 937, 3912, 420, 420, 937, 290, 193, 210, 267, 11, 5110")
        << allCalls;
    QTest::newRow("column options in any order give table order")
        << QStringList { "--idle-time", "--battery-voltage", "--charger-type" }
        << QByteArray("TIME, CHARGER_TYPE, VOLTAGE, IDLE_TIME") << QByteArray("WALL, 3912, 5110")
        << QStringList { call("getChargerType()", 1), call("getVoltage()", 3912),
               call("getCumulativeBatteryCurrent()", 3373200),
               call("getRemainingIdleTime(0)", 306655) };
    QTest::newRow("a column given twice appears once")
        << QStringList { "--battery-pct", "--battery-bars", "--battery-pct" }
        << QByteArray("TIME, CAPA_BARS, CAPA_PCT") << QByteArray("5, 71")
        << QStringList { call("getRemainingCapacityBars()", 5),
               call("getRemainingCapacityPct()", 71),
               call("getCumulativeBatteryCurrent()", 3373200) };
    QTest::newRow("only the average current, read anew in the first row")
        << QStringList { "--battery-avg-current" } << QByteArray("TIME, BATTERY_AVG_CURRENT")
        << QByteArray("420")
        << QStringList { call("getCumulativeBatteryCurrent()", 3373200),
               call("getBatteryCurrent()", 420) };
    QTest::newRow("cumulative current read once for two columns")
        << QStringList { "--coulomb-counter", "--battery-avg-current", "--battery-current" }
        << QByteArray("TIME, BATTERY_CURRENT, BATTERY_AVG_CURRENT, COULOMB_COUNTER")
        << QByteArray("420, 420, 937")
        << QStringList { call("getBatteryCurrent()", 420),
               call("getCumulativeBatteryCurrent()", 3373200), call("getBatteryCurrent()", 420) };
    QTest::newRow("prefixes of column options")
        << QStringList { "--coul", "--talk-c", "--numer", "--charging-s" }
        << QByteArray("TIME, CHARGING_STATE, COULOMB_COUNTER, TALK_CURRENT")
        << QByteArray("1, 937, 290")
        << QStringList { call("getChargingState()", 1),
               call("getCumulativeBatteryCurrent()", 3373200),
               call("getAverageTalkCurrent(0)", 290) };
    QTest::newRow("arguments that are not options are ignored")
        << QStringList { "now", "--active-time", "-", "--interval=2147483", "later" }
        << QByteArray("TIME, ACTIVE_TIME") << QByteArray("267")
        << QStringList { call("getCumulativeBatteryCurrent()", 3373200),
               call("getRemainingActiveTime(0)", 16062) };
}

void ChargeRecorderTest::columns()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, row);
    QFETCH(QStringList, calls);

    DemoProcess recorder(program);
    prepare(recorder);
    recorder.setScenario(distinctBattery);
    recorder.start(arguments);
    // The first row follows the header at once, not an interval later.
    QVERIFY2(waitForLines(recorder, 2), recorder.error().constData());
    recorder.interrupt();

    QCOMPARE(DemoProcess::lines(recorder.output()),
        DemoProcess::lines(header + "\n" + stamp(0) + ", " + row + "\n"));
    QCOMPARE(recorder.error(), QByteArray());
    QCOMPARE(recorder.trace(), QStringList(ctor) + calls);
}

void ChargeRecorderTest::cells_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("getter");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("numerical");
    QTest::addColumn<QByteArray>("cell");

    const auto row = [](const char *name, const char *option, const char *getter, int value,
                         bool numerical, const QByteArray &cell) {
        QTest::newRow(name) << option << getter << value << numerical << cell;
    };
    row("charger type unknown", "charger-type", "chargerType", -1, false, "UNKNOWN");
    row("charger type none", "charger-type", "chargerType", 0, false, "NONE");
    row("charger type wall", "charger-type", "chargerType", 1, false, "WALL");
    row("charger type USB 500 mA", "charger-type", "chargerType", 2, false, "USB500MA");
    row("charger type USB 100 mA", "charger-type", "chargerType", 3, false, "USB100MA");
    row("charger type outside the table", "charger-type", "chargerType", 7, false,
        "Undefined charger type: 7");
    row("charger type below the table", "charger-type", "chargerType", -2, false,
        "Undefined charger type: -2");
    row("charger type unknown as a number", "charger-type", "chargerType", -1, true, "-1");
    row("charger type outside the table as a number", "charger-type", "chargerType", 7, true, "7");
    row("charging stopped", "charging-state", "chargingState", 0, false, "STOPPED");
    row("charging started", "charging-state", "chargingState", 1, false, "STARTED");
    row("charging error", "charging-state", "chargingState", 2, false, "ERROR");
    row("charging state outside the table", "charging-state", "chargingState", 3, false,
        "Undefined charging state: 3");
    row("negative charging state", "charging-state", "chargingState", -1, false,
        "Undefined charging state: -1");
    row("charging state as a number", "charging-state", "chargingState", 2, true, "2");
    row("battery empty", "battery-state", "batteryState", 0, false, "EMPTY");
    row("battery low", "battery-state", "batteryState", 1, false, "LOW");
    row("battery ok", "battery-state", "batteryState", 2, false, "OK");
    row("battery full", "battery-state", "batteryState", 3, false, "FULL");
    row("battery error", "battery-state", "batteryState", 4, false, "ERROR");
    row("battery state outside the table", "battery-state", "batteryState", 5, false,
        "Undefined battery state: 5");
    row("negative battery state", "battery-state", "batteryState", -2, false,
        "Undefined battery state: -2");
    row("negative battery state as a number", "battery-state", "batteryState", -2, true, "-2");
    row("remaining talk time of 119 s is 1 min", "talk-time", "remainingTalkTime", 119, false, "1");
    row("remaining talk time of -1 s is 0 min", "talk-time", "remainingTalkTime", -1, false, "0");
    row("remaining talk time of -60 s is -1 min", "talk-time", "remainingTalkTime", -60, false,
        "-1");
    row("largest remaining talk time", "talk-time", "remainingTalkTime", 2147483647, false,
        "35791394");
    row("remaining charging time in minutes", "charging-time", "remainingChargingTime", 5399, false,
        "89");
    row("remaining active time in minutes", "active-time", "remainingActiveTime", -61, false, "-1");
    row("remaining idle time in minutes", "idle-time", "remainingIdleTime", 60, false, "1");
    row("cumulative current of 7199 is 1 mAh", "coulomb-counter", "cumulativeBatteryCurrent", 7199,
        false, "1");
    row("cumulative current of -3600 is -1 mAh", "coulomb-counter", "cumulativeBatteryCurrent",
        -3600, false, "-1");
    row("cumulative current of -3599 is 0 mAh", "coulomb-counter", "cumulativeBatteryCurrent",
        -3599, false, "0");
    row("smallest cumulative current", "coulomb-counter", "cumulativeBatteryCurrent", -2147483647,
        false, "-596523");
    row("no counter (the library's -2147483648) writes -596523, which no count reaches",
        "coulomb-counter", "cumulativeBatteryCurrent", -2147483647 - 1, false, "-596523");
    row("currents as they come", "talk-current", "averageTalkCurrent", -2147483647 - 1, false,
        "-2147483648");
    row("numerical leaves plain numbers alone", "battery-voltage", "voltage", 3700, true, "3700");
}

void ChargeRecorderTest::cells()
{
    QFETCH(QString, option);
    QFETCH(QString, getter);
    QFETCH(int, value);
    QFETCH(bool, numerical);
    QFETCH(QByteArray, cell);

    DemoProcess recorder(program);
    prepare(recorder);
    recorder.setScenario(
        QStringLiteral(R"({"battery": {"%1": %2}})").arg(getter).arg(value).toUtf8());
    QStringList arguments { "--" + option };
    if (numerical)
        arguments << "--numerical";
    recorder.start(arguments);
    QVERIFY2(waitForLines(recorder, 2), recorder.error().constData());
    recorder.interrupt();

    QCOMPARE(firstLines(recorder, 2).value(1), QString::fromLatin1(stamp(0) + ", " + cell));
    QCOMPARE(recorder.error(), QByteArray());
}

void ChargeRecorderTest::intervals_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("text after the number is ignored") << QStringList { "--interval=1s" };
    QTest::newRow("value as the next argument") << QStringList { "--interval", "1" };
    QTest::newRow("prefix of interval") << QStringList { "--int=1" };
    QTest::newRow("the last of several intervals counts")
        << QStringList { "--interval=7", "--interval=1" };
    QTest::newRow("leading blank and plus sign") << QStringList { "--interval= +1" };
}

void ChargeRecorderTest::intervals()
{
    QFETCH(QStringList, arguments);

    DemoProcess recorder(program);
    prepare(recorder);
    recorder.start(arguments << "--battery-pct");
    QVERIFY2(waitForLines(recorder, 3), recorder.error().constData());
    recorder.interrupt();

    QCOMPARE(firstLines(recorder, 3),
        QStringList({ "TIME, CAPA_PCT", stamp(0) + ", 80", stamp(1) + ", 80" }));
}

void ChargeRecorderTest::averageCurrent_data()
{
    QTest::addColumn<QByteArray>("rate");
    QTest::addColumn<QByteArray>("cumulative");
    QTest::addColumn<QStringList>("rows");

    // The battery current reads 11, 22, 33, 44 in turn: the first row's
    // average, and any average whose clock did not advance, reads it anew.
    QTest::newRow("discharge between rows a second apart")
        << QByteArray("1") << QByteArray("[1000, 580]")
        << QStringList { stamp(0) + ", 11, 22, 0", stamp(1) + ", 33, -420, 0" };
    QTest::newRow("charging between rows a second apart")
        << QByteArray("1") << QByteArray("[-3600, 7199]")
        << QStringList { stamp(0) + ", 11, 22, -1", stamp(1) + ", 33, 10799, 1" };
    QTest::newRow("counter difference beyond 32 bits")
        << QByteArray("1") << QByteArray("[2147483647, -2147483647]")
        << QStringList { stamp(0) + ", 11, 22, 596523", stamp(1) + ", 33, -4294967294, -596523" };
    QTest::newRow("no average across a counter missing at the end: the current instead")
        << QByteArray("1") << QByteArray("[1000, -2147483648]")
        << QStringList { stamp(0) + ", 11, 22, 0", stamp(1) + ", 33, 44, -596523" };
    QTest::newRow("no average across a counter missing at the start: the current instead")
        << QByteArray("1") << QByteArray("[-2147483648, 1000]")
        << QStringList { stamp(0) + ", 11, 22, -596523", stamp(1) + ", 33, 44, 0" };
    QTest::newRow("two rows in the same second")
        << QByteArray("0") << QByteArray("[1000, 580]")
        << QStringList { stamp(0) + ", 11, 22, 0", stamp(0) + ", 33, 44, 0" };
    QTest::newRow("clock set back between rows")
        << QByteArray("-1") << QByteArray("[1000, 580]")
        << QStringList { stamp(0) + ", 11, 22, 0", stamp(-1) + ", 33, 44, 0" };
}

void ChargeRecorderTest::averageCurrent()
{
    QFETCH(QByteArray, rate);
    QFETCH(QByteArray, cumulative);
    QFETCH(QStringList, rows);

    DemoProcess recorder(program);
    prepare(recorder, rate);
    recorder.setScenario(
        R"({"battery": {"batteryCurrent": [11, 22, 33, 44], "cumulativeBatteryCurrent": )"
        + cumulative + "}}");
    recorder.start(
        { "--interval=1", "--coulomb-counter", "--battery-avg-current", "--battery-current" });
    QVERIFY2(waitForLines(recorder, 3), recorder.error().constData());
    recorder.interrupt();

    QCOMPARE(firstLines(recorder, 3),
        QStringList({ "TIME, BATTERY_CURRENT, BATTERY_AVG_CURRENT, COULOMB_COUNTER" }) + rows);
}

void ChargeRecorderTest::schedule_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("voltage");
    QTest::addColumn<QString>("interval");
    // FAKECLOCK_STEP, and whether the step is reported as the kernel reports
    // a clock set or a resume.
    QTest::addColumn<QByteArray>("step");
    QTest::addColumn<bool>("reported");
    QTest::addColumn<QStringList>("rows");

    // The voltage getter blocks as the scenario says, after the row has
    // taken its time stamp. The cumulative current reads 0, -30, -40, -47
    // in turn, so the average shows the seconds between rows.
    const QByteArray quarterPast = "1796551500.25";
    const QByteArray voltages = "[3900, 3901, 3902, 3903]";
    QTest::newRow("rows one interval apart")
        << quarterPast << voltages << "1" << QByteArray() << true
        << QStringList { stamp(0) + ", 3900, 5", stamp(1) + ", 3901, -30", stamp(2) + ", 3902, -10",
               stamp(3) + ", 3903, -7" };
    QTest::newRow("rows that take 0.6 s each keep to the grid")
        << quarterPast << QByteArray(R"([{"value": 3900, "delayMs": 600}])") << "1" << QByteArray()
        << true
        << QStringList { stamp(0) + ", 3900, 5", stamp(1) + ", 3900, -30", stamp(2) + ", 3900, -10",
               stamp(3) + ", 3900, -7" };
    QTest::newRow("a row 2.5 s late skips the due times that passed")
        << quarterPast << QByteArray(R"([3900, {"value": 3901, "delayMs": 2500}, 3902, 3903])")
        << "1" << QByteArray() << true
        << QStringList { stamp(0) + ", 3900, 5", stamp(1) + ", 3901, -30", stamp(4) + ", 3902, -3",
               stamp(5) + ", 3903, -7" };
    // The timer's delay is rounded up to whole milliseconds: one that fired
    // up to a millisecond before the due time would stamp these rows with
    // the second before it.
    const QByteArray justAfter = "1796551500.0002";
    QTest::newRow("rows due just after a whole second carry that second")
        << justAfter << QByteArray("3900") << "1" << QByteArray() << true
        << QStringList { stamp(0) + ", 3900, 5", stamp(1) + ", 3900, -30", stamp(2) + ", 3900, -10",
               stamp(3) + ", 3900, -7" };

    QTest::newRow("a clock before 1970 keeps the grid into 1970")
        << QByteArray("-3.25") << voltages << "1" << QByteArray() << true
        << QStringList { "31 Dec 1969 23:59:57, 3900, 5", "31 Dec 1969 23:59:58, 3901, -30",
               "31 Dec 1969 23:59:59, 3902, -10", "01 Jan 1970 00:00:00, 3903, -7" };

    // Steps come half-way between the second and the third row. After a
    // step back the average current has no earlier time to divide by and
    // reads the battery current.
    const int hour = 3600;
    const int month = 30 * 24 * hour;
    QTest::newRow("clock set back an hour: rows go on at the interval")
        << justAfter << voltages << "1" << QByteArray("1.5:-3600") << true
        << QStringList { stamp(0) + ", 3900, 5", stamp(1) + ", 3901, -30",
               stamp(2 - hour) + ", 3902, 5", stamp(3 - hour) + ", 3903, -7" };
    QTest::newRow("clock set back an hour unreported: the next row finds the grid again")
        << justAfter << voltages << "1" << QByteArray("1.5:-3600") << false
        << QStringList { stamp(0) + ", 3900, 5", stamp(1) + ", 3901, -30",
               stamp(2 - hour) + ", 3902, 5", stamp(3 - hour) + ", 3903, -7" };
    QTest::newRow("clock set back 30 days, beyond the timer's range")
        << justAfter << voltages << "1" << QByteArray("1.5:-2592000") << true
        << QStringList { stamp(0) + ", 3900, 5", stamp(1) + ", 3901, -30",
               stamp(2 - month) + ", 3902, 5", stamp(3 - month) + ", 3903, -7" };
    QTest::newRow("clock set back 30 days unreported")
        << justAfter << voltages << "1" << QByteArray("1.5:-2592000") << false
        << QStringList { stamp(0) + ", 3900, 5", stamp(1) + ", 3901, -30",
               stamp(2 - month) + ", 3902, 5", stamp(3 - month) + ", 3903, -7" };
    QTest::newRow("clock set forward an hour: the row that fell due is written at once")
        << justAfter << voltages << "1" << QByteArray("1.5:3600") << true
        << QStringList { stamp(0) + ", 3900, 5", stamp(1) + ", 3901, -30",
               stamp(1 + hour) + ", 3902, 0", stamp(2 + hour) + ", 3903, -7" };
    QTest::newRow("clock set forward an hour unreported: missed due times skipped at the next row")
        << justAfter << voltages << "1" << QByteArray("1.5:3600") << false
        << QStringList { stamp(0) + ", 3900, 5", stamp(1) + ", 3901, -30",
               stamp(2 + hour) + ", 3902, 0", stamp(3 + hour) + ", 3903, -7" };
    // Without the report the row would come ten minutes after the first.
    QTest::newRow("resume after 15 minutes of suspend at a 10-minute interval")
        << justAfter << voltages << "600" << QByteArray("0.5:900") << true
        << QStringList { stamp(0) + ", 3900, 5", stamp(900) + ", 3901, 0" };
}

void ChargeRecorderTest::schedule()
{
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, voltage);
    QFETCH(QString, interval);
    QFETCH(QByteArray, step);
    QFETCH(bool, reported);
    QFETCH(QStringList, rows);

    DemoProcess recorder(program);
    prepare(recorder);
    recorder.setEnvironment("FAKECLOCK_START", start);
    if (!step.isEmpty())
        recorder.setEnvironment("FAKECLOCK_STEP", step);
    if (!reported)
        recorder.setEnvironment("FAKECLOCK_STEP_UNREPORTED", "1");
    recorder.setScenario(
        R"({"battery": {"batteryCurrent": 5, "cumulativeBatteryCurrent": [0, -30, -40, -47],
                                         "voltage": )"
        + voltage + "}}");
    recorder.start(
        { "--interval=" + interval, "--battery-voltage", "--battery-avg-current" });
    QVERIFY2(waitForLines(recorder, rows.size() + 1), recorder.error().constData());
    recorder.interrupt();

    QCOMPARE(firstLines(recorder, rows.size() + 1),
        QStringList({ "TIME, VOLTAGE, BATTERY_AVG_CURRENT" }) + rows);
    QCOMPARE(recorder.error(), QByteArray());
}

void ChargeRecorderTest::clockFailures_data()
{
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QStringList>("calls");

    QTest::newRow("clock unreadable at the start: no header")
        << "FAKECLOCK_FAIL_GETTIMEOFDAY"
        << "1" << QByteArray() << QByteArray("gettimofday: Invalid argument\n")
        << QStringList { ctor, dtor };
    QTest::newRow("clock unreadable after the first row: the row is complete")
        << "FAKECLOCK_FAIL_GETTIMEOFDAY"
        << "2" << QByteArray("TIME, CAPA_PCT\n" + stamp(0) + ", 80\n")
        << QByteArray("gettimofday: Invalid argument\n")
        << QStringList { ctor, call("getRemainingCapacityPct()", 80),
               call("getCumulativeBatteryCurrent()", 0), dtor };
    // The recorder ends at once instead of counting the due times it
    // skipped one by one.
    QTest::newRow("clock set beyond the local calendar while sampling: ends at once")
        << "FAKECLOCK_STEP"
        << "1.5:90000000000000000"
        << QByteArray("TIME, CAPA_PCT\n" + stamp(0) + ", 80\n" + stamp(1) + ", 80\n")
        << QByteArray("localtime: Value too large for defined data type\n")
        << QStringList { ctor, call("getRemainingCapacityPct()", 80),
               call("getCumulativeBatteryCurrent()", 0), call("getRemainingCapacityPct()", 80),
               call("getCumulativeBatteryCurrent()", 0), dtor };
    QTest::newRow("time beyond the local calendar: no part of the row")
        << "FAKECLOCK_START"
        << "90000000000000000" << QByteArray("TIME, CAPA_PCT\n")
        << QByteArray("localtime: Value too large for defined data type\n")
        << QStringList { ctor, dtor };
}

void ChargeRecorderTest::clockFailures()
{
    QFETCH(QString, variable);
    QFETCH(QString, value);
    QFETCH(QByteArray, output);
    QFETCH(QByteArray, message);
    QFETCH(QStringList, calls);

    DemoProcess recorder(program);
    prepare(recorder);
    recorder.setEnvironment(variable, value);
    recorder.setScenario(
        R"({"battery": {"remainingCapacityPct": 80, "cumulativeBatteryCurrent": 0}})");
    recorder.start({ "--battery-pct", "--interval=1" });
    QVERIFY(recorder.waitForFinished());

    QCOMPARE(DemoProcess::lines(recorder.output()), DemoProcess::lines(output));
    QCOMPARE(DemoProcess::lines(recorder.error()), DemoProcess::lines(message));
    QCOMPARE(recorder.exitStatus(), QProcess::NormalExit);
    QCOMPARE(recorder.exitCode(), 1);
    QCOMPARE(recorder.trace(), calls);
}

void ChargeRecorderTest::timeStampLength_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QByteArray>("error");

    // In the locale built below November is abbreviated to 14 characters,
    // December to 15: the stamps are 31 and 32 characters long.
    QTest::newRow("stamp of 31 characters fits")
        << QByteArray("1793959500.25")
        << QByteArray("TIME, CAPA_PCT\n06 Novemberrrrrr 2026 10:05:00, 80\n") << QByteArray();
    QTest::newRow("stamp of 32 characters ends the recorder after the header") << QByteArray(
        "1796551500.25") << QByteArray("TIME, CAPA_PCT\n") << QByteArray("Can't format time\n");
}

void ChargeRecorderTest::timeStampLength()
{
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, output);
    QFETCH(QByteArray, error);

    QTemporaryDir locales;
    const QByteArray complaint = buildMonthLocale(locales.path(),
        { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Novemberrrrrr",
            "Decemberrrrrrrr" },
        DemoProcess::deadlineMs);
    QVERIFY2(complaint.isEmpty(), complaint.constData());

    DemoProcess recorder(program);
    prepare(recorder);
    recorder.setEnvironment("FAKECLOCK_START", start);
    recorder.setEnvironment("LOCPATH", locales.path());
    recorder.setEnvironment("LC_ALL", "xx_XX.UTF-8");
    recorder.setScenario(R"({"battery": {"remainingCapacityPct": 80}})");
    recorder.start({ "--battery-pct" });
    if (error.isEmpty()) {
        QVERIFY2(waitForLines(recorder, 2), recorder.error().constData());
        recorder.interrupt();
    } else {
        QVERIFY(recorder.waitForFinished());
        QCOMPARE(recorder.exitStatus(), QProcess::NormalExit);
        QCOMPARE(recorder.exitCode(), 1);
        // No getter was called for the row.
        QCOMPARE(recorder.trace(), QStringList({ ctor, dtor }));
    }
    QCOMPARE(DemoProcess::lines(recorder.output()), DemoProcess::lines(output));
    QCOMPARE(recorder.error(), error);
}

void ChargeRecorderTest::outputFailures_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QByteArray>("error");

    QTest::newRow("header on a full device")
        << R"(exec "$0" --battery-pct > /dev/full)" << QByteArray()
        << QByteArray("Can't write output: No space left on device\n");
    QTest::newRow("usage on a full device")
        << R"(exec "$0" --help > /dev/full)" << QByteArray()
        << QByteArray("Can't write output: No space left on device\n");
    // head leaves after the header and the first row; with SIGPIPE ignored
    // the next row's write fails instead of killing the recorder.
    QTest::newRow("reader gone while SIGPIPE is ignored")
        << R"(trap '' PIPE; "$0" --battery-pct --interval=1 | head -n 2; exit "${PIPESTATUS[0]}")"
        << QByteArray("TIME, CAPA_PCT\n" + stamp(0) + ", 80\n")
        << QByteArray("Can't write output: Broken pipe\n");
}

void ChargeRecorderTest::outputFailures()
{
    QFETCH(QString, script);
    QFETCH(QByteArray, output);
    QFETCH(QByteArray, error);

    // The recorder's environment as DemoProcess would set it, for a shell
    // that redirects its output.
    DemoProcess recorder(program);
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &name : env.keys()) {
        if (name.startsWith("KVSYSTEM_"))
            env.remove(name);
    }
    env.insert("KVSYSTEM_TRACE", dir.filePath("trace"));
    env.insert("LC_ALL", "C");
    env.insert("TZ", "UTC");
    env.insert("LD_PRELOAD", FAKECLOCK_PATH);
    env.insert("FAKECLOCK_START", "1796551500.25");
    QProcess shell;
    shell.setProcessEnvironment(env);
    shell.start("bash", { "-c", script, recorder.programPath() });
    QVERIFY(shell.waitForFinished(DemoProcess::deadlineMs));

    QCOMPARE(DemoProcess::lines(shell.readAllStandardOutput()), DemoProcess::lines(output));
    QCOMPARE(shell.readAllStandardError(), error);
    QCOMPARE(shell.exitStatus(), QProcess::NormalExit);
    QCOMPARE(shell.exitCode(), 1);
    QFile trace(dir.filePath("trace"));
    QVERIFY(trace.open(QIODevice::ReadOnly));
    QVERIFY(trace.readAll().endsWith(dtor.toLatin1() + "\n"));
}

void ChargeRecorderTest::virtualHandset()
{
    DemoProcess recorder(program);
    prepare(recorder);
    recorder.start({ "--numerical" });
    QVERIFY2(waitForLines(recorder, 2), recorder.error().constData());
    recorder.interrupt();

    const QStringList lines = firstLines(recorder, 2);
    QCOMPARE(lines.value(0), QString::fromLatin1(allHeader));
    const QStringList cells = lines.value(1).split(", ");
    QCOMPARE(cells.size(), 18);
    QCOMPARE(cells[0], QString::fromLatin1(stamp(0)));
    QVector<int> v;
    for (const QString &cell : cells.mid(1)) {
        bool ok = false;
        v << cell.toInt(&ok);
        QVERIFY2(ok, qPrintable(lines.value(1)));
    }
    enum {
        Charger,
        Charging,
        ChargingTime,
        State,
        Bars,
        Pct,
        MAh,
        Voltage,
        Current,
        Average,
        Coulomb,
        TalkCurrent,
        TalkTime,
        ActiveCurrent,
        ActiveTime,
        IdleCurrent,
        IdleTime
    };
    // A handset on a desk, unplugged, discharging.
    QCOMPARE(v[Charger], 0);
    QCOMPARE(v[Charging], 0);
    QCOMPARE(v[ChargingTime], 0);
    QVERIFY(v[Pct] > 15 && v[Pct] <= 100);
    QCOMPARE(v[State], 2);
    QVERIFY(v[Bars] > 0 && v[Bars] <= 7);
    QVERIFY(v[Voltage] > 3300 && v[Voltage] < 4400);
    QVERIFY(v[Current] < 0 && v[Average] < 0);
    QVERIFY(qAbs(v[Coulomb] - v[MAh]) <= 1);
    // Remaining times fit the charge and the average currents. The getters
    // are called one after another while the battery discharges, so the
    // charge may have dropped by a mAh between the two columns: at 11 mA
    // that alone is five minutes of idle time.
    for (const auto &[current, time] : { std::pair(TalkCurrent, TalkTime),
             std::pair(ActiveCurrent, ActiveTime), std::pair(IdleCurrent, IdleTime) }) {
        QVERIFY(v[current] > 0);
        const int slack = 1 + 60 / v[current];
        QVERIFY2(qAbs(v[time] - v[MAh] * 60 / v[current]) <= slack, qPrintable(lines.value(1)));
    }
}

QTEST_GUILESS_MAIN(ChargeRecorderTest)
#include "tst_chargerecorder.moc"
