#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Reading the comma-separated arguments that follow a command.
namespace CommandFields {

// The comma-separated fields of the command's line (field 0 the command
// itself), when a carriage return ends the line among `bytes`; none while
// the line has not ended, since its last field may still be growing.
QList<QByteArray> endedLineFields(const QByteArray &bytes);

// An integer field as strtol reads it in base 10 (leading blanks and a sign
// accepted, no digits give 0), held to the 32-bit range.
qint32 integer(const QByteArray &field);

// A text field as Latin-1, ending early at a NUL byte.
QString text(const QByteArray &field);

// The field's bytes up to its first carriage return.
QByteArray untilCarriageReturn(const QByteArray &field);

} // namespace CommandFields
