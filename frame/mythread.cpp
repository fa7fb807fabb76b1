// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "mythread.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>

myThread::myThread(client *owner)
    : QThread(nullptr)
    , owner(owner)
{ }

myThread::myThread()
    : QThread(nullptr)
{ }

void myThread::run()
{
    std::cin.get();
    std::cout << "exiting..";
    // QCoreApplication::exit() is not safe to call from this thread, and a
    // call made before the main thread has entered exec() would be lost (the
    // input may already be at its end at start-up). A queued call runs it in
    // the main thread as soon as its event loop runs.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

bool startConsole(myThread &console)
{
    console.start(QThread::InheritPriority);
    // A thread that ran already to its end (input at its end) started well.
    if (console.isRunning() || console.isFinished())
        return true;
    std::fprintf(stderr, "Cannot start the console thread: no thread can be created\n");
    return false;
}
