#ifndef KVSYSTEM_SRC_BACKEND_H
#define KVSYSTEM_SRC_BACKEND_H

// Where the Vorna classes get their values from. The classes only forward
// calls and emit signals; a backend answers the calls and produces readings
// and change notifications. One backend serves the whole process, chosen
// from the environment when the first library object is constructed.

#include <QString>
#include <QtGlobal>

#include <array>
#include <functional>
#include <memory>

namespace Vorna::Backend {

enum class Sensor {
    Als,
    Proximity,
    Tap,
    Orientation,
    Rotation,
    Magnetometer,
    Compass,
    Accelerometer
};
constexpr int SensorCount = 8;

// A reading as the device reports it: the time stamp, then the reading
// record's other fields in record order (unused ones stay 0).
struct Sample
{
    quint64 timestamp = 0;
    std::array<qint32, 7> values {};
    bool operator==(const Sample &o) const
    {
        return timestamp == o.timestamp && values == o.values;
    }
};

// Called for every reading or change, on the main thread or on a thread of
// the backend's own. A source never calls its sink after stop() or its
// destructor has returned.
using SampleSink = std::function<void(const Sample &)>;
using ChangeSink = std::function<void(int)>;

class SensorSource
{
public:
    virtual ~SensorSource() = default;
    virtual int requestSession(int type) = 0;
    virtual int sessionType() const = 0;
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
    virtual int get() const = 0;
    virtual bool set(int state) = 0;
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
    virtual bool set(int nextState) = 0;
};

// Activity, thermal state and device mode: one value that changes now and then.
class StateSource
{
public:
    virtual ~StateSource() = default;
    virtual int get() const = 0;
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
constexpr int BatteryValueCount = 16;

class BatterySource
{
public:
    virtual ~BatterySource() = default;
    // mode matters only for the talk, active and idle values.
    virtual int read(BatteryValue value, int mode) = 0;
};

class Backend
{
public:
    virtual ~Backend() = default;
    virtual std::unique_ptr<SensorSource> sensor(Sensor kind, SampleSink sink) = 0;
    virtual std::unique_ptr<DisplaySource> display(ChangeSink sink) = 0;
    virtual std::unique_ptr<SystemStateSource> systemState(ChangeSink sink) = 0;
    virtual std::unique_ptr<StateSource> activity(ChangeSink sink) = 0;
    virtual std::unique_ptr<StateSource> thermal(ChangeSink sink) = 0;
    virtual std::unique_ptr<StateSource> deviceMode(ChangeSink sink) = 0;
    virtual std::unique_ptr<BatterySource> battery() = 0;

    // The process's backend, made on first use. A usage error in the
    // environment (an unreadable scenario, say) ends the process with
    // status 2 and one line on standard error.
    static Backend &instance();
};

// The device's monotonic clock in microseconds, as every backend stamps its
// readings.
quint64 monotonicMicroseconds();

// Ends the process the way every usage error of the library does.
[[noreturn]] void usageError(const QString &message);

} // namespace Vorna::Backend

#endif
