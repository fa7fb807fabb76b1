// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "trace.h"

#include "quietwrite.h"

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Vorna::Trace {

namespace {

// Set once by open() on the main thread before any library object exists;
// only read afterwards.
int traceFd = -1;
QByteArray tracePath;
Backend::FileId traceFile;
// Set when the trace cannot be written any more: nothing more is written.
std::atomic<bool> broken { false };

QByteArray className(const QMetaObject *mo)
{
    QByteArray name = mo->className();
    const int colons = name.lastIndexOf("::");
    return colons < 0 ? name : name.mid(colons + 2);
}

void writeLine(QByteArray line)
{
    if (traceFd < 0 || broken.load(std::memory_order_relaxed))
        return;
    line += '\n';
    // O_APPEND makes each write land whole at the end, from any thread.
    size_t done = 0;
    while (done < size_t(line.size())) {
        const iovec rest { line.data() + done, size_t(line.size()) - done };
        const ssize_t n = Backend::quietWrite(traceFd, &rest, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A trace that cannot be written must not take the program
            // down. A reader that left ends it without a word; anything
            // else (a full disk, a size limit) is said once.
            const int error = n < 0 ? errno : ENOSPC;
            if (broken.exchange(true))
                return;
            // A line cut short would be a line the program never made.
            struct stat st {};
            if (done > 0 && ::fstat(traceFd, &st) == 0 && S_ISREG(st.st_mode))
                if (::ftruncate(traceFd, st.st_size - off_t(done)) != 0)
                    done = 0; // the torn line stays; the warning below still says why
            if (error != EPIPE)
                Backend::warning(tracePath + ": trace stopped: " + QByteArray(std::strerror(error)));
            return;
        }
        done += size_t(n);
    }
}

} // namespace

bool enabled()
{
    return traceFd >= 0;
}

void open()
{
    const QByteArray path = Backend::environment("KVSYSTEM_TRACE");
    if (path.isEmpty() || traceFd >= 0)
        return;
    const auto refuse = [&path](const QString &reason) {
        Backend::usageError(path + ": cannot open the trace: " + reason.toUtf8());
    };
    // O_NONBLOCK: a FIFO without a reader fails at once (ENXIO) instead of
    // blocking the open until one comes.
    const int fd = ::open(
        path.constData(), O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0)
        refuse(errno == ENXIO ? QStringLiteral("a FIFO that no one reads")
                              : QString::fromLocal8Bit(std::strerror(errno)));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
        ::close(fd);
        refuse(QStringLiteral("not a file, a pipe or a terminal"));
    }
    // Lines are written whole, waiting for a slow reader as any output does.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    traceFd = fd;
    tracePath = path;
    traceFile = Backend::FileId { st.st_dev, st.st_ino };
}

Backend::FileId file()
{
    return traceFile;
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

QByteArray escaped(const QByteArray &bytes)
{
    QByteArray out;
    out.reserve(bytes.size());
    const auto hex = [&out](uchar c) {
        out += "\\x" + QByteArray::number(c, 16).rightJustified(2, '0');
    };
    for (int i = 0; i < bytes.size();) {
        const uchar c = uchar(bytes[i]);
        if (c == '\n' || c == '\r' || c == '\t') {
            out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
            ++i;
            continue;
        }
        if (c < 0x20 || c == 0x7f) {
            hex(c);
            ++i;
            continue;
        }
        if (c < 0x80) {
            out += char(c);
            ++i;
            continue;
        }
        // A UTF-8 sequence: its length from the lead byte, then the
        // continuation bytes, no overlong forms, surrogates or values
        // beyond U+10FFFF.
        const int length = c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3
            : c >= 0xf0 && c <= 0xf4                                       ? 4
                                                                           : 0;
        bool valid = length > 0 && i + length <= bytes.size();
        for (int k = 1; valid && k < length; ++k)
            valid = (uchar(bytes[i + k]) & 0xc0) == 0x80;
        if (valid && length > 2) {
            const uchar second = uchar(bytes[i + 1]);
            valid = !(c == 0xe0 && second < 0xa0) && !(c == 0xed && second >= 0xa0)
                && !(c == 0xf0 && second < 0x90) && !(c == 0xf4 && second >= 0x90);
        }
        if (!valid) {
            hex(c);
            ++i;
            continue;
        }
        if (c == 0xc2 && uchar(bytes[i + 1]) < 0xa0) { // C1 control, such as CSI
            hex(c);
            hex(uchar(bytes[i + 1]));
        } else {
            out += bytes.mid(i, length);
        }
        i += length;
    }
    return out;
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
