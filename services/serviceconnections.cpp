#include "daemon/brevdaemon.h"

#include "daemon/logcategories.h"
#include "engineinterface.h"
#include "services/servicecontract.h"
#include "supplyinterface.h"
#include "utilityinterface.h"

#include <QDBusConnection>
#include <QMetaMethod>

namespace {

struct Subscription
{
    QByteArray signal;
    const char *slot;
    const char *failure;
    bool withBusError; // the queue signals also log the bus's error text
};

// The name of a proxy's signal, as its interface description gives it.
template <typename Signal>
QByteArray nameOf(Signal signal)
{
    return QMetaMethod::fromSignal(signal).name();
}

// Builds a fresh proxy to a service and stores it before testing it, so that
// calls always go through the latest one. The proxy knows its interface from
// the build and asks the service nothing: only the bus itself is asked
// whether the name has an owner, so that a service that owns its name and
// never answers cannot hold the daemon up here. Returns whether it is valid.
template <typename Proxy>
bool createInterface(Proxy *&member, const char *name, const char *logName, int callTimeoutMs)
{
    delete member;
    member = new Proxy(QLatin1String(name), QLatin1String(Services::path), QDBusConnection::systemBus());
    member->setTimeout(callTimeoutMs);
    if (member->isValid())
        return true;
    qCWarning(logServices) << (QByteArray("Failed to create the interface to ") + logName).constData();
    return false;
}

// Subscribes every row, in order; a failed row is logged and the rest go on.
// A row subscribed by an earlier pass is dropped first: the bus binding
// refuses a second, equal subscription (one delivery per signal is what
// the daemon wants), which would read as a failure.
void subscribe(QObject *receiver, const char *name, const char *interface,
               std::initializer_list<Subscription> table)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    for (const Subscription &row : table) {
        const QString signal = QLatin1String(row.signal);
        bus.disconnect(QLatin1String(name), QLatin1String(Services::path), QLatin1String(interface),
                       signal, receiver, row.slot);
        if (bus.connect(QLatin1String(name), QLatin1String(Services::path), QLatin1String(interface),
                        signal, receiver, row.slot))
            continue;
        if (row.withBusError)
            qCWarning(logServices) << row.failure << " error:" << bus.lastError().message();
        else
            qCWarning(logServices) << row.failure;
    }
}

} // namespace

void Brevdaemon::connectEngineService()
{
    using namespace Services::Engine;
    using Engine = EngineInterface;
    if (!createInterface(m_engineInterface, name, logName, m_settings.serviceCallTimeoutMs))
        return;
    subscribe(this, name, Engine::staticInterfaceName(), {
        {nameOf(&Engine::R6_Error), SLOT(printerStatusChanged(int)), ":failed to subscribe to error signal", false},
        {nameOf(&Engine::R6_R6SupplyID), SLOT(supplyIDChanged(QString)), ":failed to subscribe to supplyidchanged signal", false},
        {nameOf(&Engine::R6_R6SupplyUID), SLOT(supplyUIDChanged(QString)), ":failed to subscribe to supplyuidchanged signal", false},
        {nameOf(&Engine::R6_R6RibbonIDs), SLOT(ribbonIDsChanged(QStringList)), ":failed to subscribe to ribbonidschanged signal", false},
        {nameOf(&Engine::R6_R6Ribbon1UID), SLOT(ribbon1UIDChanged(QString)), ":failed to subscribe to ribbon1uidchanged signal", false},
        {nameOf(&Engine::R6_R6Ribbon2UID), SLOT(ribbon2UIDChanged(QString)), ":failed to subscribe to ribbon2uidchanged signal", false},
        {nameOf(&Engine::R6_PrintQueueComplete), SLOT(onPrintDone()), "failed to connect signal: queuecomplete", true},
        {nameOf(&Engine::R6_PrintQueueFull), SLOT(onQueueFull()), "failed to connect signal: queuefull", true},
    });
    // Its answer is the signals it emits, so it is not waited for: a hung
    // engine must not hold up the daemon.
    m_engineInterface->refreshAll();
}

void Brevdaemon::connectSupplyService()
{
    using namespace Services::Supply;
    using Supply = SupplyInterface;
    if (!createInterface(m_supplyInterface, name, logName, m_settings.serviceCallTimeoutMs))
        return;
    subscribe(this, name, Supply::staticInterfaceName(), {
        {nameOf(&Supply::SUPPLYD_SupplyPercentChanged), SLOT(supplyMileageChanged(double)), ":failed to subscribe to supplypercentchanged signal", false},
        {nameOf(&Supply::SUPPLYD_Ribbon1PercentChanged), SLOT(ribbon1MileageChanged(double)), ":failed to subscribe to ribbon1percentchanged signal", false},
        {nameOf(&Supply::SUPPLYD_Ribbon2PercentChanged), SLOT(ribbon2MileageChanged(double)), ":failed to subscribe to ribbon2percentchanged signal", false},
    });
}

void Brevdaemon::connectUtilityService()
{
    using namespace Services::Utility;
    using Utility = UtilityInterface;
    if (!createInterface(m_utilityInterface, name, logName, m_settings.serviceCallTimeoutMs))
        return;
    subscribe(this, name, Utility::staticInterfaceName(), {
        {nameOf(&Utility::onEthernetConfigChanged), SLOT(ethernetConfigChanged(QByteArray)), ":failed to subscribe to ethernet signal", false},
    });
}

void Brevdaemon::onServiceRegistered(QString serviceName)
{
    if (serviceName == QLatin1String(Services::Supply::name))
        connectSupplyService();
    else if (serviceName == QLatin1String(Services::Engine::name))
        connectEngineService();
    else
        qCInfo(logServices) << "Unknown service created:" << serviceName;
}
