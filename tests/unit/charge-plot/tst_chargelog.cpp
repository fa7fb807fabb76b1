// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// Reading a charge-recorder log, piece by piece: cells, header, stamps and
// rows, each at its edges.

#include "chargelog.h"

#include <QtTest>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <unistd.h>

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
    void logs_data();
    void logs();
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
    QTest::newRow("year 9999, the last of four digits")
        << QByteArray("31 Dec 9999 23:59:59") << qint64(253402300799);
    QTest::newRow("year 10000") << QByteArray("01 Jan 10000 00:00:00") << qint64(-1);
    QTest::newRow("a year of nine digits") << QByteArray("07 Dec 300000000 10:00:01") << qint64(-1);
    QTest::newRow("year 1") << QByteArray("01 Jan 0001 00:00:00") << qint64(-62135596800);
    QTest::newRow("year 0") << QByteArray("01 Jan 0000 00:00:00") << qint64(-1);
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

void ChargeLogTest::logs_data()
{
    QTest::addColumn<QByteArray>("log");
    // Per run: its columns and the count of its rows.
    QTest::addColumn<QStringList>("runs");
    QTest::addColumn<QByteArray>("warnings");

    const QByteArray first = "TIME, VOLTAGE\n07 Dec 2026 21:00:01, 3900\n";
    const QByteArray second = "TIME, CAPA_PCT\n07 Dec 2026 21:00:05, 80\n07 Dec 2026 21:00:06, 79\n";
    const QByteArray zeros(8, '\0');
    QTest::newRow("a row cut off by NUL bytes, the next run's header after them")
        << first + "07 Dec 2026 21:0" + zeros + second
        << QStringList { "VOLTAGE: 1", "CAPA_PCT: 2" }
        << QByteArray("charge-plot: log: line 3: \"07 Dec 2026 21:0\" cut off by NUL bytes, "
                      "ignored\n");
    QTest::newRow("a block of NUL bytes at a line's start, then the header")
        << first + zeros + second << QStringList { "VOLTAGE: 1", "CAPA_PCT: 2" }
        << QByteArray("charge-plot: log: line 3: NUL bytes, ignored\n");
    QTest::newRow("a single NUL byte before the header, and a carriage return after it")
        << first + '\0' + QByteArray(second).replace('\n', "\r\n")
        << QStringList { "VOLTAGE: 1", "CAPA_PCT: 2" }
        << QByteArray("charge-plot: log: line 3: NUL bytes, ignored\n");
    QTest::newRow("NUL bytes between text: all before the last left out")
        << first + "07 Dec" + zeros + "2026 21:" + zeros + second
        << QStringList { "VOLTAGE: 1", "CAPA_PCT: 2" }
        << QByteArray("charge-plot: log: line 3: \"07 Dec\" cut off by NUL bytes, ignored\n");
    QTest::newRow("a whole row before a NUL byte at its end")
        << first + "07 Dec 2026 21:00:02, 3901" + '\0' + "\n"
        << QStringList { "VOLTAGE: 1" }
        << QByteArray("charge-plot: log: line 3: \"07 Dec 2026 21:00:02, 3901\" cut off by NUL "
                      "bytes, ignored\n");
    QTest::newRow("a row after NUL bytes is read under the header before them")
        << first + zeros + "07 Dec 2026 21:00:02, 3901\n" << QStringList { "VOLTAGE: 2" }
        << QByteArray("charge-plot: log: line 3: NUL bytes, ignored\n");
    QTest::newRow("the last line cut off without NUL bytes")
        << first + "07 Dec 2026 21:00:02, 39" << QStringList { "VOLTAGE: 1" }
        << QByteArray("charge-plot: log: line 3: cut off (no line end), ignored\n");
}

void ChargeLogTest::logs()
{
    QFETCH(QByteArray, log);
    QFETCH(QStringList, runs);
    QFETCH(QByteArray, warnings);

    FILE *stream = fmemopen(log.data(), size_t(log.size()), "r");
    QVERIFY(stream);
    // Standard error into a file for the time of the read.
    FILE *errors = tmpfile();
    QVERIFY(errors);
    fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(fileno(errors), STDERR_FILENO);
    const ChargeLog read = readChargeLog(stream, QStringLiteral("log"));
    fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    fclose(stream);
    QByteArray said(4096, '\0');
    rewind(errors);
    said.resize(int(fread(said.data(), 1, size_t(said.size()), errors)));
    fclose(errors);

    QStringList got;
    for (const Segment &segment : read.segments) {
        QStringList columns;
        for (int column = 0; column < ColumnCount; ++column) {
            if (segment.present[column])
                columns << QLatin1String(columnName(Column(column)));
        }
        got << columns.join(QLatin1String(", ")) + ": " + QString::number(segment.times.size());
    }
    QCOMPARE(got, runs);
    QCOMPARE(said, warnings);
}

QTEST_GUILESS_MAIN(ChargeLogTest)
#include "tst_chargelog.moc"
