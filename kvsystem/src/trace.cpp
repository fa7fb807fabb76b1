#include "trace.h"

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Vorna::Trace {

namespace {

// Set once by open() on the main thread before any library object exists;
// only read afterwards.
int traceFd = -1;
// Set when the trace's reader has gone: nothing more is written.
std::atomic<bool> broken { false };

// One write() with SIGPIPE held back on this thread: a pipe whose reader
// left gives EPIPE instead of ending the process. A SIGPIPE that this
// write raised is taken back; one that was pending before stays.
ssize_t writeWithoutSigpipe(const char *p, size_t n)
{
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &before);
    sigset_t pending;
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE);
    const ssize_t written = ::write(traceFd, p, n);
    const int error = errno;
    if (written < 0 && error == EPIPE && !wasPending) {
        const timespec now {};
        while (sigtimedwait(&pipeOnly, nullptr, &now) < 0 && errno == EINTR) { }
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    errno = error;
    return written;
}

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
    const char *p = line.constData();
    qsizetype left = line.size();
    while (left > 0) {
        const ssize_t n = writeWithoutSigpipe(p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A trace that cannot be written must not take the program down.
            if (n < 0 && errno == EPIPE)
                broken = true;
            return;
        }
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
