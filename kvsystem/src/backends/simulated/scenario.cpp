#include "scenario.h"

#include "jsonpath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <algorithm>
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
    void (*read)(Parser &, Section &, const QJsonValue &);
};

class Parser
{
public:
    Scenario parse(const QJsonValue &v);

private:
    // Path handling: every check reports the JSON path of the value it looks at.
    class Step
    {
    public:
        Step(Parser &p, const QString &part)
            : p(p)
            , size(p.path.size())
        {
            p.path += part;
        }
        ~Step() { p.path.truncate(size); }

    private:
        Parser &p;
        int size;
    };
    Step key(const QString &name)
    {
        return Step(*this, path.isEmpty() ? pathKey(name) : QLatin1Char('.') + pathKey(name));
    }
    Step index(int i) { return Step(*this, QStringLiteral("[%1]").arg(i)); }

    [[noreturn]] void fail(const QString &what) const
    {
        throw Failure { path.isEmpty() ? what : path + QStringLiteral(": ") + what };
    }
    [[noreturn]] void wrongType(const QString &expected, const QJsonValue &v) const;

    QJsonObject object(const QJsonValue &v, std::initializer_list<const char *> allowed);
    QJsonObject object(const QJsonValue &v, const QVector<const char *> &allowed);
    QJsonArray array(const QJsonValue &v);
    bool boolean(const QJsonValue &v);
    QString string(const QJsonValue &v);
    qint64 integer(const QJsonValue &v, qint64 min, qint64 max);
    int int32(const QJsonValue &v)
    {
        return int(
            integer(v, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()));
    }
    quint64 timestamp(const QJsonValue &v);
    // A time in ms after a start or a construction.
    qint64 at(const QJsonValue &v) { return integer(v, 0, qint64(exactLimit) - 1); }
    Delivery thread(const QJsonValue &v);

    // One value, or a non-empty array of them, each read by one().
    template <typename T>
    Answers<T> answers(const QJsonValue &v, T (*one)(Parser &, const QJsonValue &));
    static int readInt(Parser &p, const QJsonValue &v) { return p.int32(v); }
    static bool readBool(Parser &p, const QJsonValue &v) { return p.boolean(v); }
    static QString readString(Parser &p, const QJsonValue &v) { return p.string(v); }
    static Sample readCurrent(Parser &p, const QJsonValue &v) { return p.current(v); }

    // An object whose keys are all among keys, read key by key.
    template <typename Section>
    Section section(const QJsonValue &v, const QVector<Key<Section>> &keys);

    SensorScenario sensor(Sensor kind, const QJsonValue &v);
    Sample current(const QJsonValue &v);
    void readings(SensorScenario &sc, const QJsonValue &v);
    Sample sample(Sensor kind, const QJsonObject &o);
    BoolAnswer boolAnswer(const QJsonValue &v, std::initializer_list<int> arguments);
    void recording(Scenario &sc, const QJsonValue &v);
    QVector<TimedChange> changes(const QJsonValue &v);
    QHash<int, QVector<int>> onSet(const QJsonValue &v);
    DisplayScenario display(const QJsonValue &v);
    SystemStateScenario systemState(const QJsonValue &v);
    ValueScenario value(const QJsonValue &v);
    // One battery getter's answers, call by call.
    QVector<BatteryStep> steps(const QJsonValue &v);
    std::array<QVector<BatteryStep>, BatteryValueCount> battery(const QJsonValue &v);

    QString path;
    Sensor sectionSensor = Sensor::Als; // the sensor whose section is being read
};

QString typeName(const QJsonValue &v)
{
    switch (v.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("a bool");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

void Parser::wrongType(const QString &expected, const QJsonValue &v) const
{
    fail(QStringLiteral("expected %1, not %2").arg(expected, typeName(v)));
}

QJsonObject Parser::object(const QJsonValue &v, const QVector<const char *> &allowed)
{
    if (!v.isObject())
        wrongType(QStringLiteral("an object"), v);
    const QJsonObject o = v.toObject();
    for (auto it = o.begin(); it != o.end(); ++it) {
        const bool known = std::any_of(allowed.begin(), allowed.end(),
            [&](const char *name) { return it.key() == QLatin1String(name); });
        if (!known) {
            const Step s = key(it.key());
            fail(QStringLiteral("unknown key"));
        }
    }
    return o;
}

QJsonObject Parser::object(const QJsonValue &v, std::initializer_list<const char *> allowed)
{
    return object(v, QVector<const char *>(allowed));
}

QJsonArray Parser::array(const QJsonValue &v)
{
    if (!v.isArray())
        wrongType(QStringLiteral("an array"), v);
    return v.toArray();
}

bool Parser::boolean(const QJsonValue &v)
{
    if (!v.isBool())
        wrongType(QStringLiteral("true or false"), v);
    return v.toBool();
}

QString Parser::string(const QJsonValue &v)
{
    if (!v.isString())
        wrongType(QStringLiteral("a string"), v);
    return v.toString();
}

qint64 Parser::integer(const QJsonValue &v, qint64 min, qint64 max)
{
    if (!v.isDouble())
        wrongType(QStringLiteral("an integer"), v);
    const double d = v.toDouble();
    if (d != std::floor(d))
        fail(QStringLiteral("expected an integer, not %1").arg(d, 0, 'g', 17));
    if (std::fabs(d) >= exactLimit || d < double(min) || d > double(max))
        fail(QStringLiteral("%1 is out of range (%2 to %3)").arg(d, 0, 'f', 0).arg(min).arg(max));
    return qint64(d);
}

quint64 Parser::timestamp(const QJsonValue &v)
{
    if (v.isDouble()) {
        if (std::fabs(v.toDouble()) >= exactLimit)
            fail(QStringLiteral(
                "%1 cannot be exact as a JSON number; write it as a string of digits")
                     .arg(v.toDouble(), 0, 'f', 0));
        return quint64(integer(v, -qint64(exactLimit) + 1, qint64(exactLimit) - 1));
    }
    if (!v.isString())
        wrongType(QStringLiteral("an integer or a string of decimal digits"), v);
    // Up to 2^64 - 1, or down to -2^63 (kept in two's complement).
    const QString text = v.toString();
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

Delivery Parser::thread(const QJsonValue &v)
{
    const QString name = string(v);
    if (name == QLatin1String("main"))
        return Delivery::MainThread;
    if (name == QLatin1String("worker"))
        return Delivery::WorkerThread;
    fail(QStringLiteral("expected \"main\" or \"worker\", not \"%1\"").arg(name));
}

template <typename T>
Answers<T> Parser::answers(const QJsonValue &v, T (*one)(Parser &, const QJsonValue &))
{
    Answers<T> a;
    if (!v.isArray()) {
        a.calls.append(one(*this, v));
        return a;
    }
    const QJsonArray list = v.toArray();
    if (list.isEmpty())
        fail(QStringLiteral("expected at least one value"));
    for (int i = 0; i < list.size(); ++i) {
        const Step s = index(i);
        a.calls.append(one(*this, list.at(i)));
    }
    return a;
}

template <typename Section>
Section Parser::section(const QJsonValue &v, const QVector<Key<Section>> &keys)
{
    QVector<const char *> allowed;
    for (const Key<Section> &k : keys)
        allowed << k.name;
    const QJsonObject o = object(v, allowed);
    Section result {};
    for (auto it = o.begin(); it != o.end(); ++it) {
        const Step s = key(it.key());
        const auto k = std::find_if(keys.begin(), keys.end(),
            [&](const Key<Section> &k) { return it.key() == QLatin1String(k.name); });
        k->read(*this, result, *it);
    }
    return result;
}

Sample Parser::sample(Sensor kind, const QJsonObject &o)
{
    Sample s;
    if (o.contains(QLatin1String("timestamp"))) {
        const Step st = key(QStringLiteral("timestamp"));
        s.timestamp = timestamp(o.value(QLatin1String("timestamp")));
    }
    const SensorDescription &d = describe(kind);
    for (int i = 0; i < d.fieldCount(); ++i) {
        const QString name = QLatin1String(d.fields[size_t(i)]);
        if (o.contains(name)) {
            const Step st = key(name);
            s.values[size_t(i)] = int32(o.value(name));
        }
    }
    return s;
}

SensorScenario Parser::sensor(Sensor kind, const QJsonValue &v)
{
    using S = SensorScenario;
    QVector<Key<S>> keys = {
        { "session",
            [](Parser &p, S &sc, const QJsonValue &x) { sc.session = p.answers(x, readInt); } },
        { "sessionType",
            [](Parser &p, S &sc, const QJsonValue &x) { sc.sessionType = p.answers(x, readInt); } },
        { "start",
            [](Parser &p, S &sc, const QJsonValue &x) { sc.start = p.answers(x, readBool); } },
        { "lastError",
            [](Parser &p, S &sc, const QJsonValue &x) { sc.lastError = p.answers(x, readString); } },
        { "thread", [](Parser &p, S &sc, const QJsonValue &x) { sc.thread = p.thread(x); } },
        { "readings", [](Parser &p, S &sc, const QJsonValue &x) { p.readings(sc, x); } },
    };
    if (describe(kind).readsCurrent)
        keys.append({ "current",
            [](Parser &p, S &sc, const QJsonValue &x) { sc.current = p.answers(x, readCurrent); } });
    if (kind == Sensor::Rotation)
        keys.append({ "hasZ",
            [](Parser &p, S &sc, const QJsonValue &x) { sc.hasZ = p.answers(x, readBool); } });
    sectionSensor = kind;
    SensorScenario sc = section(v, keys);
    std::stable_sort(sc.readings.begin(), sc.readings.end(),
        [](const TimedSample &a, const TimedSample &b) { return a.at < b.at; });
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

Sample Parser::current(const QJsonValue &v)
{
    return sample(sectionSensor, object(v, fieldNames(sectionSensor, { "timestamp" })));
}

void Parser::readings(SensorScenario &sc, const QJsonValue &v)
{
    const QJsonArray list = array(v);
    const QVector<const char *> allowed = fieldNames(sectionSensor, { "at", "timestamp" });
    for (int i = 0; i < list.size(); ++i) {
        const Step is = index(i);
        const QJsonObject r = object(list.at(i), allowed);
        TimedSample t;
        if (r.contains(QLatin1String("at"))) {
            const Step as = key(QStringLiteral("at"));
            t.at = at(r.value(QLatin1String("at")));
        }
        t.sample = sample(sectionSensor, r);
        sc.readings.append(t);
    }
}

BoolAnswer Parser::boolAnswer(const QJsonValue &v, std::initializer_list<int> arguments)
{
    BoolAnswer answer;
    if (v.isBool()) {
        answer.all = v.toBool();
        return answer;
    }
    if (v.isArray()) {
        answer.calls = answers(v, readBool).calls;
        return answer;
    }
    if (!v.isObject())
        wrongType(QStringLiteral("true, false, an object or an array"), v);
    QVector<QByteArray> names;
    for (int a : arguments)
        names << QByteArray::number(a);
    QVector<const char *> allowed;
    for (const QByteArray &n : qAsConst(names))
        allowed << n.constData();
    const QJsonObject o = object(v, allowed);
    for (auto it = o.begin(); it != o.end(); ++it) {
        const Step s = key(it.key());
        answer.byArgument.insert(it.key().toInt(), boolean(*it));
    }
    return answer;
}

QVector<TimedChange> Parser::changes(const QJsonValue &v)
{
    using C = TimedChange;
    const QJsonArray entries = array(v);
    QVector<TimedChange> list;
    for (int i = 0; i < entries.size(); ++i) {
        const Step s = index(i);
        list.append(section<C>(entries.at(i),
            {
                { "at", [](Parser &p, C &c, const QJsonValue &x) { c.at = p.at(x); } },
                { "value", [](Parser &p, C &c, const QJsonValue &x) { c.value = p.int32(x); } },
            }));
    }
    std::stable_sort(list.begin(), list.end(),
        [](const TimedChange &a, const TimedChange &b) { return a.at < b.at; });
    return list;
}

DisplayScenario Parser::display(const QJsonValue &v)
{
    using D = DisplayScenario;
    return section<D>(v,
        {
            { "get", [](Parser &p, D &d, const QJsonValue &x) { d.get = p.answers(x, readInt); } },
            { "set",
                [](Parser &p, D &d, const QJsonValue &x) {
                    d.set = p.boolAnswer(x, { -1, 0, 1 });
                } },
            { "brightness",
                [](Parser &p, D &d, const QJsonValue &x) { d.brightness = p.answers(x, readInt); } },
            { "dimTimeout",
                [](Parser &p, D &d, const QJsonValue &x) { d.dimTimeout = p.answers(x, readInt); } },
            { "blankingPause",
                [](Parser &p, D &d, const QJsonValue &x) {
                    d.blankingPause = p.answers(x, readBool);
                } },
            { "changes",
                [](Parser &p, D &d, const QJsonValue &x) { d.changes.changes = p.changes(x); } },
            { "thread",
                [](Parser &p, D &d, const QJsonValue &x) { d.changes.thread = p.thread(x); } },
        });
}

SystemStateScenario Parser::systemState(const QJsonValue &v)
{
    using S = SystemStateScenario;
    return section<S>(v,
        {
            { "set",
                [](Parser &p, S &s, const QJsonValue &x) {
                    s.set = p.boolAnswer(x, { 0, 1, 2 });
                } },
            { "onSet", [](Parser &p, S &s, const QJsonValue &x) { s.onSet = p.onSet(x); } },
            { "indications",
                [](Parser &p, S &s, const QJsonValue &x) {
                    s.indications.changes = p.changes(x);
                } },
            { "thread",
                [](Parser &p, S &s, const QJsonValue &x) { s.indications.thread = p.thread(x); } },
        });
}

QHash<int, QVector<int>> Parser::onSet(const QJsonValue &v)
{
    QHash<int, QVector<int>> onSet;
    const QJsonObject requests = object(v, { "0", "1", "2" });
    for (auto r = requests.begin(); r != requests.end(); ++r) {
        const Step rs = key(r.key());
        const QJsonArray values = array(*r);
        QVector<int> emitted;
        for (int i = 0; i < values.size(); ++i) {
            const Step is = index(i);
            emitted << int32(values.at(i));
        }
        onSet.insert(r.key().toInt(), emitted);
    }
    return onSet;
}

ValueScenario Parser::value(const QJsonValue &v)
{
    using V = ValueScenario;
    return section<V>(v,
        {
            { "get", [](Parser &p, V &s, const QJsonValue &x) { s.get = p.answers(x, readInt); } },
            { "changes",
                [](Parser &p, V &s, const QJsonValue &x) { s.changes.changes = p.changes(x); } },
            { "thread",
                [](Parser &p, V &s, const QJsonValue &x) { s.changes.thread = p.thread(x); } },
        });
}

QVector<BatteryStep> Parser::steps(const QJsonValue &v)
{
    if (v.isDouble())
        return { BatteryStep { int32(v), 0 } };
    if (!v.isArray())
        wrongType(QStringLiteral("an integer or an array"), v);
    const QJsonArray list = v.toArray();
    if (list.isEmpty())
        fail(QStringLiteral("expected at least one value"));
    QVector<BatteryStep> steps;
    for (int i = 0; i < list.size(); ++i) {
        const Step s = index(i);
        const QJsonValue e = list.at(i);
        if (e.isDouble()) {
            steps.append({ int32(e), 0 });
            continue;
        }
        if (!e.isObject())
            wrongType(QStringLiteral("an integer or an object"), e);
        using B = BatteryStep;
        const BatteryStep step = section<B>(e,
            {
                { "value", [](Parser &p, B &b, const QJsonValue &x) { b.value = p.int32(x); } },
                { "delayMs",
                    [](Parser &p, B &b, const QJsonValue &x) {
                        b.delayMs = int(p.integer(x, 0, std::numeric_limits<qint32>::max()));
                    } },
            });
        steps.append(step);
    }
    return steps;
}

std::array<QVector<BatteryStep>, BatteryValueCount> Parser::battery(const QJsonValue &v)
{
    const QJsonObject o
        = object(v, QVector<const char *>(std::begin(batteryKeys), std::end(batteryKeys)));
    std::array<QVector<BatteryStep>, BatteryValueCount> getters;
    for (int i = 0; i < BatteryValueCount; ++i) {
        const QString name = QLatin1String(batteryKeys[i]);
        if (o.contains(name)) {
            const Step s = key(name);
            getters[size_t(i)] = steps(o.value(name));
        }
    }
    return getters;
}

Scenario Parser::parse(const QJsonValue &v)
{
    using S = Scenario;
    const QVector<Key<S>> classes = {
        { "displayState",
            [](Parser &p, S &sc, const QJsonValue &x) { sc.displayState = p.display(x); } },
        { "systemState",
            [](Parser &p, S &sc, const QJsonValue &x) { sc.systemState = p.systemState(x); } },
        { "activity", [](Parser &p, S &sc, const QJsonValue &x) { sc.activity = p.value(x); } },
        { "thermal", [](Parser &p, S &sc, const QJsonValue &x) { sc.thermal = p.value(x); } },
        // The device mode cannot be scripted: the object stays empty.
        { "deviceMode",
            [](Parser &p, S &sc, const QJsonValue &x) {
                p.object(x, QVector<const char *>());
                sc.deviceMode = true;
            } },
        { "battery", [](Parser &p, S &sc, const QJsonValue &x) { sc.battery = p.battery(x); } },
    };
    QVector<const char *> allowed;
    for (const SensorDescription &d : sensorTable)
        allowed << d.key;
    for (const Key<S> &k : classes)
        allowed << k.name;
    allowed << "recording";
    const QJsonObject top = object(v, allowed);

    Scenario sc;
    // The sensors first, in the order of their table.
    for (const SensorDescription &d : sensorTable) {
        const QString name = QLatin1String(d.key);
        if (top.contains(name)) {
            const Step s = key(name);
            sc.sensors[size_t(d.kind)] = sensor(d.kind, top.value(name));
        }
    }
    for (auto it = top.begin(); it != top.end(); ++it) {
        const auto k = std::find_if(classes.begin(), classes.end(),
            [&](const Key<S> &k) { return it.key() == QLatin1String(k.name); });
        if (k != classes.end()) {
            const Step s = key(it.key());
            k->read(*this, sc, *it);
        }
    }
    // A recording adds to what the file's own keys say.
    if (top.contains(QLatin1String("recording"))) {
        const Step s = key(QStringLiteral("recording"));
        recording(sc, top.value(QLatin1String("recording")));
    }
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

void Parser::recording(Scenario &sc, const QJsonValue &v)
{
    const QJsonArray parts = array(v);
    for (int i = 0; i < parts.size(); ++i) {
        const Step s = index(i);
        merge(sc, parse(parts.at(i)));
    }
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
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = QStringLiteral("invalid JSON at offset %1: %2")
                     .arg(parseError.offset)
                     .arg(parseError.errorString());
        return std::nullopt;
    }
    if (!doc.isObject()) {
        *error = QStringLiteral("expected a JSON object at the top level");
        return std::nullopt;
    }
    try {
        return Parser().parse(doc.object());
    } catch (const Failure &f) {
        *error = f.message;
        return std::nullopt;
    }
}

} // namespace Vorna::Backend
