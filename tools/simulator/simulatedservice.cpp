#include "simulatedservice.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>

namespace {

const char failureName[] = "local.Simulator.Failed";

// A call to the bus itself on the same connection: its reply comes only after
// the bus has handled every message sent before it.
QString flush(const QDBusConnection &bus)
{
    const QDBusMessage reply = bus.call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")));
    return reply.type() == QDBusMessage::ErrorMessage ? reply.errorMessage() : QString();
}

} // namespace

SimulatedService::SimulatedService(const ServiceDefinition &definition, QObject *parent)
    : QDBusVirtualObject(parent)
    , m_definition(definition)
{
    for (const MethodDefinition &method : definition.methodTable)
        m_replies.insert(method.name, {method.defaultReply, QString()});
}

SimulatedService::~SimulatedService()
{
    stop();
}

QString SimulatedService::start()
{
    if (isOnBus())
        return m_definition.shortName + QStringLiteral(" is already on the bus");
    const QString connectionName = m_definition.shortName + QLatin1Char('-') + QString::number(++m_generation);
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SystemBus, connectionName);
    QString error;
    if (!bus.isConnected())
        error = QStringLiteral("no system bus: ") + bus.lastError().message();
    // The object is in place before the name appears, for clients that react at once.
    else if (!bus.registerVirtualObject(QStringLiteral("/"), this, QDBusConnection::SingleNode))
        error = QStringLiteral("cannot export the object at /");
    else if (!bus.registerService(m_definition.busName))
        error = QStringLiteral("cannot own ") + m_definition.busName + QLatin1Char(' ') + bus.lastError().message();
    if (error.isEmpty())
        m_connectionName = connectionName;
    else
        QDBusConnection::disconnectFromBus(connectionName);
    return error;
}

QString SimulatedService::stop()
{
    if (!isOnBus())
        return m_definition.shortName + QStringLiteral(" is not on the bus");
    QDBusConnection bus(m_connectionName);
    bus.unregisterService(m_definition.busName);
    bus.unregisterObject(QStringLiteral("/"));
    QDBusConnection::disconnectFromBus(m_connectionName);
    m_connectionName.clear();
    return QString();
}

void SimulatedService::setReply(const QString &method, const QVariant &value)
{
    m_replies[method].value = value;
}

void SimulatedService::setFailure(const QString &method, const QString &message)
{
    m_replies[method].failure = message;
    m_replies[method].hanging = false;
}

void SimulatedService::setHanging(const QString &method)
{
    m_replies[method].hanging = true;
}

QString SimulatedService::emitSignal(const QString &name, const QVariantList &arguments)
{
    if (!isOnBus())
        return m_definition.shortName + QStringLiteral(" is not on the bus");
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/"), m_definition.interface, name);
    signal.setArguments(arguments);
    const QDBusConnection bus(m_connectionName);
    if (!bus.send(signal))
        return QStringLiteral("cannot send ") + name + QLatin1Char(' ') + bus.lastError().message();
    m_lastEmitted.insert(name, arguments);
    return flush(bus);
}

QString SimulatedService::introspect(const QString &) const
{
    return introspectionXml(m_definition);
}

bool SimulatedService::handleMessage(const QDBusMessage &message, const QDBusConnection &connection)
{
    if (m_stuck && message.type() == QDBusMessage::MethodCallMessage)
        return true; // the caller waits for its own time-out
    const bool ours = message.interface() == m_definition.interface;
    if (message.type() != QDBusMessage::MethodCallMessage || (!ours && !message.interface().isEmpty()))
        return false; // introspection and the bus binding's other standard interfaces
    const MethodDefinition *method = m_definition.findMethod(message.member());
    if (!method && !ours)
        return false;
    if (!method) {
        connection.send(message.createErrorReply(QDBusError::UnknownMethod,
                                                 QStringLiteral("no method ") + message.member()));
        return true;
    }

    if (message.signature() != method->argumentTypes.join(QString())) {
        emit refused(method->name, message.signature());
        connection.send(message.createErrorReply(
            QDBusError::InvalidArgs, QStringLiteral("%1 takes (%2), not (%3)")
                                         .arg(method->name, method->argumentTypes.join(QString()),
                                              message.signature())));
        return true;
    }

    emit called(method->name, message.arguments());
    const Reply reply = m_replies.value(method->name);
    if (reply.hanging)
        return true; // the caller waits for its own time-out
    // What the call sets off goes out before its reply, as from a service that
    // does its work inside the call: a caller that subscribes only after the
    // reply misses it.
    if (reply.failure.isEmpty())
        emit served(method->name, message.arguments());
    connection.send(answer(message, reply));
    return true;
}

QDBusMessage SimulatedService::answer(const QDBusMessage &call, const Reply &reply) const
{
    if (!reply.failure.isEmpty())
        return call.createErrorReply(QLatin1String(failureName), reply.failure);
    return call.createReply(reply.value.isValid() ? QVariantList{reply.value} : QVariantList());
}
