#include "daemon/brevdaemon.h"

#include "protocol/hostlink.h"
#include "services/levelnumber.h"
#include "daemon/logcategories.h"

void Brevdaemon::supplyIDChanged(QString id)
{
    m_supplyID = id;
    queueMessage(HostLink::SupplyId, id);
}

// The two ribbon IDs always travel together. A list shorter than two sends
// what it has; the missing ID's line is empty and so not sent.
void Brevdaemon::ribbonIDsChanged(QStringList ids)
{
    m_ribbonIDs = ids;
    queueMessage(HostLink::Ribbon1Id, ids.value(0));
    queueMessage(HostLink::Ribbon2Id, ids.value(1));
}

void Brevdaemon::supplyUIDChanged(QString id)
{
    m_supplyUID = id;
    queueMessage(HostLink::SupplyUid, id);
}

void Brevdaemon::ribbon1UIDChanged(QString id)
{
    m_ribbon1UID = id;
    queueMessage(HostLink::Ribbon1Uid, id);
}

void Brevdaemon::ribbon2UIDChanged(QString id)
{
    m_ribbon2UID = id;
    queueMessage(HostLink::Ribbon2Uid, id);
}

namespace {

QString checkedLevel(double percent)
{
    const QString level = levelNumber(percent);
    if (level.isEmpty())
        qCWarning(logServices) << "level out of range:" << percent;
    return level;
}

} // namespace

void Brevdaemon::supplyMileageChanged(double percent)
{
    queueMessage(HostLink::SupplyLevel, checkedLevel(percent));
}

void Brevdaemon::ribbon1MileageChanged(double percent)
{
    queueMessage(HostLink::Ribbon1Level, checkedLevel(percent));
}

void Brevdaemon::ribbon2MileageChanged(double percent)
{
    queueMessage(HostLink::Ribbon2Level, checkedLevel(percent));
}

void Brevdaemon::printerStatusChanged(int status)
{
    queueMessage(HostLink::PrinterStatus, QString::number(status, 10));
}
