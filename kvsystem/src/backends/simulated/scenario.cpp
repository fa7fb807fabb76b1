// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "scenario.h"

#include "jsonpath.h"
#include "jsonreader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QVarLengthArray>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cmath>
#include <initializer_list>
#include <limits>

namespace Vorna::Backend {

namespace {

// JSON numbers are doubles: integers beyond 2^53 cannot be told apart from
// their neighbours, so larger 64-bit values have to be written as strings.
constexpr double exactLimit = 9007199254740992.0; // 2^53

struct Failure
{
    QString message;
};

class Parser;

// One key of an object in a scenario file: its name, and how its value is
// read into the section that the object describes.
template <typename Section> struct Key
{
    const char *name;
    void (*read)(Parser &, Section &); // reads the value at the cursor
};

class Parser
{
public:
    Parser(const char *begin, const char *end, const QString &path = QString())
        : in(begin, end)
        , path(path)
    { }
    Scenario parse();
    // One part of a recording, merged into sc, with its index for paths.
    void recordingPart(Scenario &sc, int index);

private:
    using Type = JsonReader::Type;
    using Members = std::vector<JsonReader::Member>;

    // Path handling: every check reports the JSON path of the value it
    // looks at. The path is kept as its parts and spelled only for a
    // failure: a reading's checks then cost no text.
    struct PathPart
    {
        QByteArray key; // UTF-8
        int index = -1; // an array element when not negative
    };
    class Step
    {
    public:
        Step(Parser &p, PathPart part)
            : p(p)
        {
            p.parts.push_back(std::move(part));
        }
        ~Step() { p.parts.pop_back(); }

    private:
        Parser &p;
    };
    Step key(const QByteArray &name) { return Step(*this, { name, -1 }); }
    Step key(const char *name) { return Step(*this, { QByteArray::fromRawData(name, int(qstrlen(name))), -1 }); }
    Step index(int i) { return Step(*this, { QByteArray(), i }); }

    [[noreturn]] void fail(const QString &what) const
    {
        QString spelled = path;
        for (const PathPart &part : parts) {
            if (part.index >= 0)
                spelled += QStringLiteral("[%1]").arg(part.index);
            else
                spelled += (spelled.isEmpty() ? QString() : QStringLiteral("."))
                    + pathKey(QString::fromUtf8(part.key));
        }
        throw Failure { spelled.isEmpty() ? what : spelled + QStringLiteral(": ") + what };
    }
    [[noreturn]] void wrongType(const QString &expected);

    // The members of the object at the cursor, all among allowed, sorted by
    // key as Qt's objects are (so that of two faults the same one is named);
    // the cursor moves past the object.
    Members object(std::initializer_list<const char *> allowed);
    Members object(const QVector<const char *> &allowed);
    Members object(const char *const *allowed, const char *const *allowedEnd);
    // The member named, or null; the cursor goes to its value.
    const JsonReader::Member *find(const Members &members, const char *name);
    void array();
    bool boolean();
    QString string();
    qint64 integer(qint64 min, qint64 max);
    int int32()
    {
        return int(integer(std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()));
    }
    quint64 timestamp();
    // A time in ms after a start or a construction.
    qint64 at() { return integer(0, qint64(exactLimit) - 1); }
    Delivery thread();

    // One value, or a non-empty array of them, each read by one().
    template <typename T> Answers<T> answers(T (*one)(Parser &));
    static int readInt(Parser &p) { return p.int32(); }
    static bool readBool(Parser &p) { return p.boolean(); }
    static QString readString(Parser &p) { return p.string(); }
    static Sample readCurrent(Parser &p) { return p.current(); }

    // An object whose keys are all among keys, read key by key.
    template <typename Section> Section section(const QVector<Key<Section>> &keys);
    template <typename Section> void readMembers(Section &into, const QVector<Key<Section>> &keys);

    SensorScenario sensor(Sensor kind);
    Sample current();
    void readings(SensorScenario &sc);
    Sample sample(Sensor kind, const Members &members);
    BoolAnswer boolAnswer(std::initializer_list<int> arguments);
    void recording(Scenario &sc);
    QVector<TimedChange> changes();
    QHash<int, QVector<int>> onSet();
    DisplayScenario display();
    SystemStateScenario systemState();
    ValueScenario value();
    // One battery getter's answers, call by call.
    QVector<BatteryStep> steps();
    std::array<QVector<BatteryStep>, BatteryValueCount> battery();

    JsonReader in;
    QString path; // where the text read stands in the file
    std::vector<PathPart> parts;
    Sensor sectionSensor = Sensor::Als; // the sensor whose section is being read
};

QString typeName(JsonReader::Type type)
{
    switch (type) {
    case JsonReader::Null:
        return QStringLiteral("null");
    case JsonReader::Bool:
        return QStringLiteral("a bool");
    case JsonReader::Number:
        return QStringLiteral("a number");
    case JsonReader::String:
        return QStringLiteral("a string");
    case JsonReader::Array:
        return QStringLiteral("an array");
    case JsonReader::Object:
        return QStringLiteral("an object");
    }
    return QStringLiteral("nothing");
}

void Parser::wrongType(const QString &expected)
{
    fail(QStringLiteral("expected %1, not %2").arg(expected, typeName(in.type())));
}

Parser::Members Parser::object(const QVector<const char *> &allowed)
{
    return object(allowed.constData(), allowed.constData() + allowed.size());
}

Parser::Members Parser::object(const char *const *allowed, const char *const *allowedEnd)
{
    if (in.type() != Type::Object)
        wrongType(QStringLiteral("an object"));
    Members members;
    in.members(&members);
    std::sort(members.begin(), members.end(),
        [](const JsonReader::Member &a, const JsonReader::Member &b) { return a.key < b.key; });
    for (const JsonReader::Member &m : members) {
        const bool known = std::any_of(
            allowed, allowedEnd, [&](const char *name) { return m.key == name; });
        if (!known) {
            const Step s = key(m.key);
            fail(QStringLiteral("unknown key"));
        }
    }
    return members;
}

Parser::Members Parser::object(std::initializer_list<const char *> allowed)
{
    return object(QVector<const char *>(allowed));
}

const JsonReader::Member *Parser::find(const Members &members, const char *name)
{
    for (const JsonReader::Member &m : members) {
        if (m.key == name) {
            in.seek(m.value);
            return &m;
        }
    }
    return nullptr;
}

void Parser::array()
{
    if (in.type() != Type::Array)
        wrongType(QStringLiteral("an array"));
}

bool Parser::boolean()
{
    if (in.type() != Type::Bool)
        wrongType(QStringLiteral("true or false"));
    return in.boolean();
}

QString Parser::string()
{
    if (in.type() != Type::String)
        wrongType(QStringLiteral("a string"));
    return in.string();
}

qint64 Parser::integer(qint64 min, qint64 max)
{
    if (in.type() != Type::Number)
        wrongType(QStringLiteral("an integer"));
    const double d = in.number();
    if (d != std::floor(d))
        fail(QStringLiteral("expected an integer, not %1").arg(d, 0, 'g', 17));
    if (std::fabs(d) >= exactLimit || d < double(min) || d > double(max))
        fail(QStringLiteral("%1 is out of range (%2 to %3)").arg(d, 0, 'f', 0).arg(min).arg(max));
    return qint64(d);
}

quint64 Parser::timestamp()
{
    const Type type = in.type();
    if (type == Type::Number) {
        const qsizetype start = in.position();
        const double d = in.number();
        if (std::fabs(d) >= exactLimit)
            fail(QStringLiteral(
                "%1 cannot be exact as a JSON number; write it as a string of digits")
                     .arg(d, 0, 'f', 0));
        in.seek(start);
        return quint64(integer(-qint64(exactLimit) + 1, qint64(exactLimit) - 1));
    }
    if (type != Type::String)
        wrongType(QStringLiteral("an integer or a string of decimal digits"));
    // Up to 2^64 - 1, or down to -2^63 (kept in two's complement).
    const QString text = in.string();
    const bool negative = text.startsWith(QLatin1Char('-'));
    const QStringView digits = QStringView(text).mid(negative ? 1 : 0);
    const bool allDigits = !digits.isEmpty()
        && std::all_of(digits.begin(), digits.end(),
            [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
    bool ok = false;
    quint64 value = 0;
    if (allDigits) {
        if (negative) {
            const qint64 n = text.toLongLong(&ok);
            value = quint64(n);
        } else {
            value = digits.toULongLong(&ok);
        }
    }
    if (!ok)
        fail(QStringLiteral("\"%1\" is not a 64-bit integer").arg(text));
    return value;
}

Delivery Parser::thread()
{
    const QString name = string();
    if (name == QLatin1String(ScenarioKey::mainThread))
        return Delivery::MainThread;
    if (name == QLatin1String(ScenarioKey::workerThread))
        return Delivery::WorkerThread;
    fail(QStringLiteral("expected \"main\" or \"worker\", not \"%1\"").arg(name));
}

template <typename T> Answers<T> Parser::answers(T (*one)(Parser &))
{
    Answers<T> a;
    if (in.type() != Type::Array) {
        a.calls.append(one(*this));
        return a;
    }
    in.enter();
    for (int i = 0; in.next(); ++i) {
        const Step s = index(i);
        a.calls.append(one(*this));
    }
    if (a.calls.isEmpty())
        fail(QStringLiteral("expected at least one value"));
    return a;
}

template <typename Section>
void Parser::readMembers(Section &into, const QVector<Key<Section>> &keys)
{
    QVarLengthArray<const char *, 16> allowed;
    for (const Key<Section> &k : keys)
        allowed.append(k.name);
    const Members members = object(allowed.begin(), allowed.end());
    const qsizetype after = in.position();
    for (const JsonReader::Member &m : members) {
        const Step s = key(m.key);
        const auto k = std::find_if(keys.begin(), keys.end(),
            [&](const Key<Section> &k) { return m.key == k.name; });
        in.seek(m.value);
        k->read(*this, into);
    }
    in.seek(after);
}

template <typename Section> Section Parser::section(const QVector<Key<Section>> &keys)
{
    Section result {};
    readMembers(result, keys);
    return result;
}

Sample Parser::sample(Sensor kind, const Members &members)
{
    Sample s;
    if (find(members, ScenarioKey::timestamp)) {
        const Step st = key(ScenarioKey::timestamp);
        s.timestamp = timestamp();
    }
    const SensorDescription &d = describe(kind);
    for (int i = 0; i < d.fieldCount(); ++i) {
        if (find(members, d.fields[size_t(i)])) {
            const Step st = key(d.fields[size_t(i)]);
            s.values[size_t(i)] = int32();
        }
    }
    return s;
}

SensorScenario Parser::sensor(Sensor kind)
{
    using S = SensorScenario;
    QVector<Key<S>> keys = {
        { ScenarioKey::session, [](Parser &p, S &sc) { sc.session = p.answers(readInt); } },
        { ScenarioKey::sessionType, [](Parser &p, S &sc) { sc.sessionType = p.answers(readInt); } },
        { ScenarioKey::start, [](Parser &p, S &sc) { sc.start = p.answers(readBool); } },
        { ScenarioKey::lastError, [](Parser &p, S &sc) { sc.lastError = p.answers(readString); } },
        { ScenarioKey::thread, [](Parser &p, S &sc) { sc.thread = p.thread(); } },
        { ScenarioKey::readings, [](Parser &p, S &sc) { p.readings(sc); } },
    };
    if (describe(kind).readsCurrent)
        keys.append({ ScenarioKey::current, [](Parser &p, S &sc) { sc.current = p.answers(readCurrent); } });
    if (kind == Sensor::Rotation)
        keys.append({ ScenarioKey::hasZ, [](Parser &p, S &sc) { sc.hasZ = p.answers(readBool); } });
    sectionSensor = kind;
    SensorScenario sc = section(keys);
    sc.readings.sortByTime();
    return sc;
}

// The names a reading may give, after what else its object holds.
QVector<const char *> fieldNames(Sensor kind, std::initializer_list<const char *> before)
{
    QVector<const char *> names(before);
    const SensorDescription &d = describe(kind);
    for (int i = 0; i < d.fieldCount(); ++i)
        names << d.fields[size_t(i)];
    return names;
}

Sample Parser::current()
{
    const Members members = object(fieldNames(sectionSensor, { ScenarioKey::timestamp }));
    const qsizetype after = in.position();
    const Sample s = sample(sectionSensor, members);
    in.seek(after);
    return s;
}

void Parser::readings(SensorScenario &sc)
{
    array();
    const QVector<const char *> allowed = fieldNames(sectionSensor, { ScenarioKey::at, ScenarioKey::timestamp });
    sc.readings.setKind(sectionSensor);
    in.enter();
    for (int i = 0; in.next(); ++i) {
        const Step is = index(i);
        const Members r = object(allowed);
        const qsizetype after = in.position();
        TimedSample t;
        if (find(r, ScenarioKey::at)) {
            const Step as = key(ScenarioKey::at);
            t.at = at();
        }
        t.sample = sample(sectionSensor, r);
        sc.readings.append(t);
        in.seek(after);
    }
}

BoolAnswer Parser::boolAnswer(std::initializer_list<int> arguments)
{
    BoolAnswer answer;
    const Type type = in.type();
    if (type == Type::Bool) {
        answer.all = in.boolean();
        return answer;
    }
    if (type == Type::Array) {
        answer.calls = answers(readBool).calls;
        return answer;
    }
    if (type != Type::Object)
        wrongType(QStringLiteral("true, false, an object or an array"));
    QVector<QByteArray> names;
    for (int a : arguments)
        names << QByteArray::number(a);
    QVector<const char *> allowed;
    for (const QByteArray &n : qAsConst(names))
        allowed << n.constData();
    const Members members = object(allowed);
    const qsizetype after = in.position();
    for (const JsonReader::Member &m : members) {
        const Step s = key(m.key);
        in.seek(m.value);
        answer.byArgument.insert(m.key.toInt(), boolean());
    }
    in.seek(after);
    return answer;
}

QVector<TimedChange> Parser::changes()
{
    using C = TimedChange;
    array();
    static const QVector<Key<C>> keys = {
        { ScenarioKey::at, [](Parser &p, C &c) { c.at = p.at(); } },
        { ScenarioKey::value, [](Parser &p, C &c) { c.value = p.int32(); } },
    };
    QVector<TimedChange> list;
    in.enter();
    for (int i = 0; in.next(); ++i) {
        const Step s = index(i);
        list.append(section<C>(keys));
    }
    std::stable_sort(list.begin(), list.end(),
        [](const TimedChange &a, const TimedChange &b) { return a.at < b.at; });
    return list;
}

DisplayScenario Parser::display()
{
    using D = DisplayScenario;
    return section<D>({
        { ScenarioKey::get, [](Parser &p, D &d) { d.get = p.answers(readInt); } },
        { ScenarioKey::set, [](Parser &p, D &d) { d.set = p.boolAnswer({ -1, 0, 1 }); } },
        { ScenarioKey::brightness, [](Parser &p, D &d) { d.brightness = p.answers(readInt); } },
        { ScenarioKey::dimTimeout, [](Parser &p, D &d) { d.dimTimeout = p.answers(readInt); } },
        { ScenarioKey::blankingPause, [](Parser &p, D &d) { d.blankingPause = p.answers(readBool); } },
        { ScenarioKey::changes, [](Parser &p, D &d) { d.changes.changes = p.changes(); } },
        { ScenarioKey::thread, [](Parser &p, D &d) { d.changes.thread = p.thread(); } },
    });
}

SystemStateScenario Parser::systemState()
{
    using S = SystemStateScenario;
    return section<S>({
        { ScenarioKey::set, [](Parser &p, S &s) { s.set = p.boolAnswer({ 0, 1, 2 }); } },
        { ScenarioKey::onSet, [](Parser &p, S &s) { s.onSet = p.onSet(); } },
        { ScenarioKey::indications, [](Parser &p, S &s) { s.indications.changes = p.changes(); } },
        { ScenarioKey::thread, [](Parser &p, S &s) { s.indications.thread = p.thread(); } },
    });
}

QHash<int, QVector<int>> Parser::onSet()
{
    QHash<int, QVector<int>> onSet;
    const Members requests = object({ "0", "1", "2" });
    const qsizetype after = in.position();
    for (const JsonReader::Member &r : requests) {
        const Step rs = key(r.key);
        in.seek(r.value);
        array();
        QVector<int> emitted;
        in.enter();
        for (int i = 0; in.next(); ++i) {
            const Step is = index(i);
            emitted << int32();
        }
        onSet.insert(r.key.toInt(), emitted);
    }
    in.seek(after);
    return onSet;
}

ValueScenario Parser::value()
{
    using V = ValueScenario;
    return section<V>({
        { ScenarioKey::get, [](Parser &p, V &s) { s.get = p.answers(readInt); } },
        { ScenarioKey::changes, [](Parser &p, V &s) { s.changes.changes = p.changes(); } },
        { ScenarioKey::thread, [](Parser &p, V &s) { s.changes.thread = p.thread(); } },
    });
}

QVector<BatteryStep> Parser::steps()
{
    const Type type = in.type();
    if (type == Type::Number)
        return { BatteryStep { int32(), 0 } };
    if (type != Type::Array)
        wrongType(QStringLiteral("an integer or an array"));
    QVector<BatteryStep> steps;
    in.enter();
    for (int i = 0; in.next(); ++i) {
        const Step s = index(i);
        const Type element = in.type();
        if (element == Type::Number) {
            steps.append({ int32(), 0 });
            continue;
        }
        if (element != Type::Object)
            wrongType(QStringLiteral("an integer or an object"));
        using B = BatteryStep;
        static const QVector<Key<B>> keys = {
            { ScenarioKey::value, [](Parser &p, B &b) { b.value = p.int32(); } },
            { ScenarioKey::delayMs,
                [](Parser &p, B &b) {
                    b.delayMs = int(p.integer(0, std::numeric_limits<qint32>::max()));
                } },
        };
        steps.append(section<B>(keys));
    }
    if (steps.isEmpty())
        fail(QStringLiteral("expected at least one value"));
    return steps;
}

std::array<QVector<BatteryStep>, BatteryValueCount> Parser::battery()
{
    const Members members
        = object(QVector<const char *>(std::begin(batteryKeys), std::end(batteryKeys)));
    const qsizetype after = in.position();
    std::array<QVector<BatteryStep>, BatteryValueCount> getters;
    for (int i = 0; i < BatteryValueCount; ++i) {
        if (find(members, batteryKeys[i])) {
            const Step s = key(batteryKeys[i]);
            getters[size_t(i)] = steps();
        }
    }
    in.seek(after);
    return getters;
}

Scenario Parser::parse()
{
    using S = Scenario;
    static const QVector<Key<S>> classes = {
        { ScenarioKey::displayState, [](Parser &p, S &sc) { sc.displayState = p.display(); } },
        { ScenarioKey::systemState, [](Parser &p, S &sc) { sc.systemState = p.systemState(); } },
        { ScenarioKey::activity, [](Parser &p, S &sc) { sc.activity = p.value(); } },
        { ScenarioKey::thermal, [](Parser &p, S &sc) { sc.thermal = p.value(); } },
        // The device mode cannot be scripted: the object stays empty.
        { ScenarioKey::deviceMode,
            [](Parser &p, S &sc) {
                p.object(QVector<const char *>());
                sc.deviceMode = true;
            } },
        { ScenarioKey::battery, [](Parser &p, S &sc) { sc.battery = p.battery(); } },
    };
    static const QVector<const char *> allowed = [] {
        QVector<const char *> names;
        for (const SensorDescription &d : sensorTable)
            names << d.key;
        for (const Key<S> &k : classes)
            names << k.name;
        return names << ScenarioKey::recording;
    }();
    const Members top = object(allowed);
    const qsizetype after = in.position();

    Scenario sc;
    // The sensors first, in the order of their table.
    for (const SensorDescription &d : sensorTable) {
        if (find(top, d.key)) {
            const Step s = key(d.key);
            sc.sensors[size_t(d.kind)] = sensor(d.kind);
        }
    }
    for (const JsonReader::Member &m : top) {
        const auto k = std::find_if(classes.begin(), classes.end(),
            [&](const Key<S> &k) { return m.key == k.name; });
        if (k != classes.end()) {
            const Step s = key(m.key);
            in.seek(m.value);
            k->read(*this, sc);
        }
    }
    // A recording adds to what the file's own keys say.
    if (find(top, ScenarioKey::recording)) {
        const Step s = key(ScenarioKey::recording);
        recording(sc);
    }
    in.seek(after);
    return sc;
}

// Merging the parts of a recording: answers add up call by call (a single
// value is one call), readings and changes follow one another in the
// order given, and the worker thread wins over the main thread.
template <typename T> void merge(Answers<T> &into, const Answers<T> &more)
{
    into.append(more);
}

void merge(Delivery &into, Delivery more)
{
    if (more == Delivery::WorkerThread)
        into = more;
}

void merge(SensorScenario &into, const SensorScenario &more)
{
    merge(into.session, more.session);
    merge(into.sessionType, more.sessionType);
    merge(into.start, more.start);
    merge(into.lastError, more.lastError);
    into.readings += more.readings;
    merge(into.thread, more.thread);
    merge(into.current, more.current);
    merge(into.hasZ, more.hasZ);
}

void merge(BoolAnswer &into, const BoolAnswer &more)
{
    if (more.all)
        into.calls.append(*more.all);
    into.calls += more.calls;
    for (auto it = more.byArgument.begin(); it != more.byArgument.end(); ++it)
        into.byArgument.insert(it.key(), it.value());
}

void merge(ChangeList &into, const ChangeList &more)
{
    into.changes += more.changes;
    merge(into.thread, more.thread);
}

void merge(DisplayScenario &into, const DisplayScenario &more)
{
    merge(into.get, more.get);
    merge(into.set, more.set);
    merge(into.brightness, more.brightness);
    merge(into.dimTimeout, more.dimTimeout);
    merge(into.blankingPause, more.blankingPause);
    merge(into.changes, more.changes);
}

void merge(SystemStateScenario &into, const SystemStateScenario &more)
{
    merge(into.set, more.set);
    for (auto it = more.onSet.begin(); it != more.onSet.end(); ++it)
        into.onSet[it.key()] += it.value();
    merge(into.indications, more.indications);
}

void merge(ValueScenario &into, const ValueScenario &more)
{
    merge(into.get, more.get);
    merge(into.changes, more.changes);
}

template <typename Section> void merge(std::optional<Section> &into, const std::optional<Section> &more)
{
    if (!more)
        return;
    if (!into)
        into.emplace();
    merge(*into, *more);
}

void merge(Scenario &into, const Scenario &more)
{
    for (size_t i = 0; i < into.sensors.size(); ++i)
        merge(into.sensors[i], more.sensors[i]);
    merge(into.displayState, more.displayState);
    merge(into.systemState, more.systemState);
    merge(into.activity, more.activity);
    merge(into.thermal, more.thermal);
    into.deviceMode = into.deviceMode || more.deviceMode;
    for (size_t i = 0; i < into.battery.size(); ++i)
        into.battery[i] += more.battery[i];
}

void Parser::recording(Scenario &sc)
{
    array();
    in.enter();
    for (int i = 0; in.next(); ++i)
        recordingPart(sc, i);
}

void Parser::recordingPart(Scenario &sc, int i)
{
    const Step s = index(i);
    merge(sc, parse());
}

// A recording whose program was killed in the middle of adding a part ends
// in that part's first bytes: the recording up to the part before stands.
QByteArray mended(const QByteArray &json)
{
    if (!json.startsWith(recordingHeader))
        return json;
    int end = json.size();
    while (end > 0 && (json.at(end - 1) == ' ' || json.at(end - 1) == '\n'))
        --end;
    const QByteArray closing = QByteArray(recordingClosing).trimmed();
    if (json.left(end).endsWith(closing))
        return json;
    const int lastComplete = json.lastIndexOf(",\n", end - 1);
    const int cut = lastComplete < 0 ? int(qstrlen(recordingHeader)) : lastComplete + 2;
    return json.left(cut) + recordingClosing;
}

} // namespace

std::optional<Scenario> parseScenario(const QByteArray &file, QString *error)
{
    const QByteArray json = mended(file);
    // Checked before anything is built from the text: bytes that Qt would
    // show as U+FFFD, and nesting that would cost the duplicate scan memory
    // by the level before Qt's parser refused it.
    if (const std::optional<int> bad = invalidUtf8(json)) {
        *error = QStringLiteral("invalid UTF-8 at offset %1").arg(*bad);
        return std::nullopt;
    }
    if (const std::optional<int> deep = tooDeep(json, maxScenarioDepth)) {
        *error = QStringLiteral("nested deeper than %1 levels at offset %2")
                     .arg(maxScenarioDepth)
                     .arg(*deep);
        return std::nullopt;
    }
    if (const std::optional<QString> duplicate = duplicateKey(json)) {
        *error = *duplicate + QStringLiteral(": duplicate key");
        return std::nullopt;
    }
    const char *const begin = json.constData();
    const char *const end = begin + json.size();
    if (const std::optional<qsizetype> bad = jsonSyntaxError(begin, end)) {
        // Qt's words for what is wrong, as every version of this check gave.
        QJsonParseError parseError;
        QJsonDocument::fromJson(json, &parseError);
        *error = parseError.error != QJsonParseError::NoError
            ? QStringLiteral("invalid JSON at offset %1: %2")
                  .arg(parseError.offset)
                  .arg(parseError.errorString())
            : QStringLiteral("invalid JSON at offset %1").arg(*bad);
        return std::nullopt;
    }
    JsonReader top(begin, end);
    if (top.type() != JsonReader::Object) {
        *error = QStringLiteral("expected a JSON object at the top level");
        return std::nullopt;
    }
    try {
        return Parser(begin, end).parse();
    } catch (const Failure &f) {
        *error = f.message;
        return std::nullopt;
    }
}

namespace {

// The checks that come before anything is built, in the order that names
// the same fault as a whole file's parse would; offsets from base.
std::optional<QString> checked(const char *begin, const char *end, qint64 base, int depth,
    const QString &path)
{
    const QByteArray text = QByteArray::fromRawData(begin, int(end - begin));
    if (const std::optional<int> bad = invalidUtf8(text))
        return QStringLiteral("invalid UTF-8 at offset %1").arg(base + *bad);
    if (const std::optional<int> deep = tooDeep(text, maxScenarioDepth - depth))
        return QStringLiteral("nested deeper than %1 levels at offset %2")
            .arg(maxScenarioDepth)
            .arg(base + *deep);
    if (const std::optional<QString> duplicate = duplicateKey(text))
        return path + QLatin1Char('.') + *duplicate + QStringLiteral(": duplicate key");
    if (jsonSyntaxError(begin, end)) {
        QJsonParseError parseError;
        QJsonDocument::fromJson(QByteArray(begin, int(end - begin)), &parseError);
        return QStringLiteral("invalid JSON at offset %1: %2")
            .arg(base + parseError.offset)
            .arg(parseError.errorString());
    }
    return {};
}

} // namespace

std::optional<Scenario> parseRecording(
    const std::function<qint64(char *, qint64)> &read, QString *error)
{
    static const QByteArray closing = QByteArray(recordingClosing).trimmed();
    const qint64 headerSize = qint64(qstrlen(recordingHeader));
    Scenario sc;
    QByteArray buffer;
    qint64 bufferStart = headerSize; // the file offset of buffer[0]
    int part = 0;
    QString torn; // the fault of a part cut off, unless it was the last
    bool closed = false;
    bool atEnd = false;
    try {
        while (!atEnd) {
            const int kept = buffer.size();
            buffer.resize(kept + (1 << 20));
            qint64 n;
            do
                n = read(buffer.data() + kept, 1 << 20);
            while (n < 0 && errno == EINTR);
            if (n < 0) {
                *error = QStringLiteral("cannot read: ") + QString::fromLocal8Bit(std::strerror(errno));
                return std::nullopt;
            }
            buffer.resize(kept + int(n));
            atEnd = n == 0;
            int lineStart = 0;
            for (;;) {
                const int lineEnd = buffer.indexOf('\n', lineStart);
                if (lineEnd < 0)
                    break; // the rest waits for more, or was cut off at the end
                const char *b = buffer.constData() + lineStart;
                const char *e = buffer.constData() + lineEnd;
                const qint64 offset = bufferStart + lineStart;
                lineStart = lineEnd + 1;
                // Trimmed in place: trimmed() may copy, and offsets are
                // counted in the buffer.
                const auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
                const char *lb = b;
                const char *le = e;
                while (lb < le && blank(*lb))
                    ++lb;
                while (le > lb && blank(le[-1]))
                    --le;
                const QByteArray line = QByteArray::fromRawData(lb, int(le - lb));
                if (!torn.isEmpty() && !line.isEmpty()) {
                    *error = torn; // not the last part after all
                    return std::nullopt;
                }
                if (closed) {
                    if (!line.isEmpty()) {
                        *error = QStringLiteral("invalid JSON at offset %1: garbage at the end of the document")
                                     .arg(offset);
                        return std::nullopt;
                    }
                    continue;
                }
                if (line == closing) {
                    closed = true;
                    continue;
                }
                if (line.isEmpty())
                    continue;
                if (!line.endsWith(',')) {
                    // The first bytes of a part, if nothing but blanks follows.
                    torn = QStringLiteral("invalid JSON at offset %1: missing value separator")
                               .arg(offset + (e - b));
                    continue;
                }
                const QString path = QStringLiteral("recording[%1]").arg(part);
                const char *partEnd = line.constData() + line.size() - 1;
                if (const std::optional<QString> fault = checked(line.constData(), partEnd,
                        offset + (line.constData() - b), 2, path)) {
                    *error = *fault;
                    return std::nullopt;
                }
                Parser parser(line.constData(), partEnd, QLatin1String(ScenarioKey::recording));
                parser.recordingPart(sc, part++);
            }
            bufferStart += lineStart;
            buffer.remove(0, lineStart);
        }
    } catch (const Failure &f) {
        *error = f.message;
        return std::nullopt;
    }
    // A program killed in the middle of a part leaves its first bytes
    // without a line end: the recording up to the part before stands.
    return sc;
}

} // namespace Vorna::Backend
