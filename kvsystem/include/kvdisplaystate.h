#ifndef KVSYSTEM_INCLUDE_KVDISPLAYSTATE_H
#define KVSYSTEM_INCLUDE_KVDISPLAYSTATE_H

#include <QObject>

#include <memory>

namespace Vorna {

class KvDisplayStatePrivate;

// The display: on, dimmed or off, its brightness and the time before it dims.
class KvDisplayState : public QObject
{
    Q_OBJECT
public:
    enum DisplayState : int { Off = -1, Dimmed = 0, On = 1 };
    Q_ENUM(DisplayState)

    explicit KvDisplayState(QObject *parent = nullptr);
    ~KvDisplayState() override;

    Vorna::KvDisplayState::DisplayState get() const;
    // Asks the display to go to a state; true when the request was accepted.
    bool set(Vorna::KvDisplayState::DisplayState state);
    void setDisplayBrightnessValue(int brightness);
    int getDisplayBrightnessValue();
    // Seconds of inactivity before the display dims.
    void setDisplayDimTimeout(int timeout);
    int getDisplayDimTimeout();
    // Keeps the display from blanking for a while; true when accepted.
    bool setBlankingPause();

signals:
    void displayStateChanged(Vorna::KvDisplayState::DisplayState state);

private:
    Q_DISABLE_COPY(KvDisplayState)
    std::unique_ptr<KvDisplayStatePrivate> d;
};

} // namespace Vorna

#endif
