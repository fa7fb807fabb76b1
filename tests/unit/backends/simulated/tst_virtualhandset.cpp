// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// The virtual handset: values a person would believe, that agree with each other.

#include "backends/simulated/virtualhandset.h"
#include "kvbattery.h"

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
    void batteryGoesThroughDays_data();
    void batteryGoesThroughDays();
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
    // Worked by hand from the model's description: 1320 mAh full, 80 % at
    // the start, 210 mA drawn with a 35 mA swing every 240 s; talk time is
    // the charge over 290 mA (250 mA in power-save mode); bars round up.
    QTest::addColumn<double>("seconds");
    QTest::addColumn<int>("mAh");
    QTest::addColumn<int>("pct");
    QTest::addColumn<int>("bars");
    QTest::addColumn<int>("talk");
    QTest::addColumn<int>("talkPowersave");
    QTest::newRow("at the start, 80 %: six bars of seven")
        << 0.0 << 1056 << 80 << 6 << 13108 << 15206;
    // 3801600 - 210 * 14000 - 35 * 240 / 2pi * (1 - cos(2pi * 14000 / 240)) mA·s
    QTest::newRow("near empty, 18 %: still two bars")
        << 14000.0 << 238 << 18 << 2 << 2954 << 3427;
    QTest::newRow("full on the charger: every bar")
        << 25000.0 << 1320 << 100 << 7 << 16386 << 19008;
}

void VirtualHandsetTest::batteryValuesAgree()
{
    QFETCH(double, seconds);
    QFETCH(int, mAh);
    QFETCH(int, pct);
    QFETCH(int, bars);
    QFETCH(int, talk);
    QFETCH(int, talkPowersave);
    QCOMPARE(battery(BatteryValue::RemainingCapacitymAh, seconds), mAh);
    // The coulomb counter is the charge left.
    QCOMPARE(battery(BatteryValue::CumulativeBatteryCurrent, seconds) / 3600, mAh);
    QCOMPARE(battery(BatteryValue::RemainingCapacityPct, seconds), pct);
    QCOMPARE(battery(BatteryValue::RemainingCapacityBars, seconds), bars);
    QCOMPARE(battery(BatteryValue::RemainingTalkTime, seconds), talk);
    QCOMPARE(battery(BatteryValue::RemainingTalkTime, seconds, Vorna::KvBattery::PowersaveMode),
        talkPowersave);
    const int voltage = battery(BatteryValue::Voltage, seconds);
    QVERIFY(voltage > 3300 && voltage <= 4200);
    QVERIFY(battery(BatteryValue::RemainingIdleTime, seconds)
        > battery(BatteryValue::RemainingActiveTime, seconds));
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

void VirtualHandsetTest::batteryGoesThroughDays_data()
{
    QTest::addColumn<double>("from"); // days after the start
    QTest::newRow("the first day") << 0.0;
    QTest::newRow("the second day") << 1.0;
    QTest::newRow("a week later") << 7.0;
    QTest::newRow("a year later") << 365.0;
}

void VirtualHandsetTest::batteryGoesThroughDays()
{
    // A day sampled every 30 s, as a charge-recorder log overnight would:
    // never below empty, plugged in when low, charged back to full, and
    // every value plausible and in agreement with the others.
    QFETCH(double, from);
    const double day = 24 * 3600;
    const double step = 30;
    int plugs = 0;
    int fulls = 0;
    int lowest = 100;
    int previousCharge = 0;
    int previousCharger = -1;
    int previousCharging = -1;
    int previousToFull = 0;
    int previousState = -1;
    for (double s = from * day; s < (from + 1) * day; s += step) {
        const QString at = QStringLiteral("at %1 s").arg(s, 0, 'f', 0);
        const int mAh = battery(BatteryValue::RemainingCapacitymAh, s);
        const int pct = battery(BatteryValue::RemainingCapacityPct, s);
        const int voltage = battery(BatteryValue::Voltage, s);
        const int current = battery(BatteryValue::BatteryCurrent, s);
        const int charger = battery(BatteryValue::ChargerType, s);
        const int charging = battery(BatteryValue::ChargingState, s);
        const int toFull = battery(BatteryValue::RemainingChargingTime, s);
        const int state = battery(BatteryValue::BatteryState, s);
        const int charge = battery(BatteryValue::CumulativeBatteryCurrent, s);
        QVERIFY2(mAh >= 0 && mAh <= 1320, qPrintable(at));
        QVERIFY2(pct >= 14 && pct <= 100, qPrintable(at));
        QVERIFY2(voltage > 3500 && voltage <= 4200, qPrintable(at));
        QVERIFY2(battery(BatteryValue::RemainingTalkTime, s) >= 0, qPrintable(at));
        QCOMPARE(mAh, charge / 3600);
        lowest = std::min(lowest, pct);
        if (charger == 0) { // on its own: discharging
            QVERIFY2(current < -150 && current > -260 && charging == 0 && toFull == 0, qPrintable(at));
        } else if (charging == 1) { // on the wall charger, filling
            QVERIFY2(charger == 1 && current >= 0 && current <= 650 && toFull > 0, qPrintable(at));
            QVERIFY2(toFull < 4 * 3600, qPrintable(at));
        } else { // on the charger, full
            QVERIFY2(charger == 1 && current == 0 && pct == 100 && state == 3, qPrintable(at));
        }
        // The counter moves as the current says, and never jumps, also
        // where the charger was just plugged in or out.
        QVERIFY2(std::abs(charge - previousCharge) <= 650 * step || s == from * day, qPrintable(at));
        // Time to full counts down with the clock, through the taper, to
        // nothing when full.
        if (charging == 1 && previousCharging == 1)
            QVERIFY2(std::abs(previousToFull - toFull - step) <= 1, qPrintable(at));
        if (charging == 0 && previousCharging == 1)
            QVERIFY2(previousToFull <= step, qPrintable(at));
        if (charger == previousCharger) {
            const double average = (charge - previousCharge) / step;
            QVERIFY2(std::abs(average - current) < 40,
                qPrintable(at + QStringLiteral(": %1 against %2").arg(average).arg(current)));
        }
        if (previousCharger == 0 && charger == 1) {
            ++plugs;
            QVERIFY2(state == 1, qPrintable(at)); // plugged in when low
        }
        if (previousState != 3 && state == 3)
            ++fulls;
        previousCharge = charge;
        previousCharging = charging;
        previousToFull = toFull;
        previousCharger = charger;
        previousState = state;
    }
    QVERIFY(plugs >= 2);
    QVERIFY(fulls >= 2);
    QVERIFY(lowest <= 16);
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
