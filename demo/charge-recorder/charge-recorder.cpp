// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// ChargeRecorder: the command line, the schedule and the CSV rows.

#include "charge-recorder.h"

#include "batterycolumns.h"
#include "schedule.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <getopt.h>
#include <limits>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

// Values that getopt_long() returns besides the columns' bits (0 to 31).
enum Option : int {
    IntervalOption = 32,
    NumericalOption = 33,
    HelpOption = 34,
};

using OptionTable = std::array<option, ColumnCount + 4>;

// The columns' options in table order, then the three others and the
// terminating record.
constexpr OptionTable makeOptionTable()
{
    OptionTable table {};
    int at = 0;
    for (const BatteryColumn &entry : batteryColumns)
        table[at++] = { entry.option, no_argument, nullptr, entry.bit };
    table[at++] = { "interval", required_argument, nullptr, IntervalOption };
    table[at++] = { "numerical", no_argument, nullptr, NumericalOption };
    table[at++] = { "help", no_argument, nullptr, HelpOption };
    table[at] = { nullptr, 0, nullptr, 0 };
    return table;
}

constexpr OptionTable optionTable = makeOptionTable();

// The library's own names for its markers are the ones the log is read by.
static_assert(noValue == Vorna::KvBattery::NoValue && noTime == Vorna::KvBattery::NoTime
        && noCounter == Vorna::KvBattery::NoCounter,
    "the column table's markers are the library's");

// The getter that feeds each column, in column order. The average current
// and the coulomb counter share one reading of the counter a row (printRow).
using Getter = int (*)(Vorna::KvBattery &);
constexpr auto mode = Vorna::KvBattery::NormalMode;
constexpr Getter getters[ColumnCount] = {
    [](Vorna::KvBattery &b) { return b.getChargerType(); },
    [](Vorna::KvBattery &b) { return b.getChargingState(); },
    [](Vorna::KvBattery &b) { return b.getRemainingChargingTime(); },
    [](Vorna::KvBattery &b) { return b.getBatteryState(); },
    [](Vorna::KvBattery &b) { return b.getRemainingCapacityBars(); },
    [](Vorna::KvBattery &b) { return b.getRemainingCapacityPct(); },
    [](Vorna::KvBattery &b) { return b.getRemainingCapacitymAh(); },
    [](Vorna::KvBattery &b) { return b.getVoltage(); },
    [](Vorna::KvBattery &b) { return b.getBatteryCurrent(); },
    [](Vorna::KvBattery &b) { return b.getCumulativeBatteryCurrent(); },
    [](Vorna::KvBattery &b) { return b.getCumulativeBatteryCurrent(); },
    [](Vorna::KvBattery &b) { return b.getAverageTalkCurrent(mode); },
    [](Vorna::KvBattery &b) { return b.getRemainingTalkTime(mode); },
    [](Vorna::KvBattery &b) { return b.getAverageActiveCurrent(mode); },
    [](Vorna::KvBattery &b) { return b.getRemainingActiveTime(mode); },
    [](Vorna::KvBattery &b) { return b.getAverageIdleCurrent(mode); },
    [](Vorna::KvBattery &b) { return b.getRemainingIdleTime(mode); },
};

// The next row is due at most this many seconds ahead: the timer takes its
// delay as a signed 32-bit count of milliseconds.
constexpr long maxInterval = INT_MAX / 1000;

// Where the previous average current ended: the time of the last row that
// wrote the column (0 before the first) and the cumulative current it read.
time_t lastAverageTime = 0;
qint32 lastCumulativeCurrent = 0;

// A line on standard output is passed on by its newline (the stream is
// line-buffered while sampling) or by the flush here; a failed write leaves
// the stream's error flag set and errno naming the cause. A row that the
// file or pipe did not take must not count as written.
bool outputWritten()
{
    if (fflush(stdout) == 0 && !ferror(stdout))
        return true;
    perror("Can't write output");
    return false;
}

bool selected(quint32 columns, const BatteryColumn &entry)
{
    return columns & (quint32(1) << entry.bit);
}

} // namespace

ChargeRecorder::ChargeRecorder(int &argc, char **argv)
    : QCoreApplication(argc, argv)
    , battery(new Vorna::KvBattery(nullptr))
    , timer(new QTimer(nullptr))
    , columns(0)
    , interval(60)
    , numerical(false)
    , help(false)
    , period {}
    , nextDeadline {}
    , clockChangeFd(-1)
    , clockWatch(nullptr)
    , argumentCount(argc)
    , argumentVector(argv)
{
    timer->setSingleShot(true);
    // Qt's default coarse timer may fire whole-second intervals up to half a
    // second early or late; the rows keep to a millisecond grid.
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, SIGNAL(timeout()), this, SLOT(timerEvent()));
}

ChargeRecorder::~ChargeRecorder()
{
    delete clockWatch;
    if (clockChangeFd >= 0)
        close(clockChangeFd);
    delete timer;
    delete battery;
}

bool ChargeRecorder::parseOptions()
{
    for (;;) {
        int longIndex = 0;
        const int value = getopt_long(argumentCount, argumentVector, "", optionTable.data(), &longIndex);
        if (value == -1)
            break;
        // getopt_long() has said on standard error what it refused.
        if (value == '?')
            return false;
        if (!handleOption(value))
            return false;
    }
    if (columns == 0)
        columns = 0xFFFFFFFF;
    return true;
}

bool ChargeRecorder::handleOption(int value)
{
    if (value >= 0 && value < 32) {
        columns |= quint32(1) << value;
        return true;
    }
    switch (value) {
    case IntervalOption: {
        // Leading blanks and a sign are taken, and the number ends at the
        // first other character: "10s" is 10 seconds. The schedule needs a
        // positive interval whose delay fits the timer.
        errno = 0;
        const long seconds = strtol(optarg, nullptr, 10);
        if (errno == ERANGE || seconds <= 0 || seconds > maxInterval) {
            fprintf(stderr, "Invalid interval: %s\n\n", optarg);
            return false;
        }
        interval = qint32(seconds);
        return true;
    }
    case NumericalOption:
        numerical = true;
        return true;
    case HelpOption:
        help = true;
        return true;
    }
    // Ends on the newline that main() writes to standard output next.
    fprintf(stderr, "Invalid argument: %d", value);
    return false;
}

void ChargeRecorder::printUsage(FILE *stream) const
{
    fprintf(stream, "Usage: %s [COLUMN-OPTIONS] [OTHER-OPTIONS]\n\n",
        QCoreApplication::arguments().first().toLocal8Bit().constData());
    fprintf(stream,
        "Output battery related values at desired interval in CSV format.\n"
        "Note: All times are in minutes.\n\n");
    fprintf(stream, "COLUMN-OPTIONS (if nothing given, ALL assumed):\n");
    for (const option *record = optionTable.data(); record->name; ++record) {
        if (unsigned(record->val) < 32)
            fprintf(stream, "  --%s\n", record->name);
    }
    // "--help" stands at the end of the line of "--numerical", with no line of its own.
    fprintf(stream,
        "OTHER-OPTIONS:\n  --interval=NSECS\n  --numerical    output state, type etc "
        "columns as numbers instead of strings  --help\n\n");
}

int ChargeRecorder::run()
{
    if (help) {
        printUsage(stdout);
        return outputWritten() ? 0 : 1;
    }

    period.tv_sec = interval;
    period.tv_usec = 0;
    if (gettimeofday(&nextDeadline, nullptr) != 0) {
        perror("gettimofday");
        return 1;
    }
    setlinebuf(stdout);
    printHeader();
    if (!outputWritten())
        return 1;
    watchClock();
    timer->start(0);
    return exec();
}

void ChargeRecorder::watchClock()
{
    clockChangeFd = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (clockChangeFd < 0 || !armClockWatch()) {
        // The rows still keep to the grid; only a resume or a clock step is
        // noticed at the next row instead of at once.
        perror("Can't watch the clock");
        if (clockChangeFd >= 0)
            close(clockChangeFd);
        clockChangeFd = -1;
        return;
    }
    clockWatch = new QSocketNotifier(clockChangeFd, QSocketNotifier::Read);
    connect(clockWatch, SIGNAL(activated(QSocketDescriptor)), this, SLOT(clockChanged()));
}

// Arms the timerfd for the end of time: it never expires, and the kernel
// cancels it, which makes it readable, whenever the wall clock is set or
// the system resumes from suspend. No wake-up happens otherwise.
bool ChargeRecorder::armClockWatch()
{
    itimerspec never {};
    never.it_value.tv_sec = std::numeric_limits<time_t>::max();
    // A change between the last report and this call cancels at once; the
    // caller re-checks the grid anyway.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (timerfd_settime(clockChangeFd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &never,
                nullptr)
            == 0)
            return true;
        if (errno != ECANCELED)
            return false;
    }
    return false;
}

// The wall clock was set, or the handset resumed (the timer runs on the
// monotonic clock, which stands still in suspend). Re-check the grid at
// once: a row whose due time has passed is written now, and a next due time
// that the clock set back has moved far away is brought back to the grid's
// first due time after now.
void ChargeRecorder::clockChanged()
{
    // ECANCELED is the report; the count of an expiry, or nothing at all,
    // is re-checked alike.
    quint64 expirations;
    const ssize_t got = read(clockChangeFd, &expirations, sizeof expirations);
    Q_UNUSED(got);
    if (!armClockWatch()) {
        perror("Can't watch the clock");
        clockWatch->setEnabled(false);
    }

    timeval now;
    if (gettimeofday(&now, nullptr) != 0) {
        perror("gettimofday");
        timer->stop();
        QCoreApplication::exit(1);
        return;
    }
    if (!timercmp(&nextDeadline, &now, >)) {
        timer->stop();
        timerEvent();
        return;
    }
    scheduleNextRow(now, false);
}

void ChargeRecorder::printHeader()
{
    printf("TIME");
    for (const BatteryColumn &entry : batteryColumns) {
        if (selected(columns, entry))
            printf(", %s", entry.header);
    }
    printf("\n");
}

void ChargeRecorder::timerEvent()
{
    if (!printRow()) {
        QCoreApplication::exit(1);
        return;
    }

    timeval now;
    if (gettimeofday(&now, nullptr) != 0) {
        perror("gettimofday");
        QCoreApplication::exit(1);
        return;
    }
    timeradd(&nextDeadline, &period, &nextDeadline);
    scheduleNextRow(now, true);
}

// Arms the timer for nextDeadline, or for the grid's due time that takes its
// place when the clock has moved. After a row (afterRow), nextDeadline has
// been advanced by one interval. The due time stays on the grid of the start
// time, at most one interval and a half ahead of now.
void ChargeRecorder::scheduleNextRow(const timeval &now, bool afterRow)
{
    if (!timercmp(&nextDeadline, &now, >)) {
        // The row came late (a slow battery call, a suspend, the clock set
        // forward): the due times that passed are skipped, not written in a
        // burst.
        nextDeadline = firstDueAfter(nextDeadline, now, interval);
    } else if (longerThan(span(now, nextDeadline), { interval, 0 })) {
        // The clock was set back: the next row is the grid's first due time
        // after now. Right after a row, though, not within half an interval
        // of it, so that a clock set back by a little (or one that keeps
        // going back) gives no second row right after this one; the later
        // due time must still fit the timer.
        nextDeadline = firstDueAfter(nextDeadline, now, interval);
        const Span halfInterval { interval / 2, (interval % 2) * 500000L };
        if (afterRow && !longerThan(span(now, nextDeadline), halfInterval)
            && delayMs(now, nextDeadline) + qint64(interval) * 1000 <= INT_MAX)
            nextDeadline.tv_sec += interval;
    }
    const qint64 delay = delayMs(now, nextDeadline);
    Q_ASSERT(delay >= 0 && delay <= INT_MAX);
    timer->start(int(delay));
}

bool ChargeRecorder::printRow()
{
    const time_t t = time(nullptr);
    const tm *local = localtime(&t);
    if (!local) {
        perror("localtime");
        return false;
    }
    char stamp[32];
    if (strftime(stamp, sizeof stamp, "%d %b %Y %H:%M:%S", local) == 0) {
        fprintf(stderr, "Can't format time\n");
        return false;
    }
    printf("%s", stamp);

    qint32 cumulative = 0;
    for (const BatteryColumn &entry : batteryColumns) {
        // Read once a row, whichever columns are chosen; the average current
        // and the coulomb counter share the reading.
        if (entry.column == AverageCurrent)
            cumulative = battery->getCumulativeBatteryCurrent();
        if (!selected(columns, entry))
            continue;
        switch (entry.kind) {
        case CellKind::State: {
            const int value = getters[entry.column](*battery);
            if (numerical)
                printf(", %d", value);
            else
                printf(", %s", stateText(*entry.states, value).toLocal8Bit().constData());
            break;
        }
        case CellKind::Value:
            printf(", %d", getters[entry.column](*battery));
            break;
        case CellKind::Minutes:
            printf(", %d", getters[entry.column](*battery) / secondsPerMinute);
            break;
        case CellKind::Average: {
            // Charge drawn since the previous such row over the seconds
            // between them. The difference of two 32-bit readings needs 64
            // bits, and so may the quotient. In the first row, or when the
            // clock has not advanced, the momentary current stands in.
            // A counter that could not be read, now or at the previous
            // row, gives no average either: that row counts as the first.
            qint64 average;
            if (lastAverageTime != 0 && lastAverageTime < t && cumulative != noCounter)
                average
                    = (qint64(cumulative) - lastCumulativeCurrent) / qint64(t - lastAverageTime);
            else
                average = getters[Current](*battery);
            printf(", %lld", static_cast<long long>(average));
            lastAverageTime = cumulative == noCounter ? 0 : t;
            lastCumulativeCurrent = cumulative;
            break;
        }
        case CellKind::Counter:
            // The marker too goes through the division: -596523 is a count
            // no battery reaches, where -1 would be a real one.
            printf(", %d", cumulative / secondsPerHour);
            break;
        }
    }
    printf("\n");
    return outputWritten();
}

QString ChargeRecorder::chargerTypeText(int value)
{
    return stateText(chargerTypeStates, value);
}

QString ChargeRecorder::chargingStateText(int value)
{
    return stateText(chargingStateStates, value);
}

QString ChargeRecorder::batteryStateText(int value)
{
    return stateText(batteryStateStates, value);
}
