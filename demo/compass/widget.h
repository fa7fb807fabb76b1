// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_COMPASS_WIDGET_H
#define DEMO_COMPASS_WIDGET_H

#include <kvcompass.h>

#include <QObject>

// Holds a controlling session on the compass, reports each heading as a
// debug message, and stops the compass when the application quits.
class AppWidget : public QObject
{
    Q_OBJECT
public:
    AppWidget();
    ~AppWidget() override;

public slots:
    void setValues(const Vorna::KvCompassReading value);
    // Reached only through the meta-object system; nothing connects to it.
    void dropCalibration();
    void stop();

private:
    Vorna::KvCompass *compass = nullptr;
};

#endif
