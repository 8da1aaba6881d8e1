#pragma once

#include "daemon/logcategories.h"

#include <QDBusAbstractInterface>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QSet>

// Sibling services that let a call time out during the current read from the
// host: they are not called again until the next read, so that one hung
// service holds the link up for one time-out per read, however many queries
// the read holds.
using SilentServices = QSet<const QDBusAbstractInterface *>;

// Calls a service method that answers with a value, waiting at most the
// proxy's time-out. A failed call, or a reply whose first argument is of
// another type, is logged as "reply invalid".
template <typename Proxy, typename T>
bool callForValue(Proxy *service, QDBusPendingReply<T> (Proxy::*method)(), T &value, SilentServices &silent)
{
    if (silent.contains(service)) {
        qCWarning(logServices) << "not asked, it did not answer before:" << service->service();
        return false;
    }
    const QDBusReply<T> reply = (service->*method)();
    if (!reply.isValid()) {
        qCWarning(logServices) << "reply invalid";
        if (reply.error().type() == QDBusError::NoReply || reply.error().type() == QDBusError::Timeout)
            silent.insert(service);
        return false;
    }
    value = reply.value();
    return true;
}
