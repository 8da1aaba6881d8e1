#include "protocol/transferheader.h"

#include <QtTest>

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
    }

    void sizeReadsLikeStrtol_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<int>("size");
        QTest::newRow("plain") << QByteArray("1024") << 1024;
        QTest::newRow("blanks and sign") << QByteArray("  +12") << 12;
        QTest::newRow("digits then text") << QByteArray("7kB") << 7;
        QTest::newRow("negative") << QByteArray("-5") << -5;
        QTest::newRow("no digits") << QByteArray("size") << 0;
        QTest::newRow("empty") << QByteArray() << 0;
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

    void digestEndsAtCarriageReturnOrLineEnd()
    {
        QCOMPARE(parseTransferHeader("^XFER,f,1,A1b2\r\nC3").digest, QByteArray("\xa1\xb2"));
        QCOMPARE(parseTransferHeader("^XFER,f,1,a1b2\nc3").digest, QByteArray("\xa1\xb2"));
    }

    void incompleteHeadersAreRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("no line end yet") << QByteArray("^XFER,f,3,00112233");
        QTest::newRow("carriage return without line feed") << QByteArray("^XFER,f,3,00112233\r");
        QTest::newRow("three fields") << QByteArray("^XFER,f,3\r\nabc");
        QTest::newRow("command alone") << QByteArray("^XFER\r\n");
    }

    void incompleteHeadersAreRefused()
    {
        QFETCH(QByteArray, bytes);
        QCOMPARE(parseTransferHeader(bytes).problem, TransferHeader::Incomplete);
    }

    void namesThatCouldLeaveTheDirectoryAreRefused_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("package") << QByteArray("cvipc_2.0_armhf.deb") << true;
        QTest::newRow("dots inside a word") << QByteArray("a.b.c") << true;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("parent") << QByteArray("..") << false;
        QTest::newRow("parent path") << QByteArray("../x") << false;
        QTest::newRow("subdirectory") << QByteArray("a/b") << false;
        QTest::newRow("absolute") << QByteArray("/etc/passwd") << false;
        QTest::newRow("empty before a NUL") << QByteArray("\0/../x", 6) << false;
    }

    void namesThatCouldLeaveTheDirectoryAreRefused()
    {
        QFETCH(QByteArray, name);
        QFETCH(bool, accepted);
        const TransferHeader header = parseTransferHeader("^XFER," + name + ",0,00\r\n");
        QCOMPARE(header.problem, accepted ? TransferHeader::None : TransferHeader::BadName);
    }
};

QTEST_APPLESS_MAIN(TransferHeaderTest)
#include "tst_transferheader.moc"
