#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Reading the comma-separated arguments that follow a command.
namespace CommandFields {

// The command's line: its bytes up to the first CR or LF, or all of them.
QByteArray commandLine(const QByteArray &bytes);

// An integer field as strtol reads it in base 10 (leading blanks and a sign
// accepted, no digits give 0), held to the 32-bit range.
qint32 integer(const QByteArray &field);

// A text field as Latin-1, ending early at a NUL byte.
QString text(const QByteArray &field);

// The field's bytes up to its first carriage return.
QByteArray untilCarriageReturn(const QByteArray &field);

} // namespace CommandFields
