// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "handsetstate.h"

#include "../simulated/virtualhandset.h"

#include <cmath>

namespace Vorna::Backend {

using namespace HandsetBus;

HandsetState::HandsetState()
{
    for (int i = 0; i < SensorCount; ++i) {
        const Sample s = VirtualHandset::reading(Sensor(i), 0, 0);
        values[size_t(i)] = QVector<qint32>(
            s.values.begin(), s.values.begin() + describe(Sensor(i)).fieldCount());
    }
    values[size_t(Property::DisplayState)] = { KvDisplayState::On };
    values[size_t(Property::Brightness)] = { 3 };
    values[size_t(Property::SystemState)] = { KvSystemState::SaveData };
    values[size_t(Property::Activity)] = { KvActivity::Active };
    values[size_t(Property::Thermal)] = { KvThermal::Normal };
    values[size_t(Property::DeviceMode)] = { KvDeviceMode::Normal };
    for (Property p : { Property::BatteryPercentage, Property::BatteryVoltage,
             Property::BatteryCurrent, Property::Charger })
        values[size_t(p)] = { followsModel };
    values[size_t(Property::BatteryClock)] = { 0 };
}

void HandsetState::apply(const Value &value)
{
    if (value.fields.size() == fieldCount(value.property))
        values[size_t(value.property)] = value.fields;
}

QVector<Value> HandsetState::all() const
{
    QVector<Value> out;
    for (int i = 0; i < PropertyCount; ++i)
        out.append({ Property(i), values[size_t(i)] });
    return out;
}

Sample HandsetState::sample(Sensor kind, quint64 timestamp) const
{
    Sample s;
    s.timestamp = timestamp;
    const QVector<qint32> &f = values[size_t(kind)];
    for (int i = 0; i < f.size() && i < MaxSampleFields; ++i)
        s.values[size_t(i)] = f[i];
    return s;
}

int HandsetState::battery(BatteryValue value, int mode, double seconds) const
{
    const qint32 percentage = field(Property::BatteryPercentage);
    const qint32 charger = field(Property::Charger);
    const qint32 voltage = field(Property::BatteryVoltage);
    const qint32 current = field(Property::BatteryCurrent);

    VirtualHandset::Cell cell = VirtualHandset::cell(seconds);
    if (percentage != followsModel || charger != followsModel) {
        // A held percentage or charger: the cell at that charge, on or off
        // the charger, drawing what the model draws when it discharges.
        const int modelPercentage
            = VirtualHandset::battery(BatteryValue::RemainingCapacityPct, mode, cell);
        const bool plugged = charger != followsModel ? charger > KvBattery::None : cell.plugged;
        const double draw = cell.current < 0
            ? -cell.current
            : VirtualHandset::battery(BatteryValue::AverageActiveCurrent, mode, cell);
        cell = VirtualHandset::cellAt(
            percentage != followsModel ? percentage : modelPercentage, plugged, draw);
    }
    if (current != followsModel)
        cell.current = current;
    if (value == BatteryValue::ChargerType && charger != followsModel)
        return charger;
    if (value == BatteryValue::Voltage && voltage != followsModel)
        return voltage;
    return VirtualHandset::battery(value, mode, cell);
}

} // namespace Vorna::Backend
