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

// "id@start+length", for readable comparisons.
QString describe(int id, int start, int length)
{
    return QStringLiteral("%1@%2+%3").arg(id).arg(start).arg(length);
}

// The bytes of `data` from `position` on, without a copy.
QByteArray from(const QByteArray &data, int position)
{
    return QByteArray::fromRawData(data.constData() + position, data.size() - position);
}

CVParse parserFor(const Catalogue &catalogue)
{
    CVParse parser;
    for (const Literal &literal : catalogue)
        parser.addCommand(literal.bytes, literal.id);
    return parser;
}

// The recognizer's matches described; an `end` that is not the match's last
// byte is flagged.
QStringList parseWith(const CVParse &parser, const QByteArray &data)
{
    QStringList text;
    for (const ParseMatch &m : parser.parse(data))
        text << describe(m.id, m.start, m.length) + (m.end == m.start + m.length - 1 ? "" : " wrong end");
    return text;
}

// The plain reading of the rules: at each position the longest literal that
// starts there, else the next position; then the earliest proper prefix of a
// literal that ends the input after the last command.
QStringList referenceParse(const QByteArray &data, const Catalogue &catalogue)
{
    QStringList result;
    int afterLast = 0;
    for (int position = 0; position < data.size(); position = std::max(position + 1, afterLast)) {
        const Literal *longest = nullptr;
        for (const Literal &literal : catalogue) {
            if (from(data, position).startsWith(literal.bytes) && (!longest || literal.bytes.size() > longest->bytes.size()))
                longest = &literal;
        }
        if (longest) {
            result << describe(longest->id, position, longest->bytes.size());
            afterLast = position + longest->bytes.size();
        }
    }
    for (int start = afterLast; start < data.size(); ++start) {
        for (const Literal &literal : catalogue) {
            if (literal.bytes.size() > data.size() - start && literal.bytes.startsWith(from(data, start)))
                return result << describe(ParseMatch::Partial, start, data.size() - start);
        }
    }
    return result;
}

// Up to a full read of whole literals, pieces of literals and stray bytes.
QByteArray randomBlock(QRandomGenerator &random, const Catalogue &catalogue)
{
    const QByteArray stray("^~E\r\nxQ5\x01");
    const int size = int(random.bounded(1, 1024));
    QByteArray data;
    while (data.size() < size) {
        const QByteArray &literal = catalogue[random.bounded(catalogue.size())].bytes;
        switch (random.bounded(3)) {
        case 0: data += literal; break;
        case 1: data += literal.mid(random.bounded(literal.size()), random.bounded(1, literal.size())); break;
        default: data += stray[random.bounded(stray.size())]; break;
        }
    }
    return data.left(size);
}

} // namespace

class CVParseTest : public QObject
{
    Q_OBJECT

private slots:
    void findsCommands_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QStringList>("expected");

        // The end marker inside the update command does not split it.
        QTest::newRow("update holds an end marker")
            << QByteArray("xx^UPDATE\r\nE\r\n") << QStringList{"10@2+9", "9@11+3"};
        // The argument digit belongs to the data, not to the marker.
        QTest::newRow("marker arguments") << QByteArray("^Z1^K5ab") << QStringList{"20@0+2", "19@3+2"};
        QTest::newRow("near misses") << QByteArray("^XFE ^SETCVSHI E\r \r\n SIREQ\n ^k") << QStringList();

        // Incomplete commands at the end of the block.
        // "E" starts an end marker, but the update command starting earlier
        // is the longer incomplete command.
        QTest::newRow("longest proper prefix") << QByteArray("ab^UPDATE\r") << QStringList{"-2@2+8"};
        // The marker is complete; the partial may only start after it.
        QTest::newRow("not overlapping a match") << QByteArray("^K^") << QStringList{"19@0+2", "-2@2+1"};
        QTest::newRow("broken prefix") << QByteArray("~S,R1RFIDREQ\rx") << QStringList();

        // A full block of commands between pieces of label text.
        QByteArray block;
        QStringList matches;
        const Catalogue catalogue = hostCatalogue();
        for (int index = 0;; ++index) {
            const QByteArray filler = "^FO" + QByteArray::number(index) + "^FDx^FS\r\n";
            const Literal &command = catalogue[index % catalogue.size()];
            if (block.size() + filler.size() + command.bytes.size() > 1023)
                break;
            block += filler;
            matches << describe(command.id, block.size(), command.bytes.size());
            block += command.bytes;
        }
        QTest::newRow("many in one block") << block << matches;
    }

    void findsCommands()
    {
        QFETCH(QByteArray, data);
        QFETCH(QStringList, expected);
        QCOMPARE(parseWith(parserFor(hostCatalogue()), data), expected);
        // The random comparison below rests on the plain reading agreeing here.
        QCOMPARE(referenceParse(data, hostCatalogue()), expected);
    }

    void everyProperPrefixIsPartial()
    {
        const CVParse parser = parserFor(hostCatalogue());
        for (const Literal &command : hostCatalogue()) {
            for (int length = 1; length < command.bytes.size(); ++length) {
                QCOMPARE(parseWith(parser, QByteArray(900, 'x') + command.bytes.left(length)),
                         QStringList{describe(ParseMatch::Partial, 900, length)});
            }
        }
    }

    // With the host's commands, and with more anchor bytes than the
    // recognizer compares at once.
    void randomBlocksMatchThePlainReading()
    {
        QRandomGenerator random(7);
        for (const Catalogue &catalogue : {hostCatalogue(), manyAnchorsCatalogue()}) {
            // One recognizer for all blocks, so that state left from one
            // call would show in the next.
            const CVParse parser = parserFor(catalogue);
            for (int round = 0; round < 3000; ++round) {
                const QByteArray data = randomBlock(random, catalogue);
                QCOMPARE(parseWith(parser, data), referenceParse(data, catalogue));
            }
        }
    }
};

QTEST_GUILESS_MAIN(CVParseTest)
#include "tst_cvparse.moc"
