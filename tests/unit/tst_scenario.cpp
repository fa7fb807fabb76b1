// The scenario parser: what a file says ends up where the simulated device
// looks, and every mistake is named by its JSON path.

#include "scenario.h"

#include <QtTest>

using namespace Vorna::Backend;

Q_DECLARE_METATYPE(Vorna::Backend::Sensor)

class ScenarioParser : public QObject
{
    Q_OBJECT
private slots:
    void emptyFileLeavesEverythingToDefaults();
    void sensorKeys();
    void readingFieldsLandInRecordOrder_data();
    void readingFieldsLandInRecordOrder();
    void readingsSortedByTimeKeepingFileOrder();
    void timestamps_data();
    void timestamps();
    void systemStateClasses();
    void battery();
    void rejected_data();
    void rejected();
};

namespace {

Scenario parse(const QByteArray &json)
{
    QString error;
    const std::optional<Scenario> sc = parseScenario(json, &error);
    if (!sc)
        qFatal("unexpected parse error: %s", qPrintable(error));
    return *sc;
}

} // namespace

void ScenarioParser::emptyFileLeavesEverythingToDefaults()
{
    const Scenario sc = parse("{}");
    for (const auto &sensor : sc.sensors)
        QVERIFY(!sensor);
    QVERIFY(!sc.displayState);
    QVERIFY(!sc.systemState);
    QVERIFY(!sc.activity);
    QVERIFY(!sc.thermal);
    for (const auto &getter : sc.battery)
        QVERIFY(getter.isEmpty());
}

void ScenarioParser::sensorKeys()
{
    const Scenario sc = parse(R"({"compass": {"session": 0, "sessionType": 1, "start": true,
                                              "lastError": "busy", "thread": "worker"},
                                  "rotation": {"hasZ": false, "current": {"timestamp": 9, "x": 1, "y": -2, "z": 3}}})");
    const SensorScenario &compass = *sc.sensors[size_t(Sensor::Compass)];
    QCOMPARE(compass.session, std::optional<int>(0));
    QCOMPARE(compass.sessionType, std::optional<int>(1));
    QCOMPARE(compass.start, std::optional<bool>(true));
    QCOMPARE(compass.lastError, std::optional<QString>("busy"));
    QCOMPARE(compass.thread, Delivery::WorkerThread);
    QVERIFY(compass.readings.isEmpty());

    const SensorScenario &rotation = *sc.sensors[size_t(Sensor::Rotation)];
    QCOMPARE(rotation.hasZ, false);
    QCOMPARE(rotation.thread, Delivery::MainThread);
    QVERIFY(!rotation.session);
    QVERIFY(rotation.current);
    QCOMPARE(rotation.current->timestamp, quint64(9));
    QCOMPARE(rotation.current->values[0], 1);
    QCOMPARE(rotation.current->values[1], -2);
    QCOMPARE(rotation.current->values[2], 3);
}

void ScenarioParser::readingFieldsLandInRecordOrder_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<Sensor>("kind");
    QTest::addColumn<QVector<int>>("values");

    QTest::newRow("magnetometer keeps the level last") << QByteArray(
        R"({"magnetometer": {"readings": [{"level": 7, "rz": 6, "ry": 5, "rx": 4, "z": 3, "y": 2, "x": 1}]}})")
                                                       << Sensor::Magnetometer
                                                       << QVector<int> { 1, 2, 3, 4, 5, 6, 7 };
    QTest::newRow("tap values in order")
        << QByteArray(R"({"tap": {"readings": [{"secondValue": 2, "firstValue": 1}]}})")
        << Sensor::Tap << QVector<int> { 1, 2, 0, 0, 0, 0, 0 };
    QTest::newRow("fields left out are zero")
        << QByteArray(R"({"accelerometer": {"readings": [{"y": -1000}]}})") << Sensor::Accelerometer
        << QVector<int> { 0, -1000, 0, 0, 0, 0, 0 };
}

void ScenarioParser::readingFieldsLandInRecordOrder()
{
    QFETCH(QByteArray, json);
    QFETCH(Sensor, kind);
    QFETCH(QVector<int>, values);
    const Sample s = parse(json).sensors[size_t(kind)]->readings.at(0).sample;
    QCOMPARE(QVector<int>(s.values.begin(), s.values.end()), values);
}

void ScenarioParser::readingsSortedByTimeKeepingFileOrder()
{
    const Scenario sc
        = parse(R"({"als": {"readings": [{"at": 30, "value": 1}, {"at": 10, "value": 2},
                                                       {"at": 30, "value": 3}, {"value": 4}]}})");
    QVector<qint64> at;
    QVector<int> values;
    for (const TimedSample &r : sc.sensors[size_t(Sensor::Als)]->readings) {
        at << r.at;
        values << r.sample.values[0];
    }
    QCOMPARE(at, (QVector<qint64> { 0, 10, 30, 30 }));
    QCOMPARE(values, (QVector<int> { 4, 2, 1, 3 }));
}

void ScenarioParser::timestamps_data()
{
    QTest::addColumn<QByteArray>("timestamp");
    QTest::addColumn<quint64>("expected");
    QTest::newRow("a plain number") << QByteArray("1234") << quint64(1234);
    QTest::newRow("the largest exact number")
        << QByteArray("9007199254740991") << quint64(9007199254740991ull);
    QTest::newRow("digits above 2^53 as text")
        << QByteArray(R"("9007199254740993")") << quint64(9007199254740993ull);
    QTest::newRow("every bit set, as text")
        << QByteArray(R"("18446744073709551615")") << ~quint64(0);
    QTest::newRow("a negative number keeps its bits") << QByteArray("-1") << ~quint64(0);
    QTest::newRow("the most negative 64-bit value, as text")
        << QByteArray(R"("-9223372036854775808")") << (quint64(1) << 63);
}

void ScenarioParser::timestamps()
{
    QFETCH(QByteArray, timestamp);
    QFETCH(quint64, expected);
    const Scenario sc = parse(R"({"als": {"readings": [{"timestamp": )" + timestamp + "}]}}");
    QCOMPARE(sc.sensors[size_t(Sensor::Als)]->readings.at(0).sample.timestamp, expected);
}

void ScenarioParser::systemStateClasses()
{
    const Scenario sc = parse(R"({
        "displayState": {"get": 2, "set": {"0": false}, "brightness": 9, "blankingPause": false,
                         "changes": [{"at": 50, "value": -1}, {"at": 10, "value": 1}], "thread": "worker"},
        "systemState": {"set": false, "onSet": {"2": [5, 6]}, "indications": [{"value": 3}]},
        "activity": {"get": 0},
        "thermal": {"changes": [{"at": 1, "value": 2}]},
        "deviceMode": {}})");
    const DisplayScenario &d = *sc.displayState;
    QCOMPARE(d.get, std::optional<int>(2));
    QCOMPARE(d.set.answer(0, true), false);
    QCOMPARE(d.set.answer(1, true), true);
    QCOMPARE(d.brightness, std::optional<int>(9));
    QVERIFY(!d.dimTimeout);
    QCOMPARE(d.blankingPause, std::optional<bool>(false));
    QCOMPARE(d.changes.thread, Delivery::WorkerThread);
    QCOMPARE(d.changes.changes.size(), 2);
    QCOMPARE(d.changes.changes[0].value, 1);
    QCOMPARE(d.changes.changes[1].at, qint64(50));

    const SystemStateScenario &s = *sc.systemState;
    QCOMPARE(s.set.answer(1, true), false);
    QCOMPARE(s.onSet.value(2), (QVector<int> { 5, 6 }));
    QVERIFY(s.onSet.value(1).isEmpty());
    QCOMPARE(s.indications.changes.size(), 1);

    QCOMPARE(sc.activity->get, std::optional<int>(0));
    QVERIFY(!sc.thermal->get);
    QCOMPARE(sc.thermal->changes.changes.size(), 1);
    QVERIFY(sc.deviceMode);
}

void ScenarioParser::battery()
{
    const Scenario sc = parse(
        R"({"battery": {"chargerType": [-1, 7], "voltage": [3900, {"value": 3890, "delayMs": 2500}],
                                              "remainingIdleTime": 5}})");
    const auto &charger = sc.battery[size_t(BatteryValue::ChargerType)];
    QCOMPARE(charger.size(), 2);
    QCOMPARE(charger[0].value, -1);
    QCOMPARE(charger[1].value, 7);
    const auto &voltage = sc.battery[size_t(BatteryValue::Voltage)];
    QCOMPARE(voltage[1].value, 3890);
    QCOMPARE(voltage[1].delayMs, 2500);
    QCOMPARE(sc.battery[size_t(BatteryValue::RemainingIdleTime)].at(0).value, 5);
    QVERIFY(sc.battery[size_t(BatteryValue::BatteryCurrent)].isEmpty());
}

void ScenarioParser::rejected_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("error");

    QTest::newRow("trailing garbage")
        << QByteArray("{} x") << "invalid JSON at offset 3: garbage at the end of the document";
    QTest::newRow("a class given twice")
        << QByteArray(R"({"thermal": {"get": 1}, "als": {}, "thermal": {"get": 2}})")
        << "thermal: duplicate key";
    QTest::newRow("a key given twice deep inside")
        << QByteArray(R"({"als": {"readings": [{"value": 1}, {"value": 2, "at": 1, "value": 3}]}})")
        << "als.readings[1].value: duplicate key";
    QTest::newRow("a key given twice, once with an escape") << QByteArray(
        R"({"battery": {"voltage": 1, "voltage": 2}})") << "battery.voltage: duplicate key";
    QTest::newRow("the same key in sibling objects is fine, a wrong type still counts")
        << QByteArray(R"({"als": {"readings": [{"value": 1}, {"value": "x"}]}})")
        << "als.readings[1].value: expected an integer, not a string";
    QTest::newRow("a sensor that is not an object")
        << QByteArray(R"({"als": []})") << "als: expected an object, not an array";
    QTest::newRow("readings that are not an array") << QByteArray(
        R"({"als": {"readings": {}}})") << "als.readings: expected an array, not an object";
    QTest::newRow("hasZ on a sensor without it")
        << QByteArray(R"({"compass": {"hasZ": true}})") << "compass.hasZ: unknown key";
    QTest::newRow("current reading with a delivery time") << QByteArray(
        R"({"magnetometer": {"current": {"at": 5}}})") << "magnetometer.current.at: unknown key";
    QTest::newRow("start given as a number") << QByteArray(R"({"tap": {"start": 1}})")
                                             << "tap.start: expected true or false, not a number";
    QTest::newRow("error text given as a number") << QByteArray(
        R"({"tap": {"lastError": 1}})") << "tap.lastError: expected a string, not a number";
    QTest::newRow("empty time stamp text")
        << QByteArray(R"({"als": {"readings": [{"timestamp": ""}]}})")
        << "als.readings[0].timestamp: \"\" is not a 64-bit integer";
    QTest::newRow("time stamp text below -2^63")
        << QByteArray(R"({"als": {"readings": [{"timestamp": "-9223372036854775809"}]}})")
        << "als.readings[0].timestamp: \"-9223372036854775809\" is not a 64-bit integer";
    QTest::newRow("display state outside the table") << QByteArray(
        R"({"displayState": {"set": {"2": true}}})") << "displayState.set.2: unknown key";
    QTest::newRow("system request outside the table") << QByteArray(
        R"({"systemState": {"onSet": {"-1": [1]}}})") << "systemState.onSet.-1: unknown key";
    QTest::newRow("indication beyond 32 bits")
        << QByteArray(R"({"systemState": {"onSet": {"1": [1, 4294967296]}}})")
        << "systemState.onSet.1[1]: 4294967296 is out of range (-2147483648 to 2147483647)";
    QTest::newRow("change without an object")
        << QByteArray(R"({"thermal": {"changes": [1]}})")
        << "thermal.changes[0]: expected an object, not a number";
    QTest::newRow("negative change time")
        << QByteArray(R"({"activity": {"changes": [{"at": -5, "value": 0}]}})")
        << "activity.changes[0].at: -5 is out of range (0 to 9007199254740991)";
    QTest::newRow("device mode with a member")
        << QByteArray(R"({"deviceMode": {"get": 1}})") << "deviceMode.get: unknown key";
    QTest::newRow("unknown battery getter")
        << QByteArray(R"({"battery": {"temperature": 30}})") << "battery.temperature: unknown key";
    QTest::newRow("battery without values") << QByteArray(R"({"battery": {"voltage": []}})")
                                            << "battery.voltage: expected at least one value";
    QTest::newRow("negative battery delay")
        << QByteArray(R"({"battery": {"voltage": [{"value": 1, "delayMs": -1}]}})")
        << "battery.voltage[0].delayMs: -1 is out of range (0 to 2147483647)";
    QTest::newRow("battery value given as text")
        << QByteArray(R"({"battery": {"voltage": "3900"}})")
        << "battery.voltage: expected an integer or an array, not a string";
}

void ScenarioParser::rejected()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, error);
    QString message;
    QVERIFY(!parseScenario(json, &message));
    QCOMPARE(message, error);
}

QTEST_GUILESS_MAIN(ScenarioParser)
#include "tst_scenario.moc"
