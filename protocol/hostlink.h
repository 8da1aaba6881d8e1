#pragma once

#include <QString>

#include <array>

// The vocabulary of the USB host link: one numbering of message ids for both
// directions, the inbound command literals and the outbound line prefixes.
namespace HostLink {

enum MessageId : int {
    SupplyId = 1,
    Ribbon1Id = 2,
    Ribbon2Id = 3,
    SupplyLevel = 4,
    Ribbon1Level = 5,
    Ribbon2Level = 6,
    PrinterStatus = 7,
    JobEndMarker = 9,        // "E" CR LF, the end of a job (or of its first half)
    StartUpdater = 10,
    SoftwareVersion = 11,
    UpdateProgress = 12,
    UpdateError = 13,
    Transfer = 14,
    SetEthernetConfig = 15,
    EthernetConfig = 16,
    SetShip = 17,
    JobEndCount = 19,        // "^K": how many end markers complete the job
    JobZ = 20,               // "^Z": 0 makes every "^K" a one-end job
    SupplyUid = 21,
    Ribbon1Uid = 22,
    Ribbon2Uid = 23,
    KeepAlive = 999,
};

// Codes of the "~U,ERROR," line: the update installer's own (1 to 5) and
// the daemon's.
enum ErrorCode : int {
    UpdateHoldsNoPackage = 1,    // installer: the file is gone or no .deb package
    InstallerNotStarted = 2,     // installer: dpkg could not be started
    InstallFailed = 3,           // installer: dpkg failed on the package or refused a downgrade
    PackageNotKept = 4,          // installer: the package could not be set aside for installing
    PackageNotSigned = 5,        // installer: the board holds the maker's key, and the package is not signed by it
    DigestMismatch = 15,
    TransferHeaderRefused = 31,  // incomplete header, or fewer than four fields
    TransferNameRefused = 32,    // empty name, or one holding "/", ".." or a control byte
    TransferFileUnwritable = 33, // the file could not be created or written
    TransferIncomplete = 34,     // the host went silent, or the link failed, before the file was whole
    ConfigCommandRefused = 35,   // "^SETETHCONF" or "^SETCVSHIP" without its fields and closing CR
    TransferTooLarge = 36,       // the file would leave the update folder's file system less than its reserve
};

// What an error code means, for a person at the host; nullptr for a code
// that is none of the above.
const char *errorMeaning(int code);

struct InboundCommand
{
    const char *literal;
    int id;
};

// In the order the recognizer registers them.
extern const std::array<InboundCommand, 19> inboundCommands;

// The prefix of an outbound line, or nullptr for an id that has none.
const char *outboundPrefix(int id);

// prefix + payload + CR LF.
QString line(int id, const QString &payload);

} // namespace HostLink
