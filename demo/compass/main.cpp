// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// heading-demo: reports the compass session and every heading until Enter.

#include "widget.h"

#include <mythread.h>

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    AppWidget widget;
    QObject::connect(&app, SIGNAL(aboutToQuit()), &widget, SLOT(stop()));
    myThread console;
    if (!startConsole(console))
        return 1;
    app.exec();
    // exec() returns once the console thread has made its last call; let it
    // leave run() before its object goes.
    console.wait();
    return 0;
}
