#include "daemon/portwriter.h"

#include <QtTest>

namespace {

// A device that answers each write() with the next scripted result: a
// positive n takes the first n bytes offered (never more than offered), 0 or
// -1 takes nothing. Past the script it takes everything.
class ScriptedDevice
{
public:
    explicit ScriptedDevice(QList<qint64> results) : m_results(std::move(results)) {}

    qint64 write(const char *bytes, qint64 count)
    {
        m_offered << QByteArray(bytes, int(count));
        const qint64 result = m_results.isEmpty() ? count : std::min(m_results.takeFirst(), count);
        if (result > 0)
            m_taken.append(bytes, int(result));
        return result;
    }

    QList<QByteArray> offered() const { return m_offered; }
    QByteArray taken() const { return m_taken; }

private:
    QList<qint64> m_results;
    QList<QByteArray> m_offered;
    QByteArray m_taken;
};

} // namespace

class PortWriterTest : public QObject
{
    Q_OBJECT

private slots:
    void writes_data()
    {
        QTest::addColumn<QList<qint64>>("results");
        QTest::addColumn<QList<QByteArray>>("offered");
        QTest::addColumn<QByteArray>("taken");

        const QByteArray text("SIRES,abc\r\n"); // 11 bytes
        QTest::newRow("whole at once") << QList<qint64>{} << QList<QByteArray>{text} << text;
        // A short write goes on at once with the rest, and is no failure.
        QTest::newRow("short writes") << QList<qint64>{5, 2, 1, 1}
            << QList<QByteArray>{text, text.mid(5), text.mid(7), text.mid(8), text.mid(9)} << text;
        QTest::newRow("three failures drop the text") << QList<qint64>{-1, 0, -1}
            << QList<QByteArray>{text, text, text} << QByteArray();
        // Failures count over the whole pass, progress in between or not.
        QTest::newRow("failures around progress") << QList<qint64>{0, 4, -1, 3, 0}
            << QList<QByteArray>{text, text, text.mid(4), text.mid(4), text.mid(7)} << text.left(7);
        QTest::newRow("two failures are survived") << QList<qint64>{-1, -1}
            << QList<QByteArray>{text, text, text} << text;
    }

    void writes()
    {
        QFETCH(QList<qint64>, results);
        QFETCH(QList<QByteArray>, offered);
        QFETCH(QByteArray, taken);

        ScriptedDevice device(results);
        const qint64 written = writeWithRetries("SIRES,abc\r\n", [&device](const char *bytes, qint64 count) {
            return device.write(bytes, count);
        });
        QCOMPARE(device.offered(), offered);
        QCOMPARE(device.taken(), taken);
        QCOMPARE(written, qint64(taken.size()));
    }
};

QTEST_GUILESS_MAIN(PortWriterTest)
#include "tst_portwriter.moc"
