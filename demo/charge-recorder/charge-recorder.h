// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef DEMO_CHARGE_RECORDER_CHARGE_RECORDER_H
#define DEMO_CHARGE_RECORDER_CHARGE_RECORDER_H

#include <kvbattery.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <cstdio>
#include <sys/time.h>

// The recorder is the application object: it reads the command line, then
// writes the CSV header and one row of battery values at every interval.
class ChargeRecorder : public QCoreApplication
{
    Q_OBJECT
public:
    ChargeRecorder(int &argc, char **argv);
    ~ChargeRecorder() override;

    bool parseOptions();
    void printUsage(FILE *stream) const;
    int run();

private slots:
    void timerEvent();
    void clockChanged();

private:
    bool handleOption(int value);
    void watchClock();
    bool armClockWatch();
    void scheduleNextRow(const timeval &now, bool afterRow);
    void printHeader();
    bool printRow();
    static QString chargerTypeText(int value);
    static QString chargingStateText(int value);
    static QString batteryStateText(int value);

    Vorna::KvBattery *battery;
    QTimer *timer;
    quint32 columns;
    qint32 interval; // seconds
    bool numerical;
    bool help;
    timeval period;
    timeval nextDeadline;
    // Reports that the wall clock was set or the system resumed: a timerfd
    // on the wall clock that never expires, cancelled by either (-1 where the
    // kernel offers none; rows then keep to the timer alone).
    int clockChangeFd;
    QSocketNotifier *clockWatch;
    // The command line as main() handed it over; getopt_long() works on it.
    int &argumentCount;
    char **argumentVector;
};

#endif
