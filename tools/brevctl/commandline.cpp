#include "commandline.h"

#include <QCommandLineParser>

#include <algorithm>
#include <array>

namespace {

struct CommandUsage
{
    const char *name;
    const char *arguments; // as the usage line shows them
    int argumentCount;
    const char *summary;
    const char *details;
};

const std::array<CommandUsage, 12> commands = {{
    {"supply", "", 0, "Shows the supply and ribbon levels.",
     "Asks for the supply level and both ribbon levels and shows them as percentages."},
    {"ribbons", "", 0, "Shows each ribbon's level, ID and UID.",
     "Asks for both ribbons' levels, IDs and UIDs. A value the printer has not\n"
     "read from its ribbon yet is shown as \"no answer\"."},
    {"status", "", 0, "Shows the printer's status code.", "Asks for the printer's status code (0 when all is well)."},
    {"ids", "", 0, "Shows the supply and ribbon IDs.", "Asks for the IDs of the supply and of both ribbons."},
    {"uids", "", 0, "Shows the supply and ribbon UIDs.", "Asks for the UIDs of the supply and of both ribbons."},
    {"version", "", 0, "Shows the installed software versions.",
     "Asks for the version of the printer's software package and of its print engine."},
    {"network", "", 0, "Shows the printer's network configuration.",
     "Asks the printer for its network configuration. Mode and settings A to C\n"
     "are the four values that set-network takes, in its order."},
    {"print", "FILE", 1, "Sends a print job.",
     "Sends FILE to the printer as it is. The file must hold the job markers\n"
     "that the printer driver writes."},
    {"update", "FILE", 1, "Transfers an update and follows its installation.",
     "Sends FILE with its size and MD5 digest, then shows the installation's\n"
     "progress until it completes or the printer reports an error. The printer\n"
     "stores the file under its base name, which must not hold a comma."},
    {"set-network", "MODE A B C", 4, "Sets the network configuration.",
     "Sends a new network configuration: MODE is an integer, A, B and C are\n"
     "texts without commas. A negative MODE goes after \"--\"."},
    {"set-ship", "N", 1, "Sets the ship value.", "Sends the integer ship value N to the printer."},
    {"watch", "", 0, "Shows every line from the printer.",
     "Shows every line the printer sends, each with a time stamp, until\n"
     "interrupted. The keep-alive lines (PING) only with -v."},
}};

const char optionsHelp[] =
    "Options:\n"
    "  -d, --device PATH        the printer's device (default /dev/usb/lp0)\n"
    "  -t, --timeout SECONDS    how long to wait for the printer (default 5,\n"
    "                           for update 120 between progress reports)\n"
    "  -v, --verbose            watch: show the keep-alive lines too\n"
    "  -h, --help               this help; after a command, the command's help\n";

const CommandUsage *findCommand(const QString &name)
{
    const auto found = std::find_if(commands.begin(), commands.end(),
                                    [&](const CommandUsage &command) { return name == QLatin1String(command.name); });
    return found == commands.end() ? nullptr : &*found;
}

QString generalHelp()
{
    QString text = QStringLiteral("Usage: brevctl [options] COMMAND [ARGUMENTS]\n\n"
                                  "Talks to the printer over its USB link.\n\nCommands:\n");
    for (const CommandUsage &command : commands) {
        const QString usage = QLatin1String(command.name) + QLatin1Char(' ') + QLatin1String(command.arguments);
        text += QStringLiteral("  %1 %2\n").arg(usage, -24).arg(QLatin1String(command.summary));
    }
    return text + QLatin1Char('\n') + QLatin1String(optionsHelp);
}

QString commandHelp(const CommandUsage &command)
{
    return QStringLiteral("Usage: brevctl [options] %1 %2\n\n%3\n\n%4")
        .arg(QLatin1String(command.name), QLatin1String(command.arguments), QLatin1String(command.details),
             QLatin1String(optionsHelp));
}

CommandLine invalid(const QString &message)
{
    CommandLine line;
    line.text = message + QStringLiteral("\nSee brevctl --help.");
    return line;
}

bool isInteger(const QString &text)
{
    bool ok = false;
    text.toInt(&ok);
    return ok;
}

// Why the command's arguments can't be sent, or an empty text.
QString argumentProblem(const QString &command, const QStringList &arguments)
{
    if ((command == QLatin1String("set-network") || command == QLatin1String("set-ship"))
        && !isInteger(arguments.first()))
        return QStringLiteral("%1: \"%2\" is not an integer").arg(command, arguments.first());
    if (command == QLatin1String("set-network")) {
        for (const QString &text : arguments.mid(1)) {
            if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')))
                return QStringLiteral("set-network: \"%1\" must not hold a comma or a line end").arg(text);
        }
    }
    if (command == QLatin1String("update") && arguments.first().section(QLatin1Char('/'), -1).contains(QLatin1Char(',')))
        return QStringLiteral("update: the file's name must not hold a comma");
    return {};
}

// How long a command waits for the printer when -t is not given: an
// installation may take a while between two progress reports.
int defaultTimeoutMs(const QString &command)
{
    return command == QLatin1String("update") ? 120000 : 5000;
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption device({QStringLiteral("d"), QStringLiteral("device")}, QString(), QStringLiteral("PATH"));
    const QCommandLineOption timeout({QStringLiteral("t"), QStringLiteral("timeout")}, QString(), QStringLiteral("SECONDS"));
    const QCommandLineOption verbose(QStringList{QStringLiteral("v"), QStringLiteral("verbose")});
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({device, timeout, verbose, help});
    if (!parser.parse(arguments))
        return invalid(parser.errorText());

    const QStringList positional = parser.positionalArguments();
    CommandLine line;
    if (positional.isEmpty()) {
        if (!parser.isSet(help))
            return invalid(QStringLiteral("No command given."));
        line.outcome = CommandLine::ShowHelp;
        line.text = generalHelp();
        return line;
    }
    const CommandUsage *command = findCommand(positional.first());
    if (!command)
        return invalid(QStringLiteral("Unknown command \"%1\".").arg(positional.first()));
    if (parser.isSet(help)) {
        line.outcome = CommandLine::ShowHelp;
        line.text = commandHelp(*command);
        return line;
    }

    line.command = positional.first();
    line.arguments = positional.mid(1);
    if (line.arguments.size() != command->argumentCount)
        return invalid(QStringLiteral("Usage: brevctl [options] %1 %2")
                           .arg(QLatin1String(command->name), QLatin1String(command->arguments)).trimmed());
    const QString problem = argumentProblem(line.command, line.arguments);
    if (!problem.isEmpty())
        return invalid(problem);

    if (parser.isSet(device))
        line.device = parser.value(device);
    line.timeoutMs = defaultTimeoutMs(line.command);
    if (parser.isSet(timeout)) {
        bool ok = false;
        const double seconds = parser.value(timeout).toDouble(&ok);
        if (!ok || seconds <= 0)
            return invalid(QStringLiteral("--timeout needs a positive number of seconds."));
        line.timeoutMs = qRound(seconds * 1000);
    }
    line.verbose = parser.isSet(verbose);
    line.outcome = CommandLine::Run;
    return line;
}
