#include "servicedefinition.h"

namespace {

QVector<ServiceDefinition> buildDefinitions()
{
    const QStringList none;
    const QStringList text{QStringLiteral("s")};
    const QStringList level{QStringLiteral("d")};

    ServiceDefinition engine{
        QStringLiteral("r6"), QStringLiteral("com.corvane.r6"), QStringLiteral("local.ICVIPCR6"),
        {
            {QStringLiteral("R6_Error"), {QStringLiteral("i")}, QStringLiteral("getError"), true},
            {QStringLiteral("R6_R6SupplyID"), text, QString(), true},
            {QStringLiteral("R6_R6SupplyUID"), text, QString(), true},
            {QStringLiteral("R6_R6RibbonIDs"), {QStringLiteral("as")}, QString(), true},
            {QStringLiteral("R6_R6Ribbon1UID"), text, QString(), true},
            {QStringLiteral("R6_R6Ribbon2UID"), text, QString(), true},
            {QStringLiteral("R6_PrintQueueComplete"), none, QString(), false},
            {QStringLiteral("R6_PrintQueueFull"), none, QString(), false},
        },
        {
            {QStringLiteral("refreshAll"), none, QString(), QVariant()},
            {QStringLiteral("getError"), none, QStringLiteral("i"), QVariant(qint32(0))},
            {QStringLiteral("r6Version"), none, QStringLiteral("s"), QVariant(QStringLiteral("2.3"))},
        }};

    ServiceDefinition supply{
        QStringLiteral("supplyd"), QStringLiteral("com.corvane.supplyd"),
        QStringLiteral("local.ICVIPCSUPPLYD"),
        {
            {QStringLiteral("SUPPLYD_SupplyPercentChanged"), level, QStringLiteral("supplySupplyPercent"), false},
            {QStringLiteral("SUPPLYD_Ribbon1PercentChanged"), level, QStringLiteral("supplyRibbon1Percent"), false},
            {QStringLiteral("SUPPLYD_Ribbon2PercentChanged"), level, QStringLiteral("supplyRibbon2Percent"), false},
        },
        {
            {QStringLiteral("supplySupplyPercent"), none, QStringLiteral("d"), QVariant(0.75)},
            {QStringLiteral("supplyRibbon1Percent"), none, QStringLiteral("d"), QVariant(0.5)},
            {QStringLiteral("supplyRibbon2Percent"), none, QStringLiteral("d"), QVariant(0.25)},
        }};

    ServiceDefinition utility{
        QStringLiteral("cvutility"), QStringLiteral("com.corvane.cvutility"),
        QStringLiteral("local.CVUtilityd.UtilityDaemon"),
        {
            {QStringLiteral("onEthernetConfigChanged"), {QStringLiteral("ay")}, QString(), false},
        },
        {
            {QStringLiteral("setEthernetConfig"),
             {QStringLiteral("i"), QStringLiteral("s"), QStringLiteral("s"), QStringLiteral("s")},
             QString(), QVariant()},
            {QStringLiteral("updateEthernetConfig"), none, QString(), QVariant()},
            {QStringLiteral("setShip"), {QStringLiteral("i")}, QString(), QVariant()},
        }};

    return {engine, supply, utility};
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
