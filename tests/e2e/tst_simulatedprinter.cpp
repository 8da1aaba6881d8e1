// The README's run command for the simulated printer, as a person uses it:
// brevctl through the file it hands over, the link's summary, and every way
// of ending it, after each of which nothing of it may be left: no process,
// no folder.

#include "printdata.h"
#include "processes.h"
#include "testenv.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>
#include <unistd.h>

namespace {

const int startTimeoutMs = 120000;

} // namespace

class SimulatedPrinterTest : public QObject
{
    Q_OBJECT

private:
    // Starts the run command; returns its folder once the printer runs.
    QString start()
    {
        m_run.setProcessChannelMode(QProcess::MergedChannels);
        m_run.start(QStringLiteral(BREV_SOURCE_DIR "/scripts/run-simulated-printer.sh"),
                    {QStringLiteral(BREV_BUILD_DIR), QStringLiteral("--built")});
        const QRegularExpression hostLine(QStringLiteral("host end of the link +(\\S+)/host\\n"));
        QRegularExpressionMatch match;
        const bool running = QTest::qWaitFor([&] {
            m_output += m_run.readAll();
            match = hostLine.match(QString::fromLocal8Bit(m_output));
            return match.hasMatch() || m_run.state() == QProcess::NotRunning;
        }, startTimeoutMs);
        return running ? match.captured(1) : QString();
    }

    // Whether the run command ended within the bound and left nothing.
    bool endedLeavingNothing(const QString &state)
    {
        const bool ended = QTest::qWaitFor([&] { return m_run.state() == QProcess::NotRunning; }, 60000);
        m_output += m_run.readAll();
        const QStringList left = processesOf(QString(), state);
        if (!left.isEmpty() || QFileInfo::exists(state))
            qWarning() << "left behind:" << left << QFileInfo::exists(state) << m_output.right(2000);
        m_output.clear();
        return ended && left.isEmpty() && !QFileInfo::exists(state);
    }

    // brevctl as a user runs it after reading the printer's env file.
    int brevctl(const QString &state, const QStringList &arguments, QString *output)
    {
        const QByteArray env = fileContent(state + QStringLiteral("/env"));
        const QRegularExpression device(QStringLiteral("BREVCTL_DEVICE=(\\S+)"));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("BREVCTL_DEVICE"), device.match(QString::fromLocal8Bit(env)).captured(1));
        QProcess tool;
        tool.setProcessEnvironment(environment);
        tool.setProcessChannelMode(QProcess::MergedChannels);
        tool.start(QStringLiteral(BREVCTL), arguments);
        const bool finished = QTest::qWaitFor([&] { return tool.state() == QProcess::NotRunning; }, 120000);
        *output = QString::fromLocal8Bit(tool.readAll());
        return finished ? tool.exitCode() : -1;
    }

private slots:
    void initTestCase()
    {
        if (geteuid() != 0)
            QSKIP("needs root for the printer's mount namespace");
    }

    // Jobs given one after another all print, a query right after them is
    // answered, and their copies can be read by anyone; "quit" ends it all.
    void printingThenQuit()
    {
        const QString state = start();
        QVERIFY2(!state.isEmpty(), m_output.constData());
        QCOMPARE(fileContent(state + QStringLiteral("/env")).contains(state.toLocal8Bit() + "/host"), true);

        QTemporaryDir host;
        const QByteArray first = "^K1" + printData(2000) + "E\r\n";
        const QByteArray second = "^K1" + printData(3000) + "E\r\n";
        QVERIFY(writeFile(host.filePath(QStringLiteral("two.prn")), first + second));
        QString output;
        QCOMPARE(brevctl(state, {QStringLiteral("print"), host.filePath(QStringLiteral("two.prn"))}, &output), 0);
        QCOMPARE(brevctl(state, {QStringLiteral("status")}, &output), 0);
        QVERIFY2(output.contains(QStringLiteral("0 (ready)")), qPrintable(output));
        for (const auto &job : {qMakePair(1, first), qMakePair(2, second)}) {
            const QString copy = state + QStringLiteral("/jobs/job-%1.cvzl").arg(job.first);
            QCOMPARE(fileContent(copy), job.second);
            QVERIFY(QFileInfo(copy).permissions() & QFileDevice::ReadOther);
        }

        // The link's summary: commands and answers line by line, data summed up.
        const QByteArray link = fileContent(state + QStringLiteral("/link.log"));
        QVERIFY2(link.contains("host -> printer  ~S,STATUSREQ\n") && link.contains("printer -> host  ~S,STATUSRES,0\n")
                     && link.count(" bytes of data)\n") >= 2, // one run a job
                 link.constData());

        m_run.write("quit\n");
        QVERIFY(endedLeavingNothing(state));
    }

    // A case that failed half-way ends its printer as a person would, so
    // that it cleans up after itself.
    void cleanup()
    {
        if (m_run.state() == QProcess::NotRunning)
            return;
        m_run.terminate();
        m_run.waitForFinished(60000);
        m_output.clear();
    }

    void everyOtherEnd_data()
    {
        QTest::addColumn<int>("signal"); // 0: the end of its input (Ctrl-D)
        QTest::newRow("Ctrl-D") << 0;
        QTest::newRow("Ctrl-C") << int(SIGINT);
        QTest::newRow("terminal closed") << int(SIGHUP);
        QTest::newRow("terminated") << int(SIGTERM);
    }

    void everyOtherEnd()
    {
        QFETCH(int, signal);
        const QString state = start();
        QVERIFY2(!state.isEmpty(), m_output.constData());
        if (signal == 0)
            m_run.closeWriteChannel();
        else
            ::kill(pid_t(m_run.processId()), signal);
        QVERIFY(endedLeavingNothing(state));
    }

private:
    QProcess m_run;
    QByteArray m_output;
};

QTEST_GUILESS_MAIN(SimulatedPrinterTest)
#include "tst_simulatedprinter.moc"
