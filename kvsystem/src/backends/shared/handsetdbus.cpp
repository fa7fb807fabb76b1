// SPDX-FileCopyrightText: The KvSystem2 authors
// SPDX-License-Identifier: MIT

#include "handsetdbus.h"

#include <QDBusArgument>

namespace Vorna::Backend::HandsetBus {

QVariantList argumentsOf(const QDBusMessage &message)
{
    QVariantList arguments = message.arguments();
    for (QVariant &argument : arguments) {
        if (argument.userType() != qMetaTypeId<QDBusArgument>())
            continue;
        const QDBusArgument array = argument.value<QDBusArgument>();
        if (array.currentSignature() != QLatin1String("ai"))
            continue;
        QList<int> numbers;
        array >> numbers;
        argument = QVariant::fromValue(numbers);
    }
    return arguments;
}

QDBusMessage call(const char *method)
{
    return QDBusMessage::createMethodCall(QLatin1String(serviceName), QLatin1String(objectPath),
        QLatin1String(interfaceName), QLatin1String(method));
}

} // namespace Vorna::Backend::HandsetBus
