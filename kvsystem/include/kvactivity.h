// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#ifndef KVSYSTEM_INCLUDE_KVACTIVITY_H
#define KVSYSTEM_INCLUDE_KVACTIVITY_H

#include "kvsystem2_export.h"

#include <QObject>

#include <memory>

namespace Vorna {

class KvActivityPrivate;

// Whether the user is using the device.
class KVSYSTEM2_EXPORT KvActivity : public QObject
{
    Q_OBJECT
public:
    enum Activity : int { Inactive = 0, Active = 1 };
    Q_ENUM(Activity)

    explicit KvActivity(QObject *parent = nullptr);
    ~KvActivity() override;

    // Whether the user is active now.
    Vorna::KvActivity::Activity get() const;

signals:
    // Each change; may come from a thread of the library's own.
    void activityChanged(Vorna::KvActivity::Activity activity);

private:
    Q_DISABLE_COPY(KvActivity)
    std::unique_ptr<KvActivityPrivate> d;
};

} // namespace Vorna

#endif
