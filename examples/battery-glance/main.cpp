// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// battery-glance: the battery's charge and voltage and one ambient light
// reading from the handset, then it ends.
//
// With CMake:      find_package(KvSystem2) and link KvSystem2::kvsystem2
// With pkg-config: c++ -std=c++17 main.cpp $(pkg-config --cflags --libs kvsystem2)

#include <kvals.h>
#include <kvbattery.h>

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    // Battery getters ask the device at once and return plain numbers.
    Vorna::KvBattery battery;
    std::printf("battery: %d %%, %d mV\n", battery.getRemainingCapacityPct(),
        battery.getVoltage());

    // A sensor delivers readings through a signal once a session is granted
    // and it is started; the context object brings them to this thread.
    Vorna::KvALS light;
    QObject::connect(&light, &Vorna::KvALS::ALSChanged, &app,
        [&light](const Vorna::KvAlsReading reading) {
            std::printf("light: %d lux\n", int(reading.value));
            light.stop();
            QCoreApplication::quit();
        });
    if (light.requestSession(Vorna::KvSensor::ControlSession) == Vorna::KvSensor::NoSession
        || !light.start()) {
        std::fprintf(stderr, "battery-glance: the light sensor does not start: %s\n",
            qPrintable(light.lastError()));
        return 1;
    }
    QTimer::singleShot(10000, &app, [] {
        std::fprintf(stderr, "battery-glance: no light reading within 10 s\n");
        QCoreApplication::exit(1);
    });
    return app.exec();
}
