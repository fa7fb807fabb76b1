// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

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
#include <functional>
#include <vector>
#include <optional>

namespace Vorna::Backend {

struct TimedSample
{
    qint64 at = 0; // ms after a successful start()
    Sample sample;
};

// A sensor's readings, packed: the time, the time stamp and only the fields
// that the sensor's record has, in chunks that never move once filled, so
// that half a million readings cost about as much as their text and
// loading them never holds two copies.
class ReadingList
{
public:
    // Before the first reading: which fields are kept.
    void setKind(Sensor kind)
    {
        if (count == 0)
            width = 4 + describe(kind).fieldCount();
    }
    int size() const { return count; }
    bool isEmpty() const { return count == 0; }
    TimedSample operator[](int i) const
    {
        const qint32 *r = chunks[i / perChunk()].constData() + (i % perChunk()) * width;
        TimedSample t;
        t.at = qint64(quint64(quint32(r[0])) | quint64(quint32(r[1])) << 32);
        t.sample.timestamp = quint64(quint32(r[2])) | quint64(quint32(r[3])) << 32;
        std::copy(r + 4, r + width, t.sample.values.begin());
        return t;
    }
    TimedSample at(int i) const { return (*this)[i]; }
    QVector<TimedSample> all() const
    {
        QVector<TimedSample> out;
        for (int i = 0; i < count; ++i)
            out << (*this)[i];
        return out;
    }
    void append(const TimedSample &t)
    {
        if (chunks.isEmpty() || chunks.last().size() + width > perChunk() * width)
            chunks.append(QVector<qint32>());
        QVector<qint32> &c = chunks.last();
        const int at = c.size();
        c.resize(at + width);
        qint32 *r = c.data() + at;
        r[0] = qint32(quint64(t.at));
        r[1] = qint32(quint64(t.at) >> 32);
        r[2] = qint32(t.sample.timestamp);
        r[3] = qint32(t.sample.timestamp >> 32);
        std::copy(t.sample.values.begin(), t.sample.values.begin() + (width - 4), r + 4);
        ++count;
    }
    ReadingList &operator+=(const ReadingList &more)
    {
        if (count == 0)
            width = more.width;
        for (int i = 0; i < more.size(); ++i)
            append(more[i]);
        return *this;
    }
    // In order of time, readings due together in their order.
    void sortByTime()
    {
        bool sorted = true;
        for (int i = 1; i < count && sorted; ++i)
            sorted = (*this)[i - 1].at <= (*this)[i].at;
        if (sorted)
            return;
        std::vector<TimedSample> all;
        all.reserve(size_t(count));
        for (int i = 0; i < count; ++i)
            all.push_back((*this)[i]);
        std::stable_sort(all.begin(), all.end(),
            [](const TimedSample &a, const TimedSample &b) { return a.at < b.at; });
        chunks.clear();
        count = 0;
        for (const TimedSample &t : all)
            append(t);
    }

private:
    int perChunk() const { return 16384 / width; } // 64 KiB a chunk
    int width = 4 + MaxSampleFields; // numbers a reading: at and timestamp (two each), fields
    int count = 0;
    QVector<QVector<qint32>> chunks;
};

struct TimedChange
{
    qint64 at = 0; // ms after the object's construction
    int value = 0;
};

// What a getter returns, call by call: call k returns element k, and after
// the last element the last one repeats. A file gives one value (every call
// returns it) or an array; a recording gives one value per call.
template <typename T> struct Answers
{
    QVector<T> calls;
    bool given() const { return !calls.isEmpty(); }
    T answer(int call) const { return calls[std::min(call, int(calls.size()) - 1)]; }
    // The answer of the next call, counting calls in *counter; fallback when
    // none is given. The count stops at the last answer, so that no number
    // of calls can overflow it.
    T next(int *counter, const T &fallback) const
    {
        if (!given())
            return fallback;
        const T value = answer(*counter);
        if (*counter < calls.size() - 1)
            ++*counter;
        return value;
    }
    void append(const Answers &more) { calls += more.calls; }
};

struct SensorScenario
{
    Answers<int> session;
    Answers<int> sessionType;
    Answers<bool> start;
    Answers<QString> lastError;
    ReadingList readings; // in delivery order
    Delivery thread = Delivery::MainThread;
    Answers<Sample> current; // rotation() and magneticField()
    Answers<bool> hasZ;
};

// A bool answer for every argument, one per argument, or one per call.
struct BoolAnswer
{
    std::optional<bool> all;
    QHash<int, bool> byArgument;
    QVector<bool> calls; // call k, the last repeats; before the two above
    bool answer(int call, int argument, bool fallback) const
    {
        if (!calls.isEmpty())
            return calls[std::min(call, int(calls.size()) - 1)];
        return byArgument.value(argument, all.value_or(fallback));
    }
    // The answer of the next call, counting calls in *counter, which stops
    // at the last answer so that no number of calls can overflow it.
    bool next(int *counter, int argument, bool fallback) const
    {
        const bool value = answer(*counter, argument, fallback);
        if (*counter < calls.size() - 1)
            ++*counter;
        return value;
    }
};

struct ChangeList
{
    QVector<TimedChange> changes; // in delivery order
    Delivery thread = Delivery::MainThread;
};

struct DisplayScenario
{
    Answers<int> get;
    BoolAnswer set;
    Answers<int> brightness;
    Answers<int> dimTimeout;
    Answers<bool> blankingPause;
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
    Answers<int> get;
    ChangeList changes;
};

// The keys of a scenario file, spelled once for the parser and the
// recorder. The sensors' own keys and fields are in sensors.h, the
// battery's below.
namespace ScenarioKey {
inline constexpr char recording[] = "recording";
inline constexpr char displayState[] = "displayState";
inline constexpr char systemState[] = "systemState";
inline constexpr char activity[] = "activity";
inline constexpr char thermal[] = "thermal";
inline constexpr char deviceMode[] = "deviceMode";
inline constexpr char battery[] = "battery";
// In a sensor's section.
inline constexpr char session[] = "session";
inline constexpr char sessionType[] = "sessionType";
inline constexpr char start[] = "start";
inline constexpr char lastError[] = "lastError";
inline constexpr char readings[] = "readings";
inline constexpr char current[] = "current";
inline constexpr char hasZ[] = "hasZ";
inline constexpr char at[] = "at";
inline constexpr char timestamp[] = "timestamp";
// Where readings or changes come from: "main" or "worker".
inline constexpr char thread[] = "thread";
inline constexpr char mainThread[] = "main";
inline constexpr char workerThread[] = "worker";
// In a system-state class's section.
inline constexpr char get[] = "get";
inline constexpr char set[] = "set";
inline constexpr char brightness[] = "brightness";
inline constexpr char dimTimeout[] = "dimTimeout";
inline constexpr char blankingPause[] = "blankingPause";
inline constexpr char changes[] = "changes";
inline constexpr char indications[] = "indications";
inline constexpr char onSet[] = "onSet";
inline constexpr char value[] = "value";
// A battery answer that took its time.
inline constexpr char delayMs[] = "delayMs";
} // namespace ScenarioKey

// The battery section's keys, one per getter, in BatteryValue order.
inline constexpr const char *batteryKeys[BatteryValueCount] = { "chargerType", "chargingState",
    "remainingChargingTime", "batteryState", "remainingCapacityBars", "remainingCapacityPct",
    "remainingCapacitymAh", "voltage", "batteryCurrent", "cumulativeBatteryCurrent",
    "averageTalkCurrent", "remainingTalkTime", "averageActiveCurrent", "remainingActiveTime",
    "averageIdleCurrent", "remainingIdleTime" };

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

// How a recording begins and ends (see recorder.h): between them, one
// scenario object a line, each followed by ",\n". The closing is an empty
// object, so every line before it, the last one included, ends alike.
inline constexpr char recordingHeader[] = "{\"recording\": [\n";
inline constexpr char recordingClosing[] = "{}]}\n";

// Parses the text of a scenario file, or of a recording (a "recording"
// array of scenario objects merged in order; see recorder.h). On failure
// returns nothing and sets error to "<json path>: <what is wrong>", or to
// the problem alone where no key is to blame (invalid JSON).
std::optional<Scenario> parseScenario(const QByteArray &json, QString *error);

// Parses a recording as it is read, part by part, so that its size is not
// held in memory twice: read(buffer, size) gives the next bytes of the file
// after its header (0 at its end, -1 with errno set on failure). Errors as
// parseScenario() gives them, offsets counted from the file's start.
std::optional<Scenario> parseRecording(
    const std::function<qint64(char *, qint64)> &read, QString *error);

} // namespace Vorna::Backend

#endif
