#include "daemon/brevdaemon.h"

#include "daemon/logcategories.h"
#include "protocol/commandfields.h"
#include "protocol/ethernetrecord.h"
#include "protocol/hostlink.h"
#include "utilityinterface.h"

// The calls to the utility service need no answer: they are sent without
// waiting for one, so that a hung service never holds up the link.

// The fields of the configuration command at `start` (field 0 the command
// itself): at least `count` of them, in a line that has ended. Otherwise the
// command is refused, with `refusal` in the log and code 35 to the host, and
// there are none.
QList<QByteArray> Brevdaemon::configLineFields(int start, const ReadPass &pass, int count, const char *refusal)
{
    const QList<QByteArray> fields =
        CommandFields::endedLineFields(QByteArray::fromRawData(m_bufferData + start, pass.total - start));
    if (fields.size() >= count)
        return fields;
    qCWarning(logCommands) << refusal;
    queueMessage(HostLink::UpdateError, QString::number(HostLink::ConfigCommandRefused));
    return {};
}

// "^SETETHCONF,<int>,<text>,<text>,<text>\r\n" goes to the utility service.
// Without all four fields and the carriage return that ends the last, the
// command is refused: a half-received setting must not reach the network.
void Brevdaemon::applyEthernetConfig(int start, const ReadPass &pass)
{
    const QList<QByteArray> fields =
        configLineFields(start, pass, 5, "network configuration refused: missing fields");
    if (fields.isEmpty())
        return;
    m_utilityInterface->setEthernetConfig(CommandFields::integer(fields[1]), CommandFields::text(fields[2]),
                                          CommandFields::text(fields[3]), CommandFields::text(fields[4]));
}

// The answer comes later, with the service's next configuration signal.
void Brevdaemon::requestEthernetConfig()
{
    m_utilityInterface->updateEthernetConfig();
}

// "^SETCVSHIP,<int>\r\n"; refused while its line has not ended, so that a
// value whose digits are split over two reads is not set cut short.
void Brevdaemon::applyShip(int start, const ReadPass &pass)
{
    const QList<QByteArray> fields = configLineFields(start, pass, 2, "ship setting refused: missing field");
    if (fields.isEmpty())
        return;
    m_utilityInterface->setShip(CommandFields::integer(fields[1]));
}

void Brevdaemon::ethernetConfigChanged(QByteArray data)
{
    queueMessage(HostLink::EthernetConfig, ethernetConfigPayload(data));
}
