#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

// What one sibling service shows on the bus: its names, and the signals and
// methods of its one object at "/" with their D-Bus types, read from the
// interface description that the daemon's proxies are built from
// (services/dbus/), and what the simulated service does beyond it.

struct SignalDefinition
{
    QString name;
    QStringList argumentTypes; // one complete D-Bus type each
    // The method whose answer this signal announces: emitting the signal
    // makes that method answer the new value too ("" for none).
    QString announces;
};

struct MethodDefinition
{
    QString name;
    QStringList argumentTypes;
    QString replyType; // "" for a method that answers nothing
    QVariant defaultReply;
};

struct ServiceDefinition
{
    QString shortName; // "r6", "supplyd", "cvutility"
    QString busName;
    QString interface;
    QVector<SignalDefinition> signalTable;
    QVector<MethodDefinition> methodTable;

    const SignalDefinition *findSignal(const QString &name) const;
    const MethodDefinition *findMethod(const QString &name) const;
};

// The print engine, supply and utility services, in that order.
const QVector<ServiceDefinition> &serviceDefinitions();

// The <interface> element that the object's introspection data carries.
QString introspectionXml(const ServiceDefinition &service);
