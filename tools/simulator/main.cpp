#include "commandlanguage.h"
#include "console.h"
#include "simulatedprinter.h"
#include "simulatedservice.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

namespace {

// Puts the named services on the bus; returns an error text, or an empty one.
QString startServices(SimulatedPrinter &printer, const QStringList &names)
{
    for (const QString &name : names) {
        SimulatedService *service = printer.service(name);
        const QString error = service ? service->start() : QStringLiteral("unknown service ") + name;
        if (!error.isEmpty())
            return error;
    }
    return QString();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("brevsim"));

    SimulatedPrinter printer;
    QCommandLineParser parser;
    parser.setApplicationDescription(CommandLanguage::help());
    parser.addHelpOption();
    const QCommandLineOption servicesOption(
        QStringLiteral("services"),
        QStringLiteral("Services on the bus at start, comma-separated (default: all); "
                       "the others can be started later."),
        QStringLiteral("names"), printer.serviceNames().join(QLatin1Char(',')));
    const QCommandLineOption keepRunningOption(
        QStringLiteral("keep-running"),
        QStringLiteral("Go on serving at the end of the input, until terminated."));
    parser.addOptions({servicesOption, keepRunningOption});
    parser.process(app);

    const QStringList names = parser.value(servicesOption).split(QLatin1Char(','), Qt::SkipEmptyParts);
    const QString error = startServices(printer, names);
    if (!error.isEmpty()) {
        QTextStream(stderr) << "brevsim: " << error << Qt::endl;
        return 1;
    }
    Console console(printer, parser.isSet(keepRunningOption));
    Console::print(QStringLiteral("ready"));
    return app.exec();
}
