#include "protocol/hostlink.h"

#include <cvparse.h>

#include <QtTest>

namespace {

struct Literal
{
    QByteArray bytes;
    int id;
};
using Catalogue = QVector<Literal>;

// The commands as the daemon registers them.
Catalogue hostCatalogue()
{
    Catalogue catalogue;
    for (const HostLink::InboundCommand &command : HostLink::inboundCommands)
        catalogue.append({QByteArray(command.literal), command.id});
    return catalogue;
}

// Literals with a rare byte of their own each, too many to compare all at
// once, some the start of another.
Catalogue manyAnchorsCatalogue()
{
    Catalogue catalogue;
    for (int i = 0; i < 24; ++i) {
        const QByteArray head = char(1 + i) + QByteArray("c") + char('a' + i);
        catalogue.append({head, 100 + i});
        catalogue.append({head + "long\r\n", 200 + i});
    }
    return catalogue;
}

CVParse parserFor(const Catalogue &catalogue)
{
    CVParse parser;
    for (const Literal &literal : catalogue)
        parser.addCommand(literal.bytes, literal.id);
    return parser;
}

CVParse catalogueParser()
{
    return parserFor(hostCatalogue());
}

int longestLiteral(const Catalogue &catalogue)
{
    int longest = 0;
    for (const Literal &literal : catalogue)
        longest = std::max(longest, int(literal.bytes.size()));
    return longest;
}

// "id@start+length" per element, for readable comparisons.
QStringList describe(const QVector<ParseMatch> &matches)
{
    QStringList text;
    for (const ParseMatch &match : matches)
        text << QStringLiteral("%1@%2+%3").arg(match.id).arg(match.start).arg(match.length);
    return text;
}

// The plain reading of the rules: at each position the longest literal that
// starts there, else the next position; then the longest proper prefix of a
// literal that ends the input after the last command.
QVector<ParseMatch> referenceParse(const QByteArray &data, const Catalogue &catalogue)
{
    QVector<ParseMatch> result;
    int position = 0;
    while (position < data.size()) {
        Literal longest{QByteArray(), 0};
        for (const Literal &literal : catalogue) {
            if (literal.bytes.size() > longest.bytes.size() && data.mid(position).startsWith(literal.bytes))
                longest = literal;
        }
        if (longest.bytes.isEmpty()) {
            ++position;
            continue;
        }
        result.append({longest.id, position, position + int(longest.bytes.size()) - 1, int(longest.bytes.size())});
        position += longest.bytes.size();
    }
    const int from = result.isEmpty() ? 0 : result.last().end + 1;
    for (int start = std::max(from, data.size() - (longestLiteral(catalogue) - 1)); start < data.size(); ++start) {
        const QByteArray rest = data.mid(start);
        for (const Literal &literal : catalogue) {
            if (literal.bytes.startsWith(rest) && rest.size() < literal.bytes.size()) {
                result.append({ParseMatch::Partial, start, data.size() - 1, int(rest.size())});
                return result;
            }
        }
    }
    return result;
}

// Every element is well formed, ascending, non-overlapping, within the input,
// and names bytes that are what its id stands for; a partial is last only.
void checkWellFormed(const QByteArray &data, const QVector<ParseMatch> &matches,
                     const Catalogue &catalogue = hostCatalogue())
{
    int nextFree = 0;
    for (int i = 0; i < matches.size(); ++i) {
        const ParseMatch &match = matches[i];
        QVERIFY(match.start >= nextFree);
        QCOMPARE(match.end, match.start + match.length - 1);
        QVERIFY(match.end < data.size());
        const QByteArray bytes = data.mid(match.start, match.length);
        if (match.id == ParseMatch::Partial) {
            QCOMPARE(i, matches.size() - 1);
            QCOMPARE(match.end, data.size() - 1);
        } else {
            const auto literal = std::find_if(catalogue.begin(), catalogue.end(),
                                              [&](const Literal &l) { return l.id == match.id; });
            QVERIFY(literal != catalogue.end());
            QCOMPARE(bytes, literal->bytes);
        }
        nextFree = match.end + 1;
    }
}

} // namespace

Q_DECLARE_METATYPE(Catalogue)

class CVParseTest : public QObject
{
    Q_OBJECT

private slots:
    void findsCommands_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("nothing") << QByteArray("plain print data") << QStringList();
        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("query alone") << QByteArray("~S,STATUSREQ\r\n") << QStringList{"7@0+14"};
        // The end marker inside the update command does not split it.
        QTest::newRow("update holds an end marker")
            << QByteArray("xx^UPDATE\r\nE\r\n") << QStringList{"10@2+9", "9@11+3"};
        // The argument digit belongs to the data, not to the marker.
        QTest::newRow("marker arguments") << QByteArray("^Z1^K5ab") << QStringList{"20@0+2", "19@3+2"};
        QTest::newRow("marker ends the block") << QByteArray("data^K") << QStringList{"19@4+2"};
        QTest::newRow("commands back to back")
            << QByteArray("SIREQ\r\nRI1REQ\r\nRUI2REQ\r\n~U,ETHCONF\r\n")
            << QStringList{"1@0+7", "2@7+8", "23@15+9", "16@24+12"};
        QTest::newRow("near misses") << QByteArray("^XFE ^SETCVSHI E\r \r\n SIREQ\n ^k")
                                     << QStringList();
        QTest::newRow("carets and line ends without commands")
            << QByteArray("^FO50,50^A0N,30^FDtext^FS\r\n^XA^XZ\r\n") << QStringList();
        QTest::newRow("argument commands")
            << QByteArray("^SETETHCONF,1,a,b,c\r\n^SETCVSHIP,2\r\n^XFER,f,3,ab\r\nxyz")
            << QStringList{"15@0+11", "17@21+10", "14@35+5"};

        // Incomplete commands at the end of the block.
        QTest::newRow("split query") << QByteArray("data~S,STAT") << QStringList{"-2@4+7"};
        QTest::newRow("lone caret") << QByteArray("data^") << QStringList{"-2@4+1"};
        QTest::newRow("marker without its line end") << QByteArray("dataE\r") << QStringList{"-2@4+2"};
        // "E" starts an end marker, but the update command starting earlier
        // is the longer incomplete command.
        QTest::newRow("longest proper prefix") << QByteArray("ab^UPDATE\r") << QStringList{"-2@2+8"};
        QTest::newRow("after a complete command")
            << QByteArray("SIREQ\r\n^SETETH") << QStringList{"1@0+7", "-2@7+7"};
        // The marker is complete; the partial may only start after it.
        QTest::newRow("not overlapping a match") << QByteArray("^K^") << QStringList{"19@0+2", "-2@2+1"};
        QTest::newRow("not a prefix") << QByteArray("data^F") << QStringList();
        QTest::newRow("broken prefix") << QByteArray("~S,R1RFIDREQ\rx") << QStringList();
    }

    void findsCommands()
    {
        QFETCH(QByteArray, data);
        QFETCH(QStringList, expected);
        const CVParse parser = catalogueParser();
        const QVector<ParseMatch> matches = parser.parse(data);
        QCOMPARE(describe(matches), expected);
        checkWellFormed(data, matches);
    }

    // Every proper prefix of every literal, at the end of a block, is kept
    // whole, and is never longer than the longest literal less one byte.
    void everyProperPrefixIsPartial()
    {
        const Catalogue catalogue = hostCatalogue();
        const CVParse parser = parserFor(catalogue);
        for (const Literal &command : catalogue) {
            const QByteArray &literal = command.bytes;
            for (int length = 1; length < literal.size(); ++length) {
                const QByteArray data = QByteArray(900, 'x') + literal.left(length);
                const QVector<ParseMatch> matches = parser.parse(data);
                QVERIFY2(!matches.isEmpty(), literal.left(length).constData());
                const ParseMatch &tail = matches.last();
                QCOMPARE(tail.id, int(ParseMatch::Partial));
                QVERIFY(tail.length >= length);
                QVERIFY(tail.length <= longestLiteral(catalogue) - 1);
            }
        }
    }

    // Many commands in one 1023-byte block, between pieces of label text,
    // come back in order, each once.
    void manyMatchesInOneBlock()
    {
        const Catalogue catalogue = hostCatalogue();
        const CVParse parser = parserFor(catalogue);
        QByteArray data;
        QStringList expected;
        int index = 0;
        while (true) {
            const Literal &command = catalogue[index % catalogue.size()];
            const QByteArray filler = "^FO" + QByteArray::number(index) + "^FDx^FS\r\n";
            const QByteArray &literal = command.bytes;
            if (data.size() + filler.size() + literal.size() > 1023)
                break;
            data += filler;
            expected << QStringLiteral("%1@%2+%3").arg(command.id).arg(data.size()).arg(literal.size());
            data += literal;
            ++index;
        }
        // A completed marker swallows no bytes: "^K" and "^Z" are followed
        // by filler, never by a digit here.
        const QVector<ParseMatch> matches = parser.parse(data);
        QCOMPARE(describe(matches), expected);
        QVERIFY(expected.size() > 19);
        checkWellFormed(data, matches);
    }

    // Random blocks made of whole literals, pieces of literals and stray
    // bytes give what the plain reading gives: with the host's commands, and
    // with more anchor bytes than the recognizer compares at once.
    void randomBlocksMatchThePlainReading_data()
    {
        QTest::addColumn<Catalogue>("catalogue");
        QTest::newRow("host commands") << hostCatalogue();
        QTest::newRow("many anchor bytes") << manyAnchorsCatalogue();
    }

    void randomBlocksMatchThePlainReading()
    {
        QFETCH(Catalogue, catalogue);
        const CVParse parser = parserFor(catalogue);
        const QByteArray stray("^~E\r\nxQ5\x01");
        QRandomGenerator random(7);
        for (int round = 0; round < 3000; ++round) {
            const int size = int(random.bounded(1, 1024));
            QByteArray data;
            while (data.size() < size) {
                const QByteArray &literal = catalogue[random.bounded(catalogue.size())].bytes;
                const int from = int(random.bounded(literal.size()));
                switch (random.bounded(3)) {
                case 0: data += literal; break;
                case 1: data += literal.mid(from, int(random.bounded(1, literal.size() - from + 1))); break;
                default: data += stray[int(random.bounded(stray.size()))]; break;
                }
            }
            data.truncate(size);
            const QVector<ParseMatch> matches = parser.parse(data);
            checkWellFormed(data, matches, catalogue);
            QCOMPARE(describe(matches), describe(referenceParse(data, catalogue)));
        }
    }
};

QTEST_GUILESS_MAIN(CVParseTest)
#include "tst_cvparse.moc"
