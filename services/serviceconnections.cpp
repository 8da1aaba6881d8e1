#include "daemon/brevdaemon.h"

#include "services/servicecontract.h"
#include "daemon/logcategories.h"

#include <QDBusConnection>
#include <QDBusInterface>

namespace {

struct Subscription
{
    const char *signal;
    const char *slot;
    const char *failure;
    bool withBusError; // the queue signals also log the bus's error text
};

// Builds a fresh interface to a service and stores it before testing it, so
// that calls always go through the latest one. Returns whether it is valid.
bool createInterface(QDBusInterface *&member, const char *name, const char *interface,
                     const char *logName, int callTimeoutMs)
{
    delete member;
    member = new QDBusInterface(QLatin1String(name), QLatin1String(Services::path),
                                QLatin1String(interface), QDBusConnection::systemBus());
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
        bus.disconnect(QLatin1String(name), QLatin1String(Services::path), QLatin1String(interface),
                       QLatin1String(row.signal), receiver, row.slot);
        if (bus.connect(QLatin1String(name), QLatin1String(Services::path), QLatin1String(interface),
                        QLatin1String(row.signal), receiver, row.slot))
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
    if (!createInterface(m_engineInterface, name, interface, logName, m_settings.serviceCallTimeoutMs))
        return;
    subscribe(this, name, interface, {
        {error, SLOT(printerStatusChanged(int)), ":failed to subscribe to error signal", false},
        {supplyId, SLOT(supplyIDChanged(QString)), ":failed to subscribe to supplyidchanged signal", false},
        {supplyUid, SLOT(supplyUIDChanged(QString)), ":failed to subscribe to supplyuidchanged signal", false},
        {ribbonIds, SLOT(ribbonIDsChanged(QStringList)), ":failed to subscribe to ribbonidschanged signal", false},
        {ribbon1Uid, SLOT(ribbon1UIDChanged(QString)), ":failed to subscribe to ribbon1uidchanged signal", false},
        {ribbon2Uid, SLOT(ribbon2UIDChanged(QString)), ":failed to subscribe to ribbon2uidchanged signal", false},
        {printQueueComplete, SLOT(onPrintDone()), "failed to connect signal: queuecomplete", true},
        {printQueueFull, SLOT(onQueueFull()), "failed to connect signal: queuefull", true},
    });
    // Its answer is the signals it emits; a hung engine must not hold up the daemon.
    m_engineInterface->call(QDBus::NoBlock, QLatin1String(refreshAll));
}

void Brevdaemon::connectSupplyService()
{
    using namespace Services::Supply;
    if (!createInterface(m_supplyInterface, name, interface, logName, m_settings.serviceCallTimeoutMs))
        return;
    subscribe(this, name, interface, {
        {supplyPercentChanged, SLOT(supplyMileageChanged(double)), ":failed to subscribe to supplypercentchanged signal", false},
        {ribbon1PercentChanged, SLOT(ribbon1MileageChanged(double)), ":failed to subscribe to ribbon1percentchanged signal", false},
        {ribbon2PercentChanged, SLOT(ribbon2MileageChanged(double)), ":failed to subscribe to ribbon2percentchanged signal", false},
    });
}

void Brevdaemon::connectUtilityService()
{
    namespace Utility = Services::Utility;
    if (!createInterface(m_utilityInterface, Utility::name, Utility::interface, Utility::logName,
                         m_settings.serviceCallTimeoutMs))
        return;
    subscribe(this, Utility::name, Utility::interface, {
        {Utility::ethernetConfigChanged, SLOT(ethernetConfigChanged(QByteArray)), ":failed to subscribe to ethernet signal", false},
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
