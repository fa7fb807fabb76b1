// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef TESTS_SUPPORT_BACKENDTESTING_H
#define TESTS_SUPPORT_BACKENDTESTING_H

// What the unit tests of the backends share: a sink that collects readings
// from any thread, a login manager that answers as told, the Linux
// backend's options for a fake tree, and standard error captured.

#include "backend.h"
#include "backends/linux/linuxbackend.h"
#include "fakesysfs.h"

#include <QTemporaryFile>
#include <QVector>

#include <cstdio>
#include <functional>
#include <mutex>
#include <unistd.h>

namespace BackendTesting {

using namespace Vorna::Backend;

// Samples from a sink that may run on the backend's reader thread.
class Samples
{
public:
    SampleSink sink()
    {
        return [this](const Sample &s) {
            const std::lock_guard<std::mutex> lock(mutex);
            all.append(s);
        };
    }
    // A deep copy: with an implicitly shared one, the reader thread could
    // append in place once the copy is gone, while the test still reads it.
    QVector<Sample> taken() const
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return QVector<Sample>(all.begin(), all.end());
    }
    int count() const { return taken().size(); }
    QVector<qint32> last(int n = 7) const
    {
        const QVector<Sample> s = taken();
        return s.isEmpty() ? QVector<qint32>()
                           : QVector<qint32>(s.last().values.begin(), s.last().values.begin() + n);
    }

private:
    mutable std::mutex mutex;
    QVector<Sample> all;
};

// A login manager that answers as told and records power requests.
class FakeLogin : public LoginManager
{
public:
    std::optional<bool> idle;
    bool accept = true;
    QStringList requests;
    std::optional<bool> idleHint() override { return idle; }
    bool reboot() override
    {
        requests << "reboot";
        return accept;
    }
    bool powerOff() override
    {
        requests << "powerOff";
        return accept;
    }
    bool setBrightness(const QString &subsystem, const QString &name, quint32 value) override
    {
        requests << QStringLiteral("setBrightness %1 %2 %3").arg(subsystem, name).arg(value);
        return accept;
    }
};

inline LinuxBackend::Options options(
    const FakeSysfs &tree, std::shared_ptr<LoginManager> login = {}, bool allowPower = false)
{
    LinuxBackend::Options o;
    o.sysfsRoot = tree.root();
    o.login = std::move(login);
    o.allowPower = allowPower;
    return o;
}

// Everything that a piece of code writes to standard error.
inline QByteArray standardError(const std::function<void()> &code)
{
    QTemporaryFile file;
    if (!file.open())
        return "cannot capture";
    fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(file.handle(), STDERR_FILENO);
    code();
    fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    file.seek(0);
    return file.readAll();
}

constexpr int waitMs = 20000;

} // namespace BackendTesting

using namespace BackendTesting;

#endif
