#ifndef DEMO_CHARGE_RECORDER_CHARGE_RECORDER_H
#define DEMO_CHARGE_RECORDER_CHARGE_RECORDER_H

#include <kvbattery.h>

#include <QCoreApplication>
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

private:
    bool handleOption(int value);
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
    // The command line as main() handed it over; getopt_long() works on it.
    int &argumentCount;
    char **argumentVector;
};

#endif
