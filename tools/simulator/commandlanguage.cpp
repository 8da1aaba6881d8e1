#include "commandlanguage.h"

#include "simulatedprinter.h"
#include "simulatedservice.h"
#include "valuetext.h"

#include <QCoreApplication>

namespace {

const char helpText[] = R"(brevsim stands in for the printer's print-engine (r6), supply (supplyd) and
utility (cvutility) services on the system bus (DBUS_SYSTEM_BUS_ADDRESS if set).
It prints "ready" once its services are on the bus, then reads commands on stdin.

Commands (services: r6, supplyd, cvutility; each answered "ok" or "error <text>"):
  reply <service> <method> [<value>]   the method answers <value> (of its own type) from now on;
                                       without a value, the method stops failing and answers as before
  replyas <service> <method> <type> [<value>]
                                       the method answers a value of any basic type
                                       (i u x y b d s as ay), or nothing with the type "none"
  fail <service> <method> [<message>]  the method answers a D-Bus error from now on
  hang <service> <method>              the method never answers from now on (until reply or fail)
  hang <service>                       the service keeps its name but answers no call at all,
                                       introspection included, for good (a stuck service)
  emit <service> <signal> [<args>]     emits a signal:
      R6_Error <int>
      R6_R6SupplyID | R6_R6SupplyUID | R6_R6Ribbon1UID | R6_R6Ribbon2UID <text>
      R6_R6RibbonIDs [<id>,<id>...]    (no argument: an empty list)
      R6_PrintQueueComplete | R6_PrintQueueFull
      SUPPLYD_SupplyPercentChanged | SUPPLYD_Ribbon1PercentChanged |
      SUPPLYD_Ribbon2PercentChanged <fraction>   (0.5 is half; nan and inf are accepted)
      onEthernetConfigChanged <int> <t1> <t2> <t3> <t4> <t5>   ("-" is a null text; this
                                       becomes the record that "updateEthernetConfig" emits)
      onEthernetConfigChanged hex:<record bytes>
  stop <service>                       releases the service's bus name
  start <service>                      takes the name again on a new connection
  refresh on|off                       whether "refreshAll" re-emits the last status, IDs and UIDs
  help                                 this text
  quit                                 ends the simulator
Words with blanks are written in double quotes; "" is an empty text.
Emitting R6_Error or a SUPPLYD_* level also makes getError or the level method answer that value.
"setEthernetConfig" i,a,b,c stores the network record so that "updateEthernetConfig" emits it
and the host reads i,a,b,c first; every served method call is shown as "call <service> <method> [<args>]".
Defaults: levels 0.75, 0.5, 0.25; getError 0; r6Version 2.3; record 0 and five null texts.)";

} // namespace

CommandLanguage::CommandLanguage(SimulatedPrinter &printer)
    : m_printer(printer)
{
}

QString CommandLanguage::help()
{
    return QLatin1String(helpText);
}

QStringList CommandLanguage::splitWords(const QString &line)
{
    QStringList words;
    QString word;
    bool inWord = false;
    bool quoted = false;
    for (const QChar c : line) {
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            inWord = true;
        } else if (c.isSpace() && !quoted) {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.append(word);
    return words;
}

QString CommandLanguage::run(const QString &line)
{
    const QStringList words = splitWords(line);
    const QString command = words.value(0);
    if (command == QLatin1String("reply"))
        return reply(words);
    if (command == QLatin1String("replyas"))
        return replyAs(words);
    if (command == QLatin1String("fail"))
        return fail(words);
    if (command == QLatin1String("hang"))
        return hang(words);
    if (command == QLatin1String("emit"))
        return emitSignal(words);
    if (command == QLatin1String("start") || command == QLatin1String("stop"))
        return startOrStop(words);
    if (command == QLatin1String("refresh"))
        return refresh(words);
    if (command == QLatin1String("quit")) {
        QCoreApplication::quit();
        return QString();
    }
    return QStringLiteral("unknown command ") + command + QStringLiteral(" (try help)");
}

QString CommandLanguage::reply(const QStringList &words)
{
    SimulatedService *service = nullptr;
    QString error = findMethod(words, 3, 4, "reply <service> <method> [<value>]", service);
    if (!error.isEmpty())
        return error;
    if (words.size() == 3) {
        service->setFailure(words[2], QString());
        return QString();
    }
    const QString type = service->definition().findMethod(words[2])->replyType;
    if (type.isEmpty())
        return words[2] + QStringLiteral(" answers nothing; use replyas to add a value");
    QVariant value;
    error = parseValue(type, words[3], value);
    return error.isEmpty() ? answerWith(service, words[2], value) : error;
}

QString CommandLanguage::replyAs(const QStringList &words)
{
    SimulatedService *service = nullptr;
    QString error = findMethod(words, 4, 5, "replyas <service> <method> <type>|none [<value>]", service);
    if (!error.isEmpty())
        return error;
    QVariant value;
    if (words[3] != QLatin1String("none"))
        error = parseValue(words[3], words.value(4), value);
    return error.isEmpty() ? answerWith(service, words[2], value) : error;
}

QString CommandLanguage::answerWith(SimulatedService *service, const QString &method, const QVariant &value)
{
    service->setReply(method, value);
    service->setFailure(method, QString());
    return QString();
}

QString CommandLanguage::fail(const QStringList &words)
{
    SimulatedService *service = nullptr;
    const QString error = findMethod(words, 3, 4, "fail <service> <method> [<message>]", service);
    if (error.isEmpty())
        service->setFailure(words[2], words.size() > 3 ? words[3] : QStringLiteral("simulated failure"));
    return error;
}

QString CommandLanguage::hang(const QStringList &words)
{
    SimulatedService *service = nullptr;
    if (words.size() == 2) {
        const QString error = findService(words[1], service);
        if (error.isEmpty())
            service->setStuck();
        return error;
    }
    const QString error = findMethod(words, 3, 3, "hang <service> [<method>]", service);
    if (error.isEmpty())
        service->setHanging(words[2]);
    return error;
}

QString CommandLanguage::emitSignal(const QStringList &words)
{
    SimulatedService *service = nullptr;
    QString error = words.size() < 3 ? QStringLiteral("usage: emit <service> <signal> [<args>]")
                                     : findService(words[1], service);
    if (!error.isEmpty())
        return error;
    const SignalDefinition *signal = service->definition().findSignal(words[2]);
    if (!signal)
        return QStringLiteral("%1 has no signal %2").arg(words[1], words[2]);
    const QStringList given = words.mid(3);
    if (signal->argumentTypes == QStringList{QStringLiteral("ay")} && given.size() != 1)
        return emitEthernetRecord(given);
    // A list may be left out: it is then empty.
    const bool listLeftOut = given.isEmpty() && signal->argumentTypes == QStringList{QStringLiteral("as")};
    if (given.size() != signal->argumentTypes.size() && !listLeftOut)
        return QStringLiteral("%1 takes %2 argument(s) of type %3")
            .arg(signal->name)
            .arg(signal->argumentTypes.size())
            .arg(signal->argumentTypes.join(QLatin1Char(' ')));
    QVariantList arguments;
    for (int index = 0; index < signal->argumentTypes.size() && error.isEmpty(); ++index) {
        QVariant value;
        error = parseValue(signal->argumentTypes[index], given.value(index), value);
        arguments.append(value);
    }
    return error.isEmpty() ? m_printer.emitSignal(service, signal->name, arguments) : error;
}

QString CommandLanguage::emitEthernetRecord(const QStringList &fields)
{
    const QLatin1String nullText("-");
    EthernetRecord record;
    bool numberOk = false;
    record.number = fields.value(0).toInt(&numberOk, 10);
    if (fields.size() != 6 || !numberOk)
        return QStringLiteral("usage: emit cvutility onEthernetConfigChanged <int> <t1> <t2> <t3> <t4> <t5>"
                              " (\"-\" for a null text) or hex:<bytes>");
    for (int index = 0; index < 5; ++index) {
        if (fields[index + 1] != nullText)
            record.texts[index] = fields[index + 1];
    }
    return m_printer.announceEthernetRecord(record);
}

QString CommandLanguage::startOrStop(const QStringList &words)
{
    SimulatedService *service = nullptr;
    QString error = words.size() == 2 ? findService(words[1], service)
                                      : QStringLiteral("usage: start|stop <service>");
    if (!error.isEmpty())
        return error;
    return words[0] == QLatin1String("start") ? service->start() : service->stop();
}

QString CommandLanguage::refresh(const QStringList &words)
{
    if (words.size() != 2 || (words[1] != QLatin1String("on") && words[1] != QLatin1String("off")))
        return QStringLiteral("usage: refresh on|off");
    m_printer.setRefreshing(words[1] == QLatin1String("on"));
    return QString();
}

QString CommandLanguage::findService(const QString &name, SimulatedService *&service) const
{
    service = m_printer.service(name);
    if (service)
        return QString();
    return QStringLiteral("unknown service %1 (%2)").arg(name, m_printer.serviceNames().join(QStringLiteral(", ")));
}

QString CommandLanguage::findMethod(const QStringList &words, int least, int most, const char *usage,
                                    SimulatedService *&service) const
{
    if (words.size() < least || words.size() > most)
        return QStringLiteral("usage: ") + QLatin1String(usage);
    const QString error = findService(words[1], service);
    if (!error.isEmpty() || service->definition().findMethod(words[2]))
        return error;
    return QStringLiteral("%1 has no method %2").arg(words[1], words[2]);
}
