#ifndef FRAME_MYTHREAD_H
#define FRAME_MYTHREAD_H

#include <QThread>

class client;

// The console quit thread of the sensor demos: waits for the first character
// on standard input (Enter on a terminal, or the end of the input), says
// "exiting.." and ends the application's event loop.
class myThread : public QThread
{
    Q_OBJECT
public:
    // The demos that have a client hand it over; the thread never touches it.
    explicit myThread(client *owner);
    myThread();

protected:
    void run() override;

private:
    [[maybe_unused]] client *owner = nullptr;
};

#endif
