// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// motion-demo: reports the accelerometer session and every reading until Enter.

#include "widget.h"

#include <mythread.h>

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Never deleted: cleanUp() releases the sensor when the application
    // quits, and the widget itself lives until the process ends.
    auto *widget = new AccelerometerWidget;
    QObject::connect(&app, SIGNAL(aboutToQuit()), widget, SLOT(cleanUp()));
    myThread console;
    if (!startConsole(console)) {
        widget->cleanUp();
        return 1;
    }
    app.exec();
    // exec() returns once the console thread has made its last call; let it
    // leave run() before its object goes.
    console.wait();
    return 0;
}
