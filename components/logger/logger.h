#pragma once

#include <QString>
#include <QtGlobal>

// Installs the process's Qt message handler: one line per message on
// standard error, control characters inside a message escaped. Under systemd, whose journal stamps every line itself, a
// line carries the message's priority as a "<N>" prefix for the journal;
// elsewhere it starts with a time stamp and the level's name.
void setupLogger();

// The line the handler writes for one message, without its line end.
// `toJournal` chooses the journal's form.
QByteArray logLine(QtMsgType type, const QString &text, bool toJournal);
