// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// A wall clock that a test sets, preloaded into a program under test
// (LD_PRELOAD) in place of the C library's time() and gettimeofday():
//
//   FAKECLOCK_START=SECONDS[.MICROSECONDS]
//       the wall clock shows this time at the program's own first reading
//       of it (libraries that read it earlier, such as the event dispatcher
//       at start-up, see it standing there) and runs on from there; unset,
//       it is the real wall clock
//   FAKECLOCK_RATE=R
//       how fast it runs against real time: 1 by default, 0 stands still,
//       -1 runs backwards
//   FAKECLOCK_FAIL_GETTIMEOFDAY=N
//       the program's N-th own call of gettimeofday() and every later one
//       fail with EINVAL (calls from libraries, such as the event
//       dispatcher's, are not counted and do not fail)
//   FAKECLOCK_STEP=AT:SECONDS
//       AT seconds (real time, a fraction allowed) after the clock started,
//       it is set forward by SECONDS, or back when SECONDS is negative; and
//       as the kernel does when the clock is set or the system resumes, a
//       timerfd on the wall clock that the program created with
//       timerfd_create() becomes readable at that moment (the program reads
//       an expiry count from it, where the kernel would report ECANCELED).
//       A forward step so reported is what a resume from suspend looks like
//       to a program: the monotonic clock stood still while the wall clock
//       went on.
//   FAKECLOCK_STEP_UNREPORTED=1
//       the step goes unreported: timerfd_create() is the C library's own
//
// The monotonic clock, on which Qt's timers run, stays the real one, so a
// schedule on the fake wall clock keeps real time while its time stamps are
// known to the microsecond.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <link.h>
#include <sys/time.h>
#include <sys/timerfd.h>

namespace {

using Micros = long long;

// Both clocks come from clock_gettime(), which this file leaves alone.
template <typename Clock> Micros micros()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(Clock::now().time_since_epoch()).count();
}

Micros monotonicMicros()
{
    return micros<std::chrono::steady_clock>();
}

// Whole seconds and microseconds as timeval holds them: the microseconds
// are never negative, also before 1970.
timeval split(time_t seconds, Micros micros)
{
    seconds += time_t(micros / 1000000);
    micros %= 1000000;
    if (micros < 0) {
        micros += 1000000;
        --seconds;
    }
    return { seconds, suseconds_t(micros) };
}

// Where the program's own code lies, to tell its calls from the libraries'.
struct Program
{
    uintptr_t begin = UINTPTR_MAX;
    uintptr_t end = 0;

    static int find(dl_phdr_info *info, size_t, void *data)
    {
        auto *program = static_cast<Program *>(data);
        for (int i = 0; i < info->dlpi_phnum; ++i) {
            const ElfW(Phdr) &segment = info->dlpi_phdr[i];
            if (segment.p_type == PT_LOAD && segment.p_flags & PF_X) {
                const uintptr_t at = info->dlpi_addr + segment.p_vaddr;
                program->begin = std::min(program->begin, at);
                program->end = std::max(program->end, uintptr_t(at + segment.p_memsz));
            }
        }
        return 1; // the first object is the program itself
    }

    bool contains(const void *code) const
    {
        const auto at = reinterpret_cast<uintptr_t>(code);
        return at >= begin && at < end;
    }
};

// Monotonic clock at the program's first reading of the fake wall clock.
std::atomic<Micros> programOrigin { -1 };

struct Clock
{
    time_t startSeconds; // wall clock at the program's first reading
    Micros startMicros;
    Micros realOrigin; // monotonic clock when the real wall clock was read
    double rate;
    long failFrom; // 0: gettimeofday() never fails
    Micros stepAt; // -1: no step
    long long stepSeconds;
    bool stepReported;
    Program program;

    static Clock fromEnvironment()
    {
        const Micros real = micros<std::chrono::system_clock>();
        Clock clock { time_t(real / 1000000), real % 1000000, monotonicMicros(), 1.0, 0, -1, 0,
            true, {} };
        if (const char *start = getenv("FAKECLOCK_START")) {
            clock.realOrigin = -1;
            char *end = nullptr;
            clock.startSeconds = time_t(strtoll(start, &end, 10));
            clock.startMicros = 0;
            if (*end == '.') {
                const char *digits = end + 1;
                clock.startMicros = strtoll(digits, &end, 10);
                for (long n = end - digits; n < 6; ++n)
                    clock.startMicros *= 10;
            }
        }
        if (const char *rate = getenv("FAKECLOCK_RATE"))
            clock.rate = strtod(rate, nullptr);
        if (const char *failFrom = getenv("FAKECLOCK_FAIL_GETTIMEOFDAY"))
            clock.failFrom = strtol(failFrom, nullptr, 10);
        if (const char *step = getenv("FAKECLOCK_STEP")) {
            char *end = nullptr;
            clock.stepAt = Micros(std::llround(strtod(step, &end) * 1e6));
            if (*end == ':')
                clock.stepSeconds = strtoll(end + 1, nullptr, 10);
        }
        if (const char *unreported = getenv("FAKECLOCK_STEP_UNREPORTED"))
            clock.stepReported = strcmp(unreported, "1") != 0;
        dl_iterate_phdr(Program::find, &clock.program);
        return clock;
    }

    // The monotonic time at which the clock started, fixed by the
    // program's first reading when FAKECLOCK_START is set.
    Micros origin(const void *caller) const
    {
        if (realOrigin >= 0)
            return realOrigin;
        Micros from = programOrigin.load();
        if (from < 0 && program.contains(caller)) {
            Micros unset = -1;
            from = monotonicMicros();
            if (!programOrigin.compare_exchange_strong(unset, from))
                from = unset;
        }
        return from;
    }

    // The clock starts running at the program's first reading.
    timeval now(const void *caller) const
    {
        const Micros from = origin(caller);
        if (from < 0)
            return split(startSeconds, startMicros);
        const Micros elapsed = monotonicMicros() - from;
        time_t seconds = startSeconds;
        if (stepAt >= 0 && elapsed >= stepAt)
            seconds += time_t(stepSeconds);
        return split(seconds, startMicros + Micros(std::llround(rate * double(elapsed))));
    }
};

const Clock &wallClock()
{
    static const Clock clock = Clock::fromEnvironment();
    return clock;
}

std::atomic<long> gettimeofdayCalls { 0 };

} // namespace

extern "C" time_t time(time_t *result) noexcept
{
    const time_t now = wallClock().now(__builtin_return_address(0)).tv_sec;
    if (result)
        *result = now;
    return now;
}

extern "C" int gettimeofday(timeval *__restrict result, void *__restrict) noexcept
{
    const Clock &clock = wallClock();
    const void *caller = __builtin_return_address(0);
    if (clock.failFrom > 0 && clock.program.contains(caller)
        && ++gettimeofdayCalls >= clock.failFrom) {
        errno = EINVAL;
        return -1;
    }
    *result = clock.now(caller);
    return 0;
}

namespace {

// The timerfd that reports the step, told apart from any other descriptor.
std::atomic<int> stepReport { -1 };

template <typename Function> Function next(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

// A wall-clock timerfd of the program that is to hear of the step is a
// monotonic one that expires at the step's moment, and that the program's
// own settings leave alone.
extern "C" int timerfd_create(int clockId, int flags) noexcept
{
    static const auto create = next<int (*)(int, int)>("timerfd_create");
    const Clock &clock = wallClock();
    const void *caller = __builtin_return_address(0);
    if (clockId != CLOCK_REALTIME || clock.stepAt < 0 || !clock.stepReported
        || !clock.program.contains(caller))
        return create(clockId, flags);
    const int fd = create(CLOCK_MONOTONIC, flags);
    if (fd < 0)
        return fd;
    const Micros at = clock.origin(caller) + clock.stepAt;
    itimerspec step {};
    step.it_value.tv_sec = time_t(at / 1000000);
    step.it_value.tv_nsec = long(at % 1000000) * 1000;
    static const auto settime
        = next<int (*)(int, int, const itimerspec *, itimerspec *)>("timerfd_settime");
    settime(fd, TFD_TIMER_ABSTIME, &step, nullptr);
    stepReport = fd;
    return fd;
}

extern "C" int timerfd_settime(
    int fd, int flags, const itimerspec *value, itimerspec *old) noexcept
{
    static const auto settime
        = next<int (*)(int, int, const itimerspec *, itimerspec *)>("timerfd_settime");
    if (fd >= 0 && fd == stepReport.load()) {
        if (old)
            *old = {};
        return 0;
    }
    return settime(fd, flags, value, old);
}
