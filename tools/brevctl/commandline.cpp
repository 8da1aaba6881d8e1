#include "commandline.h"

#include "commandtable.h"
#include "commands.h"

#include <QCommandLineParser>

namespace {

const char optionsHelp[] =
    "Options:\n"
    "  -d, --device PATH        the printer's device (default /dev/usb/lp0)\n"
    "  -t, --timeout SECONDS    how long to wait for the printer (default 5,\n"
    "                           for update 120 between progress reports)\n"
    "  -v, --verbose            watch: show the keep-alive lines too\n"
    "  -h, --help               this help; after a command, the command's help\n"
    "      --version            the program's version\n";

const char exitStatusHelp[] =
    "Exit status:\n"
    "  0  done\n"
    "  1  bad arguments, or a file that is no print job\n"
    "  2  the device or a file could not be opened, read or written, or\n"
    "     another brevctl is using the device\n"
    "  3  the printer did not answer in time\n"
    "  4  the printer reported an error\n";

static_assert(Success == 0 && BadArguments == 1 && DeviceFailed == 2 && NoAnswer == 3 && PrinterError == 4,
              "the exit status help lists these numbers");

QString generalHelp()
{
    QString text = QStringLiteral("Usage: brevctl [options] COMMAND [ARGUMENTS]\n\n"
                                  "Talks to the printer over its USB link.\n\nCommands:\n");
    for (const Command &command : commandTable()) {
        const QString usage = QLatin1String(command.name) + QLatin1Char(' ') + QLatin1String(command.arguments);
        text += QStringLiteral("  %1 %2\n").arg(usage, -24).arg(QLatin1String(command.summary));
    }
    return text + QLatin1Char('\n') + QLatin1String(optionsHelp) + QLatin1Char('\n') + QLatin1String(exitStatusHelp);
}

QString commandHelp(const Command &command)
{
    return QStringLiteral("Usage: brevctl [options] %1 %2\n\n%3\n\n%4")
        .arg(QLatin1String(command.name), QLatin1String(command.arguments), QLatin1String(command.details),
             QLatin1String(optionsHelp));
}

QString commandNames()
{
    QString names;
    for (const Command &command : commandTable())
        names += QLatin1String(command.name) + QLatin1Char('\n');
    return names;
}

CommandLine invalid(const QString &message)
{
    CommandLine line;
    line.text = message + QStringLiteral("\nSee brevctl --help.");
    return line;
}

CommandLine showText(const QString &text)
{
    CommandLine line;
    line.outcome = CommandLine::ShowText;
    line.text = text;
    return line;
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption device({QStringLiteral("d"), QStringLiteral("device")}, QString(), QStringLiteral("PATH"));
    const QCommandLineOption timeout({QStringLiteral("t"), QStringLiteral("timeout")}, QString(), QStringLiteral("SECONDS"));
    const QCommandLineOption verbose(QStringList{QStringLiteral("v"), QStringLiteral("verbose")});
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    // For shell completion: the command names, one a line.
    const QCommandLineOption listCommands(QStringLiteral("list-commands"));
    parser.addOptions({device, timeout, verbose, help, version, listCommands});
    if (!parser.parse(arguments))
        return invalid(parser.errorText());

    const QStringList positional = parser.positionalArguments();
    if (parser.isSet(version))
        return showText(QStringLiteral("brevctl %1\n").arg(QStringLiteral(BREVCTL_VERSION)));
    if (parser.isSet(listCommands))
        return showText(commandNames());
    if (positional.isEmpty())
        return parser.isSet(help) ? showText(generalHelp()) : invalid(QStringLiteral("No command given."));

    CommandLine line;
    line.command = findCommand(positional.first());
    if (!line.command)
        return invalid(QStringLiteral("Unknown command \"%1\".").arg(positional.first()));
    if (parser.isSet(help))
        return showText(commandHelp(*line.command));

    line.arguments = positional.mid(1);
    if (line.arguments.size() != line.command->argumentCount)
        return invalid(QStringLiteral("Usage: brevctl [options] %1 %2")
                           .arg(QLatin1String(line.command->name), QLatin1String(line.command->arguments)).trimmed());
    if (line.command->argumentProblem) {
        const QString problem = line.command->argumentProblem(line.arguments);
        if (!problem.isEmpty())
            return invalid(problem);
    }

    if (parser.isSet(device))
        line.device = parser.value(device);
    line.timeoutMs = line.command->defaultTimeoutMs;
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
