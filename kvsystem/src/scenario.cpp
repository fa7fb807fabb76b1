#include "scenario.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <vector>

namespace Vorna::Backend {

namespace {

const char *const sensorKeys[SensorCount] = { "als", "proximity", "tap", "orientation", "rotation",
    "magnetometer", "compass", "accelerometer" };

const char *const batteryKeys[BatteryValueCount] = { "chargerType", "chargingState",
    "remainingChargingTime", "batteryState", "remainingCapacityBars", "remainingCapacityPct",
    "remainingCapacitymAh", "voltage", "batteryCurrent", "cumulativeBatteryCurrent",
    "averageTalkCurrent", "remainingTalkTime", "averageActiveCurrent", "remainingActiveTime",
    "averageIdleCurrent", "remainingIdleTime" };

// The fields of each reading record after its time stamp, in record order.
QVector<const char *> readingFields(Sensor kind)
{
    switch (kind) {
    case Sensor::Als:
    case Sensor::Proximity:
    case Sensor::Orientation:
        return { "value" };
    case Sensor::Tap:
    case Sensor::Compass:
        return { "firstValue", "secondValue" };
    case Sensor::Rotation:
    case Sensor::Accelerometer:
        return { "x", "y", "z" };
    case Sensor::Magnetometer:
        return { "x", "y", "z", "rx", "ry", "rz", "level" };
    }
    return {};
}

// JSON numbers are doubles: integers beyond 2^53 cannot be told apart from
// their neighbours, so larger 64-bit values have to be written as strings.
constexpr double exactLimit = 9007199254740992.0; // 2^53

// A key as a JSON path shows it: as it stands, or as a JSON string where it
// could not be read back from the path (empty, or holding a separator, a
// quote or a control character).
QString pathKey(const QString &key)
{
    const bool plain = !key.isEmpty() && std::none_of(key.begin(), key.end(), [](QChar c) {
        return c < QLatin1Char(' ') || c == QLatin1Char('.') || c == QLatin1Char('[')
            || c == QLatin1Char('"') || c == QLatin1Char('\\');
    });
    if (plain)
        return key;
    const QByteArray quoted = QJsonDocument(QJsonArray { key }).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(quoted.mid(1, quoted.size() - 2));
}

struct Failure
{
    QString message;
};

class Parser
{
public:
    Scenario parse(const QJsonObject &top);

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
    Delivery thread(const QJsonValue &v);

    SensorScenario sensor(Sensor kind, const QJsonValue &v);
    Sample sample(Sensor kind, const QJsonObject &o);
    BoolAnswer boolAnswer(const QJsonValue &v, std::initializer_list<int> arguments);
    ChangeList changes(const QJsonValue &v);
    DisplayScenario display(const QJsonValue &v);
    SystemStateScenario systemState(const QJsonValue &v);
    ValueScenario value(const QJsonValue &v);
    QVector<BatteryStep> battery(const QJsonValue &v);

    QString path;
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

Sample Parser::sample(Sensor kind, const QJsonObject &o)
{
    Sample s;
    if (o.contains(QLatin1String("timestamp"))) {
        const Step st = key(QStringLiteral("timestamp"));
        s.timestamp = timestamp(o.value(QLatin1String("timestamp")));
    }
    const QVector<const char *> fields = readingFields(kind);
    for (int i = 0; i < fields.size(); ++i) {
        const QString name = QLatin1String(fields[i]);
        if (o.contains(name)) {
            const Step st = key(name);
            s.values[size_t(i)] = int32(o.value(name));
        }
    }
    return s;
}

SensorScenario Parser::sensor(Sensor kind, const QJsonValue &v)
{
    QVector<const char *> allowed
        = { "session", "sessionType", "start", "lastError", "readings", "thread" };
    if (kind == Sensor::Rotation)
        allowed << "current"
                << "hasZ";
    if (kind == Sensor::Magnetometer)
        allowed << "current";
    const QJsonObject o = object(v, allowed);

    QVector<const char *> fields = readingFields(kind);
    fields.prepend("timestamp");
    QVector<const char *> timedFields = fields;
    timedFields.prepend("at");

    SensorScenario sc;
    for (auto it = o.begin(); it != o.end(); ++it) {
        const Step s = key(it.key());
        const QString &k = it.key();
        if (k == QLatin1String("session")) {
            sc.session = int32(*it);
        } else if (k == QLatin1String("sessionType")) {
            sc.sessionType = int32(*it);
        } else if (k == QLatin1String("start")) {
            sc.start = boolean(*it);
        } else if (k == QLatin1String("lastError")) {
            sc.lastError = string(*it);
        } else if (k == QLatin1String("thread")) {
            sc.thread = thread(*it);
        } else if (k == QLatin1String("hasZ")) {
            sc.hasZ = boolean(*it);
        } else if (k == QLatin1String("current")) {
            sc.current = sample(kind, object(*it, fields));
        } else if (k == QLatin1String("readings")) {
            const QJsonArray list = array(*it);
            for (int i = 0; i < list.size(); ++i) {
                const Step is = index(i);
                const QJsonObject r = object(list.at(i), timedFields);
                TimedSample t;
                if (r.contains(QLatin1String("at"))) {
                    const Step as = key(QStringLiteral("at"));
                    t.at = integer(r.value(QLatin1String("at")), 0, qint64(exactLimit) - 1);
                }
                t.sample = sample(kind, r);
                sc.readings.append(t);
            }
        }
    }
    std::stable_sort(sc.readings.begin(), sc.readings.end(),
        [](const TimedSample &a, const TimedSample &b) { return a.at < b.at; });
    return sc;
}

BoolAnswer Parser::boolAnswer(const QJsonValue &v, std::initializer_list<int> arguments)
{
    BoolAnswer answer;
    if (v.isBool()) {
        answer.all = v.toBool();
        return answer;
    }
    if (!v.isObject())
        wrongType(QStringLiteral("true, false or an object"), v);
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

ChangeList Parser::changes(const QJsonValue &v)
{
    ChangeList list;
    const QJsonArray entries = array(v);
    for (int i = 0; i < entries.size(); ++i) {
        const Step s = index(i);
        const QJsonObject o = object(entries.at(i), { "at", "value" });
        TimedChange c;
        if (o.contains(QLatin1String("at"))) {
            const Step as = key(QStringLiteral("at"));
            c.at = integer(o.value(QLatin1String("at")), 0, qint64(exactLimit) - 1);
        }
        if (o.contains(QLatin1String("value"))) {
            const Step vs = key(QStringLiteral("value"));
            c.value = int32(o.value(QLatin1String("value")));
        }
        list.changes.append(c);
    }
    std::stable_sort(list.changes.begin(), list.changes.end(),
        [](const TimedChange &a, const TimedChange &b) { return a.at < b.at; });
    return list;
}

DisplayScenario Parser::display(const QJsonValue &v)
{
    const QJsonObject o = object(
        v, { "get", "set", "brightness", "dimTimeout", "blankingPause", "changes", "thread" });
    DisplayScenario d;
    for (auto it = o.begin(); it != o.end(); ++it) {
        const Step s = key(it.key());
        const QString &k = it.key();
        if (k == QLatin1String("get"))
            d.get = int32(*it);
        else if (k == QLatin1String("set"))
            d.set = boolAnswer(*it, { -1, 0, 1 });
        else if (k == QLatin1String("brightness"))
            d.brightness = int32(*it);
        else if (k == QLatin1String("dimTimeout"))
            d.dimTimeout = int32(*it);
        else if (k == QLatin1String("blankingPause"))
            d.blankingPause = boolean(*it);
        else if (k == QLatin1String("changes"))
            d.changes.changes = changes(*it).changes;
        else if (k == QLatin1String("thread"))
            d.changes.thread = thread(*it);
    }
    return d;
}

SystemStateScenario Parser::systemState(const QJsonValue &v)
{
    const QJsonObject o = object(v, { "set", "onSet", "indications", "thread" });
    SystemStateScenario st;
    for (auto it = o.begin(); it != o.end(); ++it) {
        const Step s = key(it.key());
        const QString &k = it.key();
        if (k == QLatin1String("set")) {
            st.set = boolAnswer(*it, { 0, 1, 2 });
        } else if (k == QLatin1String("indications")) {
            st.indications.changes = changes(*it).changes;
        } else if (k == QLatin1String("thread")) {
            st.indications.thread = thread(*it);
        } else if (k == QLatin1String("onSet")) {
            const QJsonObject requests = object(*it, { "0", "1", "2" });
            for (auto r = requests.begin(); r != requests.end(); ++r) {
                const Step rs = key(r.key());
                const QJsonArray values = array(*r);
                QVector<int> emitted;
                for (int i = 0; i < values.size(); ++i) {
                    const Step is = index(i);
                    emitted << int32(values.at(i));
                }
                st.onSet.insert(r.key().toInt(), emitted);
            }
        }
    }
    return st;
}

ValueScenario Parser::value(const QJsonValue &v)
{
    const QJsonObject o = object(v, { "get", "changes", "thread" });
    ValueScenario vs;
    for (auto it = o.begin(); it != o.end(); ++it) {
        const Step s = key(it.key());
        const QString &k = it.key();
        if (k == QLatin1String("get"))
            vs.get = int32(*it);
        else if (k == QLatin1String("changes"))
            vs.changes.changes = changes(*it).changes;
        else if (k == QLatin1String("thread"))
            vs.changes.thread = thread(*it);
    }
    return vs;
}

QVector<BatteryStep> Parser::battery(const QJsonValue &v)
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
        const QJsonObject o = object(e, { "value", "delayMs" });
        BatteryStep step;
        if (o.contains(QLatin1String("value"))) {
            const Step vs = key(QStringLiteral("value"));
            step.value = int32(o.value(QLatin1String("value")));
        }
        if (o.contains(QLatin1String("delayMs"))) {
            const Step ds = key(QStringLiteral("delayMs"));
            step.delayMs = int(
                integer(o.value(QLatin1String("delayMs")), 0, std::numeric_limits<qint32>::max()));
        }
        steps.append(step);
    }
    return steps;
}

Scenario Parser::parse(const QJsonObject &top)
{
    QVector<const char *> allowed(std::begin(sensorKeys), std::end(sensorKeys));
    allowed << "displayState"
            << "systemState"
            << "activity"
            << "thermal"
            << "deviceMode"
            << "battery";
    object(top, allowed);

    Scenario sc;
    for (int i = 0; i < SensorCount; ++i) {
        const QString name = QLatin1String(sensorKeys[i]);
        if (top.contains(name)) {
            const Step s = key(name);
            sc.sensors[size_t(i)] = sensor(Sensor(i), top.value(name));
        }
    }
    for (auto it = top.begin(); it != top.end(); ++it) {
        const Step s = key(it.key());
        const QString &k = it.key();
        if (k == QLatin1String("displayState")) {
            sc.displayState = display(*it);
        } else if (k == QLatin1String("systemState")) {
            sc.systemState = systemState(*it);
        } else if (k == QLatin1String("activity")) {
            sc.activity = value(*it);
        } else if (k == QLatin1String("thermal")) {
            sc.thermal = value(*it);
        } else if (k == QLatin1String("deviceMode")) {
            object(*it, QVector<const char *>());
            sc.deviceMode = true;
        } else if (k == QLatin1String("battery")) {
            const QVector<const char *> getters(std::begin(batteryKeys), std::end(batteryKeys));
            const QJsonObject b = object(*it, getters);
            for (int i = 0; i < BatteryValueCount; ++i) {
                const QString name = QLatin1String(batteryKeys[i]);
                if (b.contains(name)) {
                    const Step gs = key(name);
                    sc.battery[size_t(i)] = battery(b.value(name));
                }
            }
        }
    }
    return sc;
}

// The JSON path of the first key that stands twice in one object, or nothing
// when there is none. Qt's parser silently keeps the last of them (and, in Qt 5,
// leaks the container values it drops), while two entries for one key in a
// scenario are nearly always a mistake worth pointing at. Text that is not
// JSON is left for Qt's parser to report.
std::optional<QString> duplicateKey(const QByteArray &json)
{
    struct Frame
    {
        bool object = false;
        QSet<QString> keys;
        QString key; // the object's current key
        int index = 0; // the array's current element
    };
    std::vector<Frame> stack;
    const auto path = [&stack] {
        QString p;
        for (const Frame &f : stack) {
            if (f.object)
                p += (p.isEmpty() ? QString() : QStringLiteral(".")) + pathKey(f.key);
            else
                p += QStringLiteral("[%1]").arg(f.index);
        }
        return p;
    };
    bool expectKey = false;
    for (int i = 0; i < json.size(); ++i) {
        switch (json[i]) {
        case '{':
            stack.push_back({ true, {}, {}, 0 });
            expectKey = true;
            break;
        case '[':
            stack.push_back({ false, {}, {}, 0 });
            expectKey = false;
            break;
        case '}':
        case ']':
            if (stack.empty())
                return {};
            stack.pop_back();
            break;
        case ',':
            if (stack.empty())
                return {};
            if (stack.back().object)
                expectKey = true;
            else
                ++stack.back().index;
            break;
        case '"': {
            const int start = i;
            for (++i; i < json.size() && json[i] != '"'; ++i) {
                if (json[i] == '\\')
                    ++i;
            }
            if (i >= json.size())
                return {};
            if (!expectKey || stack.empty() || !stack.back().object)
                break;
            expectKey = false;
            const QByteArray token = json.mid(start, i - start + 1);
            // Compare keys as Qt will see them, escapes decoded.
            const QString key = token.contains('\\')
                ? QJsonDocument::fromJson('[' + token + ']').array().at(0).toString()
                : QString::fromUtf8(token.mid(1, token.size() - 2));
            Frame &f = stack.back();
            f.key = key;
            if (f.keys.contains(key))
                return path();
            f.keys.insert(key);
            break;
        }
        default:
            break;
        }
    }
    return {};
}

} // namespace

std::optional<Scenario> parseScenario(const QByteArray &json, QString *error)
{
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

const char *scenarioKey(Sensor kind)
{
    return sensorKeys[int(kind)];
}

const char *scenarioKey(BatteryValue value)
{
    return batteryKeys[int(value)];
}

} // namespace Vorna::Backend
