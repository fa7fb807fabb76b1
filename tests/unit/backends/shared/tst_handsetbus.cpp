// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// What the shared handset's bus messages may carry, and the battery the
// joined programs see from the values held.

#include "backends/shared/handsetbus.h"
#include "backends/shared/handsetstate.h"

#include <QTest>

#include <climits>

using namespace Vorna::Backend;
using namespace Vorna::Backend::HandsetBus;

Q_DECLARE_METATYPE(BatteryValue)

namespace {

QVariantList message(const QStringList &names, const QList<int> &fields)
{
    return { QVariant(names), QVariant::fromValue(fields) };
}

} // namespace

class TestHandsetBus : public QObject
{
    Q_OBJECT

private slots:
    void decoding_data()
    {
        QTest::addColumn<QVariantList>("arguments");
        QTest::addColumn<QString>("error"); // empty: accepted
        QTest::newRow("proximity near, its upper limit")
            << message({ "proximity" }, { 1 }) << QString();
        QTest::newRow("proximity just above its limit")
            << message({ "proximity" }, { 2 }) << "proximity: 2 is out of range (0 to 1)";
        QTest::newRow("proximity just below its limit")
            << message({ "proximity" }, { -1 }) << "proximity: -1 is out of range (0 to 1)";
        QTest::newRow("an acceleration at its lower limit")
            << message({ "accelerometer" }, { -160000, 0, 160000 }) << QString();
        QTest::newRow("an acceleration just beyond it") << message({ "accelerometer" },
            { 0, -160001, 0 }) << "accelerometer: -160001 is out of range (-160000 to 160000)";
        QTest::newRow("two values in one message")
            << message({ "als", "thermal" }, { 300, 3 }) << QString();
        QTest::newRow("a thermal state after the last one")
            << message({ "als", "thermal" }, { 300, 4 }) << "thermal: 4 is out of range (0 to 3)";
        QTest::newRow("a battery value handed back to the model")
            << message({ "battery.percentage" }, { INT_MIN }) << QString();
        QTest::newRow("the model's mark on a sensor")
            << message({ "als" }, { INT_MIN }) << "als: -2147483648 is out of range (0 to 1000000)";
        QTest::newRow("a magnetometer reading one field short") << message({ "magnetometer" },
            { 1, 2, 3, 4, 5, 6 }) << "magnetometer: 6 numbers where 7 are needed";
        QTest::newRow("numbers left over")
            << message({ "als" }, { 1, 2 }) << "1 numbers without a name";
        QTest::newRow("an unknown name, escaped")
            << message({ "als\n\x1b" }, { 1 }) << "unknown value 'als\\n\\x1b'";
        QTest::newRow("an empty message") << message({}, {}) << QString();
        const QString types = "expected a list of names and a list of 32-bit integers";
        QTest::newRow("numbers that are not integers")
            << QVariantList { QStringList { "als" }, QVariant(qQNaN()) } << types;
        QTest::newRow("names that are one text")
            << QVariantList { QString("als"), QVariant::fromValue(QList<int> { 1 }) } << types;
        QTest::newRow("a third argument") << (message({ "als" }, { 1 }) << QVariant(1)) << types;
        QTest::newRow("one argument only") << QVariantList { QStringList { "als" } } << types;
    }

    void decoding()
    {
        QFETCH(QVariantList, arguments);
        QFETCH(QString, error);
        QString said;
        const std::optional<QVector<Value>> values = decode(arguments, &said);
        QCOMPARE(said, error);
        QCOMPARE(bool(values), error.isEmpty());
        if (values) { // what is encoded decodes to the same
            const QVariantList encoded = encode(*values);
            QCOMPARE(encoded.value(0).toStringList(), arguments[0].toStringList());
            QCOMPARE(encoded.value(1).value<QList<int>>(), arguments[1].value<QList<int>>());
        }
    }

    void heldBattery_data()
    {
        QTest::addColumn<QStringList>("held");
        QTest::addColumn<QList<int>>("fields");
        QTest::addColumn<BatteryValue>("value");
        QTest::addColumn<int>("expected");
        const QStringList pct { "battery.percentage" };
        QTest::newRow("5 %") << pct << QList<int> { 5 } << BatteryValue::RemainingCapacityPct << 5;
        QTest::newRow("5 % in mAh")
            << pct << QList<int> { 5 } << BatteryValue::RemainingCapacitymAh << 66;
        QTest::newRow("5 % is one bar")
            << pct << QList<int> { 5 } << BatteryValue::RemainingCapacityBars << 1;
        QTest::newRow("3 % is empty") << pct << QList<int> { 3 } << BatteryValue::BatteryState << 0;
        QTest::newRow("4 % is low") << pct << QList<int> { 4 } << BatteryValue::BatteryState << 1;
        QTest::newRow("15 % is low") << pct << QList<int> { 15 } << BatteryValue::BatteryState << 1;
        QTest::newRow("16 % is ok") << pct << QList<int> { 16 } << BatteryValue::BatteryState << 2;
        QTest::newRow("100 % is full")
            << pct << QList<int> { 100 } << BatteryValue::BatteryState << 3;
        QTest::newRow("0 % has no time left")
            << pct << QList<int> { 0 } << BatteryValue::RemainingActiveTime << 0;
        QTest::newRow("50 % lasts 2 h 16 min of talk")
            << pct << QList<int> { 50 } << BatteryValue::RemainingTalkTime << 8193;
        const QStringList both { "battery.percentage", "battery.charger" };
        QTest::newRow("on a wall charger at 50 % it charges")
            << both << QList<int> { 50, 1 } << BatteryValue::ChargingState << 1;
        QTest::newRow("a wall charger at 50 % puts in 650 mA")
            << both << QList<int> { 50, 1 } << BatteryValue::BatteryCurrent << 650;
        QTest::newRow("a USB charger is told as such")
            << both << QList<int> { 50, 2 } << BatteryValue::ChargerType << 2;
        QTest::newRow("full on the charger it stops charging")
            << both << QList<int> { 100, 1 } << BatteryValue::ChargingState << 0;
        QTest::newRow("off the charger at 50 % it does not charge")
            << both << QList<int> { 50, 0 } << BatteryValue::ChargingState << 0;
        QTest::newRow("a held voltage") << QStringList { "battery.voltage" } << QList<int> { 3700 }
                                        << BatteryValue::Voltage << 3700;
        QTest::newRow("a held current") << QStringList { "battery.current" } << QList<int> { -500 }
                                        << BatteryValue::BatteryCurrent << -500;
        QTest::newRow("nothing held: the model at its start")
            << QStringList {} << QList<int> {} << BatteryValue::RemainingCapacityPct << 80;
    }

    void heldBattery()
    {
        QFETCH(QStringList, held);
        QFETCH(QList<int>, fields);
        QFETCH(BatteryValue, value);
        QFETCH(int, expected);
        QString error;
        const std::optional<QVector<Value>> values = decode(message(held, fields), &error);
        QVERIFY2(values, qPrintable(error));
        HandsetState state;
        for (const Value &v : *values)
            state.apply(v);
        QCOMPARE(state.battery(value, 0, 0.0), expected);
    }
};

QTEST_GUILESS_MAIN(TestHandsetBus)
#include "tst_handsetbus.moc"
