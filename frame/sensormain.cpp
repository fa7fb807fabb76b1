// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// main() of the sensor demos: the program's client streams the sensor's
// readings until the console thread sees Enter.

#include "client.h"
#include "mythread.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    client program(nullptr);
    myThread console(&program);
    if (!startConsole(console))
        return 1;
    const int status = app.exec();
    // exec() returns once the console thread has made its last call; let it
    // leave run() before its object goes.
    console.wait();
    return status;
}
