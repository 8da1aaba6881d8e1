#pragma once

#include <QString>
#include <QVariant>

// Turns command words into D-Bus values and received arguments back into
// words, for the console's command language and its "call" lines.

// Reads `text` as a value of the D-Bus type `type`: "i", "u", "x", "y", "b",
// "d", "s", "as" (entries separated by ",", no text: an empty list) or "ay"
// ("hex:" followed by the bytes in hex). Returns an error text, or an empty
// one on success.
QString parseValue(const QString &type, const QString &text, QVariant &value);

// A received argument as the "call" lines show it: numbers in decimal,
// texts as they are, text lists joined by ",", bytes as "hex:...".
QString formatValue(const QVariant &value);
