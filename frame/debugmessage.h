#ifndef FRAME_DEBUGMESSAGE_H
#define FRAME_DEBUGMESSAGE_H

#include <QDebug>
#include <QString>

// Debug messages as the handset's tools have always written them: Qt's
// automatic spacing puts a blank after every item, the last one included,
// and a text item stands between plain double quotes. Qt 5 and Qt 6 drop
// the last blank and escape quoted texts; people and scripts that read the
// demos' output expect the old form, so every demo message goes through
// this.
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

inline DebugMessage demoDebug()
{
    return DebugMessage(QMessageLogger().debug());
}

inline DebugMessage demoWarning()
{
    return DebugMessage(QMessageLogger().warning());
}

#endif
