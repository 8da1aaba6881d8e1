#pragma once

#include "requests.h"

#include <QList>
#include <QStringList>

class LinkDevice;
class QTextStream;
struct CommandLine;

// Where a command writes: results to `out`, problems and progress to `err`
// (so that results stay clean for a script); `interactive` when a person
// watches, so progress may be redrawn in place.
struct Console
{
    QTextStream &out;
    QTextStream &err;
    bool interactive;
};

// One brevctl command: its usage and help, the check of its arguments made
// before the device is opened, and what it does. Every command is in the
// table, and nothing about a command is written anywhere else.
struct Command
{
    const char *name;
    const char *arguments; // as the usage line shows them
    int argumentCount;
    const char *summary;
    const char *details;
    // Why the arguments can't be sent, or an empty text; nullptr: any will do.
    QString (*argumentProblem)(const QStringList &arguments);
    int (*run)(const CommandLine &line, LinkDevice &device, Console &console);
    // The values a query shows; empty for a command that is no query.
    QList<Requests::QueryItem> queryItems;
    int defaultTimeoutMs;
};

const QList<Command> &commandTable();

// The command called `name`, or nullptr.
const Command *findCommand(const QString &name);
