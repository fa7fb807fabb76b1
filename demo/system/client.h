// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_SYSTEM_CLIENT_H
#define DEMO_SYSTEM_CLIENT_H

#include <kvsystemstate.h>

#include <QObject>

// powerstate-demo: listens for system-state indications, requests a reboot,
// a shutdown and a power-up in turn, and prints every indication.
class client : public QObject
{
    Q_OBJECT
public:
    explicit client(QObject *parent = nullptr);
    ~client() override;

public slots:
    void systemStateChanged(Vorna::KvSystemState::StateIndication what);

private:
    Vorna::KvSystemState *systemState;
};

#endif
