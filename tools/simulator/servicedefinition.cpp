#include "servicedefinition.h"

#include "services/servicecontract.h"

#include <QFile>
#include <QXmlStreamReader>

namespace {

// Each service's description, built into the simulator from services/dbus/.
struct DescribedService
{
    const char *shortName;
    const char *busName;
    const char *description;
};

// What a method answers until told otherwise.
struct DefaultReply
{
    const char *method;
    QVariant value;
};

// A signal that announces a method's answer: emitting it makes the method
// answer the emitted value from then on.
struct Announcement
{
    const char *signal;
    const char *method;
};

const DescribedService describedServices[] = {
    {"r6", Services::Engine::name, ":/dbus/local.ICVIPCR6.xml"},
    {"supplyd", Services::Supply::name, ":/dbus/local.ICVIPCSUPPLYD.xml"},
    {"cvutility", Services::Utility::name, ":/dbus/local.CVUtilityd.UtilityDaemon.xml"},
};

// The description holds an argument's type and direction; a method's first
// "out" argument is its reply.
void addArgument(ServiceDefinition &service, bool inSignal, const QXmlStreamAttributes &attributes)
{
    const QString type = attributes.value(QLatin1String("type")).toString();
    if (inSignal)
        service.signalTable.last().argumentTypes.append(type);
    else if (attributes.value(QLatin1String("direction")) != QLatin1String("out"))
        service.methodTable.last().argumentTypes.append(type);
    else if (service.methodTable.last().replyType.isEmpty())
        service.methodTable.last().replyType = type;
}

ServiceDefinition readDescription(const DescribedService &described)
{
    ServiceDefinition service{QLatin1String(described.shortName), QLatin1String(described.busName), {}, {}, {}};
    QFile file(QLatin1String(described.description));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("brevsim: no interface description %s", described.description);
    QXmlStreamReader xml(&file);
    bool inSignal = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        const QString name = attributes.value(QLatin1String("name")).toString();
        if (xml.name() == QLatin1String("interface")) {
            service.interface = name;
        } else if (xml.name() == QLatin1String("signal")) {
            service.signalTable.append({name, {}, QString()});
            inSignal = true;
        } else if (xml.name() == QLatin1String("method")) {
            service.methodTable.append({name, {}, QString(), QVariant()});
            inSignal = false;
        } else if (xml.name() == QLatin1String("arg")) {
            addArgument(service, inSignal, attributes);
        }
    }
    if (xml.hasError() || service.interface.isEmpty())
        qFatal("brevsim: %s: %s", described.description, qPrintable(xml.errorString()));
    return service;
}

// The signal or method of that name in whichever service describes it.
// Behaviour for a member that no description holds is a simulator that no
// longer matches the contract: it stops at once rather than serve it.
template <typename Member>
Member &described(QVector<ServiceDefinition> &definitions, QVector<Member> ServiceDefinition::*table,
                  const char *name)
{
    for (ServiceDefinition &service : definitions) {
        for (Member &member : service.*table) {
            if (member.name == QLatin1String(name))
                return member;
        }
    }
    qFatal("brevsim: no interface description has %s", name);
}

QVector<ServiceDefinition> buildDefinitions()
{
    const DefaultReply defaults[] = {
        {"getError", QVariant(qint32(0))},
        {"r6Version", QVariant(QStringLiteral("2.3"))},
        {"supplySupplyPercent", QVariant(0.75)},
        {"supplyRibbon1Percent", QVariant(0.5)},
        {"supplyRibbon2Percent", QVariant(0.25)},
    };
    const Announcement announcements[] = {
        {"R6_Error", "getError"},
        {"SUPPLYD_SupplyPercentChanged", "supplySupplyPercent"},
        {"SUPPLYD_Ribbon1PercentChanged", "supplyRibbon1Percent"},
        {"SUPPLYD_Ribbon2PercentChanged", "supplyRibbon2Percent"},
    };

    QVector<ServiceDefinition> definitions;
    for (const DescribedService &service : describedServices)
        definitions.append(readDescription(service));
    for (const DefaultReply &reply : defaults)
        described(definitions, &ServiceDefinition::methodTable, reply.method).defaultReply = reply.value;
    for (const Announcement &announcement : announcements) {
        described(definitions, &ServiceDefinition::methodTable, announcement.method);
        described(definitions, &ServiceDefinition::signalTable, announcement.signal).announces =
            QLatin1String(announcement.method);
    }
    return definitions;
}

QString argumentsXml(const QStringList &types, const char *direction)
{
    QString xml;
    for (const QString &type : types) {
        xml += QStringLiteral("      <arg type=\"%1\"").arg(type);
        if (direction)
            xml += QStringLiteral(" direction=\"%1\"").arg(QLatin1String(direction));
        xml += QStringLiteral("/>\n");
    }
    return xml;
}

} // namespace

const SignalDefinition *ServiceDefinition::findSignal(const QString &name) const
{
    for (const SignalDefinition &signal : signalTable) {
        if (signal.name == name)
            return &signal;
    }
    return nullptr;
}

const MethodDefinition *ServiceDefinition::findMethod(const QString &name) const
{
    for (const MethodDefinition &method : methodTable) {
        if (method.name == name)
            return &method;
    }
    return nullptr;
}

const QVector<ServiceDefinition> &serviceDefinitions()
{
    static const QVector<ServiceDefinition> definitions = buildDefinitions();
    return definitions;
}

QString introspectionXml(const ServiceDefinition &service)
{
    QString xml = QStringLiteral("  <interface name=\"%1\">\n").arg(service.interface);
    for (const SignalDefinition &signal : service.signalTable) {
        xml += QStringLiteral("    <signal name=\"%1\">\n").arg(signal.name);
        xml += argumentsXml(signal.argumentTypes, nullptr);
        xml += QStringLiteral("    </signal>\n");
    }
    for (const MethodDefinition &method : service.methodTable) {
        xml += QStringLiteral("    <method name=\"%1\">\n").arg(method.name);
        xml += argumentsXml(method.argumentTypes, "in");
        if (!method.replyType.isEmpty())
            xml += argumentsXml({method.replyType}, "out");
        xml += QStringLiteral("    </method>\n");
    }
    return xml + QStringLiteral("  </interface>\n");
}
