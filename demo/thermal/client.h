// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_THERMAL_CLIENT_H
#define DEMO_THERMAL_CLIENT_H

#include <kvthermal.h>

#include <QObject>

// heat-demo: prints the thermal state, connects to thermal changes and then
// keeps one processor busy without end to warm the device up.
class client : public QObject
{
    Q_OBJECT
public:
    // Never returns: the constructor ends in the busy loop.
    explicit client(QObject *parent = nullptr);
    ~client() override;

private slots:
    void thermalChanged(Vorna::KvThermal::ThermalState);

private:
    Vorna::KvThermal *thermal;
};

#endif
