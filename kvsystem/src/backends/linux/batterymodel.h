// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_BATTERYMODEL_H
#define KVSYSTEM_SRC_BATTERYMODEL_H

// What the battery getters answer, decided from plain numbers: the rules
// by which upowerd 0.99.20 turns the kernel's power supply attributes into
// a battery (src/linux/up-device-supply.c) and combines the batteries into
// the display device a desktop shows (src/up-daemon.c), each a function
// that names the one it follows. Where ours departs, the function says why
// (docs/linux-backend.md lists the departures).
//
// Units are the kernel's: µWh, µW, µAh, µA, µV; percent 0 to 100.

#include "backend.h"
#include "kvbattery.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <optional>

namespace Vorna::Backend::BatteryModel {

// What a battery does, in upowerd's words (UpDeviceState).
enum class State { Unknown, Charging, Discharging, Empty, FullyCharged, PendingCharge };

// One system battery's attributes as the kernel gives them; an attribute
// that is missing or does not hold a number has no value.
struct Gauge
{
    std::optional<double> energyNow, energyAvg, energyFull, energyFullDesign;
    std::optional<double> chargeNow, chargeAvg, chargeFull, chargeFullDesign;
    std::optional<double> currentNow, currentAvg, powerNow;
    std::optional<double> voltageNow, voltageAvg, voltageMaxDesign, voltageMinDesign,
        voltagePresent;
    std::optional<double> capacity, chargeCounter, timeToEmpty, timeToFull;
    QByteArray status, health, level;
};

// One supply of the power supply class as read: its type, scope, whether
// it is there and online, and a battery's gauge.
struct Supply
{
    QString name; // its directory's
    QByteArray type, scope;
    std::optional<double> present, online;
    bool hasOnline = false; // the online file is there, whatever it holds
    Gauge gauge;
};

// The chargers of the machine, as far as they feed it.
struct Chargers
{
    bool any = false; // a charger supply is there
    bool known = false; // one of them says whether it is online
    bool wall = false; // a mains adapter or a wireless pad is online
    bool usb = false; // a USB port is online
};

// Where a battery's current comes from. upowerd has no current property,
// so the kernel ABI decides: current_now is µA, except on an energy-only
// battery without power_now, whose current_now is µW (upowerd's legacy
// case, up_device_supply_refresh_battery); power over the design voltage
// only where there is no current_now.
enum class CurrentSource { None, CurrentNow, CurrentNowMicrowatts, PowerNow };

// One battery as decided.
struct Pack
{
    QString name; // the supply's
    double designVoltage = 10; // V
    bool countsCharge
        = false; // it names a full charge: upowerd takes current_now as µA for the rate
    CurrentSource currentFrom = CurrentSource::None;
    std::optional<double> energy, full; // µWh
    std::optional<double> rate; // µW, a magnitude
    std::optional<double> charge; // µAh: its own, or its energy over the design voltage
    std::optional<double> percent;
    std::optional<double> current; // µA, as the kernel gives it
    std::optional<double> currentAvg, voltage, counter, timeToEmpty, timeToFull;
    QByteArray health, level;
    State state = State::Unknown;
};

// The batteries combined, as upowerd's display device.
struct Display
{
    QVector<Pack> packs;
    KvBattery::ChargerType charger = KvBattery::Unknown;
    State state = State::Unknown;
    std::optional<double> energy, full, percent; // µWh, µWh, %
    double rate = 0; // µW
};

// upowerd's limits (up-device-supply.c, up_device_supply_refresh_battery).
constexpr double tinyEnergy = 10000; // 0.01 Wh: an energy (or 0.01 Ah a charge) that holds nothing
// 0.1 Wh: below it the rate is not trusted. upowerd compares with the
// float 0.1f, a little above 0.1, so that 0.1 Wh itself is below it.
constexpr double lowEnergy = double(0.1f) * 1e6;
// A rate below 0.01 W from sysfs: "the hardware reporting failed".
constexpr double minRate = 10000;
constexpr double maxRate = 300e6; // 300 W, above USB Power Delivery's 240 W: firmware garbage
constexpr double acpiUnknownRate = 65535e6; // ACPI's "Ones" rate, 0xffff W: no rate
constexpr double maxTimeToEmpty = 240 * 3600.0; // ten days
constexpr double maxTimeToFull = 20 * 3600.0;
constexpr double fullyChargedThreshold = 90; // UP_FULLY_CHARGED_THRESHOLD, src/up-constants.h

// The voltage that turns charge into energy, in V: up_device_supply_get_design_voltage.
double designVoltage(const Gauge &gauge);
// up_device_supply_get_state; the words are taken in any case.
State stateFromStatus(const QByteArray &status);
// An attribute that is read with its fallback, as upowerd reads energy_now
// then energy_avg: the first where it holds at least tiny, else the
// fallback where there is one (the first read as 0 where it is too small).
std::optional<double> withFallback(
    std::optional<double> first, std::optional<double> fallback, double tiny);
// The rate the kernel gives, or none where it is garbage.
std::optional<double> saneRate(std::optional<double> rate);
// Seconds to empty or to full at the rate, or none where that is
// beyond upowerd's limits (or no rate).
std::optional<double> timeToEmpty(State state, double energy, double rate);
std::optional<double> timeToFull(State state, double energy, double full, double rate);
CurrentSource currentSource(const Gauge &gauge);
// One battery: up_device_supply_refresh_battery.
Pack pack(const Gauge &gauge);
// The display device's state after one more battery: up_daemon_update_display_battery.
// total is empty before the first battery.
State combined(std::optional<State> total, State next);
// upowerd's guess for batteries that do not say what they do, from the
// chargers (up_daemon_update_display_battery, after the loop).
State guessed(double percent, bool chargerOnline);
KvBattery::ChargerType chargerType(const Chargers &chargers);
Display display(const QVector<Pack> &packs, const Chargers &chargers);

// A battery that feeds this machine: not a mouse's or a headset's (scope
// "Device"), and not a bay without its pack.
bool isSystemBattery(const Supply &supply);
// A line power supply that feeds this machine, as upowerd's
// up_device_supply_coldplug decides: type Mains, or any other type but
// Battery that has an online file (up_device_supply_guess_type knows only
// Mains, Battery and USB; every other word, Wireless, USB_C, BrickID,
// Wipower, Unknown, ..., falls to that rule), and not of scope Device.
bool isCharger(const Supply &supply);
// What an online charger of that type is: the wall (mains, a barrel jack,
// a wireless pad, a UPS), a USB port (USB and the port kinds USB_*), or,
// for a type that names neither, a USB port, the least a charger gives.
KvBattery::ChargerType chargerKind(const QByteArray &type);
// A health word of the ABI that says the battery is at fault. The JEITA
// zones Warm and Cool, where a healthy battery charges at a reduced
// current, are no fault; nor are Good, Unknown and Calibration required.
bool isFault(const QByteArray &health);
Chargers chargers(const QVector<Supply> &supplies);
// The whole machine: its system batteries combined, its chargers.
Display display(const QVector<Supply> &supplies);

// The getter's answer: a value, or KvBattery::NoValue, NoTime or NoCounter.
int answer(const Display &display, BatteryValue value);

// Micro-units divided down to milli-units, truncated as the kernel's
// integer division does, and kept within int.
int milli(double micro);
// A double within int, truncated; NaN is no value.
int toInt(double v);

// The display device's values in the getters' units (batteryanswer.cpp
// maps them onto the getters).
int roundedPercent(const Display &display);
int chargingState(const Display &display);
// A fault the kernel reports, else upowerd's state and the level the
// battery gives, else the percentage on the handset's scale.
int batteryState(const Display &display);
std::optional<double> milliampHours(const Display &display);
int batteryCurrent(const Display &display);
int cumulativeCurrent(const Display &display);
int chargingTime(const Display &display);
int activeTime(const Display &display);
int averageCurrent(const Display &display);
// The handset's battery state for a rounded percentage; none (negative)
// is an error.
KvBattery::BatteryState stateFromPercent(int percent);

} // namespace Vorna::Backend::BatteryModel

#endif
