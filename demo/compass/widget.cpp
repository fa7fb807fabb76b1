// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "widget.h"

#include <debugmessage.h>

AppWidget::AppWidget()
    : QObject(nullptr)
    , compass(new Vorna::KvCompass(nullptr))
{
    switch (compass->requestSession(Vorna::KvSensor::ControlSession)) {
    case Vorna::KvSensor::ListenSession:
        demoDebug() << "Got listen session.";
        break;
    case Vorna::KvSensor::ControlSession:
        demoDebug() << "Got control session.";
        break;
    case Vorna::KvSensor::NoSession:
        demoDebug() << "FAIL: did not get control/listen session.";
        break;
    default: // a session type this program does not know: nothing to report
        break;
    }

    // Connected and started whatever the session: a refused session is only reported.
    connect(compass, SIGNAL(dataAvailable(const Vorna::KvCompassReading)), this,
        SLOT(setValues(const Vorna::KvCompassReading)));

    if (compass->start())
        demoDebug() << "Compass Started.";
    else
        demoDebug() << "Compass couldn't start!!!";
}

AppWidget::~AppWidget()
{
    if (compass) {
        // stop() has already run on aboutToQuit(); stopping twice is harmless.
        compass->stop();
        demoDebug() << "Compass Stopped.";
        delete compass;
    }
}

void AppWidget::setValues(const Vorna::KvCompassReading value)
{
    // The calibration level before the arrow, the heading after it.
    demoDebug() << "Compass changed: [" << value.timestamp << "]" << value.secondValue << "-->"
                << value.firstValue;
}

void AppWidget::dropCalibration()
{
    demoWarning() << "not implemented yet.";
}

void AppWidget::stop()
{
    demoDebug() << "Application shutdown.";
    if (compass)
        compass->stop();
}
