// The virtual handset: values a person would believe, that agree with each other.

#include "backends/simulated/virtualhandset.h"

#include <QtTest>

#include <cmath>

using namespace Vorna::Backend;
namespace Model = Vorna::Backend::VirtualHandset;

class VirtualHandsetTest : public QObject
{
    Q_OBJECT
private slots:
    void batteryValuesAgree_data();
    void batteryValuesAgree();
    void batteryDischargesSteadily();
    void accelerometerFeelsGravity();
    void headingTurnsAndCalibrationRises();
    void sensorValuesInTheirRanges();
    void cyclesFlipAtTheirMoments();
};

static int battery(BatteryValue v, double s, int mode = 0)
{
    return Model::battery(v, mode, s);
}

void VirtualHandsetTest::batteryValuesAgree_data()
{
    QTest::addColumn<double>("seconds");
    QTest::newRow("at the start") << 0.0;
    QTest::newRow("after a minute") << 60.0;
    QTest::newRow("after two hours") << 7200.0;
}

void VirtualHandsetTest::batteryValuesAgree()
{
    QFETCH(double, seconds);
    const int mAh = battery(BatteryValue::RemainingCapacitymAh, seconds);
    const int cumulative = battery(BatteryValue::CumulativeBatteryCurrent, seconds);
    const int pct = battery(BatteryValue::RemainingCapacityPct, seconds);
    QCOMPARE(mAh, cumulative / 3600); // the coulomb counter is the charge left
    QVERIFY(pct > 0 && pct <= 100);
    QCOMPARE(battery(BatteryValue::RemainingCapacityBars, seconds), (pct * 7 + 99) / 100);
    QVERIFY(battery(BatteryValue::BatteryCurrent, seconds) < 0); // discharging
    const int voltage = battery(BatteryValue::Voltage, seconds);
    QVERIFY(voltage > 3300 && voltage < 4250);
    // Remaining times follow the charge left and the use's current.
    QCOMPARE(battery(BatteryValue::RemainingTalkTime, seconds),
        int(mAh * 3600.0 / battery(BatteryValue::AverageTalkCurrent, seconds)));
    QVERIFY(battery(BatteryValue::RemainingIdleTime, seconds)
        > battery(BatteryValue::RemainingActiveTime, seconds));
    QVERIFY(battery(BatteryValue::RemainingTalkTime, seconds, 1)
        > battery(BatteryValue::RemainingTalkTime, seconds, 0));
}

void VirtualHandsetTest::batteryDischargesSteadily()
{
    // The average current from the counter over a minute matches the current read.
    const int before = battery(BatteryValue::CumulativeBatteryCurrent, 600);
    const int after = battery(BatteryValue::CumulativeBatteryCurrent, 660);
    const int average = (after - before) / 60;
    QVERIFY2(average < -150 && average > -260, qPrintable(QString::number(average)));
    QVERIFY(std::abs(average - battery(BatteryValue::BatteryCurrent, 630)) < 40);
    QVERIFY(battery(BatteryValue::RemainingCapacityPct, 3 * 3600)
        < battery(BatteryValue::RemainingCapacityPct, 0));
}

void VirtualHandsetTest::accelerometerFeelsGravity()
{
    for (qint64 ms = 0; ms < 60000; ms += 100) {
        const Sample s = Model::reading(Sensor::Accelerometer, ms, 0);
        const double g = std::sqrt(double(s.values[0]) * s.values[0]
            + double(s.values[1]) * s.values[1] + double(s.values[2]) * s.values[2]);
        QVERIFY2(g > 900 && g < 1100, qPrintable(QString::number(g)));
    }
}

void VirtualHandsetTest::headingTurnsAndCalibrationRises()
{
    int level = 0;
    QSet<int> headings;
    for (qint64 ms = 0; ms < 60000; ms += 100) {
        const Sample s = Model::reading(Sensor::Compass, ms, 0);
        QVERIFY(s.values[0] >= 0 && s.values[0] < 360);
        QVERIFY(s.values[1] >= level); // never falls back
        level = s.values[1];
        headings << s.values[0] / 10;
        QCOMPARE(Model::reading(Sensor::Magnetometer, ms, 0).values[6], level);
    }
    QCOMPARE(level, 3);
    QCOMPARE(headings.size(), 36); // a whole turn
}

void VirtualHandsetTest::sensorValuesInTheirRanges()
{
    for (qint64 ms = 0; ms < 120000; ms += 250) {
        QVERIFY(Model::reading(Sensor::Als, ms, 0).values[0] >= 0);
        const int proximity = Model::reading(Sensor::Proximity, ms, 0).values[0];
        QVERIFY(proximity == 0 || proximity == 1);
        const int side = Model::reading(Sensor::Orientation, ms, 0).values[0];
        QVERIFY(side >= 1 && side <= 6);
        const Sample tap = Model::reading(Sensor::Tap, ms, 0);
        QVERIFY(tap.values[0] >= 0 && tap.values[0] <= 2);
        QVERIFY(tap.values[1] == 0 || tap.values[1] == 1);
    }
    QCOMPARE(Model::reading(Sensor::Als, 5, 42).timestamp, quint64(42));
}

void VirtualHandsetTest::cyclesFlipAtTheirMoments()
{
    const Model::Cycle display = Model::displayCycle();
    QCOMPARE(display.at(0), 1);
    QCOMPARE(display.at(display.first - 1), 1);
    QCOMPARE(display.at(display.first), 0);
    QCOMPARE(display.at(display.first + display.every), 1);
    QCOMPARE(display.afterChange(0), 0);
}

QTEST_GUILESS_MAIN(VirtualHandsetTest)
#include "tst_virtualhandset.moc"
