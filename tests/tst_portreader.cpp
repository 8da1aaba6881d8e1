#include "protocol/portreader.h"
#include "testpipe.h"

#include <QtTest>

class PortReaderTest : public QObject
{
    Q_OBJECT

private slots:
    // The reader hands out what waits, tells a silent host from a hung-up
    // one, and takes bytes that waited while the daemon was busy elsewhere
    // past the silence bound (a bound of 0 stands for that).
    void reads()
    {
        TestPipe pipe;
        PortReader port(pipe.fds[0], 0);
        char chunk[8];

        pipe.send("0123456789");
        QCOMPARE(port.read(chunk, 8), ssize_t(8));
        QCOMPARE(QByteArray(chunk, 8), QByteArray("01234567"));
        QCOMPARE(port.read(chunk, 8), ssize_t(2));
        QCOMPARE(port.read(chunk, 8), ssize_t(PortReader::HostSilent));
        pipe.send("ab");
        pipe.hangUp();
        QCOMPARE(port.read(chunk, 8), ssize_t(2));
        QCOMPARE(port.read(chunk, 8), ssize_t(PortReader::PortFailed));
    }

    // Every byte taken is hashed and written, exactly up to the size; a
    // port that the event loop closed, or one whose host hangs up, ends the
    // transfer at once.
    void receivesAFile()
    {
        QTemporaryDir dir;
        TestPipe pipe;
        const QByteArray content = QByteArray(1000, 'u') + "tail";
        pipe.send(content + "next command");

        IncomingFile incoming;
        incoming.file.setFileName(dir.filePath(QStringLiteral("update.deb")));
        QVERIFY(incoming.file.open(QIODevice::WriteOnly));
        PortReader port(pipe.fds[0], 60000);
        QCOMPARE(receiveFromPort(incoming, content.size(), port, [] { return true; }), TransferEnd::Complete);
        incoming.file.close();
        QCOMPARE(incoming.hash.result(), QCryptographicHash::hash(content, QCryptographicHash::Md5));
        QFile written(incoming.file.fileName());
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), content);

        IncomingFile closedMidway;
        QCOMPARE(receiveFromPort(closedMidway, 1000, port, [] { return false; }), TransferEnd::PortClosed);
        QCOMPARE(closedMidway.received, qint64(12));
        // Were the hang-up's empty read taken for bytes, the transfer would
        // never end: a bound on its passes makes that fail here.
        pipe.hangUp();
        IncomingFile hungUp;
        int passes = 0;
        QVERIFY2(receiveFromPort(hungUp, 1000, port, [&] { return ++passes < 100; }) == TransferEnd::PortFailed,
                 "the hang-up did not end the transfer");
    }
};

QTEST_GUILESS_MAIN(PortReaderTest)
#include "tst_portreader.moc"
