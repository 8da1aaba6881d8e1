#pragma once

// What the daemon relies on from its three sibling services on the system
// bus: each publishes one object at "/" under its bus name and interface.
namespace Services {

constexpr const char *path = "/";

namespace Engine {
constexpr const char *name = "com.corvane.r6";
constexpr const char *interface = "local.ICVIPCR6";
constexpr const char *logName = "r6d";
constexpr const char *error = "R6_Error";
constexpr const char *supplyId = "R6_R6SupplyID";
constexpr const char *supplyUid = "R6_R6SupplyUID";
constexpr const char *ribbonIds = "R6_R6RibbonIDs";
constexpr const char *ribbon1Uid = "R6_R6Ribbon1UID";
constexpr const char *ribbon2Uid = "R6_R6Ribbon2UID";
constexpr const char *printQueueComplete = "R6_PrintQueueComplete";
constexpr const char *printQueueFull = "R6_PrintQueueFull";
constexpr const char *refreshAll = "refreshAll";
constexpr const char *getError = "getError";
constexpr const char *version = "r6Version";
} // namespace Engine

namespace Supply {
constexpr const char *name = "com.corvane.supplyd";
constexpr const char *interface = "local.ICVIPCSUPPLYD";
constexpr const char *logName = "sid";
constexpr const char *supplyPercentChanged = "SUPPLYD_SupplyPercentChanged";
constexpr const char *ribbon1PercentChanged = "SUPPLYD_Ribbon1PercentChanged";
constexpr const char *ribbon2PercentChanged = "SUPPLYD_Ribbon2PercentChanged";
constexpr const char *supplyPercent = "supplySupplyPercent";
constexpr const char *ribbon1Percent = "supplyRibbon1Percent";
constexpr const char *ribbon2Percent = "supplyRibbon2Percent";
} // namespace Supply

namespace Utility {
constexpr const char *name = "com.corvane.cvutility";
constexpr const char *interface = "local.CVUtilityd.UtilityDaemon";
constexpr const char *logName = "utilityd";
constexpr const char *ethernetConfigChanged = "onEthernetConfigChanged";
constexpr const char *setEthernetConfig = "setEthernetConfig";
constexpr const char *updateEthernetConfig = "updateEthernetConfig";
constexpr const char *setShip = "setShip";
} // namespace Utility

} // namespace Services
