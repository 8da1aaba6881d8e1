#include "commandline.h"

#include "commandtable.h"
#include "commands.h"
#include "help.h"

#include <QCommandLineParser>

namespace {

const char defaultDevice[] = "/dev/usb/lp0";

QString generalHelp()
{
    QString text = QStringLiteral("Usage: brevctl [options] COMMAND [ARGUMENTS]\n\n"
                                  "Talks to the printer over its USB link.\n\nCommands:\n");
    for (const Command &command : commandTable()) {
        const QString usage = QLatin1String(command.name) + QLatin1Char(' ') + QLatin1String(command.arguments);
        text += Help::listItem(usage, QLatin1String(command.summary));
    }
    return text + QLatin1Char('\n') + Help::optionsHelp() + QLatin1Char('\n') + Help::closingHelp();
}

QString commandHelp(const Command &command)
{
    return QStringLiteral("Usage: brevctl [options] %1 %2\n\n%3\n\n%4")
        .arg(QLatin1String(command.name), QLatin1String(command.arguments), QLatin1String(command.details),
             Help::optionsHelp());
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
    const QCommandLineOption quiet(QStringList{QStringLiteral("q"), QStringLiteral("quiet")});
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption raw(QStringLiteral("raw"));
    QCommandLineOption manualPage(QStringLiteral("manual-page"));
    manualPage.setFlags(QCommandLineOption::HiddenFromHelp);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    // For shell completion: the command names, one a line.
    const QCommandLineOption listCommands(QStringLiteral("list-commands"));
    parser.addOptions({device, timeout, verbose, quiet, json, raw, help, version, listCommands, manualPage});
    if (!parser.parse(arguments))
        return invalid(parser.errorText());

    const QStringList positional = parser.positionalArguments();
    if (parser.isSet(version))
        return showText(QStringLiteral("brevctl %1\n").arg(QStringLiteral(BREVCTL_VERSION)));
    if (parser.isSet(listCommands))
        return showText(commandNames());
    if (parser.isSet(manualPage))
        return showText(Help::manualPage(QStringLiteral(BREVCTL_VERSION)));
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

    if (parser.isSet(json) && !showsValues(*line.command))
        return invalid(QStringLiteral("%1 has no --json output; queries and watch have.").arg(positional.first()));
    if (parser.isSet(raw) && line.command->run != runPrint)
        return invalid(QStringLiteral("--raw goes with print only."));

    const QString environmentDevice = qEnvironmentVariable("BREVCTL_DEVICE");
    line.device = parser.isSet(device)             ? parser.value(device)
                  : !environmentDevice.isEmpty() ? environmentDevice
                                                 : QLatin1String(defaultDevice);
    line.timeoutMs = line.command->defaultTimeoutMs;
    if (parser.isSet(timeout)) {
        bool ok = false;
        const double seconds = parser.value(timeout).toDouble(&ok);
        if (!ok || seconds <= 0)
            return invalid(QStringLiteral("--timeout needs a positive number of seconds."));
        line.timeoutMs = qRound(seconds * 1000);
    }
    line.verbose = parser.isSet(verbose);
    line.quiet = parser.isSet(quiet);
    line.json = parser.isSet(json);
    line.raw = parser.isSet(raw);
    line.outcome = CommandLine::Run;
    return line;
}
