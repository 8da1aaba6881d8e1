#include "daemonlink.h"
#include "privatebus.h"
#include "smallfilesystem.h"

#include <QtTest>

namespace {

const QString failedQuery = QStringLiteral("reply invalid"); // a status query without services
const QByteArray statusQuery("~S,STATUSREQ\r\n");

QStringList lpCalls(const DaemonLink &link)
{
    return link.env.calls(QStringLiteral("lp"));
}

} // namespace

class PrintJobTest : public BusTest
{
    Q_OBJECT

private slots:
    // One read each; the job file byte for byte, and whether "lp" ran.
    void jobMarkers_data()
    {
        QTest::addColumn<QByteArray>("read");
        QTest::addColumn<QByteArray>("jobFile");
        QTest::addColumn<bool>("submitted");

        const QByteArray twoJobs("aE\r\nbE\r\n");
        QTest::newRow("^Z9 ^K5: second end") << "^Z9^K5" + twoJobs << "^Z9^K5" + twoJobs << true;
        // The completing end marker is the last command: what follows it is dropped.
        QTest::newRow("^K1: first end") << "^K1" + twoJobs << QByteArray("^K1aE\r\n") << true;
        QTest::newRow("^K letter: first end") << "^Kx" + twoJobs << QByteArray("^KxaE\r\n") << true;
        QTest::newRow("^Z0 ^K5: first end") << "^Z0^K5" + twoJobs << QByteArray("^Z0^K5aE\r\n") << true;
        QTest::newRow("first ^K decides") << "^K1^K5" + twoJobs << QByteArray("^K1^K5aE\r\n") << true;
        // "^Z0" after the job's "^K5": the next "^K" makes it a one-end job.
        QTest::newRow("^K5 ^Z0 ^K1: first end") << "^K5a^Z0^K1" + twoJobs << QByteArray("^K5a^Z0^K1aE\r\n") << true;
        QTest::newRow("^K5 waits for a second end")
            << QByteArray("^Z1^K5aE\r\nb") << QByteArray("^Z1^K5aE\r\nb") << false;
        QTest::newRow("no ^K never completes") << twoJobs + "c" << twoJobs + "c" << false;
    }

    void jobMarkers()
    {
        QFETCH(QByteArray, read);
        QFETCH(QByteArray, jobFile);
        QFETCH(bool, submitted);

        DaemonLink link;
        QVERIFY(link.gadget.send(read));
        // A submission runs "lp" in the call that writes the job's last bytes.
        QTRY_COMPARE_WITH_TIMEOUT(link.env.jobFile(), jobFile, 10000);
        QCOMPARE(lpCalls(link), submitted ? QStringList{link.env.jobFilePath()} : QStringList());
    }

    // "^Z" that ends a read has no argument yet: it counts as 0, so the
    // "^K5" that follows in the next read still makes a one-end job.
    void zMarkerEndingARead()
    {
        DaemonLink link;
        QVERIFY(link.gadget.send("x^Z"));
        QTRY_COMPARE_WITH_TIMEOUT(link.env.jobFile(), QByteArray("x^Z"), 10000);
        QVERIFY(link.gadget.send("1^K5aE\r\nbE\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(lpCalls(link).size(), 1, 10000);
        QCOMPARE(link.env.jobFile(), QByteArray("x^Z1^K5aE\r\n"));
    }

    // What follows the completing end marker in its read: the start of the
    // next job waits across the port restart and opens the new job file;
    // mere print data after the last end marker is dropped.
    void bytesAfterTheCompletingEnd_data()
    {
        QTest::addColumn<QByteArray>("completingRead");
        QTest::addColumn<QByteArray>("nextRead");
        QTest::addColumn<QByteArray>("nextJobFile");

        QTest::newRow("next job carried over") << QByteArray("^K1aE\r\n^K1next") << QByteArray("E\r\n")
                                               << QByteArray("^K1nextE\r\n");
        QTest::newRow("trailing data dropped") << QByteArray("^K1aE\r\ntrailing") << QByteArray("^K1bE\r\n")
                                               << QByteArray("^K1bE\r\n");
    }

    void bytesAfterTheCompletingEnd()
    {
        QFETCH(QByteArray, completingRead);
        QFETCH(QByteArray, nextRead);
        QFETCH(QByteArray, nextJobFile);

        DaemonLink link;
        QVERIFY(link.gadget.send(completingRead));
        QTRY_COMPARE_WITH_TIMEOUT(lpCalls(link).size(), 1, 10000);
        QCOMPARE(link.env.jobFile(), QByteArray("^K1aE\r\n"));

        QVERIFY(QMetaObject::invokeMethod(&link.daemon, "onPrintDone"));
        QTRY_COMPARE_WITH_TIMEOUT(link.env.jobFile(), QByteArray(), 10000);
        QVERIFY(link.gadget.send(nextRead));
        QTRY_COMPARE_WITH_TIMEOUT(lpCalls(link).size(), 2, 10000);
        QCOMPARE(link.env.jobFile(), nextJobFile);
        QCOMPARE(link.log.count(QStringLiteral("Enable read of next job")), 1);
    }

    // Commands behind the completing end marker in its read wait in the
    // buffer across the port's restart, for the first read after it, and
    // then run once.
    void commandsAfterTheCompletingEnd()
    {
        DaemonLink link;
        QVERIFY(link.gadget.send("^K1aE\r\n" + statusQuery));
        QTRY_COMPARE_WITH_TIMEOUT(lpCalls(link).size(), 1, 10000);
        QCOMPARE(link.log.count(failedQuery), 0);
        QVERIFY(QMetaObject::invokeMethod(&link.daemon, "onPrintDone"));
        QTRY_COMPARE_WITH_TIMEOUT(link.env.jobFile(), QByteArray(), 20000);
        QCOMPARE(link.log.count(failedQuery), 0);
        QVERIFY(link.gadget.send(statusQuery));
        QTRY_VERIFY_WITH_TIMEOUT(link.log.count(failedQuery) >= 2, 10000);
        QCOMPARE(link.log.count(failedQuery), 2);
    }

    // After a submission the host's bytes stay unread: each queue-full
    // signal resubmits the job file one retry interval later, and reading
    // starts again only the restart interval after the queue-complete signal.
    // A retry once the port has restarted submits what the new job file
    // holds and stops reading again.
    void readingStaysOffUntilTheRestart()
    {
        DaemonLink link;
        QVERIFY(link.gadget.send("^K1aE\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(lpCalls(link).size(), 1, 10000);
        QVERIFY(link.gadget.send(statusQuery));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.unreadByPrinter(), statusQuery.size(), 10000);

        QElapsedTimer since;
        since.start();
        QVERIFY(QMetaObject::invokeMethod(&link.daemon, "onQueueFull"));
        QVERIFY(QMetaObject::invokeMethod(&link.daemon, "onQueueFull"));
        const QString jobFile = link.env.jobFilePath();
        QTRY_COMPARE_WITH_TIMEOUT(lpCalls(link), QStringList({jobFile, jobFile, jobFile}), 20000);
        QVERIFY2(since.elapsed() >= link.settings.printRetryIntervalMs * 9 / 10, qPrintable(QString::number(since.elapsed())));
        QCOMPARE(link.log.count(QStringLiteral("Print failed, retry")), 2);

        // The query waiting since the submission is read only after the
        // restart, which a second queue-complete signal pushes back.
        QVERIFY(QMetaObject::invokeMethod(&link.daemon, "onPrintDone"));
        QVERIFY(!QTest::qWaitFor([&] { return link.log.count(failedQuery) > 0; }, link.settings.reinitIntervalMs / 4));
        since.start();
        QVERIFY(QMetaObject::invokeMethod(&link.daemon, "onPrintDone"));
        QTRY_COMPARE_WITH_TIMEOUT(link.log.count(failedQuery), 1, 20000);
        QVERIFY2(since.elapsed() >= link.settings.reinitIntervalMs * 9 / 10, qPrintable(QString::number(since.elapsed())));
        QVERIFY(link.gadget.send("partial job"));
        QTRY_COMPARE_WITH_TIMEOUT(link.env.jobFile(), QByteArray("partial job"), 10000);
        QVERIFY(QMetaObject::invokeMethod(&link.daemon, "onQueueFull"));
        QTRY_COMPARE_WITH_TIMEOUT(lpCalls(link).size(), 4, 20000);
        QVERIFY(link.gadget.send(statusQuery));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.unreadByPrinter(), statusQuery.size(), 10000);
        QVERIFY(!QTest::qWaitFor([&] { return link.log.count(failedQuery) > 1; }, 1000));
    }

    // An "lp" that fails, or that is missing, is logged with its status and
    // error text; the job file is kept for inspection, and the port restarts
    // so that the host's next query is read.
    void failedSubmission_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("logged");
        QTest::newRow("exits with 1") << "lp" << "lp exit status 1 lp: Error - no default destination";
        QTest::newRow("missing") << "no-such-lp" << "no-such-lp";
    }

    void failedSubmission()
    {
        QFETCH(QString, program);
        QFETCH(QString, logged);
        DaemonLink link([&](DaemonLink &link) { link.settings.printProgram = program; });
        link.env.setExitCode(QStringLiteral("lp"), 1);
        link.env.setAction(QStringLiteral("lp"), QStringLiteral("echo 'lp: Error - no default destination' >&2\n"));
        QVERIFY(link.gadget.send("^K1aE\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(link.log.count("print job not taken: " + logged), 1, 10000);
        QCOMPARE(fileContent(link.env.jobFilePath() + ".failed"), QByteArray("^K1aE\r\n"));
        QVERIFY(link.gadget.send(statusQuery));
        QTRY_COMPARE_WITH_TIMEOUT(link.log.count(failedQuery), 1, 10000);
    }

    // A failed job is kept as a copy (the job file itself may not be the
    // daemon's to move), and only while the copy leaves the reserve free.
    void failedJobIsCopiedOnlyAboveTheReserve()
    {
        SmallFileSystem tmp(512 * 1024);
        if (!tmp.mounted())
            QSKIP(qPrintable(tmp.why()));
        DaemonLink link([&](DaemonLink &link) {
            link.settings.jobFilePath = tmp.path(QStringLiteral("temp.cvzl"));
            link.settings.jobFileReserveBytes = 128 * 1024;
        });
        link.env.setExitCode(QStringLiteral("lp"), 1);
        link.gadget.sendFromThread("^K1" + QByteArray(300 * 1024, 'd') + "E\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(link.log.count(QStringLiteral("- job not kept")), 1, 20000);
        link.gadget.waitSent();
        QVERIFY(!QFile::exists(tmp.path(QStringLiteral("temp.cvzl.failed"))));
        QVERIFY(tmp.freeBytes() >= 128 * 1024);
    }

    // A job without an end marker on a small file system stops growing at
    // its file's reserve; a job file that refuses bytes (a device that is
    // always full) stops at its first failure. Either is logged once per job
    // file; the link goes on, and the next job logs its own.
    void jobFileThatTakesNoMoreLogsOncePerJob_data()
    {
        QTest::addColumn<QString>("jobFile"); // empty: on the small file system
        QTest::addColumn<qint64>("reserve");
        QTest::addColumn<QString>("logged");
        QTest::newRow("reserve kept") << QString() << qint64(128 * 1024) << "job file system down to its reserve";
        QTest::newRow("write fails") << "/dev/full" << qint64(0) << "write error 28";
    }

    void jobFileThatTakesNoMoreLogsOncePerJob()
    {
        QFETCH(QString, jobFile);
        QFETCH(qint64, reserve);
        QFETCH(QString, logged);
        SmallFileSystem tmp(512 * 1024);
        if (!tmp.mounted())
            QSKIP(qPrintable(tmp.why()));
        if (jobFile.isEmpty())
            jobFile = tmp.path(QStringLiteral("temp.cvzl"));
        DaemonLink link([&](DaemonLink &link) {
            link.settings.jobFilePath = jobFile;
            link.settings.jobFileReserveBytes = reserve;
        });
        const QByteArray data(600 * 1024, 'd');
        for (int job = 1; job <= 2; ++job) {
            // The query's failure shows that the data before it was read.
            link.gadget.sendFromThread(data + statusQuery);
            QTRY_COMPARE_WITH_TIMEOUT(link.log.count(failedQuery), job, 20000);
            link.gadget.waitSent();
            QCOMPARE(link.log.count(logged), job);
            QVERIFY(tmp.freeBytes() >= reserve);
            if (reserve > 0)
                qInfo("job of 600 KiB kept %lld KiB, %lld KiB left free", QFileInfo(jobFile).size() / 1024,
                      tmp.freeBytes() / 1024);
            QVERIFY(QMetaObject::invokeMethod(&link.daemon, "onPrintDone"));
        }
    }

    // A link planted at the job file's path is replaced, not followed: what
    // it points to is neither truncated nor written.
    void linkAtTheJobFileIsNotFollowed()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("target"));
        QVERIFY(writeFile(target, "kept"));
        bool planted = false;
        DaemonLink link([&](DaemonLink &link) { planted = QFile::link(target, link.env.jobFilePath()); });
        QVERIFY(planted);
        QVERIFY(link.gadget.send("^K1aE\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(lpCalls(link).size(), 1, 10000);
        QCOMPARE(fileContent(target), QByteArray("kept"));
        QCOMPARE(link.env.jobFile(), QByteArray("^K1aE\r\n"));
    }
};

QTEST_GUILESS_MAIN(PrintJobTest)
#include "tst_printjob.moc"
