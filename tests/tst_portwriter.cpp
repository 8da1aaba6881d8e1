#include "daemon/portwriter.h"

#include <QtTest>

class PortWriterTest : public QObject
{
    Q_OBJECT

private slots:
    // Each write() gets the next scripted result: n > 0 takes the first n
    // bytes offered, 0 or -1 takes nothing; past the script it takes all.
    // `offsets` tells where in the text each write() started.
    void writes_data()
    {
        QTest::addColumn<QList<qint64>>("results");
        QTest::addColumn<QList<int>>("offsets");
        QTest::addColumn<int>("written");

        QTest::newRow("whole at once") << QList<qint64>{} << QList<int>{0} << 11;
        // A short write goes on at once with the rest, and is no failure.
        QTest::newRow("short writes") << QList<qint64>{5, 2, 1, 1} << QList<int>{0, 5, 7, 8, 9} << 11;
        QTest::newRow("three failures drop the text") << QList<qint64>{-1, 0, -1} << QList<int>{0, 0, 0} << 0;
        // Failures count over the whole pass, progress in between or not.
        QTest::newRow("failures around progress") << QList<qint64>{0, 4, -1, 3, 0} << QList<int>{0, 0, 4, 4, 7} << 7;
        QTest::newRow("two failures are survived") << QList<qint64>{-1, -1} << QList<int>{0, 0, 0} << 11;
    }

    void writes()
    {
        QFETCH(QList<qint64>, results);
        QFETCH(QList<int>, offsets);
        QFETCH(int, written);

        const QByteArray text("SIRES,abc\r\n");
        QList<QByteArray> offered;
        const qint64 result = writeWithRetries(text, [&](const char *bytes, qint64 count) {
            offered << QByteArray(bytes, int(count));
            return results.isEmpty() ? count : std::min(results.takeFirst(), count);
        });
        QList<QByteArray> expected;
        for (int offset : offsets)
            expected << text.mid(offset);
        QCOMPARE(offered, expected);
        QCOMPARE(result, qint64(written));
    }
};

QTEST_GUILESS_MAIN(PortWriterTest)
#include "tst_portwriter.moc"
