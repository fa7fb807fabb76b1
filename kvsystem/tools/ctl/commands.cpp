// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "commands.h"

#include "kvbattery.h"
#include "kvorientation.h"
#include "trace.h"

#include <vector>

namespace Vorna::Ctl {

namespace {

using namespace Backend;
using namespace Backend::HandsetBus;

struct Word
{
    const char *word;
    qint32 value;
};

// What may stand at an argument's place: one of the words, or a whole
// number where words is empty. "model" hands a battery value back to the
// battery model.
struct Argument
{
    const char *name; // in the synopsis
    std::vector<Word> words;
};

struct Command
{
    const char *name;
    Property property;
    std::vector<Argument> arguments;
    int optional = 0; // how many of the last arguments may be left out (their first word)
    // The property's fields from the arguments' values; null: the values are the fields.
    QVector<qint32> (*fields)(const QVector<qint32> &) = nullptr;
    // The arguments from the fields, for show; null: the fields are the values.
    QVector<qint32> (*arguments_)(const QVector<qint32> &) = nullptr;
};

const Argument number(const char *name)
{
    return { name, {} };
}

const std::vector<Word> sides { { "face-up", KvOrientation::FaceUp },
    { "face-down", KvOrientation::FaceDown }, { "left-up", KvOrientation::LeftUp },
    { "right-up", KvOrientation::RightUp }, { "bottom-up", KvOrientation::BottomUp },
    { "bottom-down", KvOrientation::BottomDown } };

const std::vector<Command> &commands()
{
    static const std::vector<Command> table {
        { "light", Property::Als, { number("LUX") } },
        { "proximity", Property::Proximity, { { "near|far", { { "near", 1 }, { "far", 0 } } } } },
        { "orientation", Property::Orientation, { { "SIDE", sides } } },
        { "acceleration", Property::Accelerometer,
            { number("X_MG"), number("Y_MG"), number("Z_MG") } },
        { "rotation", Property::Rotation, { number("X_DEG"), number("Y_DEG"), number("Z_DEG") } },
        // The field as measured: the raw values equal the calibrated ones,
        // fully calibrated.
        { "magnetic", Property::Magnetometer, { number("X_NT"), number("Y_NT"), number("Z_NT") }, 0,
            [](const QVector<qint32> &v) {
                return QVector<qint32> { v[0], v[1], v[2], v[0], v[1], v[2], 3 };
            },
            [](const QVector<qint32> &f) { return f.mid(0, 3); } },
        { "heading", Property::Compass, { number("DEGREES") }, 0,
            [](const QVector<qint32> &v) {
                return QVector<qint32> { v[0], 3 };
            },
            [](const QVector<qint32> &f) { return f.mid(0, 1); } },
        { "tap", Property::Tap,
            { { "x|y|z", { { "x", 0 }, { "y", 1 }, { "z", 2 } } },
                { "single|double", { { "single", 0 }, { "double", 1 } } } },
            1 },
        { "battery", Property::BatteryPercentage, { { "PERCENT|model", {} } } },
        { "voltage", Property::BatteryVoltage, { { "MV|model", {} } } },
        { "current", Property::BatteryCurrent, { { "MA|model", {} } } },
        { "charger", Property::Charger,
            { { "none|wall|usb|usb-100ma|model",
                { { "none", KvBattery::None }, { "wall", KvBattery::Wall },
                    { "usb", KvBattery::USB_500mA }, { "usb-100ma", KvBattery::USB_100mA },
                    { "model", followsModel } } } } },
        { "display", Property::DisplayState,
            { { "on|dimmed|off",
                { { "on", KvDisplayState::On }, { "dimmed", KvDisplayState::Dimmed },
                    { "off", KvDisplayState::Off } } } } },
        { "brightness", Property::Brightness, { number("LEVEL") } },
        { "thermal", Property::Thermal,
            { { "normal|warning|alert|error",
                { { "normal", KvThermal::Normal }, { "warning", KvThermal::Warning },
                    { "alert", KvThermal::Alert }, { "error", KvThermal::Error } } } } },
        { "activity", Property::Activity,
            { { "active|inactive",
                { { "active", KvActivity::Active }, { "inactive", KvActivity::Inactive } } } } },
        { "flight", Property::DeviceMode,
            { { "on|off", { { "on", KvDeviceMode::Flight }, { "off", KvDeviceMode::Normal } } } } },
    };
    return table;
}

QString quoted(const QByteArray &text)
{
    return QLatin1Char('\'') + QString::fromUtf8(Trace::escaped(text)) + QLatin1Char('\'');
}

// A whole number in decimal, with an optional minus sign, within 32 bits.
std::optional<qint32> wholeNumber(const QByteArray &text)
{
    int i = text.startsWith('-') ? 1 : 0;
    if (i == text.size() || text.size() - i > 10)
        return std::nullopt;
    qint64 n = 0;
    for (int k = i; k < text.size(); ++k) {
        if (text[k] < '0' || text[k] > '9')
            return std::nullopt;
        n = n * 10 + (text[k] - '0');
    }
    n = i ? -n : n;
    if (n < INT_MIN || n > INT_MAX)
        return std::nullopt;
    return qint32(n);
}

std::optional<qint32> argumentValue(
    const Command &command, const Argument &argument, const QByteArray &text, QString *error)
{
    for (const Word &word : argument.words)
        if (text == word.word)
            return word.value;
    if (!argument.words.empty()) {
        *error = QStringLiteral("%1: %2 is not one of %3")
                     .arg(QLatin1String(command.name), quoted(text), QLatin1String(argument.name));
        return std::nullopt;
    }
    if (propertyTable[int(command.property)].battery && text == "model")
        return followsModel;
    const std::optional<qint32> n = wholeNumber(text);
    if (!n)
        *error = QStringLiteral("%1: %2 is not a whole number")
                     .arg(QLatin1String(command.name), quoted(text));
    return n;
}

} // namespace

std::optional<Request> parse(const QByteArrayList &arguments, QString *error)
{
    if (arguments.isEmpty()) {
        *error = QStringLiteral("no command given");
        return std::nullopt;
    }
    const QByteArray &name = arguments.first();
    const int given = arguments.size() - 1;
    const auto extra = [&](int allowed) {
        *error = QStringLiteral("%1: %2 is one argument too many")
                     .arg(QString::fromUtf8(Trace::escaped(name)), quoted(arguments[allowed + 1]));
        return std::nullopt;
    };
    if (name == "show") {
        if (given > 0)
            return extra(0);
        return Request { Request::Show, {}, {} };
    }
    if (name == "play") {
        if (given == 0) {
            *error = QStringLiteral("play: no FILE given");
            return std::nullopt;
        }
        if (given > 1)
            return extra(1);
        return Request { Request::Play, {}, arguments[1] };
    }
    for (const Command &command : commands()) {
        if (name != command.name)
            continue;
        const int count = int(command.arguments.size());
        if (given > count)
            return extra(count);
        if (given < count - command.optional) {
            QStringList wanted;
            for (const Argument &a : command.arguments)
                wanted.append(QLatin1String(a.name));
            *error = QStringLiteral("%1: needs %2").arg(name, wanted.join(QLatin1Char(' ')));
            return std::nullopt;
        }
        QVector<qint32> values;
        for (int i = 0; i < count; ++i) {
            const Argument &argument = command.arguments[size_t(i)];
            const std::optional<qint32> value = i < given
                ? argumentValue(command, argument, arguments[i + 1], error)
                : std::optional<qint32>(argument.words.front().value);
            if (!value)
                return std::nullopt;
            values.append(*value);
        }
        const QVector<qint32> fields = command.fields ? command.fields(values) : values;
        for (qint32 field : fields) {
            const QString wrong = checkField(command.property, field);
            if (!wrong.isEmpty()) {
                *error = QLatin1String(command.name) + QStringLiteral(": ") + wrong;
                return std::nullopt;
            }
        }
        return Request { Request::Set, { { command.property, fields } }, {} };
    }
    *error = QStringLiteral("unknown command %1").arg(quoted(name));
    return std::nullopt;
}

QByteArray show(const HandsetState &state, double secondsRun)
{
    QByteArray out;
    for (const Command &command : commands()) {
        const QVector<qint32> &fields = state.fields(command.property);
        const QVector<qint32> values = command.arguments_ ? command.arguments_(fields) : fields;
        out += command.name;
        for (int i = 0; i < values.size() && i < int(command.arguments.size()); ++i) {
            QByteArray text = values[i] == followsModel ? "model" : QByteArray::number(values[i]);
            for (const Word &word : command.arguments[size_t(i)].words)
                if (word.value == values[i])
                    text = word.word;
            out += ' ' + text;
        }
        out += '\n';
    }
    const auto battery = [&](BatteryValue value) {
        return QByteArray::number(state.battery(value, KvBattery::NormalMode, secondsRun));
    };
    out += "# the battery now: " + battery(BatteryValue::RemainingCapacityPct) + " %, "
        + battery(BatteryValue::Voltage) + " mV, " + battery(BatteryValue::BatteryCurrent)
        + " mA, charger type " + battery(BatteryValue::ChargerType) + ", charging state "
        + battery(BatteryValue::ChargingState) + '\n';
    return out;
}

QByteArray synopsis()
{
    QByteArray out;
    for (const Command &command : commands()) {
        QByteArray line = "  " + QByteArray(command.name);
        for (size_t i = 0; i < command.arguments.size(); ++i) {
            const bool optional = int(i) >= int(command.arguments.size()) - command.optional;
            line += optional ? " [" : " ";
            line += command.arguments[i].name;
            line += optional ? "]" : "";
        }
        out += line + '\n';
    }
    out += "  show\n  play FILE\n";
    return out;
}

} // namespace Vorna::Ctl
