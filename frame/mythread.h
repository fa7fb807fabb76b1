// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

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

// Starts the console quit thread. When no thread can be had (a thread or
// process limit) nothing would ever end the program on Enter: that is said
// on standard error and the answer is false, for main to end the program
// with an error status.
bool startConsole(myThread &console);

#endif
