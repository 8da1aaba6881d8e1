#include "help.h"

#include "commands.h"
#include "commandtable.h"

#include <QStringList>

namespace Help {

namespace {

struct Entry
{
    const char *term;
    const char *text;
};

const Entry optionEntries[] = {
    {"-d, --device PATH", "the printer's device node (default: $BREVCTL_DEVICE, else /dev/usb/lp0)"},
    {"-t, --timeout SECONDS", "how long to wait for the printer to answer or to take data (default 5; for print "
                              "and update 120)"},
    {"-q, --quiet", "no progress and no confirmations; results and errors only"},
    {"    --json", "queries and watch: the values as JSON, one object (watch: one a line)"},
    {"    --raw", "print: send the file as it is, without checking or cutting it into jobs"},
    {"-v, --verbose", "watch: show the keep-alive lines too"},
    {"-h, --help", "this help; after a command, the command's help"},
    {"    --version", "the program's version"},
};

const Entry environmentEntries[] = {
    {"BREVCTL_DEVICE", "the device used when -d is not given"},
};

const Entry exitEntries[] = {
    {"0", "done"},
    {"1", "bad arguments, or a file the printer would refuse or mishandle (no whole print jobs, no update package)"},
    {"2", "the device or a file could not be opened, read or written, or another brevctl is using the device"},
    {"3", "the printer did not answer or take data in time"},
    {"4", "the printer reported an error, or reports other values than were sent"},
    {"5", "the device is no character device (nothing was written to it)"},
    {"130", "interrupted"},
};

static_assert(Success == 0 && BadArguments == 1 && DeviceFailed == 2 && NoAnswer == 3 && PrinterError == 4
                  && NotADevice == 5 && Interrupted == 130,
              "the exit status help lists these numbers");

const Entry examples[] = {
    {"brevctl supply", "the supply and ribbon levels"},
    {"brevctl --json status", "the status as JSON, for scripts"},
    {"brevctl print labels.prn", "print every job in the file, one after the other"},
    {"generate-labels | brevctl print -", "print jobs read from standard input"},
    {"brevctl update cvipc_2.1_armhf.deb", "install an update package on the printer"},
    {"brevctl set-network 1 192.168.1.20 255.255.255.0 192.168.1.1", "set a fixed address"},
    {"BREVCTL_DEVICE=/dev/usb/lp1 brevctl watch", "every line from the second printer"},
};

template<size_t N>
QString helpList(const char *title, const Entry (&entries)[N])
{
    QString text = QLatin1String(title) + QStringLiteral(":\n");
    for (const Entry &entry : entries)
        text += listItem(QLatin1String(entry.term), QLatin1String(entry.text));
    return text;
}

// Escapes text for roff: backslashes, and a leading dot or quote.
QString roff(const QString &text)
{
    QString escaped = QString(text).replace(QLatin1Char('\\'), QLatin1String("\\e")).replace(QLatin1Char('-'),
                                                                                            QLatin1String("\\-"));
    escaped.replace(QLatin1Char('\n'), QLatin1String("\n.br\n"));
    if (escaped.startsWith(QLatin1Char('.')) || escaped.startsWith(QLatin1Char('\'')))
        escaped.prepend(QLatin1String("\\&"));
    return escaped;
}

template<size_t N>
QString manualList(const char *section, const Entry (&entries)[N])
{
    QString text = QStringLiteral(".SH %1\n").arg(QLatin1String(section));
    for (const Entry &entry : entries)
        text += QStringLiteral(".TP\n.B %1\n%2\n").arg(roff(QString::fromLatin1(entry.term).trimmed()),
                                                        roff(QLatin1String(entry.text)));
    return text;
}

QString manualCommands()
{
    QString text = QStringLiteral(".SH COMMANDS\n");
    for (const Command &command : commandTable()) {
        text += QStringLiteral(".SS %1\n.B brevctl\n[options]\n.B %1\n%2\n")
                    .arg(roff(QLatin1String(command.name)), roff(QLatin1String(command.arguments)));
        // Paragraphs of the details stay apart; their lines run together.
        for (const QString &paragraph : QString::fromLatin1(command.details).split(QLatin1String("\n\n")))
            text += QStringLiteral(".PP\n%1\n").arg(roff(QString(paragraph).replace(QLatin1Char('\n'), QLatin1Char(' '))));
    }
    return text;
}

} // namespace

QString listItem(const QString &term, const QString &text)
{
    constexpr int textColumn = 27;
    constexpr int width = 79;
    QString item = QStringLiteral("  %1 ").arg(term, -(textColumn - 3));
    if (item.size() > textColumn)
        item = item.trimmed().prepend(QLatin1String("  ")) + QLatin1Char('\n') + QString(textColumn, QLatin1Char(' '));
    int lineLength = textColumn;
    for (const QString &word : text.split(QLatin1Char(' '))) {
        if (lineLength > textColumn && lineLength + 1 + word.size() > width) {
            item += QLatin1Char('\n') + QString(textColumn, QLatin1Char(' '));
            lineLength = textColumn;
        } else if (lineLength > textColumn) {
            item += QLatin1Char(' ');
            ++lineLength;
        }
        item += word;
        lineLength += word.size();
    }
    return item + QLatin1Char('\n');
}

QString optionsHelp()
{
    return helpList("Options", optionEntries);
}

QString closingHelp()
{
    return helpList("Environment", environmentEntries) + QLatin1Char('\n') + helpList("Exit status", exitEntries);
}

QString manualPage(const QString &version)
{
    QString page = QStringLiteral(".TH BREVCTL 1 \"\" \"brevctl %1\" \"User Commands\"\n"
                                  ".SH NAME\nbrevctl \\- talk to the printer over its USB link\n"
                                  ".SH SYNOPSIS\n.B brevctl\n[options]\n.I COMMAND\n[ARGUMENTS]\n"
                                  ".SH DESCRIPTION\n"
                                  "brevctl asks the printer for its supply and ribbon levels, IDs, status, "
                                  "versions and network configuration, sends print jobs and software updates, "
                                  "sets the network configuration and ship value, and shows what the printer "
                                  "reports. It holds the device for itself while it runs: a second brevctl on the "
                                  "same device is refused at once.\n")
                       .arg(version);
    page += manualCommands();
    page += manualList("OPTIONS", optionEntries);
    page += manualList("ENVIRONMENT", environmentEntries);
    page += manualList("EXIT STATUS", exitEntries);
    page += manualList("EXAMPLES", examples);
    page += QStringLiteral(".SH SEE ALSO\n.BR usblp (4),\n.BR lp (1),\n.BR dpkg\\-deb (1)\n");
    return page;
}

} // namespace Help
