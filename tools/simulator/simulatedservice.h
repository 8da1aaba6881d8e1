#pragma once

#include "servicedefinition.h"

#include <QDBusVirtualObject>
#include <QHash>

// One sibling service: owns its bus name on a bus connection of its own and
// serves its object at "/" with the interface, signals and methods of its
// definition. Every method answers the reply set for it, or an error.
class SimulatedService : public QDBusVirtualObject
{
    Q_OBJECT

public:
    explicit SimulatedService(const ServiceDefinition &definition, QObject *parent = nullptr);
    ~SimulatedService() override;

    const ServiceDefinition &definition() const { return m_definition; }
    bool isOnBus() const { return !m_connectionName.isEmpty(); }

    // Each returns an error text, or an empty one on success. start() and
    // stop() return once the bus name is owned or released; start() does so
    // on a new connection, with a new unique name, as a restarted service.
    QString start();
    QString stop();

    // `value` must already have the D-Bus type that the method answers with
    // (an invalid value: a reply without arguments). It is answered while
    // the method has no failure set and does not hang; an empty message
    // clears the failure, and any failure setting ends the hanging.
    void setReply(const QString &method, const QVariant &value);
    void setFailure(const QString &method, const QString &message);
    // The method takes its calls and never answers them, as a hung service.
    void setHanging(const QString &method);
    // The whole service takes every call, introspection included, and
    // answers none, from now on, across restarts: a service that owns its
    // name but is stuck.
    void setStuck() { m_stuck = true; }

    // Sends the signal and returns once the bus has passed it on.
    QString emitSignal(const QString &name, const QVariantList &arguments);
    // The arguments last emitted with a signal (empty if never).
    QVariantList lastEmitted(const QString &name) const { return m_lastEmitted.value(name); }

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

signals:
    // A call of a known method with the right argument types, before it is answered.
    void called(const QString &method, const QVariantList &arguments);
    // The same call, after it was answered without an error.
    void served(const QString &method, const QVariantList &arguments);
    // A call of a known method with arguments of other types; answered with an error.
    void refused(const QString &method, const QString &signature);

private:
    struct Reply
    {
        QVariant value;
        QString failure; // not empty: the method answers this error
        bool hanging = false;
    };

    QDBusMessage answer(const QDBusMessage &call, const Reply &reply) const;

    const ServiceDefinition m_definition;
    QHash<QString, Reply> m_replies;
    QHash<QString, QVariantList> m_lastEmitted;
    QString m_connectionName; // empty while off the bus
    int m_generation = 0;
    bool m_stuck = false;
};
