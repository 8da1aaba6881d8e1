#include "commandtable.h"

#include "commands.h"
#include "protocol/hostlink.h"

#include <algorithm>

namespace {

using namespace HostLink;
using Requests::Format;

constexpr int answerTimeoutMs = 5000;
// An installation may take a while between two progress reports, and a
// printer reads the next job only once it has printed the last.
constexpr int longWorkTimeoutMs = 120000;

bool isInteger(const QString &text)
{
    bool ok = false;
    text.toInt(&ok);
    return ok;
}

QString integerProblem(const QString &command, const QString &value)
{
    return isInteger(value) ? QString() : QStringLiteral("%1: \"%2\" is not an integer").arg(command, value);
}

// Four decimal numbers of 0 to 255 joined by dots.
bool isAddress(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    return parts.size() == 4 && std::all_of(parts.begin(), parts.end(), [](const QString &part) {
               bool ok = false;
               const int value = part.toInt(&ok);
               return ok && part.size() <= 3 && !part.startsWith(QLatin1Char('+')) && value >= 0 && value <= 255;
           });
}

// An address whose one bits all come before its zero bits.
bool isNetmask(const QString &text)
{
    if (!isAddress(text))
        return false;
    quint32 mask = 0;
    for (const QString &part : text.split(QLatin1Char('.')))
        mask = (mask << 8) | part.toUInt();
    return (~mask & (~mask + 1)) == 0;
}

QString networkProblem(const QStringList &arguments)
{
    const QString problem = integerProblem(QStringLiteral("set-network"), arguments.first());
    if (!problem.isEmpty())
        return problem;
    const char *const names[] = {"ADDRESS", "NETMASK", "GATEWAY"};
    for (int index = 1; index < 4; ++index) {
        const QString &text = arguments.at(index);
        const bool valid = text.isEmpty() || (index == 2 ? isNetmask(text) : isAddress(text));
        if (!valid)
            return QStringLiteral("set-network: %1 \"%2\" is no %3 (or \"\" to leave it empty)")
                .arg(QLatin1String(names[index - 1]), text,
                     QLatin1String(index == 2 ? "netmask such as 255.255.255.0" : "address such as 192.168.1.20"));
    }
    return {};
}

QString shipProblem(const QStringList &arguments)
{
    return integerProblem(QStringLiteral("set-ship"), arguments.first());
}

// What the printer refuses in an update's name, checked before anything is
// sent: it stores the file under its base name, which goes in the transfer's
// comma-separated header, and installs only packages.
QString updateProblem(const QStringList &arguments)
{
    const QString name = arguments.first().section(QLatin1Char('/'), -1);
    if (name.isEmpty() || name == QLatin1String(".."))
        return QStringLiteral("update: \"%1\" names no file").arg(arguments.first());
    if (name.contains(QLatin1Char(',')))
        return QStringLiteral("update: the file's name must not hold a comma");
    const bool printable = std::all_of(name.begin(), name.end(), [](QChar c) {
        return c.unicode() >= 0x20 && c.unicode() < 0x7f;
    });
    if (!printable)
        return QStringLiteral("update: the file's name must hold printable ASCII characters only");
    if (!name.endsWith(QLatin1String(".deb")))
        return QStringLiteral("update: \"%1\" is no .deb package: the printer installs packages only").arg(name);
    return {};
}

} // namespace

const QList<Command> &commandTable()
{
    static const QList<Command> table = {
        {"supply", "", 0, "Shows the supply and ribbon levels.",
         "Asks for the supply level and both ribbon levels and shows them as percentages.",
         nullptr, runQuery,
         {{"Supply", SupplyLevel, SupplyLevel, Format::Level},
          {"Ribbon 1", Ribbon1Level, Ribbon1Level, Format::Level},
          {"Ribbon 2", Ribbon2Level, Ribbon2Level, Format::Level}},
         answerTimeoutMs},
        {"ribbons", "", 0, "Shows each ribbon's level, ID and UID.",
         "Asks for both ribbons' levels, IDs and UIDs. A value the printer has not\n"
         "read from its ribbon yet is shown as \"no answer\".",
         nullptr, runQuery,
         {{"Ribbon 1 level", Ribbon1Level, Ribbon1Level, Format::Level},
          {"Ribbon 1 ID", Ribbon1Id, Ribbon1Id, Format::Text},
          {"Ribbon 1 UID", Ribbon1Uid, Ribbon1Uid, Format::Text},
          {"Ribbon 2 level", Ribbon2Level, Ribbon2Level, Format::Level},
          {"Ribbon 2 ID", Ribbon1Id, Ribbon2Id, Format::Text},
          {"Ribbon 2 UID", Ribbon2Uid, Ribbon2Uid, Format::Text}},
         answerTimeoutMs},
        {"status", "", 0, "Shows the printer's status code.",
         "Asks for the printer's status code: 0 when it is ready, any other code\n"
         "is a fault its print engine reports.",
         nullptr, runQuery, {{"Printer status", PrinterStatus, PrinterStatus, Format::Status}}, answerTimeoutMs},
        {"ids", "", 0, "Shows the supply and ribbon IDs.", "Asks for the IDs of the supply and of both ribbons.",
         nullptr, runQuery,
         {{"Supply ID", SupplyId, SupplyId, Format::Text},
          {"Ribbon 1 ID", Ribbon1Id, Ribbon1Id, Format::Text},
          {"Ribbon 2 ID", Ribbon1Id, Ribbon2Id, Format::Text}},
         answerTimeoutMs},
        {"uids", "", 0, "Shows the supply and ribbon UIDs.", "Asks for the UIDs of the supply and of both ribbons.",
         nullptr, runQuery,
         {{"Supply UID", SupplyUid, SupplyUid, Format::Text},
          {"Ribbon 1 UID", Ribbon1Uid, Ribbon1Uid, Format::Text},
          {"Ribbon 2 UID", Ribbon2Uid, Ribbon2Uid, Format::Text}},
         answerTimeoutMs},
        {"version", "", 0, "Shows the installed software versions.",
         "Asks for the version of the printer's software package and of its print engine.",
         nullptr, runQuery, {{"", SoftwareVersion, SoftwareVersion, Format::Version}}, answerTimeoutMs},
        {"network", "", 0, "Shows the printer's network configuration.",
         "Asks the printer for its network configuration: the mode, address,\n"
         "netmask and gateway that set-network takes, in its order, and one more\n"
         "field that the printer reports as it is.",
         nullptr, runQuery, {{"", EthernetConfig, EthernetConfig, Format::Network}}, answerTimeoutMs},
        {"print", "FILE", 1, "Sends print jobs.",
         "Sends the print jobs in FILE (- for standard input) one at a time. Each\n"
         "job starts with \"^K1\" (it ends at its first end marker) or \"^K5\" (at its\n"
         "second), and each end marker is \"E\" followed by CR LF.\n\n"
         "After each job the printer stops reading until it has printed it, and\n"
         "drops what arrives with the job's end: brevctl holds the device and waits\n"
         "until the printer answers a query again before it sends the next job, and\n"
         "before it returns, so that the next command is read too. It waits up to\n"
         "the timeout (-t, 120 s) for that, and for the printer to take data.\n\n"
         "A file that is not whole jobs is refused, saying why, and nothing is sent:\n"
         "no job marker, a ^K5 job with one end marker, or bytes after the last\n"
         "end. --raw sends the file as it is, in one piece, and waits for nothing.",
         nullptr, runPrint, {}, longWorkTimeoutMs},
        {"update", "FILE", 1, "Transfers an update and follows its installation.",
         "Sends FILE with its size and MD5 digest, showing the bytes sent and the\n"
         "rate, then shows the installation's progress until it completes or the\n"
         "printer reports an error. The printer stores the file under its base\n"
         "name and installs only Debian packages: a name that does not end in\n"
         ".deb, holds a comma or a control character, or a file that dpkg-deb\n"
         "--info does not take as a package is refused before anything is sent.\n"
         "A printer that holds its maker's key installs only packages signed by\n"
         "it (debsigs --sign=origin -k KEY FILE) and answers others with error 5.\n\n"
         "Interrupted while sending, brevctl holds the device until the printer\n"
         "has given up the file (it waits for 10 s of silence), so that the next\n"
         "command is not taken as file data; a second Ctrl-C leaves at once.",
         updateProblem, runUpdate, {}, longWorkTimeoutMs},
        {"set-network", "MODE ADDRESS NETMASK GATEWAY", 4, "Sets the network configuration.",
         "Sends a new network configuration: MODE is the integer the printer's\n"
         "network service takes for how it configures the port, ADDRESS, NETMASK\n"
         "and GATEWAY are IPv4 addresses (or \"\" for none). A negative MODE goes\n"
         "after \"--\". brevctl then asks for the configuration and says whether\n"
         "the printer reports what was sent.",
         networkProblem, runSetNetwork, {}, answerTimeoutMs},
        {"set-ship", "N", 1, "Sets the ship value.",
         "Sends the integer ship value N to the printer and waits until it answers\n"
         "a query after it, which shows it has read the value (the printer does not\n"
         "report the value back).",
         shipProblem, runSetShip, {}, answerTimeoutMs},
        {"watch", "", 0, "Shows every line from the printer.",
         "Shows every line the printer sends, each with a time stamp, until\n"
         "interrupted. The keep-alive lines (PING) only with -v. With --json, one\n"
         "object a line: time, line, and the line's id and payload.",
         nullptr, runWatch, {}, answerTimeoutMs},
    };
    return table;
}

const Command *findCommand(const QString &name)
{
    const QList<Command> &table = commandTable();
    const auto found = std::find_if(table.begin(), table.end(),
                                    [&](const Command &command) { return name == QLatin1String(command.name); });
    return found == table.end() ? nullptr : &*found;
}
