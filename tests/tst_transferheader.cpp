#include "protocol/transferheader.h"

#include <QtTest>

Q_DECLARE_METATYPE(TransferHeader::Problem)

class TransferHeaderTest : public QObject
{
    Q_OBJECT

private slots:
    void readsFieldsAndContentStart()
    {
        const QByteArray bytes = "^XFER,cvipc_2.0.deb,5,0123456789ABCDEFabcdef0123456789\r\nhe,l\nlo";
        const TransferHeader header = parseTransferHeader(bytes);
        QCOMPARE(header.problem, TransferHeader::None);
        QCOMPARE(header.name, QStringLiteral("cvipc_2.0.deb"));
        QCOMPARE(header.size, 5);
        QCOMPARE(header.digest, QByteArray::fromHex("0123456789abcdefabcdef0123456789"));
        QCOMPARE(bytes.mid(header.contentOffset), QByteArray("he,l\nlo"));
        // Without a carriage return the digest ends with the line.
        QCOMPARE(parseTransferHeader("^XFER,f,1,a1b2\nc3").digest, QByteArray("\xa1\xb2"));
    }

    void sizeReadsLikeStrtol_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<int>("size");
        QTest::newRow("blanks and sign") << QByteArray("  +12") << 12;
        QTest::newRow("digits then text") << QByteArray("7kB") << 7;
        QTest::newRow("negative") << QByteArray("-5") << -5;
        QTest::newRow("no digits") << QByteArray("size") << 0;
        QTest::newRow("leading zero, still decimal") << QByteArray("010") << 10;
        QTest::newRow("beyond 32 bits") << QByteArray("99999999999") << int(INT_MAX);
    }

    void sizeReadsLikeStrtol()
    {
        QFETCH(QByteArray, field);
        QFETCH(int, size);
        const TransferHeader header = parseTransferHeader("^XFER,f," + field + ",00\r\n");
        QCOMPARE(header.problem, TransferHeader::None);
        QCOMPARE(header.size, size);
    }

    void unsafeHeadersAreRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<TransferHeader::Problem>("problem");
        QTest::newRow("no line end yet") << QByteArray("^XFER,f,3,00112233") << TransferHeader::Incomplete;
        QTest::newRow("carriage return only") << QByteArray("^XFER,f,3,00112233\r") << TransferHeader::Incomplete;
        QTest::newRow("three fields") << QByteArray("^XFER,f,3\r\nabc") << TransferHeader::Incomplete;
        QTest::newRow("package name") << QByteArray("^XFER,cvipc_2.0_armhf.deb,0,00\r\n") << TransferHeader::None;
        QTest::newRow("empty name") << QByteArray("^XFER,,0,00\r\n") << TransferHeader::BadName;
        QTest::newRow("parent") << QByteArray("^XFER,..,0,00\r\n") << TransferHeader::BadName;
        QTest::newRow("subdirectory") << QByteArray("^XFER,a/b,0,00\r\n") << TransferHeader::BadName;
    }

    void unsafeHeadersAreRefused()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(TransferHeader::Problem, problem);
        QCOMPARE(parseTransferHeader(bytes).problem, problem);
    }
};

QTEST_APPLESS_MAIN(TransferHeaderTest)
#include "tst_transferheader.moc"
