// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "kvbattery.h"

#include "kvopen_p.h"

namespace Vorna {

using Backend::BatteryValue;

class KvBatteryPrivate
{
public:
    int read(const KvBattery *q, const char *getter, BatteryValue value)
    {
        return Trace::Call(q, getter).returns(source->read(value, KvBattery::NormalMode));
    }
    int read(const KvBattery *q, const char *getter, BatteryValue value,
        KvBattery::RemainingTimeMode mode)
    {
        return Trace::Call(q, getter).arg(int(mode)).returns(source->read(value, mode));
    }

    std::unique_ptr<Backend::BatterySource> source;
};

KvBattery::KvBattery(QObject *parent)
    : QObject(parent)
    , d(new KvBatteryPrivate)
{
    d->source = openSource(
        staticMetaObject, parent, [](Backend::Backend &backend) { return backend.battery(); });
}

KvBattery::~KvBattery()
{
    Trace::destroyed(staticMetaObject);
}

int KvBattery::getChargerType()
{
    return d->read(this, "getChargerType", BatteryValue::ChargerType);
}

int KvBattery::getChargingState()
{
    return d->read(this, "getChargingState", BatteryValue::ChargingState);
}

int KvBattery::getRemainingChargingTime()
{
    return d->read(this, "getRemainingChargingTime", BatteryValue::RemainingChargingTime);
}

int KvBattery::getBatteryState()
{
    return d->read(this, "getBatteryState", BatteryValue::BatteryState);
}

int KvBattery::getRemainingCapacityBars()
{
    return d->read(this, "getRemainingCapacityBars", BatteryValue::RemainingCapacityBars);
}

int KvBattery::getRemainingCapacityPct()
{
    return d->read(this, "getRemainingCapacityPct", BatteryValue::RemainingCapacityPct);
}

int KvBattery::getRemainingCapacitymAh()
{
    return d->read(this, "getRemainingCapacitymAh", BatteryValue::RemainingCapacitymAh);
}

int KvBattery::getVoltage()
{
    return d->read(this, "getVoltage", BatteryValue::Voltage);
}

int KvBattery::getBatteryCurrent()
{
    return d->read(this, "getBatteryCurrent", BatteryValue::BatteryCurrent);
}

int KvBattery::getCumulativeBatteryCurrent()
{
    return d->read(this, "getCumulativeBatteryCurrent", BatteryValue::CumulativeBatteryCurrent);
}

int KvBattery::getAverageTalkCurrent(RemainingTimeMode mode)
{
    return d->read(this, "getAverageTalkCurrent", BatteryValue::AverageTalkCurrent, mode);
}

int KvBattery::getRemainingTalkTime(RemainingTimeMode mode)
{
    return d->read(this, "getRemainingTalkTime", BatteryValue::RemainingTalkTime, mode);
}

int KvBattery::getAverageActiveCurrent(RemainingTimeMode mode)
{
    return d->read(this, "getAverageActiveCurrent", BatteryValue::AverageActiveCurrent, mode);
}

int KvBattery::getRemainingActiveTime(RemainingTimeMode mode)
{
    return d->read(this, "getRemainingActiveTime", BatteryValue::RemainingActiveTime, mode);
}

int KvBattery::getAverageIdleCurrent(RemainingTimeMode mode)
{
    return d->read(this, "getAverageIdleCurrent", BatteryValue::AverageIdleCurrent, mode);
}

int KvBattery::getRemainingIdleTime(RemainingTimeMode mode)
{
    return d->read(this, "getRemainingIdleTime", BatteryValue::RemainingIdleTime, mode);
}

} // namespace Vorna
