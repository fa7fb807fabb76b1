#include "trace.h"

#include <QMetaObject>
#include <QObject>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace Vorna::Trace {

namespace {

// Set once by open() on the main thread before any library object exists;
// only read afterwards.
int traceFd = -1;

QByteArray className(const QMetaObject *mo)
{
    QByteArray name = mo->className();
    const int colons = name.lastIndexOf("::");
    return colons < 0 ? name : name.mid(colons + 2);
}

void writeLine(QByteArray line)
{
    if (traceFd < 0)
        return;
    line += '\n';
    // O_APPEND makes each write land whole at the end, from any thread.
    const char *p = line.constData();
    qsizetype left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(traceFd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // a trace that cannot be written must not take the program down
        p += n;
        left -= n;
    }
}

} // namespace

bool enabled()
{
    return traceFd >= 0;
}

void open()
{
    const QByteArray path = qgetenv("KVSYSTEM_TRACE");
    if (path.isEmpty() || traceFd >= 0)
        return;
    traceFd = ::open(path.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (traceFd < 0)
        Backend::usageError(
            QStringLiteral("%1: cannot open the trace: %2")
                .arg(QString::fromLocal8Bit(path), QString::fromLocal8Bit(std::strerror(errno))));
}

Call::Call(const QObject *self, const char *operation)
{
    if (!enabled()) {
        written = true;
        return;
    }
    line = className(self->metaObject()) + "::" + operation + '(';
}

Call::~Call()
{
    if (!written)
        finish(QByteArray());
}

Call &Call::arg(qint64 value)
{
    if (!written) {
        if (arguments++)
            line += ", ";
        line += QByteArray::number(value);
    }
    return *this;
}

void Call::finish(const QByteArray &result)
{
    if (written)
        return;
    written = true;
    line += ')';
    if (!result.isNull())
        line += " = " + result;
    writeLine(line);
}

int Call::returns(int value)
{
    finish(QByteArray::number(value));
    return value;
}

bool Call::returns(bool value)
{
    finish(value ? QByteArrayLiteral("true") : QByteArrayLiteral("false"));
    return value;
}

QString Call::returns(const QString &value)
{
    if (!written)
        finish(quoted(value));
    return value;
}

Backend::Sample Call::returns(const Backend::Sample &value, Backend::Sensor kind)
{
    if (!written) {
        QByteArray record = '{' + QByteArray::number(value.timestamp);
        for (int i = 0; i < Backend::describe(kind).fieldCount(); ++i)
            record += ' ' + QByteArray::number(value.values[size_t(i)]);
        finish(record + '}');
    }
    return value;
}

void constructed(const QMetaObject &cls, const QObject *parent)
{
    if (!enabled())
        return;
    const QByteArray name = className(&cls);
    const QByteArray parentName
        = parent ? QByteArray(parent->metaObject()->className()) : QByteArrayLiteral("null");
    writeLine(name + "::" + name + '(' + parentName + ')');
}

void destroyed(const QMetaObject &cls)
{
    if (!enabled())
        return;
    const QByteArray name = className(&cls);
    writeLine(name + "::~" + name + "()");
}

QByteArray quoted(const QString &text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (uchar(c) < 0x20)
                out += "\\x" + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
            else
                out += c;
        }
    }
    return out + '"';
}

} // namespace Vorna::Trace
