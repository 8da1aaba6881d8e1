#include "protocol/hostlink.h"

namespace HostLink {

const std::array<InboundCommand, 19> inboundCommands = {{
    {"^K", JobEndCount},
    {"^Z", JobZ},
    {"E\r\n", JobEndMarker},
    {"^UPDATE\r\n", StartUpdater},
    {"^XFER", Transfer},
    {"SIREQ\r\n", SupplyId},
    {"RI1REQ\r\n", Ribbon1Id},
    {"RI2REQ\r\n", Ribbon2Id},
    {"SUIREQ\r\n", SupplyUid},
    {"RUI1REQ\r\n", Ribbon1Uid},
    {"RUI2REQ\r\n", Ribbon2Uid},
    {"~S,SRFIDREQ\r\n", SupplyLevel},
    {"~S,R1RFIDREQ\r\n", Ribbon1Level},
    {"~S,R2RFIDREQ\r\n", Ribbon2Level},
    {"~S,STATUSREQ\r\n", PrinterStatus},
    {"~U,SOFTVER\r\n", SoftwareVersion},
    {"^SETETHCONF", SetEthernetConfig},
    {"~U,ETHCONF\r\n", EthernetConfig},
    {"^SETCVSHIP", SetShip},
}};

const char *outboundPrefix(int id)
{
    switch (id) {
    case SupplyId: return "SIRES,";
    case Ribbon1Id: return "RI1RES,";
    case Ribbon2Id: return "RI2RES,";
    case SupplyLevel: return "~S,SRFIDRES,";
    case Ribbon1Level: return "~S,R1RFIDRES,";
    case Ribbon2Level: return "~S,R2RFIDRES,";
    case PrinterStatus: return "~S,STATUSRES,";
    case SoftwareVersion: return "~U,SOFTVER,";
    case UpdateProgress: return "~U,PROGRESS,";
    case UpdateError: return "~U,ERROR,";
    case EthernetConfig: return "~U,ETHCONF,";
    case SupplyUid: return "SUIRES,";
    case Ribbon1Uid: return "RUI1RES,";
    case Ribbon2Uid: return "RUI2RES,";
    default: return nullptr;
    }
}

const char *errorMeaning(int code)
{
    switch (code) {
    case UpdateHoldsNoPackage: return "the update is no .deb package";
    case InstallerNotStarted: return "the installer could not be started";
    case InstallFailed: return "installing the package failed, or it would have been a downgrade";
    case PackageNotKept: return "the printer could not keep the package for installing";
    case PackageNotSigned: return "the package is not signed by the maker's key";
    case DigestMismatch: return "the file arrived damaged (MD5 digest mismatch)";
    case TransferHeaderRefused: return "the printer refused the transfer header";
    case TransferNameRefused: return "the printer refused the file name";
    case TransferFileUnwritable: return "the printer could not write the file";
    case TransferIncomplete: return "the transfer stopped before the file was complete";
    case ConfigCommandRefused: return "the printer refused the configuration command";
    case TransferTooLarge: return "the printer has no room for the file";
    default: return nullptr;
    }
}

QString line(int id, const QString &payload)
{
    return QLatin1String(outboundPrefix(id)) + payload + QLatin1String("\r\n");
}

} // namespace HostLink
