#ifndef KVSYSTEM_SRC_SCENARIO_H
#define KVSYSTEM_SRC_SCENARIO_H

// A scenario file, parsed: what every call of the simulated device returns
// and what its signals deliver. Everything a file leaves out is unset here;
// the simulated device fills it in with its defaults.

#include "backend.h"
#include "pump.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>

#include <algorithm>
#include <array>
#include <optional>

namespace Vorna::Backend {

struct TimedSample
{
    qint64 at = 0; // ms after a successful start()
    Sample sample;
};

struct TimedChange
{
    qint64 at = 0; // ms after the object's construction
    int value = 0;
};

struct SensorScenario
{
    std::optional<int> session;
    std::optional<int> sessionType;
    std::optional<bool> start;
    std::optional<QString> lastError;
    QVector<TimedSample> readings; // in delivery order
    Delivery thread = Delivery::MainThread;
    std::optional<Sample> current; // rotation() and magneticField()
    bool hasZ = true;
};

// A bool answer for every argument, or one per argument.
struct BoolAnswer
{
    std::optional<bool> all;
    QHash<int, bool> byArgument;
    bool answer(int argument, bool fallback) const
    {
        return byArgument.value(argument, all.value_or(fallback));
    }
};

struct ChangeList
{
    QVector<TimedChange> changes; // in delivery order
    Delivery thread = Delivery::MainThread;
};

struct DisplayScenario
{
    std::optional<int> get;
    BoolAnswer set;
    std::optional<int> brightness;
    std::optional<int> dimTimeout;
    std::optional<bool> blankingPause;
    ChangeList changes;
};

struct SystemStateScenario
{
    BoolAnswer set;
    QHash<int, QVector<int>> onSet;
    ChangeList indications;
};

struct ValueScenario
{
    std::optional<int> get;
    ChangeList changes;
};

struct BatteryStep
{
    int value = 0;
    int delayMs = 0;
};

// Call k of a scripted getter returns step k, and after the last step the
// last one repeats. calls counts the calls made; it stops at the last step,
// so that no number of calls can overflow it.
inline const BatteryStep &nextStep(const QVector<BatteryStep> &steps, int &calls)
{
    const int last = steps.size() - 1;
    const BatteryStep &step = steps[std::clamp(calls, 0, last)];
    if (calls < last)
        ++calls;
    return step;
}

struct Scenario
{
    std::array<std::optional<SensorScenario>, SensorCount> sensors;
    std::optional<DisplayScenario> displayState;
    std::optional<SystemStateScenario> systemState;
    std::optional<ValueScenario> activity;
    std::optional<ValueScenario> thermal;
    bool deviceMode = false;
    // Per getter: call k returns step k, the last step repeats.
    std::array<QVector<BatteryStep>, BatteryValueCount> battery;
};

// The deepest nesting of arrays and objects in a scenario: Qt's parser
// refuses more.
constexpr int maxScenarioDepth = 1024;

// Parses the text of a scenario file. On failure returns nothing and sets
// error to "<json path>: <what is wrong>", or to the problem alone where no
// key is to blame (invalid JSON).
std::optional<Scenario> parseScenario(const QByteArray &json, QString *error);

} // namespace Vorna::Backend

#endif
