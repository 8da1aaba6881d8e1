#pragma once

#include <cvparse.h>

#include <QByteArray>
#include <QStringList>
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

// A recognizer with the catalogue's literals registered.
CVParse parserFor(const Catalogue &catalogue);

// One recognizer on each set of lanes that this processor scans with.
QVector<CVParse> parsersFor(const Catalogue &catalogue);

// "id@start+length", for readable comparisons.
QString describe(const ParseMatch &match);
QStringList describe(const QVector<ParseMatch> &matches);

// What is wrong with the recognizer's reading of `data`, or nothing: a match
// that leaves the data, overlaps the one before it or does not hold its
// literal (a partial one: a proper prefix of one, as the last match, up to
// the end of the data), or any difference from the plain reading.
QString faultIn(const CVParse &parser, const QByteArray &data, const Catalogue &catalogue);
