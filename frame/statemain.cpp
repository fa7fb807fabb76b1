// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// main() of the system-state demos: the client runs its tests while it is
// constructed, then prints change notifications until the process is ended
// from outside.

#include "client.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    new client(nullptr); // lives until the process ends; nothing deletes it
    return app.exec();
}
