#include "commandline.h"
#include "commands.h"
#include "commandtable.h"
#include "interruption.h"

#include <QCoreApplication>
#include <QTextStream>

#include <unistd.h>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    const CommandLine line = parseCommandLine(QCoreApplication::arguments());
    switch (line.outcome) {
    case CommandLine::ShowText:
        out << line.text;
        return Success;
    case CommandLine::Invalid:
        err << "brevctl: " << line.text << Qt::endl;
        return BadArguments;
    case CommandLine::Run:
        break;
    }
    Interruption::catchSignals();
    Console console{out, err, bool(isatty(STDERR_FILENO))};
    return runCommand(line, console);
}
