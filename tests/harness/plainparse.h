#pragma once

#include <cvparse.h>

#include <QByteArray>
#include <QVector>

struct Literal
{
    QByteArray bytes;
    int id;
};
using Catalogue = QVector<Literal>;

// The commands as the daemon registers them.
Catalogue hostCatalogue();

// The recognizer's rules read plainly, with no search structure: at each
// position the longest literal that starts there, else the next position;
// then the earliest proper prefix of a literal that ends the input after the
// last match. Tests, the recognizer benchmark and its fuzz target hold the
// recognizer to it.
QVector<ParseMatch> plainParse(const char *data, int size, const Catalogue &catalogue);
