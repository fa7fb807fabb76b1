#include "recorder.h"

#include "backends/simulated/scenario.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

namespace Vorna::Backend {

namespace {

// The recording file: parts appended to a shared mapping, each followed by
// ",\n" and the closing, so that the text is a whole recording after every
// part (and mended when a kill came in the middle of one).
class Journal
{
public:
    // Null with *error set when the file cannot be made.
    static Journal *open(const QByteArray &path, QString *error)
    {
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            *error = QString::fromLocal8Bit(std::strerror(errno));
            return nullptr;
        }
        auto *journal = new Journal(fd, path);
        const size_t header = std::strlen(recordingHeader);
        if (!journal->reserve(header + closingSize)) {
            *error = journal->failure;
            ::close(fd);
            delete journal;
            return nullptr;
        }
        std::memcpy(journal->map, recordingHeader, header);
        std::memcpy(journal->map + header, recordingClosing, closingSize);
        journal->end = header;
        return journal;
    }

    void append(const char *part, size_t size)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (!map)
            return;
        if (end + size + 2 + closingSize > mapped && !reserve(end + size + 2 + closingSize)) {
            // A recording that cannot go on must not take the program down.
            warning(path + ": recording stopped: " + failure.toLocal8Bit());
            ::munmap(map, mapped);
            map = nullptr;
            return;
        }
        char *p = map + end;
        std::memcpy(p, part, size);
        std::memcpy(p + size, ",\n", 2);
        std::memcpy(p + size + 2, recordingClosing, closingSize);
        end += size + 2;
    }

    // At the process's normal end: the reserved blanks go.
    void finish()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (!map)
            return;
        ::munmap(map, mapped);
        map = nullptr;
        if (::ftruncate(fd, off_t(end + closingSize)) != 0) {
            // The blanks stay; the recording is whole either way.
        }
    }

private:
    static constexpr size_t initialSize = 1 << 20;
    static constexpr size_t closingSize = sizeof(recordingClosing) - 1;

    Journal(int fd, const QByteArray &path)
        : fd(fd)
        , path(path)
    { }

    // Grows the file with blanks to hold at least size bytes, and maps it.
    bool reserve(size_t size)
    {
        size_t grown = std::max(mapped * 2, size);
        grown = (grown + initialSize - 1) / initialSize * initialSize;
        // Blanks written by write(): a full disk fails here, not as a
        // SIGBUS on a store into the mapping later.
        static const QByteArray blanks(1 << 16, ' ');
        for (size_t at = mapped; at < grown;) {
            const size_t n = std::min(size_t(blanks.size()), grown - at);
            const ssize_t written = ::pwrite(fd, blanks.constData(), n, off_t(at));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                failure = QString::fromLocal8Bit(std::strerror(written < 0 ? errno : ENOSPC));
                return false;
            }
            at += size_t(written);
        }
        void *bigger = ::mmap(nullptr, grown, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (bigger == MAP_FAILED) {
            failure = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        if (map)
            ::munmap(map, mapped); // the new mapping shows the same pages
        map = static_cast<char *>(bigger);
        mapped = grown;
        return true;
    }

    const int fd;
    const QByteArray path;
    std::mutex mutex;
    char *map = nullptr;
    size_t mapped = 0;
    size_t end = 0; // where the closing starts
    QString failure;
};

// Cuts the reserved blanks off when the program ends normally.
struct Finisher
{
    Journal *journal = nullptr;
    ~Finisher()
    {
        if (journal)
            journal->finish();
    }
};

// One part of the recording, made on the stack: the hot path of a reading
// makes no allocation.
class Part
{
public:
    // The opening of a section's object: {"<section>": {
    static QByteArray opening(const char *section)
    {
        return "{\"" + QByteArray(section) + "\": {";
    }
    explicit Part(const char *section) { add(opening(section)); }
    explicit Part(const QByteArray &opening) { add(opening); }
    Part &add(const char *text, size_t n)
    {
        if (size + n <= sizeof(text_))
            std::memcpy(text_ + size, text, n), size += n;
        else
            overflow = true;
        return *this;
    }
    Part &add(const char *text) { return add(text, std::strlen(text)); }
    Part &add(const QByteArray &text) { return add(text.constData(), size_t(text.size())); }
    Part &number(qint64 value)
    {
        char digits[24];
        const auto r = std::to_chars(digits, digits + sizeof(digits) - 1, value);
        *r.ptr = '\0';
        return add(digits);
    }
    // A 64-bit time stamp: as a string of digits beyond what a JSON number holds.
    Part &timestamp(quint64 value)
    {
        char digits[24];
        const auto r = std::to_chars(digits, digits + sizeof(digits) - 1, value);
        *r.ptr = '\0';
        const bool exact = value < (quint64(1) << 53);
        return exact ? add(digits) : add("\"").add(digits).add("\"");
    }
    Part &boolean(bool value) { return add(value ? "true" : "false"); }
    // The fields of a reading record after its opening brace.
    Part &sample(Sensor kind, const Sample &s)
    {
        add("\"timestamp\": ").timestamp(s.timestamp);
        const SensorDescription &d = describe(kind);
        for (int i = 0; i < d.fieldCount(); ++i)
            add(", \"").add(d.fields[size_t(i)]).add("\": ").number(s.values[size_t(i)]);
        return *this;
    }
    void to(Journal *journal)
    {
        add("}}");
        if (!overflow)
            journal->append(text_, size);
    }

private:
    char text_[512];
    size_t size = 0;
    bool overflow = false;
};

QByteArray jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray { text }).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

qint64 msSince(quint64 startUs)
{
    return qint64((monotonicMicroseconds() - startUs) / 1000u);
}

class RecordedSensor : public SensorSource
{
public:
    RecordedSensor(Journal *journal, Backend &backend, Sensor kind, SampleSink sink)
        : journal(journal)
        , kind(kind)
        , key(describe(kind).key)
        , owner(std::this_thread::get_id())
        , onMain(Part::opening(key) + "\"readings\": [{\"at\": ")
        , onWorker(Part::opening(key) + "\"thread\": \"worker\", \"readings\": [{\"at\": ")
    {
        const SensorDescription &d = describe(kind);
        for (int i = 0; i < d.fieldCount(); ++i)
            fieldKeys[size_t(i)] = ", \"" + QByteArray(d.fields[size_t(i)]) + "\": ";
        Part(key).to(journal);
        inner = backend.sensor(kind, [this, sink = std::move(sink)](const Sample &s) {
            record(s);
            sink(s);
        });
    }

    KvSensor::SessionType requestSession(KvSensor::SessionType type) override
    {
        const KvSensor::SessionType granted = inner->requestSession(type);
        Part(key).add("\"session\": ").number(granted).to(journal);
        return granted;
    }
    KvSensor::SessionType sessionType() const override
    {
        const KvSensor::SessionType held = inner->sessionType();
        Part(key).add("\"sessionType\": ").number(held).to(journal);
        return held;
    }
    bool start() override
    {
        // Readings may come from another thread before start() returns.
        const quint64 before = startUs.exchange(monotonicMicroseconds());
        const bool started = inner->start();
        if (!started)
            startUs.store(before);
        Part(key).add("\"start\": ").boolean(started).to(journal);
        return started;
    }
    void stop() override { inner->stop(); }
    void closeSession() override { inner->closeSession(); }
    QString lastError() const override
    {
        const QString error = inner->lastError();
        Part(key).add("\"lastError\": ").add(jsonString(error)).to(journal);
        return error;
    }
    Sample current() const override
    {
        const Sample now = inner->current();
        Part(key).add("\"current\": {").sample(kind, now).add("}").to(journal);
        return now;
    }
    bool hasZ() const override
    {
        const bool z = inner->hasZ();
        Part(key).add("\"hasZ\": ").boolean(z).to(journal);
        return z;
    }

private:
    // A reading: the hot path of a streaming program, kept to a few copies.
    void record(const Sample &s)
    {
        Part part(std::this_thread::get_id() == owner ? onMain : onWorker);
        part.number(msSince(startUs.load())).add(", \"timestamp\": ").timestamp(s.timestamp);
        for (const QByteArray &field : fieldKeys) {
            if (field.isEmpty())
                break;
            part.add(field).number(s.values[size_t(&field - fieldKeys.data())]);
        }
        part.add("}]").to(journal);
    }

    Journal *const journal;
    const Sensor kind;
    const char *const key;
    const std::thread::id owner;
    const QByteArray onMain; // the opening of a reading's part on the owner's thread
    const QByteArray onWorker;
    std::array<QByteArray, MaxSampleFields> fieldKeys; // ", \"x\": "
    std::atomic<quint64> startUs { 0 };
    std::unique_ptr<SensorSource> inner; // last: gone, and its sink silent, before the rest
};

// Change notifications of a system-state object: times from its construction.
template <typename Value> class ChangeRecorder
{
public:
    ChangeRecorder(Journal *journal, const char *key, const char *list)
        : journal(journal)
        , key(key)
        , list(list)
        , owner(std::this_thread::get_id())
        , constructedUs(monotonicMicroseconds())
    {
        Part(key).to(journal);
    }
    ChangeSink<Value> wrap(ChangeSink<Value> sink)
    {
        return [this, sink = std::move(sink)](Value value) {
            if (!emittedInside(int(value))) {
                Part part(key);
                if (std::this_thread::get_id() != owner)
                    part.add("\"thread\": \"worker\", ");
                part.add("\"").add(list).add("\": [{\"at\": ").number(msSince(constructedUs));
                part.add(", \"value\": ").number(int(value)).add("}]").to(journal);
            }
            sink(value);
        };
    }
    // A system state's set() call under way on the owner's thread: what it
    // emits before it returns is its own (onSet), not a timed change.
    std::atomic<int> setting { -1 };

private:
    bool emittedInside(int value)
    {
        const int request = setting.load();
        if (request < 0 || std::this_thread::get_id() != owner)
            return false;
        char name[16];
        std::snprintf(name, sizeof name, "%d", request);
        Part(key).add("\"onSet\": {\"").add(name).add("\": [").number(value).add("]}").to(journal);
        return true;
    }

    Journal *const journal;
    const char *const key;
    const char *const list;
    const std::thread::id owner;
    const quint64 constructedUs;
};

class RecordedDisplay : public DisplaySource
{
public:
    RecordedDisplay(Journal *journal, Backend &backend, ChangeSink<KvDisplayState::DisplayState> sink)
        : journal(journal)
        , changes(journal, key, "changes")
        , inner(backend.display(changes.wrap(std::move(sink))))
    { }

    KvDisplayState::DisplayState get() const override
    {
        return KvDisplayState::DisplayState(answer("get", inner->get()));
    }
    bool set(KvDisplayState::DisplayState state) override
    {
        const bool ok = inner->set(state);
        Part(key).add("\"set\": [").boolean(ok).add("]").to(journal);
        return ok;
    }
    void setBrightness(int value) override { inner->setBrightness(value); }
    int brightness() const override { return answer("brightness", inner->brightness()); }
    void setDimTimeout(int seconds) override { inner->setDimTimeout(seconds); }
    int dimTimeout() const override { return answer("dimTimeout", inner->dimTimeout()); }
    bool setBlankingPause() override
    {
        const bool ok = inner->setBlankingPause();
        Part(key).add("\"blankingPause\": ").boolean(ok).to(journal);
        return ok;
    }

private:
    static constexpr const char *key = "displayState";
    int answer(const char *getter, int value) const
    {
        Part(key).add("\"").add(getter).add("\": ").number(value).to(journal);
        return value;
    }

    Journal *const journal;
    ChangeRecorder<KvDisplayState::DisplayState> changes;
    std::unique_ptr<DisplaySource> inner;
};

class RecordedSystemState : public SystemStateSource
{
public:
    RecordedSystemState(
        Journal *journal, Backend &backend, ChangeSink<KvSystemState::StateIndication> sink)
        : journal(journal)
        , changes(journal, "systemState", "indications")
        , inner(backend.systemState(changes.wrap(std::move(sink))))
    { }

    bool set(KvSystemState::NextState nextState) override
    {
        changes.setting.store(int(nextState));
        const bool ok = inner->set(nextState);
        changes.setting.store(-1);
        Part("systemState").add("\"set\": [").boolean(ok).add("]").to(journal);
        return ok;
    }

private:
    Journal *const journal;
    ChangeRecorder<KvSystemState::StateIndication> changes;
    std::unique_ptr<SystemStateSource> inner;
};

// Activity and thermal state: get() and the changes.
template <typename State> class RecordedState : public StateSource<State>
{
public:
    template <typename Make>
    RecordedState(Journal *journal, const char *key, ChangeSink<State> sink, Make make)
        : journal(journal)
        , key(key)
        , changes(journal, key, "changes")
        , inner(make(changes.wrap(std::move(sink))))
    { }

    State get() const override
    {
        const State value = inner->get();
        Part(key).add("\"get\": ").number(int(value)).to(journal);
        return value;
    }

private:
    Journal *const journal;
    const char *const key;
    ChangeRecorder<State> changes;
    std::unique_ptr<StateSource<State>> inner;
};

class RecordedBattery : public BatterySource
{
public:
    RecordedBattery(Journal *journal, Backend &backend)
        : journal(journal)
        , inner(backend.battery())
    {
        Part("battery").to(journal);
    }

    int read(BatteryValue value, KvBattery::RemainingTimeMode mode) override
    {
        const quint64 before = monotonicMicroseconds();
        const int result = inner->read(value, mode);
        const qint64 tookMs = msSince(before);
        Part part("battery");
        part.add("\"").add(batteryKeys[int(value)]).add("\": ");
        // A slow call, or a system suspended in it, is played back as slow.
        if (tookMs >= slowCallMs)
            part.add("[{\"value\": ").number(result).add(", \"delayMs\": ").number(tookMs).add("}]");
        else
            part.number(result);
        part.to(journal);
        return result;
    }

    static constexpr qint64 slowCallMs = 10;

private:
    Journal *const journal;
    std::unique_ptr<BatterySource> inner;
};

class RecordingBackend : public Backend
{
public:
    RecordingBackend(std::unique_ptr<Backend> inner, Journal *journal)
        : inner(std::move(inner))
        , journal(journal)
    { }

    std::unique_ptr<SensorSource> sensor(Sensor kind, SampleSink sink) override
    {
        return std::make_unique<RecordedSensor>(journal, *inner, kind, std::move(sink));
    }
    std::unique_ptr<DisplaySource> display(ChangeSink<KvDisplayState::DisplayState> sink) override
    {
        return std::make_unique<RecordedDisplay>(journal, *inner, std::move(sink));
    }
    std::unique_ptr<SystemStateSource> systemState(
        ChangeSink<KvSystemState::StateIndication> sink) override
    {
        return std::make_unique<RecordedSystemState>(journal, *inner, std::move(sink));
    }
    std::unique_ptr<StateSource<KvActivity::Activity>> activity(
        ChangeSink<KvActivity::Activity> sink) override
    {
        return std::make_unique<RecordedState<KvActivity::Activity>>(journal, "activity",
            std::move(sink), [this](auto wrapped) { return inner->activity(std::move(wrapped)); });
    }
    std::unique_ptr<StateSource<KvThermal::ThermalState>> thermal(
        ChangeSink<KvThermal::ThermalState> sink) override
    {
        return std::make_unique<RecordedState<KvThermal::ThermalState>>(journal, "thermal",
            std::move(sink), [this](auto wrapped) { return inner->thermal(std::move(wrapped)); });
    }
    std::unique_ptr<StateSource<KvDeviceMode::DeviceMode>> deviceMode(
        ChangeSink<KvDeviceMode::DeviceMode> sink) override
    {
        // A scenario cannot script the device mode: only that the class was there.
        Part("deviceMode").to(journal);
        return inner->deviceMode(std::move(sink));
    }
    std::unique_ptr<BatterySource> battery() override
    {
        return std::make_unique<RecordedBattery>(journal, *inner);
    }

private:
    const std::unique_ptr<Backend> inner;
    Journal *const journal;
};

} // namespace

std::unique_ptr<Backend> recordedIfAsked(std::unique_ptr<Backend> backend)
{
    const QByteArray path = environment("KVSYSTEM_RECORD");
    if (path.isEmpty())
        return backend;
    QString error;
    // Never deleted: a thread of the backend may still deliver while the process exits.
    Journal *const journal = Journal::open(path, &error);
    if (!journal)
        usageError(path + ": " + error.toUtf8());
    static Finisher finisher;
    finisher.journal = journal;
    return std::make_unique<RecordingBackend>(std::move(backend), journal);
}

} // namespace Vorna::Backend
