#include "daemonlink.h"
#include "privatebus.h"
#include "simulator.h"
#include "smallfilesystem.h"

#include <QtTest>

#include <future>
#include <thread>

namespace {

constexpr int lineWaitMs = 15000;
const QByteArray startUpdater = "^UPDATE\r\n";

QByteArray md5Hex(const QByteArray &content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex();
}

// The digest sent is the content's unless given.
QByteArray transfer(const QByteArray &name, const QByteArray &content, QByteArray digestHex = {})
{
    if (digestHex.isEmpty())
        digestHex = md5Hex(content);
    return "^XFER," + name + ',' + QByteArray::number(content.size()) + ',' + digestHex + "\r\n" + content;
}

// Content longer than one read of the daemon, with host commands in the part
// that the transfer takes straight from the port: they must not be run. The
// other bytes are random but start no command, since those that arrive with
// the header are dispatched.
QByteArray largeContent(int size)
{
    static const QByteArray commandStarts = "^~ERS";
    QByteArray content(size, Qt::Uninitialized);
    QRandomGenerator generator(size);
    for (char &byte : content) {
        byte = char(generator.bounded(256));
        if (commandStarts.contains(byte))
            byte = char(byte | 0x80);
    }
    for (int at = 1500; at + startUpdater.size() < size; at += size / 7)
        content.replace(at, startUpdater.size(), startUpdater);
    return content;
}

QByteArray errorLine(int code)
{
    return "~U,ERROR," + QByteArray::number(code) + "\r\n";
}

// The installer, given a directory without packages, answers with error 1:
// proof that the digest matched.
const QByteArray installerFoundNothing = errorLine(1);

// A host command sent after a transfer still reaches the dispatcher, and the
// update program starts with its one argument.
void verifyStillServing(DaemonLink &link)
{
    QVERIFY(link.gadget.send(startUpdater));
    QTRY_COMPARE_WITH_TIMEOUT(link.env.calls(QStringLiteral("Fenwick")), QStringList{"--internal-usb"}, lineWaitMs);
}

} // namespace

class SoftwareUpdateTest : public BusTest
{
    Q_OBJECT

private slots:
    // A transfer still reading the port would take the commands that follow
    // as file content.
    void fileWithItsHeaderIsVerifiedWithoutReadingOn_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("file");
        const QByteArray content = "package bytes\r\nwith a line end";
        QTest::newRow("exact") << transfer("u.bin", content) << content;
        QTest::newRow("upper-case digest") << transfer("u.bin", content, md5Hex(content).toUpper()) << content;
        QTest::newRow("size 0") << transfer("u.bin", "", md5Hex("")) << QByteArray();
        QTest::newRow("size without digits") << QByteArray("^XFER,u.bin,none," + md5Hex("") + "\r\n") << QByteArray();
        // Every buffered byte after the header is content and hashed, also
        // beyond the size.
        QTest::newRow("more than the size")
            << QByteArray("^XFER,u.bin,3," + md5Hex("abcdef") + "\r\nabcdef") << QByteArray("abcdef");
    }

    void fileWithItsHeaderIsVerifiedWithoutReadingOn()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, file);
        DaemonLink link;
        QVERIFY(link.gadget.send(bytes));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(installerFoundNothing), 1, lineWaitMs);
        QCOMPARE(fileContent(link.env.updateDir() + QStringLiteral("u.bin")), file);
        verifyStillServing(link);
    }

    // The digest a host announces is logged as hex, whatever its bytes stand
    // for: a forged one cannot start a log entry of its own.
    void mismatchKeepsTheFileAndSkipsTheInstaller()
    {
        DaemonLink link;
        const QByteArray forged = QByteArray("\n<0>forged entry").toHex();
        QVERIFY(link.gadget.send(transfer("u.deb", "not what was announced", forged)));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(errorLine(15)), 1, lineWaitMs);
        QCOMPARE(fileContent(link.env.updateDir() + QStringLiteral("u.deb")), QByteArray("not what was announced"));
        const QStringList logged = link.log.messages().filter(QStringLiteral("md5 check failed:"));
        QCOMPARE(logged.size(), 1);
        QVERIFY2(logged[0].contains(QLatin1String(forged)) && !logged[0].contains(QLatin1String("<0>")), qPrintable(logged[0]));
        // The installer reports progress 0 as soon as it is called; that line
        // would have left in the same batch as the error.
        QVERIFY(!link.gadget.received().contains("~U,PROGRESS,"));
        QVERIFY(link.env.calls(QStringLiteral("dpkg")).isEmpty());
    }

    void fileSpreadOverManyReadsArrivesWhole()
    {
        DaemonLink link;
        const QByteArray content = largeContent(200 * 1024);
        link.gadget.sendFromThread(transfer("big.bin", content));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(installerFoundNothing), 1, lineWaitMs);
        link.gadget.waitSent();
        QVERIFY(fileContent(link.env.updateDir() + QStringLiteral("big.bin")) == content);
        verifyStillServing(link);
    }

    // The installer gets the one file that passed its check: not the one
    // that failed before it, nor one left in the folder. The version
    // answered afterwards is the one just installed. Once the board holds a
    // maker's key, an unsigned package is refused with its own code.
    void matchingDigestInstallsThatFileOnly()
    {
        Simulator simulator;
        QVERIFY(simulator.start());
        DaemonLink link;
        QFile(link.env.updateDir() + "left-over.deb").open(QIODevice::WriteOnly);
        link.env.setAction(QStringLiteral("dpkg"), QStringLiteral("sed -i 's/^Version: 1.0$/Version: 2.0/' '%1'\n")
                                                       .arg(link.env.path(QStringLiteral("apt/status"))));
        QVERIFY(link.gadget.send(transfer("evil.deb", "bad", md5Hex("good"))));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(errorLine(15)), 1, lineWaitMs);
        QVERIFY(link.gadget.send(transfer("cvipc_2.0.deb", "a package")));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines("~U,PROGRESS,100\r\n"), 1, lineWaitMs);
        QCOMPARE(link.gadget.countLines("~U,PROGRESS,0\r\n"), 1);
        const QStringList calls = link.env.calls(QStringLiteral("dpkg"));
        QCOMPARE(calls.size(), 1);
        QVERIFY2(calls[0].startsWith("--force-downgrade --install ") && calls[0].endsWith("cvipc_2.0.deb"),
                 qPrintable(calls[0]));
        QVERIFY(link.gadget.send("~U,SOFTVER\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines("~U,SOFTVER,2.0,2.3\r\n"), 1, lineWaitMs);
        QVERIFY(QDir().mkpath(link.env.debsigRoot() + QStringLiteral("/etc/debsig/policies/0123456789ABCDEF")));
        QVERIFY(link.gadget.send(transfer("cvipc_2.1.deb", "a package")));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(errorLine(5)), 1, lineWaitMs);
        QCOMPARE(link.env.calls(QStringLiteral("dpkg")).size(), 1);
    }

    // A header cut by the end of a read waits for the rest of its line: the
    // file arrives whole, and the commands inside it are not run.
    void headerAcrossReads()
    {
        DaemonLink link;
        const QByteArray data(1010, 'd');
        const QByteArray content = largeContent(8 * 1024);
        const QByteArray bytes = transfer("u.bin", content) + startUpdater;
        QVERIFY(link.gadget.send(data + bytes.left(13)));
        QTRY_COMPARE_WITH_TIMEOUT(link.env.jobFile(), data, lineWaitMs);
        link.gadget.sendFromThread(bytes.mid(13));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(installerFoundNothing), 1, lineWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(link.env.calls(QStringLiteral("Fenwick")).size(), 1, lineWaitMs);
        link.gadget.waitSent();
        QVERIFY(fileContent(link.env.updateDir() + QStringLiteral("u.bin")) == content);
        QCOMPARE(link.env.calls(QStringLiteral("Fenwick")).size(), 1);
    }

    // Every installer failure is also logged, with its code and reason.
    void installerSignalsAreRelayed()
    {
        DaemonLink link;
        QVERIFY(QMetaObject::invokeMethod(&link.daemon, "updateProgress", Q_ARG(double, 99.6)));
        QVERIFY(QMetaObject::invokeMethod(&link.daemon, "updateProgress", Q_ARG(double, 0.4)));
        QVERIFY(QMetaObject::invokeMethod(&link.daemon, "updateError", Q_ARG(int, 3)));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(errorLine(3)), 1, lineWaitMs);
        QCOMPARE(link.gadget.countLines("~U,PROGRESS,100\r\n"), 1);
        QCOMPARE(link.gadget.countLines("~U,PROGRESS,0\r\n"), 1);
        QCOMPARE(link.log.count(QStringLiteral("update not installed: error 3 - installing the package failed")), 1);
    }

    // One update program at a time: "^UPDATE" while it runs starts nothing
    // and is logged; once it has ended, the next one starts it again.
    void oneUpdateProgramAtATime()
    {
        DaemonLink link;
        const QString release = link.env.path(QStringLiteral("release"));
        link.env.setAction(QStringLiteral("Fenwick"), QStringLiteral("while [ ! -e '%1' ]; do sleep 0.05; done\n").arg(release));
        QVERIFY(link.gadget.send(startUpdater));
        QTRY_COMPARE_WITH_TIMEOUT(link.env.calls(QStringLiteral("Fenwick")).size(), 1, lineWaitMs);
        QVERIFY(link.gadget.send(startUpdater));
        QTRY_COMPARE_WITH_TIMEOUT(link.log.count(QStringLiteral("update program still running")), 1, lineWaitMs);
        QVERIFY(writeFile(release, {}));
        QTRY_COMPARE_WITH_TIMEOUT(link.log.count(QStringLiteral("update program ended, exit status 0")), 1, lineWaitMs);
        QVERIFY(link.gadget.send(startUpdater));
        QTRY_COMPARE_WITH_TIMEOUT(link.env.calls(QStringLiteral("Fenwick")).size(), 2, lineWaitMs);
    }

    // A host sending transfers under ever new names, none of them good,
    // leaves one file in the update folder; a transfer that would leave less
    // than the reserve free is refused before anything is written, its bytes
    // taken and dropped; a good update still finds room.
    void transfersUnderManyNamesLeaveRoom()
    {
        SmallFileSystem home(512 * 1024);
        if (!home.mounted())
            QSKIP(qPrintable(home.why()));
        const qint64 reserve = 128 * 1024;
        DaemonLink link([&](DaemonLink &link) {
            link.settings.updateDir = home.path() + QLatin1Char('/');
            link.settings.updateDirReserveBytes = reserve;
        });
        QByteArray bytes;
        for (int i = 0; i < 1000; ++i)
            bytes += transfer("u" + QByteArray::number(i) + ".deb", QByteArray(600, 'x'), md5Hex("other"));
        link.gadget.sendFromThread(bytes + transfer("huge.deb", largeContent(400 * 1024)) + startUpdater);
        QTRY_COMPARE_WITH_TIMEOUT(link.env.calls(QStringLiteral("Fenwick")).size(), 1, 4 * lineWaitMs);
        link.gadget.waitSent();
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(errorLine(36)), 1, lineWaitMs);
        QCOMPARE(link.gadget.countLines(errorLine(33)), 0);
        const int files = QDir(home.path()).entryList(QDir::Files).size();
        QVERIFY(files <= 1);
        QVERIFY(!QFile::exists(home.path(QStringLiteral("huge.deb"))));
        QVERIFY(home.freeBytes() >= reserve);
        qInfo("after 1000 failed transfers and one too large: %d file(s), %lld KiB free of 512 KiB (reserve %lld KiB)",
              files, home.freeBytes() / 1024, reserve / 1024);

        QVERIFY(link.gadget.send(transfer("cvipc_2.0.deb", "a package")));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines("~U,PROGRESS,100\r\n"), 1, lineWaitMs);
    }

    void headerNotWholeIsRefusedWithoutAFile()
    {
        DaemonLink link;
        QVERIFY(link.gadget.send("^XFER,u.bin,3\r\nabc"));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(errorLine(31)), 1, lineWaitMs);
        QVERIFY(QDir(link.env.updateDir()).isEmpty());
        verifyStillServing(link);
    }

    // The bytes of a file that is not written are taken from the host and
    // dropped, so that the commands inside them are not run and the command
    // right after them is. Tests run as root: a file that cannot be created
    // is one whose name is a folder's.
    void fileNotWrittenTakesExactlyItsBytes_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<int>("error");
        QTest::newRow("name leaving the directory") << QByteArray("../outside") << 32;
        QTest::newRow("name with a carriage return") << QByteArray("a\r.deb") << 32;
        QTest::newRow("name with a NUL") << QByteArray("a\0.deb", 6) << 32;
        QTest::newRow("file cannot be created") << QByteArray("folder") << 33;
    }

    void fileNotWrittenTakesExactlyItsBytes()
    {
        QFETCH(QByteArray, name);
        QFETCH(int, error);
        DaemonLink link;
        QVERIFY(QDir(link.env.updateDir()).mkdir(QStringLiteral("folder")));
        link.gadget.sendFromThread(transfer(name, largeContent(20 * 1024)) + startUpdater);
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(errorLine(error)), 1, lineWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(link.env.calls(QStringLiteral("Fenwick")).size(), 1, lineWaitMs);
        link.gadget.waitSent();
        QVERIFY(link.env.jobFile().size() < 1024);
        QVERIFY(!QFile::exists(link.env.path(QStringLiteral("outside"))));
        QCOMPARE(QDir(link.env.updateDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"folder"});
        QVERIFY(QDir(link.env.updateDir() + QStringLiteral("folder")).isEmpty());
        QVERIFY(link.log.messages().filter(QStringLiteral("^UPDATE")).isEmpty()); // no file content logged
    }

    // The silence bound counts from the last bytes: a host that pauses
    // between pieces for longer in all than the bound is waited for, and one
    // that stops before the file is complete ends the transfer.
    void silentHostEndsTheTransfer()
    {
        const int boundMs = 2000;
        DaemonLink link([](DaemonLink &link) { link.settings.transferSilenceMs = boundMs; });
        const QByteArray content(12 * 1024, 'x');
        const QByteArray sent = transfer("slow.bin", content + "never sent").chopped(10);
        // Pieces with a pause of a tenth of the bound before each, until one
        // and a half bounds have passed; then the rest but the last bytes.
        const auto host = std::async(std::launch::async, [&] {
            QElapsedTimer sending;
            sending.start();
            int at = 0;
            for (; at < sent.size() && sending.elapsed() < boundMs * 3 / 2; at += 200) {
                std::this_thread::sleep_for(std::chrono::milliseconds(boundMs / 10));
                link.gadget.sendFromThread(sent.mid(at, 200));
                link.gadget.waitSent();
            }
            link.gadget.sendFromThread(sent.mid(at));
            link.gadget.waitSent();
        });
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(errorLine(34)), 1, lineWaitMs);
        QCOMPARE(fileContent(link.env.updateDir() + QStringLiteral("slow.bin")), content);
        QCOMPARE(link.gadget.countLines(installerFoundNothing), 0);
        verifyStillServing(link);
    }

    // A host that hangs up mid-file ends the transfer at once, with one log
    // line, even when the digest sent covers the bytes that came: a file cut
    // short is never checked nor installed.
    void hangUpEndsTheTransfer()
    {
        if (!FakeGadget::canHangUpFromThread())
            QSKIP("this process cannot hang up a terminal (TIOCVHANGUP needs root; qemu-user lacks it)");
        // Only the hang-up can end it.
        DaemonLink link([](DaemonLink &link) { link.settings.transferSilenceMs = 60000; });
        const QByteArray part(2000, 'p');
        // Were the hang-up taken for bytes, the transfer would go on for ever,
        // running only the events between its chunks: this timer's among them.
        QTimer transferStuck;
        connect(&transferStuck, &QTimer::timeout, [] { qFatal("the transfer did not end at the hang-up"); });
        transferStuck.start(lineWaitMs);
        QVERIFY(link.gadget.send("^XFER,cut.deb,4000," + md5Hex(part) + "\r\n" + part));
        link.gadget.hangUpFromThread();
        // One line says why the transfer ended, and nothing more is tried.
        QTRY_COMPARE_WITH_TIMEOUT(link.log.count("countCharsRead (write maxSize"), 1, lineWaitMs);
        QCOMPARE(link.log.count("update transfer") + link.log.count("update file") + link.log.count("md5 check failed"), 0);
        QVERIFY(link.env.calls(QStringLiteral("dpkg")).isEmpty());
    }

    // The engine is asked first; only its answer leads to the package lookup.
    // A removed package whose configuration files remain is not installed.
    void softwareVersion_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QByteArray>("status"); // the package database
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("logged");
        const QByteArray installed = "Package: cvipc\nStatus: install ok installed\nArchitecture: all\nVersion: 1.0\n\n";
        const QString noPackage = QStringLiteral("failed to obtain software version");
        QTest::newRow("both versions") << QString() << installed << QByteArray("~U,SOFTVER,1.0,2.3\r\n") << QString();
        QTest::newRow("empty engine version")
            << QStringLiteral("reply r6 r6Version \"\"") << installed << QByteArray("~U,SOFTVER,1.0,\r\n") << QString();
        QTest::newRow("engine fails") << QStringLiteral("fail r6 r6Version") << QByteArray() << QByteArray()
                                      << QStringLiteral("reply invalid");
        QTest::newRow("package missing") << QString() << QByteArray() << QByteArray() << noPackage;
        QTest::newRow("package removed") << QString() << QByteArray(installed).replace("install ok installed", "deinstall ok config-files")
                                         << QByteArray() << noPackage;
    }

    void softwareVersion()
    {
        QFETCH(QString, engine);
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, line);
        QFETCH(QString, logged);
        Simulator simulator;
        QVERIFY(simulator.start());
        if (!engine.isEmpty())
            QVERIFY(simulator.command(engine));
        bool written = false;
        DaemonLink link([&](DaemonLink &link) {
            QFile database(link.env.path(QStringLiteral("apt/status")));
            written = database.open(QIODevice::WriteOnly | QIODevice::Truncate) && database.write(status) == status.size();
        });
        QVERIFY(written);
        // The status answer follows any version line in the same batch.
        QVERIFY(link.gadget.send("~U,SOFTVER\r\n~S,STATUSREQ\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines("~S,STATUSRES,0\r\n"), 1, lineWaitMs);
        QCOMPARE(link.gadget.received().contains("~U,SOFTVER"), !line.isEmpty());
        QVERIFY(line.isEmpty() || link.gadget.countLines(line) == 1);
        const QStringList notices{QStringLiteral("reply invalid"), QStringLiteral("failed to obtain software version")};
        for (const QString &notice : notices)
            QCOMPARE(link.log.count(notice), notice == logged ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(SoftwareUpdateTest)
#include "tst_softwareupdate.moc"
