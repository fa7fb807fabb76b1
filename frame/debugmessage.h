// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef FRAME_DEBUGMESSAGE_H
#define FRAME_DEBUGMESSAGE_H

#include <QDebug>
#include <QString>

// The demos' debug messages: Qt's automatic spacing puts a blank after
// every item, the last one included, and a text item stands between plain
// double quotes. Qt 5 and 6 would drop the last blank and escape quoted
// texts; people and scripts that read the demos' output expect this form,
// so every demo message goes through here.
class DebugMessage
{
public:
    explicit DebugMessage(QDebug stream)
        : stream(std::move(stream))
    { }
    // An empty last item: Qt drops the blank after it instead of the one
    // after the real last item.
    ~DebugMessage() { stream << ""; }
    DebugMessage(const DebugMessage &) = delete;
    DebugMessage &operator=(const DebugMessage &) = delete;

    template <typename T> DebugMessage &operator<<(const T &item)
    {
        stream << item;
        return *this;
    }

    DebugMessage &operator<<(const QString &text)
    {
        stream.noquote() << QString(QLatin1Char('"') + text + QLatin1Char('"'));
        stream.quote();
        return *this;
    }

private:
    QDebug stream;
};

// Messages as qDebug() and qWarning() make them: in Qt's "default" logging
// category, so that message patterns and logging rules treat them alike,
// and with the caller's file, line and function where Qt keeps them (debug
// builds, QT_MESSAGELOGCONTEXT).
#define demoDebug()                                                                                \
    DebugMessage(QMessageLogger(QT_MESSAGELOG_FILE, QT_MESSAGELOG_LINE, QT_MESSAGELOG_FUNC).debug())
#define demoWarning()                                                                              \
    DebugMessage(                                                                                  \
        QMessageLogger(QT_MESSAGELOG_FILE, QT_MESSAGELOG_LINE, QT_MESSAGELOG_FUNC).warning())

#endif
