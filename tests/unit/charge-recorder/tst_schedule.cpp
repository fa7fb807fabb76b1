// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// The recorder's schedule arithmetic, at its edges: the timer's delay
// rounded up, and the grid's next due time on either side of 1970.

#include "schedule.h"

#include <QtTest>

class ScheduleTest : public QObject
{
    Q_OBJECT
private slots:
    void delay_data();
    void delay();
    void nextDue_data();
    void nextDue();
};

Q_DECLARE_METATYPE(timeval)

namespace {

timeval at(long long seconds, long micros)
{
    timeval t;
    t.tv_sec = time_t(seconds);
    t.tv_usec = micros;
    return t;
}

} // namespace

void ScheduleTest::delay_data()
{
    QTest::addColumn<timeval>("now");
    QTest::addColumn<timeval>("due");
    QTest::addColumn<qint64>("ms");
    QTest::newRow("a microsecond ahead waits a whole millisecond")
        << at(100, 0) << at(100, 1) << qint64(1);
    QTest::newRow("999.001 ms ahead waits 1000 ms") << at(100, 0) << at(100, 999001) << qint64(1000);
    QTest::newRow("whole milliseconds as they are") << at(100, 250000) << at(101, 250000)
                                                   << qint64(1000);
    QTest::newRow("across a second, the microseconds borrowed")
        << at(100, 999999) << at(101, 0) << qint64(1);
    QTest::newRow("before 1970") << at(-2, 500000) << at(-1, 250000) << qint64(750);
}

void ScheduleTest::delay()
{
    QFETCH(timeval, now);
    QFETCH(timeval, due);
    QFETCH(qint64, ms);
    QCOMPARE(delayMs(now, due), ms);
}

void ScheduleTest::nextDue_data()
{
    QTest::addColumn<timeval>("due");
    QTest::addColumn<timeval>("after");
    QTest::addColumn<int>("interval");
    QTest::addColumn<timeval>("next");
    QTest::newRow("the due times that passed are skipped")
        << at(1000, 250000) << at(1125, 0) << 60 << at(1180, 250000);
    QTest::newRow("a due time equal to now is not after it")
        << at(1000, 250000) << at(1060, 250000) << 60 << at(1120, 250000);
    QTest::newRow("the clock set back: the grid's first due time after now")
        << at(1000, 250000) << at(-3600 + 5, 0) << 60 << at(-3600 + 40, 250000);
    QTest::newRow("a clock before 1970 keeps the grid")
        << at(-100, 0) << at(-31, 500000) << 30 << at(-10, 0);
}

void ScheduleTest::nextDue()
{
    QFETCH(timeval, due);
    QFETCH(timeval, after);
    QFETCH(int, interval);
    QFETCH(timeval, next);
    const timeval got = firstDueAfter(due, after, interval);
    QCOMPARE(qint64(got.tv_sec), qint64(next.tv_sec));
    QCOMPARE(qint64(got.tv_usec), qint64(next.tv_usec));
}

QTEST_APPLESS_MAIN(ScheduleTest)
#include "tst_schedule.moc"
