// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// One accelerometer poll of the Linux backend, as the reader thread makes
// it: CPU time and the files it opens (open, openat, access, stat calls
// counted by interposing them) on a HID-style device whose scale and
// offset are per axis and shared, with a mount matrix.

#include "backends/linux/sensorreaders.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::atomic<long> opens { 0 };
std::atomic<long> probes { 0 };

template <typename F> F next(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

double cpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// A reader with a prepare step reads its conversion once; an older one
// has none.
template <typename R> auto prepare(R &r, int) -> decltype(r.prepare(nullptr), void())
{
    r.prepare(nullptr);
}
template <typename R> void prepare(R &, long) { }

} // namespace

extern "C" {
int open(const char *path, int flags, ...)
{
    ++opens;
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = va_arg(ap, mode_t);
    va_end(ap);
    static const auto real = next<int (*)(const char *, int, ...)>("open");
    return real(path, flags, mode);
}
int open64(const char *path, int flags, ...)
{
    ++opens;
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = va_arg(ap, mode_t);
    va_end(ap);
    static const auto real = next<int (*)(const char *, int, ...)>("open64");
    return real(path, flags, mode);
}
int openat(int dir, const char *path, int flags, ...)
{
    ++opens;
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = va_arg(ap, mode_t);
    va_end(ap);
    static const auto real = next<int (*)(int, const char *, int, ...)>("openat");
    return real(dir, path, flags, mode);
}
int access(const char *path, int mode)
{
    ++probes;
    static const auto real = next<int (*)(const char *, int)>("access");
    return real(path, mode);
}
}

int main()
{
    using namespace Vorna::Backend;
    QTemporaryDir root;
    const QString dev = root.filePath("bus/iio/devices/iio:device0/");
    QDir().mkpath(dev);
    const auto write = [&](const char *name, const char *value) {
        QFile f(dev + name);
        if (f.open(QIODevice::WriteOnly))
            f.write(QByteArray(value) + '\n');
    };
    write("name", "accel_3d");
    write("in_accel_x_raw", "12");
    write("in_accel_y_raw", "-250");
    write("in_accel_z_raw", "40");
    write("in_accel_scale", "0.038307");
    write("in_accel_offset", "0");
    write("in_accel_mount_matrix", "0, 1, 0; -1, 0, 0; 0, 0, 1");

    const Sysfs sysfs(root.path());
    const std::unique_ptr<SensorReader> reader = accelReader(Sensor::Accelerometer, sysfs);
    prepare(*reader, 0);
    constexpr int polls = 20000;
    const long opensBefore = opens, probesBefore = probes;
    const double start = cpuSeconds();
    for (int i = 0; i < polls; ++i)
        if (!reader->measure(std::nullopt, nullptr)) {
            std::fprintf(stderr, "accelpoll: the reading failed\n");
            return 1;
        }
    const double cpu = cpuSeconds() - start;
    std::printf("accelerometer poll, %d polls\n", polls);
    std::printf("  CPU time a poll:      %7.2f µs\n", cpu / polls * 1e6);
    std::printf("  files opened a poll:  %7.2f\n", double(opens - opensBefore) / polls);
    std::printf("  access() a poll:      %7.2f\n", double(probes - probesBefore) / polls);
    return 0;
}
