#include "plainparse.h"

#include <cvparse.h>

#include <QtTest>

namespace {

// Literals with a rare byte of their own each, too many to compare in one
// pass, some the start of another.
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

// Up to a full read of whole literals, pieces of literals and stray bytes.
QByteArray literalBlock(QRandomGenerator &random, const Catalogue &catalogue)
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

// Up to a full read of any bytes, or of bytes drawn from the anchors and keys
// of the host's commands and their near misses, so that anchors stand next
// to keys in every lane of a step and at both ends of the data.
QByteArray byteBlock(QRandomGenerator &random, bool caretDense)
{
    static const QByteArray dense("^^^^\r\r\r\n\nKZXSEQRFUAPJYTW~,");
    QByteArray data(int(random.bounded(0, 1024)), Qt::Uninitialized);
    for (char &byte : data)
        byte = caretDense ? dense[random.bounded(dense.size())] : char(random.bounded(256));
    return data;
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
            matches << describe({command.id, block.size(), block.size() + command.bytes.size() - 1,
                                 command.bytes.size()});
            block += command.bytes;
        }
        QTest::newRow("many in one block") << block << matches;
    }

    void findsCommands()
    {
        QFETCH(QByteArray, data);
        QFETCH(QStringList, expected);
        for (const CVParse &parser : parsersFor(hostCatalogue()))
            QCOMPARE(describe(parser.parse(data)), expected);
        // The comparisons below rest on the plain reading agreeing here.
        QCOMPARE(describe(plainParse(data.constData(), data.size(), hostCatalogue())), expected);
    }

    void everyProperPrefixIsPartial()
    {
        const CVParse parser = parserFor(hostCatalogue());
        for (const Literal &command : hostCatalogue()) {
            for (int length = 1; length < command.bytes.size(); ++length) {
                QCOMPARE(describe(parser.parse(QByteArray(900, 'x') + command.bytes.left(length))),
                         QStringList{describe({ParseMatch::Partial, 900, 899 + length, length})});
            }
        }
    }

    // Each command at every offset of blocks of every length up to a few
    // steps of the scan, in caret-dense filler: the scan's first and last
    // positions, the positions done one by one and the lanes of a step.
    void commandsAtEveryOffset()
    {
        const Catalogue catalogue = hostCatalogue();
        const QByteArray filler("^F^\r\n^A\rS^^X^PE\r");
        for (const CVParse &parser : parsersFor(catalogue)) {
            for (int size = 1; size <= 56; ++size) {
                for (const Literal &command : catalogue) {
                    for (int at = 0; at < size; ++at) {
                        QByteArray data = filler.repeated(8).left(size);
                        data.replace(at, command.bytes.size(), command.bytes);
                        const QString fault = faultIn(parser, data.left(size), catalogue);
                        QVERIFY2(fault.isEmpty(), qPrintable(fault));
                    }
                }
            }
        }
    }

    // With the host's commands and with more anchor bytes than one pass
    // compares, on blocks of literals, of any bytes and of caret-dense bytes.
    void randomBlocksMatchThePlainReading()
    {
        QRandomGenerator random(7);
        for (const Catalogue &catalogue : {hostCatalogue(), manyAnchorsCatalogue()}) {
            // One recognizer for all blocks, so that state left from one
            // call would show in the next.
            for (const CVParse &parser : parsersFor(catalogue)) {
                for (int round = 0; round < 1500; ++round) {
                    for (const QByteArray &data : {literalBlock(random, catalogue), byteBlock(random, false),
                                                   byteBlock(random, true)}) {
                        const QString fault = faultIn(parser, data, catalogue);
                        QVERIFY2(fault.isEmpty(), qPrintable(fault));
                    }
                }
            }
        }
    }
};

QTEST_GUILESS_MAIN(CVParseTest)
#include "tst_cvparse.moc"
