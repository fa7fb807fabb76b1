// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_BACKEND_H
#define KVSYSTEM_SRC_BACKEND_H

// Where the Vorna classes get their values from. The classes only forward
// calls and emit signals; a backend answers the calls and produces readings
// and change notifications. One backend serves the whole process, chosen
// from the environment when the first library object is constructed.

#include "sensors.h"

#include "kvactivity.h"
#include "kvbattery.h"
#include "kvdevicemode.h"
#include "kvdisplaystate.h"
#include "kvsensor.h"
#include "kvsystemstate.h"
#include "kvthermal.h"

#include <QString>
#include <QtGlobal>

#include <array>
#include <functional>
#include <memory>
#include <sys/types.h>

namespace Vorna::Backend {

// A reading as the device reports it: the time stamp, then the reading
// record's other fields in record order (unused ones stay 0). The sensor
// kinds and their fields are described in sensors.h.
struct Sample
{
    quint64 timestamp = 0;
    std::array<qint32, MaxSampleFields> values {};
    bool operator==(const Sample &o) const
    {
        return timestamp == o.timestamp && values == o.values;
    }
};

// Called for every reading or change, on the main thread or on a thread of
// the backend's own. A source never calls its sink after stop() or its
// destructor has returned.
using SampleSink = std::function<void(const Sample &)>;
template <typename Value> using ChangeSink = std::function<void(Value)>;

class SensorSource
{
public:
    virtual ~SensorSource() = default;
    virtual KvSensor::SessionType requestSession(KvSensor::SessionType type) = 0;
    virtual KvSensor::SessionType sessionType() const = 0;
    virtual bool start() = 0;
    virtual void stop() = 0;
    virtual void closeSession() = 0;
    virtual QString lastError() const = 0;
    // The reading now, whether started or not (rotation and magnetometer).
    virtual Sample current() const = 0;
    virtual bool hasZ() const = 0;
};

class DisplaySource
{
public:
    virtual ~DisplaySource() = default;
    virtual KvDisplayState::DisplayState get() const = 0;
    virtual bool set(KvDisplayState::DisplayState state) = 0;
    virtual void setBrightness(int value) = 0;
    virtual int brightness() const = 0;
    virtual void setDimTimeout(int seconds) = 0;
    virtual int dimTimeout() const = 0;
    virtual bool setBlankingPause() = 0;
};

class SystemStateSource
{
public:
    virtual ~SystemStateSource() = default;
    virtual bool set(KvSystemState::NextState nextState) = 0;
};

// Activity, thermal state and device mode: one value that changes now and then.
template <typename State> class StateSource
{
public:
    virtual ~StateSource() = default;
    virtual State get() const = 0;
};

// The battery getters, in the order the battery class declares them.
enum class BatteryValue {
    ChargerType,
    ChargingState,
    RemainingChargingTime,
    BatteryState,
    RemainingCapacityBars,
    RemainingCapacityPct,
    RemainingCapacitymAh,
    Voltage,
    BatteryCurrent,
    CumulativeBatteryCurrent,
    AverageTalkCurrent,
    RemainingTalkTime,
    AverageActiveCurrent,
    RemainingActiveTime,
    AverageIdleCurrent,
    RemainingIdleTime
};
constexpr int BatteryValueCount = int(BatteryValue::RemainingIdleTime) + 1;

class BatterySource
{
public:
    virtual ~BatterySource() = default;
    // mode matters only for the talk, active and idle values. The answer
    // is a value, or KvBattery::NoValue, NoTime or NoCounter where the
    // device has no figure.
    virtual int read(BatteryValue value, KvBattery::RemainingTimeMode mode) = 0;
};

class Backend
{
public:
    virtual ~Backend() = default;
    virtual std::unique_ptr<SensorSource> sensor(Sensor kind, SampleSink sink) = 0;
    virtual std::unique_ptr<DisplaySource> display(ChangeSink<KvDisplayState::DisplayState> sink)
        = 0;
    virtual std::unique_ptr<SystemStateSource> systemState(
        ChangeSink<KvSystemState::StateIndication> sink)
        = 0;
    virtual std::unique_ptr<StateSource<KvActivity::Activity>> activity(
        ChangeSink<KvActivity::Activity> sink)
        = 0;
    virtual std::unique_ptr<StateSource<KvThermal::ThermalState>> thermal(
        ChangeSink<KvThermal::ThermalState> sink)
        = 0;
    virtual std::unique_ptr<StateSource<KvDeviceMode::DeviceMode>> deviceMode(
        ChangeSink<KvDeviceMode::DeviceMode> sink)
        = 0;
    virtual std::unique_ptr<BatterySource> battery() = 0;
};

// The process's backend, made on first use. A usage error in the
// environment (an unreadable scenario, say) ends the process with status 2
// and one line on standard error.
Backend &instance();

// A file as the file system knows it, whatever its name or links.
struct FileId
{
    dev_t device = 0;
    ino_t inode = 0; // 0: no file

    bool operator==(const FileId &other) const
    {
        return inode != 0 && device == other.device && inode == other.inode;
    }
};

// The device's monotonic clock in microseconds, as every backend stamps its
// readings.
quint64 monotonicMicroseconds();

// Ends the process the way every usage error of the library does: one line
// on standard error, with control characters and bytes that are not UTF-8
// escaped as the call trace escapes them (Trace::escaped), so that a file
// or path cannot write lines of its own on the user's terminal.
[[noreturn]] void usageError(const QByteArray &message);
[[noreturn]] void usageError(const QString &message);

// A warning of the library on standard error, escaped as usageError()
// escapes, and said once: a text that was said already in this process is
// not said again, so that a fault met on every poll fills no screen. Safe
// to call from any thread.
void warning(const QByteArray &message);

// A KVSYSTEM_* variable of the environment, as secure_getenv() reads it:
// in a process that runs with more privileges than its caller (setuid,
// setgid, file capabilities) every one is taken as unset, so that the
// caller cannot point the library's reads and writes at files of the
// privileged user.
QByteArray environment(const char *name);

// The largest scenario file that is read whole (32 MiB); a recording is
// parsed as it is read, and may be larger.
constexpr qint64 maxScenarioBytes = 32 * 1024 * 1024;

} // namespace Vorna::Backend

#endif
