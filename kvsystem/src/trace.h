// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_SRC_TRACE_H
#define KVSYSTEM_SRC_TRACE_H

// The call trace: with KVSYSTEM_TRACE naming a file, every call that a
// program makes into the library is appended to it as one line,
//
//     <Class>::<operation>(<arguments>)[ = <result>]
//
// written with a single write() as soon as the call returns, so a process
// that is killed leaves every line it finished.

#include "backend.h"

#include <QByteArray>
#include <QString>

class QMetaObject;
class QObject;

namespace Vorna::Trace {

bool enabled();

// Opens the trace file named in the environment, if any: a regular file
// (created when missing), a FIFO or pipe that a reader has open, or a
// character device such as a terminal or /dev/null. A file that cannot be
// opened, a FIFO without a reader (which would block the open) and
// anything else (a directory, a socket) are usage errors. A trace whose
// reader goes away later is dropped without a word: it never ends the
// program, through SIGPIPE or otherwise.
void open();
// The file open() opened, whatever its name or links; no file when none.
Backend::FileId file();

// The lines of one call. The line is written when returns() is given the
// result, or, for an operation without one, when the Call goes away.
class Call
{
public:
    Call(const QObject *self, const char *operation);
    ~Call();
    Call(const Call &) = delete;
    Call &operator=(const Call &) = delete;

    Call &arg(qint64 value);

    int returns(int value);
    bool returns(bool value);
    QString returns(const QString &value);
    // A reading record: the time stamp and the sensor kind's fields.
    Backend::Sample returns(const Backend::Sample &value, Backend::Sensor kind);
    template <typename Enum, typename = std::enable_if_t<std::is_enum_v<Enum>>>
    Enum returns(Enum value)
    {
        return Enum(returns(int(value)));
    }

private:
    void finish(const QByteArray &result);
    QByteArray line;
    int arguments = 0;
    bool written = false;
};

// "KvALS::KvALS(client)" and "KvALS::~KvALS()".
void constructed(const QMetaObject &cls, const QObject *parent);
void destroyed(const QMetaObject &cls);

// A text as the trace quotes it: between double quotes, with \" \\ and
// control characters escaped so that the line stays one line.
QByteArray quoted(const QString &text);

// Bytes that are to stay one line on a terminal: line ends and tabs as \n,
// \r and \t; other control characters (C0, DEL and C1) and bytes that are
// not UTF-8 as \xNN; everything else as it is.
QByteArray escaped(const QByteArray &bytes);

} // namespace Vorna::Trace

#endif
