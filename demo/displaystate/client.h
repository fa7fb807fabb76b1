// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_DISPLAYSTATE_CLIENT_H
#define DEMO_DISPLAYSTATE_CLIENT_H

#include <kvdisplaystate.h>

#include <QObject>

// screen-demo: reads, sets and reads back the display's state, brightness and
// dim time-out once, then prints every display-state change.
class client : public QObject
{
    Q_OBJECT
public:
    explicit client(QObject *parent = nullptr);
    ~client() override;

public slots:
    void displayStateChanged(Vorna::KvDisplayState::DisplayState state);

private:
    Vorna::KvDisplayState *displayState;
};

#endif
