// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// The scenario parser: what a file says ends up where the simulated device
// looks, and every mistake is named by its JSON path.

#include "backends/simulated/scenario.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <cstring>

#include <limits>

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
    void batteryStepsRepeatTheLast_data();
    void batteryStepsRepeatTheLast();
    void answersCallByCall_data();
    void answersCallByCall();
    void recordingMergesItsParts_data();
    void recordingMergesItsParts();
    void rejected_data();
    void rejected();
    void everyValueOfTheWrongType_data();
    void everyValueOfTheWrongType();
    void everyIntegerBeyond32Bits_data();
    void everyIntegerBeyond32Bits();
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

// A recording as the library loads a file: read part by part, a few bytes
// at a time, so that parts cross the reads.
std::optional<Scenario> parseStreamed(const QByteArray &json, QString *error)
{
    qsizetype at = qstrlen(recordingHeader);
    return parseRecording(
        [&](char *into, qint64 size) {
            const qint64 n = std::min<qint64>({ size, 5, json.size() - at });
            std::memcpy(into, json.constData() + at, size_t(n));
            at += n;
            return n;
        },
        error);
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
    QCOMPARE(compass.session.calls, QVector<int> { 0 });
    QCOMPARE(compass.sessionType.calls, QVector<int> { 1 });
    QCOMPARE(compass.start.calls, QVector<bool> { true });
    QCOMPARE(compass.lastError.calls, QVector<QString> { "busy" });
    QCOMPARE(compass.thread, Delivery::WorkerThread);
    QVERIFY(compass.readings.isEmpty());

    const SensorScenario &rotation = *sc.sensors[size_t(Sensor::Rotation)];
    QCOMPARE(rotation.hasZ.calls, QVector<bool> { false });
    QCOMPARE(rotation.thread, Delivery::MainThread);
    QVERIFY(!rotation.session.given());
    QCOMPARE(rotation.current.calls.size(), 1);
    QCOMPARE(rotation.current.answer(0).timestamp, quint64(9));
    QCOMPARE(rotation.current.answer(0).values[0], 1);
    QCOMPARE(rotation.current.answer(0).values[1], -2);
    QCOMPARE(rotation.current.answer(0).values[2], 3);
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
    for (const TimedSample &r : sc.sensors[size_t(Sensor::Als)]->readings.all()) {
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
    QCOMPARE(d.get.calls, QVector<int> { 2 });
    QCOMPARE(d.set.answer(0, 0, true), false);
    QCOMPARE(d.set.answer(0, 1, true), true);
    QCOMPARE(d.brightness.calls, QVector<int> { 9 });
    QVERIFY(!d.dimTimeout.given());
    QCOMPARE(d.blankingPause.calls, QVector<bool> { false });
    QCOMPARE(d.changes.thread, Delivery::WorkerThread);
    QCOMPARE(d.changes.changes.size(), 2);
    QCOMPARE(d.changes.changes[0].value, 1);
    QCOMPARE(d.changes.changes[1].at, qint64(50));

    const SystemStateScenario &s = *sc.systemState;
    QCOMPARE(s.set.answer(0, 1, true), false);
    QCOMPARE(s.onSet.value(2), (QVector<int> { 5, 6 }));
    QVERIFY(s.onSet.value(1).isEmpty());
    QCOMPARE(s.indications.changes.size(), 1);

    QCOMPARE(sc.activity->get.calls, QVector<int> { 0 });
    QVERIFY(!sc.thermal->get.given());
    QCOMPARE(sc.thermal->changes.changes.size(), 1);
    QVERIFY(sc.deviceMode);
}

void ScenarioParser::batteryStepsRepeatTheLast_data()
{
    QTest::addColumn<int>("calls"); // made before
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("callsAfter");

    QTest::newRow("first call") << 0 << 10 << 1;
    QTest::newRow("last step") << 2 << 30 << 2;
    // As after 2^31 calls with a counter that went on counting.
    QTest::newRow("a count at the largest int repeats the last, without overflow")
        << std::numeric_limits<int>::max() << 30 << std::numeric_limits<int>::max();
}

void ScenarioParser::batteryStepsRepeatTheLast()
{
    QFETCH(int, calls);
    QFETCH(int, value);
    QFETCH(int, callsAfter);
    const QVector<BatteryStep> steps { { 10, 0 }, { 20, 0 }, { 30, 0 } };
    int setCalls = calls;
    QCOMPARE(nextStep(steps, calls).value, value);
    QCOMPARE(calls, callsAfter);
    // A scripted set() counts its calls the same way.
    BoolAnswer set;
    set.calls = { false, false, true };
    QCOMPARE(set.next(&setCalls, 0, false), value == 30);
    QCOMPARE(setCalls, callsAfter);
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

void ScenarioParser::answersCallByCall_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QVector<int>>("sessions"); // the als session answers of calls 0 to 3

    QTest::newRow("one value answers every call")
        << QByteArray(R"({"als": {"session": 1}})") << QVector<int> { 1, 1, 1, 1 };
    QTest::newRow("an array answers call by call, then its last value repeats")
        << QByteArray(R"({"als": {"session": [2, 0, 1]}})") << QVector<int> { 2, 0, 1, 1 };
    QTest::newRow("a recording's parts add up call by call")
        << QByteArray(
               R"({"recording": [{"als": {"session": 0}}, {"als": {}}, {"als": {"session": [2, 1]}}]})")
        << QVector<int> { 0, 2, 1, 1 };
    QTest::newRow("a recording adds to the file's own answers")
        << QByteArray(R"({"als": {"session": 1}, "recording": [{"als": {"session": 0}}]})")
        << QVector<int> { 1, 0, 0, 0 };
}

void ScenarioParser::answersCallByCall()
{
    QFETCH(QByteArray, json);
    QFETCH(QVector<int>, sessions);
    const Answers<int> session = parse(json).sensors[size_t(Sensor::Als)]->session;
    int calls = 0;
    QVector<int> got;
    for (int i = 0; i < sessions.size(); ++i)
        got << session.next(&calls, -1);
    QCOMPARE(got, sessions);
}

void ScenarioParser::recordingMergesItsParts_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QVector<int>>("values"); // the als readings, in delivery order
    QTest::addColumn<QVector<qint64>>("at");
    QTest::addColumn<QVector<bool>>("sets"); // displayState.set, call by call

    const QByteArray header = recordingHeader;
    const QByteArray whole = header + R"({"als": {"readings": [{"at": 30, "value": 1}]}},
{"displayState": {"set": true}},
{"als": {"start": true}},
{"als": {"readings": [{"at": 0, "value": 2}]}},
{"displayState": {"set": [false]}},
)" + recordingClosing;
    QTest::newRow("parts in order; a sensor started again counts from zero")
        << whole << QVector<int> { 1, 2 } << QVector<qint64> { 30, 0 }
        << QVector<bool> { true, false };
    // A program killed while it added the last part leaves that part's first
    // bytes over the closing, or over blanks the recorder reserved.
    const int lastPart = whole.lastIndexOf("{\"displayState");
    QTest::newRow("killed in the middle of a part: the parts before it stand")
        << whole.left(lastPart + 7) + whole.mid(lastPart + 7 + 40).replace("{}]}", "    ")
        << QVector<int> { 1, 2 } << QVector<qint64> { 30, 0 } << QVector<bool> { true };
    QTest::newRow("killed after a part but before its closing")
        << whole.left(whole.size() - 3) + QByteArray(1000, ' ') << QVector<int> { 1, 2 }
        << QVector<qint64> { 30, 0 } << QVector<bool> { true, false };
    QTest::newRow("killed while adding the first part")
        << header + R"({"als": {"rea)" << QVector<int> {} << QVector<qint64> {}
        << QVector<bool> {};
}

void ScenarioParser::recordingMergesItsParts()
{
    QFETCH(QByteArray, json);
    QFETCH(QVector<int>, values);
    QFETCH(QVector<qint64>, at);
    QFETCH(QVector<bool>, sets);
    QString error;
    const std::optional<Scenario> streamed = parseStreamed(json, &error);
    QCOMPARE(error, QString());
    // Read whole or part by part, the same scenario.
    for (const Scenario &sc : { parse(json), *streamed }) {
    QVector<int> gotValues;
    QVector<qint64> gotAt;
    if (sc.sensors[size_t(Sensor::Als)]) {
        for (const TimedSample &r : sc.sensors[size_t(Sensor::Als)]->readings.all()) {
            gotValues << r.sample.values[0];
            gotAt << r.at;
        }
    }
    QCOMPARE(gotValues, values);
    QCOMPARE(gotAt, at);
    QCOMPARE(sc.displayState ? sc.displayState->set.calls : QVector<bool>(), sets);
    }
}

void ScenarioParser::rejected_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("error");

    QTest::newRow("a recording's part with a key misspelt")
        << QByteArray(recordingHeader) + "{\"als\": {}},\n{\"als\": {\"sesion\": 2}},\n{}]}\n"
        << "recording[1].als.sesion: unknown key";
    QTest::newRow("a recording's part with a key twice")
        << QByteArray(recordingHeader) + "{\"als\": {}, \"als\": {}},\n{}]}\n"
        << "recording[0].als: duplicate key";
    QTest::newRow("a recording's part with blanks around it, wrong at its first byte")
        << QByteArray(recordingHeader) + "{\"als\": {}},\n \t{5}, \n{}]}\n"
        << "invalid JSON at offset 33: unterminated object";
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
    QTest::newRow("a key given twice in an object inside an object without a key")
        << QByteArray(R"({{"a": 1, "a": 2}})") << "a: duplicate key";
    QTest::newRow("an empty key given twice")
        << QByteArray(R"({"": {"a": 1}, "als": {}, "": {"b": 2}})") << "\"\": duplicate key";
    QTest::newRow("an empty key given twice, then garbage")
        << QByteArray(R"({"als": {}, "": {}, "": []} x)") << "\"\": duplicate key";
    QTest::newRow("a key with a control character is quoted")
        << QByteArray("{\"a\\u0001b\": 1}") << "\"a\\u0001b\": unknown key";
    QTest::newRow("a key with a dot is quoted")
        << QByteArray(R"({"als": {"read.ings": []}})") << "als.\"read.ings\": unknown key";
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
    QTest::newRow("an empty array of answers")
        << QByteArray(R"({"thermal": {"get": []}})") << "thermal.get: expected at least one value";
    QTest::newRow("a part of a recording that is wrong")
        << QByteArray(R"({"recording": [{}, {"als": {"start": [true, 1]}}]})")
        << "recording[1].als.start[1]: expected true or false, not a number";
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
    // A recording read part by part names the same fault.
    if (json.startsWith(recordingHeader)) {
        message.clear();
        QVERIFY(!parseStreamed(json, &message));
        QCOMPARE(message, error);
    }
}

namespace {

// A file that uses every key the parser knows, each with a valid value.
const QByteArray everyKey = R"({
  "als": {"session": 2, "sessionType": 2, "start": true, "lastError": "", "thread": "main",
          "readings": [{"at": 0, "timestamp": 1, "value": 2}]},
  "proximity": {"readings": [{"at": 1, "timestamp": "2", "value": 3}]},
  "tap": {"session": [2, 0], "sessionType": [2], "start": [true, false], "lastError": ["", "x"],
          "readings": [{"timestamp": 1, "firstValue": 1, "secondValue": 2}]},
  "orientation": {"readings": [{"value": 6}]},
  "rotation": {"hasZ": [true, false], "current": [{"timestamp": 1, "x": 1, "y": 2, "z": 3}, {"x": 4}],
               "readings": [{"x": 1, "y": 2, "z": 3}]},
  "magnetometer": {"current": {"x": 1, "y": 2, "z": 3, "rx": 4, "ry": 5, "rz": 6, "level": 7},
                   "readings": [{"x": 1, "y": 2, "z": 3, "rx": 4, "ry": 5, "rz": 6, "level": 7}]},
  "compass": {"readings": [{"firstValue": 1, "secondValue": 2}], "thread": "worker"},
  "accelerometer": {"readings": [{"x": 1, "y": 2, "z": 3}]},
  "displayState": {"get": 1, "set": {"-1": true, "0": false, "1": true}, "brightness": 3, "dimTimeout": 30,
                   "blankingPause": true, "changes": [{"at": 1, "value": 0}], "thread": "worker"},
  "systemState": {"set": {"0": true, "1": false, "2": true}, "onSet": {"2": [5]},
                  "indications": [{"at": 1, "value": 3}], "thread": "main"},
  "activity": {"get": [1, 0], "changes": [{"at": 1, "value": 0}]},
  "thermal": {"get": 0, "changes": [{"at": 1, "value": 1}]},
  "deviceMode": {},
  "battery": {"chargerType": 0, "chargingState": [0], "remainingChargingTime": [{"value": 1, "delayMs": 0}],
              "batteryState": 2, "remainingCapacityBars": 5, "remainingCapacityPct": 80,
              "remainingCapacitymAh": 1000, "voltage": 3900, "batteryCurrent": -200,
              "cumulativeBatteryCurrent": 3600000, "averageTalkCurrent": 290, "remainingTalkTime": 60,
              "averageActiveCurrent": 210, "remainingActiveTime": 60, "averageIdleCurrent": 11,
              "remainingIdleTime": 60},
  "recording": [{"displayState": {"get": [2], "set": [false], "brightness": [4], "dimTimeout": [5],
                                  "blankingPause": [false]}},
                {"systemState": {"set": [true, false]}}, {}]
})";

struct Leaf
{
    QString path;
    QJsonValue value;
};

void collectLeaves(const QJsonValue &v, const QString &path, QVector<Leaf> &leaves)
{
    if (v.isObject()) {
        const QJsonObject o = v.toObject();
        for (auto it = o.begin(); it != o.end(); ++it)
            collectLeaves(*it, path.isEmpty() ? it.key() : path + '.' + it.key(), leaves);
        if (!path.isEmpty())
            leaves.append({ path, v });
    } else if (v.isArray()) {
        const QJsonArray a = v.toArray();
        for (int i = 0; i < a.size(); ++i)
            collectLeaves(a.at(i), path + QStringLiteral("[%1]").arg(i), leaves);
        leaves.append({ path, v });
    } else {
        leaves.append({ path, v });
    }
}

// Replaces the value at a path made of ".key" and "[i]" steps.
QJsonValue replaced(const QJsonValue &v, QString path, const QJsonValue &with)
{
    if (path.isEmpty())
        return with;
    if (path.startsWith('[')) {
        const int close = path.indexOf(']');
        const int i = path.mid(1, close - 1).toInt();
        QJsonArray a = v.toArray();
        a[i] = replaced(a.at(i), path.mid(close + 1), with);
        return a;
    }
    if (path.startsWith('.'))
        path = path.mid(1);
    int end = 0;
    while (end < path.size() && path.at(end) != '.' && path.at(end) != '[')
        ++end;
    // Keys such as "-1" in the state tables hold no separators.
    QJsonObject o = v.toObject();
    const QString key = path.left(end);
    o[key] = replaced(o.value(key), path.mid(end), with);
    return o;
}

QVector<Leaf> leaves()
{
    QVector<Leaf> all;
    collectLeaves(QJsonDocument::fromJson(everyKey).object(), QString(), all);
    return all;
}

QByteArray withValue(const QString &path, const QJsonValue &value)
{
    const QJsonValue doc
        = replaced(QJsonDocument::fromJson(everyKey).object(), path, value);
    return QJsonDocument(doc.toObject()).toJson(QJsonDocument::Compact);
}

} // namespace

void ScenarioParser::everyValueOfTheWrongType_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("json");
    QString error;
    QVERIFY2(parseScenario(everyKey, &error).has_value(), qPrintable(error));
    for (const Leaf &leaf : leaves()) {
        // Each value becomes one that no key of its kind accepts.
        const QJsonValue wrong = leaf.value.isObject() ? QJsonValue("x")
            : leaf.value.isArray()                     ? QJsonValue(QJsonValue::Null)
            : leaf.value.isString()                    ? QJsonValue(true)
                                                       : QJsonValue(QJsonArray {});
        QTest::newRow(qPrintable(leaf.path)) << leaf.path << withValue(leaf.path, wrong);
    }
}

void ScenarioParser::everyValueOfTheWrongType()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, json);
    QString error;
    QVERIFY2(!parseScenario(json, &error), json.constData());
    // The error names the value's own path, or (for a value inside an object
    // that now has a key of the wrong kind) a path below it.
    QVERIFY2(error.startsWith(path + ": expected") || error.startsWith(path + ".x: unknown key"),
        qPrintable(error));
}

void ScenarioParser::everyIntegerBeyond32Bits_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("json");
    for (const Leaf &leaf : leaves()) {
        if (!leaf.value.isDouble() || leaf.path.endsWith(QLatin1String("timestamp"))
            || leaf.path.endsWith(QLatin1String(".at")))
            continue; // time stamps are 64 bits, delivery times up to 2^53 ms
        QTest::newRow(qPrintable(leaf.path)) << leaf.path << withValue(leaf.path, 4294967296.0);
    }
}

void ScenarioParser::everyIntegerBeyond32Bits()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, json);
    QString error;
    QVERIFY(!parseScenario(json, &error));
    QCOMPARE(error,
        path + ": 4294967296 is out of range (" + (path.endsWith("delayMs") ? "0" : "-2147483648")
            + " to 2147483647)");
}

QTEST_GUILESS_MAIN(ScenarioParser)
#include "tst_scenario.moc"
