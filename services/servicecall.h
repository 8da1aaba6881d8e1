#pragma once

#include <QDBusInterface>
#include <QDBusReply>
#include <QDebug>

// Calls a service method that answers with a value. A failed call, or a reply
// whose first argument is of another type, is logged as "reply invalid".
template <typename T>
bool callForValue(QDBusInterface *service, const char *method, T &value)
{
    const QDBusReply<T> reply = service->call(QLatin1String(method));
    if (!reply.isValid()) {
        qDebug() << "reply invalid";
        return false;
    }
    value = reply.value();
    return true;
}
