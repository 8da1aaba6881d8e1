#pragma once

#include <QString>

// brevctl's help texts that are not about one command, and its manual page,
// made from them and from the command table.
namespace Help {

// "  TERM   TEXT" with the text in a column of its own, wrapped to fit a
// terminal of 80 columns.
QString listItem(const QString &term, const QString &text);

// The options, as --help lists them.
QString optionsHelp();
// The environment and the exit statuses, as --help lists them.
QString closingHelp();

// The manual page, in roff: a section per command, options, environment,
// exit status, examples and related pages.
QString manualPage(const QString &version);

} // namespace Help
