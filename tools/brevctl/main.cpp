#include "commandline.h"
#include "commands.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    const CommandLine line = parseCommandLine(QCoreApplication::arguments());
    switch (line.outcome) {
    case CommandLine::ShowHelp:
        out << line.text;
        return Success;
    case CommandLine::Invalid:
        err << "brevctl: " << line.text << Qt::endl;
        return BadArguments;
    case CommandLine::Run:
        break;
    }
    return runCommand(line, out, err, isatty(STDOUT_FILENO));
}
