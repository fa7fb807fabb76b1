// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "recorder.h"

#include "backends/simulated/scenario.h"
#include "quietwrite.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <condition_variable>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace Vorna::Backend {

namespace {

// The recording file. After every part that is written the file holds
// the part, ",\n" and the closing, so that it is a whole recording at every
// moment; the next part is written over the closing.
//
// Parts go into the file with pwritev(), never through a mapping of it: a
// file cut short from outside or a file-size limit then fails one write
// instead of raising SIGBUS or SIGXFSZ, and the recording stops with a
// warning, leaving what it wrote whole. A few parts a burst are written at
// once by the thread that made them, so that a program killed right after
// its output leaves every part behind that output; beyond that (a sensor
// streaming thousands of readings a second) parts gather in memory and a
// thread of the journal's own writes them in batches, a millisecond or so
// later, because a system call per reading would cost more than the
// reading itself.
class Journal
{
public:
    // Null with *error set when the file cannot be made. A file that
    // another program records into is refused (both would write over each
    // other), and so is the file being played: writing it would destroy
    // the scenario before it was played. So is the call trace: its lines
    // would land after the recording's end.
    static Journal *open(
        const QByteArray &path, const FileId &playing, const FileId &tracing, QString *error)
    {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            *error = QString::fromLocal8Bit(std::strerror(errno));
            return nullptr;
        }
        const auto refuse = [fd, error](const QString &reason) {
            *error = reason;
            ::close(fd);
            return nullptr;
        };
        struct stat st {};
        if (::fstat(fd, &st) != 0)
            return refuse(QString::fromLocal8Bit(std::strerror(errno)));
        if (!S_ISREG(st.st_mode))
            return refuse(QStringLiteral("not a regular file"));
        const FileId file { st.st_dev, st.st_ino };
        if (file == playing)
            return refuse(QStringLiteral("the scenario being played cannot be recorded into"));
        if (file == tracing)
            return refuse(QStringLiteral("the call trace cannot be recorded into"));
        // Held until the process ends; the file is emptied only once it is ours.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
            return refuse(errno == EWOULDBLOCK
                    ? QStringLiteral("another program is recording into it")
                    : QString::fromLocal8Bit(std::strerror(errno)));
        auto *journal = new Journal(fd, path);
        const iovec header[] = { { const_cast<char *>(recordingHeader), std::strlen(recordingHeader) },
            closing() };
        if (::ftruncate(fd, 0) != 0 || !journal->write(header, 2, error)) {
            if (error->isEmpty())
                *error = QString::fromLocal8Bit(std::strerror(errno));
            ::close(fd);
            delete journal;
            return nullptr;
        }
        return journal;
    }

    void append(const char *part, size_t size)
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (stopped)
            return;
        if (pending.isEmpty() && !writing && mayWriteNow()) {
            const iovec parts[] = { { const_cast<char *>(part), size }, separator(), closing() };
            QString failure;
            if (!write(parts, 3, &failure))
                stop(failure);
            return;
        }
        const bool wasEmpty = pending.isEmpty();
        pending.append(part, int(size)).append(",\n", 2);
        if (wasEmpty)
            wake(lock);
    }

    // At the process's normal end: every part gathered so far is written.
    void finish()
    {
        std::unique_lock<std::mutex> lock(mutex);
        finishing = true;
        written.wait(lock, [this] { return !writing; });
        flushLocked(lock);
    }

private:
    static constexpr size_t closingSize = sizeof(recordingClosing) - 1;
    // Parts written at once in one window; more go to the writing thread.
    static constexpr int burstParts = 32;
    static constexpr quint64 burstWindowUs = 10000;

    Journal(int fd, const QByteArray &path)
        : fd(fd)
        , path(path)
    { }

    // Static text only: a backend's thread may still record while the
    // process's static objects are destroyed.
    static constexpr iovec separator() { return { const_cast<char *>(",\n"), 2 }; }
    static constexpr iovec closing() { return { const_cast<char *>(recordingClosing), closingSize }; }

    bool mayWriteNow()
    {
        if (finishing || flusherFailed)
            return true;
        const quint64 now = monotonicMicroseconds();
        if (now - windowStartUs >= burstWindowUs) {
            windowStartUs = now;
            partsInWindow = 0;
        }
        return partsInWindow++ < burstParts;
    }

    // Writes parts at the end (where the closing starts) and moves the end
    // past all of them but the closing. A write cut short (a full disk, a
    // size limit) is taken back: the closing goes where it was.
    bool write(const iovec *parts, int count, QString *failure)
    {
        size_t total = 0;
        for (int i = 0; i < count; ++i)
            total += parts[i].iov_len;
        struct stat st {};
        if (end > 0 && ::fstat(fd, &st) == 0 && st.st_size < off_t(end + closingSize)) {
            *failure = QStringLiteral("the file was cut short by another program");
            return false;
        }
        const ssize_t n = writeAll(parts, count, off_t(end));
        if (n == ssize_t(total)) {
            end += total - closingSize;
            return true;
        }
        *failure = QString::fromLocal8Bit(std::strerror(errno ? errno : ENOSPC));
        const iovec restored[] = { closing() };
        if (end > 0 && quietWrite(fd, restored, 1, off_t(end)) == ssize_t(closingSize)
            && ::ftruncate(fd, off_t(end + closingSize)) == 0) {
            // Whole again, as before the part.
        }
        return false;
    }

    // pwritev() until all is written; the bytes written, or -1 when the
    // first write failed. errno tells why it stopped short.
    ssize_t writeAll(const iovec *parts, int count, off_t at)
    {
        size_t total = 0;
        for (int i = 0; i < count; ++i)
            total += parts[i].iov_len;
        ssize_t n;
        do
            n = quietWrite(fd, parts, count, at);
        while (n < 0 && errno == EINTR);
        if (n < 0 || size_t(n) == total)
            return n;
        // Cut short (rare on a file): the rest as one piece.
        QByteArray rest;
        for (int i = 0; i < count; ++i)
            rest.append(static_cast<const char *>(parts[i].iov_base), int(parts[i].iov_len));
        size_t done = size_t(n);
        errno = ENOSPC;
        while (done < total) {
            const iovec one { rest.data() + done, total - done };
            const ssize_t m = quietWrite(fd, &one, 1, at + off_t(done));
            if (m < 0 && errno == EINTR)
                continue;
            if (m <= 0)
                break;
            done += size_t(m);
        }
        return ssize_t(done);
    }

    void stop(const QString &failure)
    {
        stopped = true;
        pending.clear();
        // A recording that cannot go on must not take the program down.
        warning(path + ": recording stopped: " + failure.toLocal8Bit());
    }

    // Writes what has gathered; called with the lock held, which it lets go
    // for the write itself so that readings go on meanwhile.
    void flushLocked(std::unique_lock<std::mutex> &lock)
    {
        if (writing)
            return; // the thread that writes takes these parts too
        while (!pending.isEmpty() && !stopped) {
            QByteArray batch;
            batch.swap(pending);
            writing = true;
            lock.unlock();
            const iovec parts[] = { { batch.data(), size_t(batch.size()) }, closing() };
            QString failure;
            // Only this thread moves the end while writing is set.
            const bool ok = write(parts, 2, &failure);
            lock.lock();
            writing = false;
            written.notify_all();
            if (!ok)
                stop(failure);
        }
    }

    // Makes sure the writing thread is there and looks at the parts.
    void wake(std::unique_lock<std::mutex> &lock)
    {
        if (!flusher && !flusherFailed) {
            try {
                std::thread([this] { run(); }).detach();
                flusher = true;
            } catch (const std::system_error &) {
                // No thread to be had (a thread or process limit): the
                // parts are written at once from now on, slower but whole.
                flusherFailed = true;
                flushLocked(lock);
                return;
            }
        }
        if (flusherIdle)
            work.notify_one();
    }

    void run()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            flusherIdle = true;
            work.wait(lock, [this] { return !pending.isEmpty(); });
            flusherIdle = false;
            // Let a batch gather: one write for many parts.
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            lock.lock();
            flushLocked(lock);
        }
    }

    const int fd;
    const QByteArray path;
    std::mutex mutex;
    std::condition_variable work; // parts for the writing thread
    std::condition_variable written; // a batch's write has ended
    size_t end = 0; // where the closing starts
    QByteArray pending; // parts not yet written, each followed by ",\n"
    bool writing = false; // a batch is being written, outside the lock
    bool stopped = false;
    bool finishing = false;
    bool flusher = false;
    bool flusherFailed = false;
    bool flusherIdle = false;
    quint64 windowStartUs = 0;
    int partsInWindow = 0;
};

// Writes what is still gathered when the program ends normally.
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
        if (Q_LIKELY(spill.isNull() && size + n <= sizeof(text_))) {
            std::memcpy(text_ + size, text, n);
            size += n;
            return *this;
        }
        // A long text (an error message, say): the rest on the heap.
        if (spill.isNull())
            spill = QByteArray(text_, int(size));
        spill.append(text, int(n));
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
    // A member's key: "name": 
    Part &key(const char *name) { return add("\"").add(name).add("\": "); }
    // The fields of a reading record after its opening brace.
    Part &sample(Sensor kind, const Sample &s)
    {
        key(ScenarioKey::timestamp).timestamp(s.timestamp);
        const SensorDescription &d = describe(kind);
        for (int i = 0; i < d.fieldCount(); ++i)
            add(", \"").add(d.fields[size_t(i)]).add("\": ").number(s.values[size_t(i)]);
        return *this;
    }
    void to(Journal *journal)
    {
        add("}}");
        if (spill.isNull())
            journal->append(text_, size);
        else
            journal->append(spill.constData(), size_t(spill.size()));
    }

private:
    char text_[512];
    size_t size = 0;
    QByteArray spill;
};

// "name": 
QByteArray quotedKey(const char *name)
{
    return '"' + QByteArray(name) + "\": ";
}

// A section's mark of changes or readings that came on a thread of the backend's own.
QByteArray workerThread()
{
    return quotedKey(ScenarioKey::thread) + '"' + ScenarioKey::workerThread + "\", ";
}

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
        , onMain(Part::opening(key) + quotedKey(ScenarioKey::readings) + "[{" + quotedKey(ScenarioKey::at))
        , onWorker(Part::opening(key) + workerThread() + quotedKey(ScenarioKey::readings) + "[{"
              + quotedKey(ScenarioKey::at))
    {
        const SensorDescription &d = describe(kind);
        for (int i = 0; i < d.fieldCount(); ++i)
            fieldKeys[size_t(i)] = ", " + quotedKey(d.fields[size_t(i)]);
        Part(key).to(journal);
        inner = backend.sensor(kind, [this, sink = std::move(sink)](const Sample &s) {
            record(s);
            sink(s);
        });
    }

    KvSensor::SessionType requestSession(KvSensor::SessionType type) override
    {
        const KvSensor::SessionType granted = inner->requestSession(type);
        Part(key).key(ScenarioKey::session).number(granted).to(journal);
        return granted;
    }
    KvSensor::SessionType sessionType() const override
    {
        const KvSensor::SessionType held = inner->sessionType();
        Part(key).key(ScenarioKey::sessionType).number(held).to(journal);
        return held;
    }
    bool start() override
    {
        // Readings may come from another thread before start() returns.
        const quint64 before = startUs.exchange(monotonicMicroseconds());
        const bool started = inner->start();
        if (!started)
            startUs.store(before);
        Part(key).key(ScenarioKey::start).boolean(started).to(journal);
        return started;
    }
    void stop() override { inner->stop(); }
    void closeSession() override { inner->closeSession(); }
    QString lastError() const override
    {
        const QString error = inner->lastError();
        Part(key).key(ScenarioKey::lastError).add(jsonString(error)).to(journal);
        return error;
    }
    Sample current() const override
    {
        const Sample now = inner->current();
        Part(key).key(ScenarioKey::current).add("{").sample(kind, now).add("}").to(journal);
        return now;
    }
    bool hasZ() const override
    {
        const bool z = inner->hasZ();
        Part(key).key(ScenarioKey::hasZ).boolean(z).to(journal);
        return z;
    }

private:
    // A reading: the hot path of a streaming program, kept to a few copies.
    void record(const Sample &s)
    {
        Part part(std::this_thread::get_id() == owner ? onMain : onWorker);
        part.number(msSince(startUs.load())).add(timestampKey).timestamp(s.timestamp);
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
    const QByteArray timestampKey = ", " + quotedKey(ScenarioKey::timestamp);
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
                    part.add(workerThread());
                part.key(list).add("[{").key(ScenarioKey::at).number(msSince(constructedUs));
                part.add(", ").key(ScenarioKey::value).number(int(value)).add("}]").to(journal);
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
        Part(key).key(ScenarioKey::onSet).add("{").key(name).add("[").number(value).add("]}").to(journal);
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
        , changes(journal, key, ScenarioKey::changes)
        , inner(backend.display(changes.wrap(std::move(sink))))
    { }

    KvDisplayState::DisplayState get() const override
    {
        return KvDisplayState::DisplayState(answer(ScenarioKey::get, inner->get()));
    }
    bool set(KvDisplayState::DisplayState state) override
    {
        const bool ok = inner->set(state);
        Part(key).key(ScenarioKey::set).add("[").boolean(ok).add("]").to(journal);
        return ok;
    }
    void setBrightness(int value) override { inner->setBrightness(value); }
    int brightness() const override { return answer(ScenarioKey::brightness, inner->brightness()); }
    void setDimTimeout(int seconds) override { inner->setDimTimeout(seconds); }
    int dimTimeout() const override { return answer(ScenarioKey::dimTimeout, inner->dimTimeout()); }
    bool setBlankingPause() override
    {
        const bool ok = inner->setBlankingPause();
        Part(key).key(ScenarioKey::blankingPause).boolean(ok).to(journal);
        return ok;
    }

private:
    static constexpr const char *key = ScenarioKey::displayState;
    int answer(const char *getter, int value) const
    {
        Part(key).key(getter).number(value).to(journal);
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
        , changes(journal, ScenarioKey::systemState, ScenarioKey::indications)
        , inner(backend.systemState(changes.wrap(std::move(sink))))
    { }

    bool set(KvSystemState::NextState nextState) override
    {
        changes.setting.store(int(nextState));
        const bool ok = inner->set(nextState);
        changes.setting.store(-1);
        Part(ScenarioKey::systemState).key(ScenarioKey::set).add("[").boolean(ok).add("]").to(journal);
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
        , changes(journal, key, ScenarioKey::changes)
        , inner(make(changes.wrap(std::move(sink))))
    { }

    State get() const override
    {
        const State value = inner->get();
        Part(key).key(ScenarioKey::get).number(int(value)).to(journal);
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
        Part(ScenarioKey::battery).to(journal);
    }

    int read(BatteryValue value, KvBattery::RemainingTimeMode mode) override
    {
        const quint64 before = monotonicMicroseconds();
        const int result = inner->read(value, mode);
        const qint64 tookMs = msSince(before);
        Part part(ScenarioKey::battery);
        part.key(batteryKeys[int(value)]);
        // A slow call, or a system suspended in it, is played back as slow.
        if (tookMs >= slowCallMs)
            part.add("[{").key(ScenarioKey::value).number(result).add(", ").key(ScenarioKey::delayMs)
                .number(tookMs).add("}]");
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
        return std::make_unique<RecordedState<KvActivity::Activity>>(journal, ScenarioKey::activity,
            std::move(sink), [this](auto wrapped) { return inner->activity(std::move(wrapped)); });
    }
    std::unique_ptr<StateSource<KvThermal::ThermalState>> thermal(
        ChangeSink<KvThermal::ThermalState> sink) override
    {
        return std::make_unique<RecordedState<KvThermal::ThermalState>>(journal, ScenarioKey::thermal,
            std::move(sink), [this](auto wrapped) { return inner->thermal(std::move(wrapped)); });
    }
    std::unique_ptr<StateSource<KvDeviceMode::DeviceMode>> deviceMode(
        ChangeSink<KvDeviceMode::DeviceMode> sink) override
    {
        // A scenario cannot script the device mode: only that the class was there.
        Part(ScenarioKey::deviceMode).to(journal);
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

std::unique_ptr<Backend> recordedIfAsked(
    std::unique_ptr<Backend> backend, const FileId &playing, const FileId &tracing)
{
    const QByteArray path = environment("KVSYSTEM_RECORD");
    if (path.isEmpty())
        return backend;
    QString error;
    // Never deleted: a thread of the backend may still deliver while the process exits.
    Journal *const journal = Journal::open(path, playing, tracing, &error);
    if (!journal)
        usageError(path + ": " + error.toUtf8());
    static Finisher finisher;
    finisher.journal = journal;
    return std::make_unique<RecordingBackend>(std::move(backend), journal);
}

} // namespace Vorna::Backend
