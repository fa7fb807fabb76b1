// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "client.h"

#include "debugmessage.h"

client::client(QObject *parent)
    : QObject(parent)
    , deviceMode(new Vorna::KvDeviceMode(this))
{
    demoDebug() << "KvDeviceMode has not been implemented yet";
}

client::~client()
{
    delete deviceMode;
}
