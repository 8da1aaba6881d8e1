#include "simulatedprinter.h"

#include "simulatedservice.h"

#include <QTextStream>

SimulatedPrinter::SimulatedPrinter(QObject *parent)
    : QObject(parent)
{
    for (const ServiceDefinition &definition : serviceDefinitions()) {
        auto *service = new SimulatedService(definition, this);
        const QString name = definition.shortName;
        connect(service, &SimulatedService::called, this,
                [this, name](const QString &method, const QVariantList &arguments) {
                    emit called(name, method, arguments);
                });
        connect(service, &SimulatedService::refused, this,
                [this, name](const QString &method, const QString &signature) {
                    emit refused(name, method, signature);
                });
        connect(service, &SimulatedService::served, this,
                [this, service](const QString &method, const QVariantList &arguments) {
                    onServed(service, method, arguments);
                });
        m_services.append(service);
    }
}

SimulatedService *SimulatedPrinter::service(const QString &shortName) const
{
    for (SimulatedService *service : m_services) {
        if (service->definition().shortName == shortName)
            return service;
    }
    return nullptr;
}

QStringList SimulatedPrinter::serviceNames() const
{
    QStringList names;
    for (const SimulatedService *service : m_services)
        names.append(service->definition().shortName);
    return names;
}

QString SimulatedPrinter::emitSignal(SimulatedService *service, const QString &signal,
                                     const QVariantList &arguments)
{
    const QString error = service->emitSignal(signal, arguments);
    const SignalDefinition *definition = service->definition().findSignal(signal);
    if (error.isEmpty() && definition && !definition->announces.isEmpty())
        service->setReply(definition->announces, arguments.value(0));
    return error;
}

QString SimulatedPrinter::announceEthernetRecord(const EthernetRecord &record)
{
    m_ethernetRecord = record;
    return service(QStringLiteral("cvutility"))
        ->emitSignal(QStringLiteral("onEthernetConfigChanged"), {record.encoded()});
}

void SimulatedPrinter::onServed(SimulatedService *service, const QString &method,
                                const QVariantList &arguments)
{
    if (method == QLatin1String("refreshAll") && m_refreshing)
        refresh(service);
    else if (method == QLatin1String("setEthernetConfig"))
        m_ethernetRecord.applySettings(arguments);
    else if (method == QLatin1String("updateEthernetConfig"))
        report(announceEthernetRecord(m_ethernetRecord));
}

void SimulatedPrinter::refresh(SimulatedService *engine)
{
    for (const SignalDefinition &signal : engine->definition().signalTable) {
        const QVariantList last = engine->lastEmitted(signal.name);
        if (!last.isEmpty()) // the values it last emitted; not the bare queue notices
            report(engine->emitSignal(signal.name, last));
    }
}

void SimulatedPrinter::report(const QString &error) const
{
    if (!error.isEmpty())
        QTextStream(stderr) << "brevsim: " << error << Qt::endl;
}
