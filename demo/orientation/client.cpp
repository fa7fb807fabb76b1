// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "client.h"

#include <cstdio>
#include <iterator>

namespace {

// Indexed by the orientation code. The six sides are padded to one width so
// that a new side overwrites the old one completely on the terminal line.
const char *const formats[] = {
    "\r[Orientation]: [%lld] Unknown",
    "\r[Orientation]: [%lld] Bottom up  ",
    "\r[Orientation]: [%lld] Bottom down",
    "\r[Orientation]: [%lld] Left up    ",
    "\r[Orientation]: [%lld] Right up   ",
    "\r[Orientation]: [%lld] Face down  ",
    "\r[Orientation]: [%lld] Face up    ",
};

} // namespace

client::client(QObject *parent)
    : QObject(parent)
    , sensor(new Vorna::KvOrientation(this))
{
    connect(sensor, SIGNAL(orientationChanged(const Vorna::KvOrientationReading)), this,
        SLOT(orientationChanged(const Vorna::KvOrientationReading)));
    sensor->requestSession(Vorna::KvSensor::ControlSession);
    sensor->start();
}

client::~client()
{
    sensor->stop();
    delete sensor;
}

void client::orientationChanged(const Vorna::KvOrientationReading orientation)
{
    // Taken as unsigned, a negative code lands above the table like any other
    // code the handset does not know.
    const quint32 code = quint32(orientation.value);
    const char *format = code < std::size(formats) ? formats[code] : formats[0];
    printf(format, static_cast<long long>(orientation.timestamp));
    fflush(stdout);
}
