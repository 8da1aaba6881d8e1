#include "daemon/portwriter.h"

#include <QtTest>

#include <cerrno>

class PortWriterTest : public QObject
{
    Q_OBJECT

private slots:
    // Each write() gets the next scripted result: n > 0 takes the first n
    // bytes offered, 0 or -1 takes nothing (-4 fails with EINTR); past the
    // script it takes all. `offsets` tells where in the text each write()
    // started.
    void writes_data()
    {
        QTest::addColumn<QList<qint64>>("results");
        QTest::addColumn<QList<int>>("offsets");
        QTest::addColumn<int>("written");

        QTest::newRow("whole at once") << QList<qint64>{} << QList<int>{0} << 11;
        QTest::newRow("short writes go on") << QList<qint64>{5, 2, 1, 1} << QList<int>{0, 5, 7, 8, 9} << 11;
        QTest::newRow("a full device ends the pass") << QList<qint64>{4, -1} << QList<int>{0, 4} << 4;
        QTest::newRow("a write of nothing ends it") << QList<qint64>{0} << QList<int>{0} << 0;
        QTest::newRow("an interrupted write is tried again") << QList<qint64>{-4, 3} << QList<int>{0, 0, 3} << 11;
    }

    void writes()
    {
        QFETCH(QList<qint64>, results);
        QFETCH(QList<int>, offsets);
        QFETCH(int, written);

        const QByteArray text("SIRES,abc\r\n");
        QList<QByteArray> offered;
        const qint64 result = writeAvailable(text, [&](const char *bytes, qint64 count) {
            offered << QByteArray(bytes, int(count));
            const qint64 scripted = results.isEmpty() ? count : results.takeFirst();
            errno = scripted == -4 ? EINTR : EAGAIN;
            return std::min(std::max<qint64>(scripted, -1), count);
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
