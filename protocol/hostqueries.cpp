#include "daemon/brevdaemon.h"

#include "engineinterface.h"
#include "protocol/hostlink.h"
#include "services/servicecall.h"
#include "supplyinterface.h"

// Identifier queries answer from what the print engine last signalled;
// levels and status are fetched from the services at the time of asking.
void Brevdaemon::answerQuery(int id)
{
    double level = 0;
    int status = 0;
    switch (id) {
    case HostLink::SupplyId:
        supplyIDChanged(m_supplyID);
        break;
    case HostLink::Ribbon1Id:
    case HostLink::Ribbon2Id:
        if (!m_ribbonIDs.isEmpty())
            ribbonIDsChanged(m_ribbonIDs);
        break;
    case HostLink::SupplyUid:
        supplyUIDChanged(m_supplyUID);
        break;
    case HostLink::Ribbon1Uid:
        ribbon1UIDChanged(m_ribbon1UID);
        break;
    case HostLink::Ribbon2Uid:
        ribbon2UIDChanged(m_ribbon2UID);
        break;
    case HostLink::SupplyLevel:
        if (callForValue(m_supplyInterface, &SupplyInterface::supplySupplyPercent, level, m_silentServices))
            supplyMileageChanged(level);
        break;
    case HostLink::Ribbon1Level:
        if (callForValue(m_supplyInterface, &SupplyInterface::supplyRibbon1Percent, level, m_silentServices))
            ribbon1MileageChanged(level);
        break;
    case HostLink::Ribbon2Level:
        if (callForValue(m_supplyInterface, &SupplyInterface::supplyRibbon2Percent, level, m_silentServices))
            ribbon2MileageChanged(level);
        break;
    case HostLink::PrinterStatus:
        if (callForValue(m_engineInterface, &EngineInterface::getError, status, m_silentServices))
            printerStatusChanged(status);
        break;
    default:
        break; // ids without an action, the partial command among them
    }
}
