#pragma once

#include "daemon/logcategories.h"

#include <QDBusInterface>
#include <QDBusReply>
#include <QSet>

// Sibling services that let a call time out during the current read from the
// host: they are not called again until the next read, so that one hung
// service holds the link up for one time-out per read, however many queries
// the read holds.
using SilentServices = QSet<const QDBusInterface *>;

// Calls a service method that answers with a value. A failed call, or a reply
// whose first argument is of another type, is logged as "reply invalid".
template <typename T>
bool callForValue(QDBusInterface *service, const char *method, T &value, SilentServices &silent)
{
    if (silent.contains(service)) {
        qCWarning(logServices) << "not asked, it did not answer before:" << service->service() << method;
        return false;
    }
    const QDBusReply<T> reply = service->call(QLatin1String(method));
    if (!reply.isValid()) {
        qCWarning(logServices) << "reply invalid";
        if (reply.error().type() == QDBusError::NoReply || reply.error().type() == QDBusError::Timeout)
            silent.insert(service);
        return false;
    }
    value = reply.value();
    return true;
}
