#include "commandtable.h"

#include "commands.h"
#include "protocol/hostlink.h"

#include <algorithm>

namespace {

using namespace HostLink;
using Requests::Format;

constexpr int answerTimeoutMs = 5000;
// An installation may take a while between two progress reports.
constexpr int updateTimeoutMs = 120000;

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

QString networkProblem(const QStringList &arguments)
{
    const QString problem = integerProblem(QStringLiteral("set-network"), arguments.first());
    if (!problem.isEmpty())
        return problem;
    for (const QString &text : arguments.mid(1)) {
        if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')))
            return QStringLiteral("set-network: \"%1\" must not hold a comma or a line end").arg(text);
    }
    return {};
}

QString shipProblem(const QStringList &arguments)
{
    return integerProblem(QStringLiteral("set-ship"), arguments.first());
}

QString updateProblem(const QStringList &arguments)
{
    if (arguments.first().section(QLatin1Char('/'), -1).contains(QLatin1Char(',')))
        return QStringLiteral("update: the file's name must not hold a comma");
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
        {"status", "", 0, "Shows the printer's status code.", "Asks for the printer's status code (0 when all is well).",
         nullptr, runQuery, {{"Printer status", PrinterStatus, PrinterStatus, Format::Text}}, answerTimeoutMs},
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
        {"print", "FILE", 1, "Sends a print job.",
         "Sends FILE to the printer as it is. The file must be a whole job as the\n"
         "printer driver writes it: it starts with \"^K1\" (the job ends at its first\n"
         "end marker) or \"^K5\" (at its second), and each end marker is \"E\" followed\n"
         "by CR LF. A file without them is refused: the printer would keep its bytes\n"
         "as the start of the next job.",
         nullptr, runPrint, {}, answerTimeoutMs},
        {"update", "FILE", 1, "Transfers an update and follows its installation.",
         "Sends FILE with its size and MD5 digest, showing the bytes sent and the\n"
         "rate, then shows the installation's progress until it completes or the\n"
         "printer reports an error. The printer stores the file under its base\n"
         "name, which must not hold a comma.",
         updateProblem, runUpdate, {}, updateTimeoutMs},
        {"set-network", "MODE ADDRESS NETMASK GATEWAY", 4, "Sets the network configuration.",
         "Sends a new network configuration: MODE is the integer the printer's\n"
         "network service takes for how it configures the port, ADDRESS, NETMASK\n"
         "and GATEWAY are texts without commas. A negative MODE goes after \"--\".",
         networkProblem, runSetNetwork, {}, answerTimeoutMs},
        {"set-ship", "N", 1, "Sets the ship value.", "Sends the integer ship value N to the printer.",
         shipProblem, runSetShip, {}, answerTimeoutMs},
        {"watch", "", 0, "Shows every line from the printer.",
         "Shows every line the printer sends, each with a time stamp, until\n"
         "interrupted. The keep-alive lines (PING) only with -v.",
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
