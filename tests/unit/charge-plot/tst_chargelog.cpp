// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// Reading a charge-recorder log, piece by piece: cells, header, stamps and
// rows, each at its edges.

#include "chargelog.h"

#include <QtTest>

#include <cmath>
#include <ctime>

class ChargeLogTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cells_data();
    void cells();
    void header();
    void stamps_data();
    void stamps();
    void rows_data();
    void rows();
};

namespace {

std::vector<char *> split(QByteArray &line)
{
    std::vector<char *> cells;
    line.reserve(line.size() + 1); // a buffer of its own, also when empty
    splitCells(line.data(), cells);
    return cells;
}

} // namespace

void ChargeLogTest::initTestCase()
{
    qputenv("TZ", "UTC");
    tzset();
}

void ChargeLogTest::cells_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QStringList>("cells");
    QTest::newRow("blanks around cells dropped")
        << QByteArray(" a ,b,  c d  ") << QStringList { "a", "b", "c d" };
    QTest::newRow("an empty line is one empty cell") << QByteArray("") << QStringList { "" };
    QTest::newRow("empty cells kept, the last too")
        << QByteArray("a,, ,") << QStringList { "a", "", "", "" };
}

void ChargeLogTest::cells()
{
    QFETCH(QByteArray, line);
    QFETCH(QStringList, cells);
    QStringList got;
    for (const char *cell : split(line))
        got << QString::fromLatin1(cell);
    QCOMPARE(got, cells);
}

void ChargeLogTest::header()
{
    QByteArray line = "TIME, IDLE_TIME, CHARGER_TYPE, NO_SUCH, IDLE_TIME, time";
    QCOMPARE(headerColumns(split(line)), (std::vector<int> { IdleTime, ChargerType, -1, -1, -1 }));
}

void ChargeLogTest::stamps_data()
{
    QTest::addColumn<QByteArray>("stamp");
    QTest::addColumn<qint64>("seconds"); // -1: refused

    QTest::newRow("a plain stamp") << QByteArray("06 Dec 2026 10:05:00") << qint64(1796551500);
    QTest::newRow("a day without its leading zero")
        << QByteArray("6 Dec 2026 10:05:00") << qint64(1796551500);
    QTest::newRow("29 February of a leap year")
        << QByteArray("29 Feb 2024 00:00:00") << qint64(1709164800);
    QTest::newRow("29 February of another year") << QByteArray("29 Feb 2026 00:00:00") << qint64(-1);
    QTest::newRow("29 February of 2100, a century but no leap year")
        << QByteArray("29 Feb 2100 00:00:00") << qint64(-1);
    QTest::newRow("31 February") << QByteArray("31 Feb 2026 00:00:00") << qint64(-1);
    QTest::newRow("31 April") << QByteArray("31 Apr 2026 00:00:00") << qint64(-1);
    QTest::newRow("a leap second is the next minute's first")
        << QByteArray("31 Dec 2016 23:59:60") << qint64(1483228800);
    QTest::newRow("second 61") << QByteArray("31 Dec 2016 23:59:61") << qint64(-1);
    QTest::newRow("hour 24") << QByteArray("06 Dec 2026 24:00:00") << qint64(-1);
    QTest::newRow("a month no locale has") << QByteArray("06 Xyz 2026 10:05:00") << qint64(-1);
    QTest::newRow("no year") << QByteArray("06 Dec 10:05:00") << qint64(-1);
}

void ChargeLogTest::stamps()
{
    QFETCH(QByteArray, stamp);
    QFETCH(qint64, seconds);
    RowReader reader;
    long long got = -1;
    const bool understood = reader.parseStamp(stamp.constData(), &got);
    QCOMPARE(understood, seconds != -1);
    if (understood)
        QCOMPARE(qint64(got), seconds);
}

void ChargeLogTest::rows_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<QString>("problem");
    // Per column of the header: the value read, "nan" for a gap, or the
    // state text.
    QTest::addColumn<QStringList>("values");

    QTest::newRow("a value's marker is a gap, and so is the current's")
        << QByteArray("TIME, VOLTAGE, BATTERY_CURRENT, CAPA_PCT") << QByteArray("t, -1, -1, 0")
        << QString() << QStringList { "nan", "nan", "0" };
    QTest::newRow("a time's marker is -1 minute; 0 minutes is a value")
        << QByteArray("TIME, TALK_TIME, IDLE_TIME") << QByteArray("t, -1, 0") << QString()
        << QStringList { "nan", "0" };
    QTest::newRow("the counter's marker is -596523")
        << QByteArray("TIME, COULOMB_COUNTER") << QByteArray("t, -596523") << QString()
        << QStringList { "nan" };
    QTest::newRow("a counter of -1 mAh is a count")
        << QByteArray("TIME, COULOMB_COUNTER") << QByteArray("t, -1") << QString()
        << QStringList { "-1" };
    QTest::newRow("charger -1 written as a number is UNKNOWN, not a gap")
        << QByteArray("TIME, CHARGER_TYPE, BATTERY_STATE") << QByteArray("t, -1, 9")
        << QString() << QStringList { "UNKNOWN", "Undefined battery state: 9" };
    QTest::newRow("one cell too few")
        << QByteArray("TIME, VOLTAGE, CAPA_PCT") << QByteArray("t, 3900")
        << QString("1 values after the time where the header has 2") << QStringList {};
    QTest::newRow("a number with a unit")
        << QByteArray("TIME, VOLTAGE") << QByteArray("t, 3900mV")
        << QString("VOLTAGE \"3900mV\" is not a whole number") << QStringList {};
}

void ChargeLogTest::rows()
{
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, row);
    QFETCH(QString, problem);
    QFETCH(QStringList, values);

    const std::vector<int> columns = headerColumns(split(header));
    RowReader reader;
    std::array<QStringList, ColumnCount> states;
    float read[ColumnCount];
    QCOMPARE(reader.readCells(split(row), columns, states, read), problem);
    if (!problem.isEmpty())
        return;
    QStringList got;
    for (int column : columns) {
        if (column < 0)
            continue;
        const float value = read[column];
        got << (isState(Column(column)) ? states[column].value(int(value))
                : std::isnan(value)     ? QStringLiteral("nan")
                                        : QString::number(value));
    }
    QCOMPARE(got, values);
}

QTEST_GUILESS_MAIN(ChargeLogTest)
#include "tst_chargelog.moc"
