// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

// One battery getter of the Linux backend on a phone's power-supply tree:
// its wall time, and the delay from a charger plugged in (the supply's
// online file changes, as the kernel changes it before its uevent) to the
// getter that shows it. Every getter reads the files afresh, so the delay
// is one getter call.

#include "backends/linux/linuxbattery.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace Vorna::Backend;

namespace {

bool write(const QString &file, const QByteArray &text)
{
    QDir().mkpath(file.section('/', 0, -2));
    QFile f(file);
    return f.open(QIODevice::WriteOnly) && f.write(text + '\n') > 0;
}

double micros(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 2000;
    QTemporaryDir root;
    const QString supplies = root.path() + "/class/power_supply/";
    for (const char *a : { "type=Battery", "status=Discharging", "capacity=76",
             "voltage_now=3912000", "current_now=-254000", "charge_now=1003000",
             "charge_full=1320000", "voltage_max_design=4400000" }) {
        const QByteArray kv(a);
        if (!write(supplies + "battery/" + kv.left(kv.indexOf('=')), kv.mid(kv.indexOf('=') + 1)))
            return 1;
    }
    write(supplies + "usb/type", "USB");
    write(supplies + "usb/online", "0");

    LinuxBattery battery { Sysfs(root.path()) };
    std::vector<double> getter, plugged;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        battery.read(BatteryValue::RemainingCapacityPct, Vorna::KvBattery::NormalMode);
        getter.push_back(micros(std::chrono::steady_clock::now() - t0));

        const bool on = i % 2 == 0;
        write(supplies + "usb/online", on ? "1" : "0");
        const auto t1 = std::chrono::steady_clock::now();
        const int want = on ? Vorna::KvBattery::USB_500mA : Vorna::KvBattery::None;
        while (battery.read(BatteryValue::ChargerType, Vorna::KvBattery::NormalMode) != want) { }
        plugged.push_back(micros(std::chrono::steady_clock::now() - t1));
    }
    std::printf("battery getter, phone tree: %.1f us (median of %d)\n", median(getter), runs);
    std::printf("charger plugged in or out to the value: %.1f us (median of %d)\n",
        median(plugged), runs);
    return 0;
}
