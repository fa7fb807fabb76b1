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
#include <ctime>
#include <link.h>
#include <sys/time.h>

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
    Program program;

    static Clock fromEnvironment()
    {
        const Micros real = micros<std::chrono::system_clock>();
        Clock clock { time_t(real / 1000000), real % 1000000, monotonicMicros(), 1.0, 0, {} };
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
        dl_iterate_phdr(Program::find, &clock.program);
        return clock;
    }

    // The clock starts running at the program's first reading.
    timeval now(const void *caller) const
    {
        Micros from = realOrigin >= 0 ? realOrigin : programOrigin.load();
        if (from < 0) {
            if (!program.contains(caller))
                return split(startSeconds, startMicros);
            Micros unset = -1;
            from = monotonicMicros();
            if (!programOrigin.compare_exchange_strong(unset, from))
                from = unset;
        }
        const double elapsed = rate * double(monotonicMicros() - from);
        return split(startSeconds, startMicros + Micros(std::llround(elapsed)));
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
