#include "commandline.h"
#include "commandtable.h"
#include "fakegadget.h"
#include "linkformat.h"
#include "printjobs.h"
#include "printdata.h"
#include "requests.h"
#include "testenv.h"

#include <QtTest>

#include <csignal>
#include <unistd.h>

static CommandLine parse(const QStringList &arguments)
{
    return parseCommandLine(QStringList{QStringLiteral("brevctl")} + arguments);
}

namespace {

// The real tool on one end of a pseudo-terminal; the test is the printer on
// the other end (the gadget's "host" side), and runs its event loop while
// the tool works.
struct ToolRun
{
    explicit ToolRun(FakeGadget &gadget, const QStringList &arguments, const QByteArray &input = {})
        : ToolRun(QStringList{QStringLiteral("-d"), gadget.devicePath()} + arguments, input)
    {
    }
    explicit ToolRun(const QStringList &arguments, const QByteArray &input = {},
                     const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        tool.setProcessEnvironment(environment);
        tool.start(QStringLiteral(BREVCTL), arguments);
        tool.write(input);
        tool.closeWriteChannel();
    }
    bool finish()
    {
        if (!QTest::qWaitFor([this] { return tool.state() == QProcess::NotRunning; }, 30000))
            return false;
        out = QString::fromLocal8Bit(tool.readAllStandardOutput());
        err = QString::fromLocal8Bit(tool.readAllStandardError());
        return tool.exitStatus() == QProcess::NormalExit;
    }

    QProcess tool;
    QString out;
    QString err;
};

QString fileWith(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    const QString path = dir.filePath(name);
    return writeFile(path, content) ? path : QString();
}

// A Debian package of about `payloadBytes`, stored uncompressed.
QString buildPackage(const QTemporaryDir &dir, const QString &name, int payloadBytes)
{
    const QString tree = dir.filePath(QStringLiteral("tree-") + name);
    QDir().mkpath(tree + QStringLiteral("/DEBIAN"));
    QDir().mkpath(tree + QStringLiteral("/usr/share/cvipc"));
    QFile control(tree + QStringLiteral("/DEBIAN/control"));
    control.open(QIODevice::WriteOnly);
    control.write("Package: cvipc\nVersion: 2.0\nArchitecture: all\nMaintainer: Test <t@example.org>\n"
                  "Description: test package\n");
    control.close();
    QFile payload(tree + QStringLiteral("/usr/share/cvipc/payload"));
    payload.open(QIODevice::WriteOnly);
    payload.write(printData(payloadBytes));
    payload.close();
    const QString package = dir.filePath(name);
    QProcess build;
    build.start(QStringLiteral("dpkg-deb"), {QStringLiteral("-Znone"), QStringLiteral("--root-owner-group"),
                                            QStringLiteral("--build"), tree, package});
    return build.waitForFinished(60000) && build.exitCode() == 0 ? package : QString();
}

// How many locks /proc/locks lists for the process `pid`.
int locksHeldBy(const QByteArray &pid)
{
    QFile locks(QStringLiteral("/proc/locks"));
    locks.open(QIODevice::ReadOnly);
    return locks.readAll().count(" " + pid + " ");
}

} // namespace

class BrevctlTest : public QObject
{
    Q_OBJECT

private slots:
    void optionsAnywhere()
    {
        // Options may follow the command.
        const CommandLine line = parse({"watch", "-d", "/tmp/host", "--timeout", "2.5", "-v", "--json", "-q"});
        QCOMPARE(line.device, QStringLiteral("/tmp/host"));
        QCOMPARE(line.timeoutMs, 2500);
        QVERIFY(line.verbose && line.json && line.quiet);

        // After "--" a negative mode is no option.
        const CommandLine negative = parse({"set-network", "--", "-1", "", "255.255.255.0", ""});
        QCOMPARE(Requests::setNetwork(negative.arguments), QByteArray("^SETETHCONF,-1,,255.255.255.0,\r\n"));

        // The device: -d, else the environment, else the host's usual node.
        QCOMPARE(parse({"status"}).device, QStringLiteral("/dev/usb/lp0"));
        qputenv("BREVCTL_DEVICE", "/dev/usb/lp3");
        QCOMPARE(parse({"status"}).device, QStringLiteral("/dev/usb/lp3"));
        QCOMPARE(parse({"status", "-d", "/dev/usb/lp1"}).device, QStringLiteral("/dev/usb/lp1"));
        qunsetenv("BREVCTL_DEVICE");
    }

    void badArgumentsAreRefused()
    {
        const struct { QStringList arguments; const char *complaint; } cases[] = {
            {{}, "No command given"},
            {{"suply"}, "Unknown command \"suply\""},
            {{"supply", "--fast"}, "fast"},
            {{"print"}, "print FILE"},
            {{"status", "now"}, "status"},
            {{"status", "-t", "0"}, "positive"},
            {{"print", "job", "--json"}, "--json"},
            {{"status", "--raw"}, "--raw"},
            {{"set-ship", "x"}, "not an integer"},
            {{"set-ship", "99999999999"}, "not an integer"},
            {{"set-network", "dhcp", "1.2.3.4", "255.0.0.0", ""}, "not an integer"},
            {{"set-network", "1", "1.2.3", "255.0.0.0", ""}, "ADDRESS"},
            {{"set-network", "1", "1.2.3.4,5", "255.0.0.0", ""}, "ADDRESS"},
            {{"set-network", "1", "1.2.3.4", "255.0.255.0", ""}, "NETMASK"},
            {{"set-network", "1", "1.2.3.4", "255.0.0.0", "256.1.1.1"}, "GATEWAY"},
            {{"update", "dir/a,b.deb"}, "comma"},
            {{"update", "cvipc.tar"}, ".deb"},
            {{"update", "cv\x01ipc.deb"}, "printable"},
            {{"update", "dir/"}, "no file"},
        };
        for (const auto &bad : cases) {
            const CommandLine line = parse(bad.arguments);
            QVERIFY2(line.outcome == CommandLine::Invalid && line.text.contains(QLatin1String(bad.complaint))
                         && line.text.contains(QStringLiteral("--help")), qPrintable(line.text));
        }
    }

    void linesAreCutAndRecognised()
    {
        LinkFormat::LineSplitter splitter;
        QCOMPARE(splitter.feed("PING\r\n~S,SRF"), QList<QByteArray>{"PING"});
        QCOMPARE(splitter.feed("IDRES,42\r\nA\nB\r"), (QList<QByteArray>{"~S,SRFIDRES,42", "A"}));
        QCOMPARE(splitter.feed("\n"), QList<QByteArray>{"B"});

        const struct { const char *line; int id; const char *payload; } replies[] = {
            {"PING", 999, "PING"},
            {"RUI2RES,U3", 23, "U3"},
            {"~U,ETHCONF,0,x,y,z,m", 16, "0,x,y,z,m"},
            {" SIRES,A", -1, ""},
        };
        for (const auto &reply : replies) {
            const LinkFormat::Reply parsed = LinkFormat::parseReply(reply.line);
            QCOMPARE(qMakePair(parsed.id, parsed.payload), qMakePair(reply.id, QString::fromLatin1(reply.payload)));
        }
    }

    void requestBytes()
    {
        QCOMPARE(Requests::queryBytes(findCommand(QStringLiteral("supply"))->queryItems),
                 QByteArray("~S,SRFIDREQ\r\n~S,R1RFIDREQ\r\n~S,R2RFIDREQ\r\n"));
        // One "RI1REQ" brings both ribbon IDs.
        QCOMPARE(Requests::queryBytes(findCommand(QStringLiteral("ribbons"))->queryItems),
                 QByteArray("~S,R1RFIDREQ\r\nRI1REQ\r\nRUI1REQ\r\n~S,R2RFIDREQ\r\nRUI2REQ\r\n"));

        const QByteArray content("E\r\n\x00\xff", 5);
        const QByteArray digest = QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex();
        QCOMPARE(Requests::transfer(QStringLiteral("cvipc_2.0.deb"), content),
                 "^XFER,cvipc_2.0.deb,5," + digest + "\r\n" + content);
    }

    void outputForAPerson()
    {
        // A value that is no number, and items that got no answer, are said so.
        const auto supply = findCommand(QStringLiteral("supply"))->queryItems;
        QCOMPARE(Requests::answerText(supply, {{4, "x"}}),
                 QStringLiteral("Supply:          ? (\"x\")\nRibbon 1:        no answer\nRibbon 2:        no answer"));
        // A short record never reads past its end.
        QCOMPARE(LinkFormat::networkText(QStringLiteral("0")).count(QLatin1Char('\n')), 4);
        QCOMPARE(Requests::answerText(findCommand(QStringLiteral("status"))->queryItems, {{7, "0"}}),
                 QStringLiteral("Printer status:  0 (ready)"));
        QVERIFY(LinkFormat::statusText(QStringLiteral("-3")).startsWith(QStringLiteral("-3 (fault")));

        QCOMPARE(LinkFormat::progressBar(-5, 10), QStringLiteral("[----------]   0 %"));
        QCOMPARE(LinkFormat::progressBar(250, 10), QStringLiteral("[##########] 100 %"));
        QSet<QString> meanings{LinkFormat::errorText(99)};
        for (int code : {1, 2, 3, 4, 15, 31, 32, 33, 34, 35, 36})
            meanings.insert(LinkFormat::errorText(code));
        QCOMPARE(meanings.size(), 12); // each its own, none the unknown one

        QCOMPARE(LinkFormat::watchLine(QDateTime(QDate(2024, 5, 1), QTime(13, 4, 5, 67)), "SIRES,A\x01\xe9"),
                 QStringLiteral("13:04:05.067  SIRES,A\\x01\\xe9"));
    }

    // Scripts get numbers as numbers and a missing answer as null.
    void outputForAScript()
    {
        const auto json = [](const char *command, const QHash<int, QString> &answers) {
            return QJsonDocument(Requests::answerJson(findCommand(QLatin1String(command))->queryItems, answers))
                .toJson(QJsonDocument::Compact);
        };
        QCOMPARE(json("supply", {{4, "42"}, {6, "x"}}), QByteArray(R"({"ribbon_1":null,"ribbon_2":null,"supply":42})"));
        QCOMPARE(json("status", {{7, "3"}}),
                 QByteArray(R"({"printer_status":3,"printer_status_text":"fault reported by the print engine"})"));
        QCOMPARE(json("version", {{11, "1.0,2.3,b"}}), QByteArray(R"({"engine":"2.3,b","package":"1.0"})"));
        QCOMPARE(json("network", {{16, "-1,a,,c"}}),
                 QByteArray(R"({"address":"a","extra":"","gateway":"c","mode":-1,"netmask":""})"));
        QCOMPARE(json("network", {}),
                 QByteArray(R"({"address":null,"extra":null,"gateway":null,"mode":null,"netmask":null})"));
        QCOMPARE(LinkFormat::watchJson(QDateTime(QDate(2024, 5, 1), QTime(13, 4, 5, 67)), "~S,STATUSRES,0"),
                 QByteArray(R"({"id":7,"line":"~S,STATUSRES,0","payload":"0","time":"2024-05-01T13:04:05.067"})"));
    }

    // The printer ends a job where its markers say and drops or mixes up
    // what does not fit: a file is cut as the printer counts, and one that
    // is not whole jobs is refused, saying why.
    void printFileIsCutIntoJobs()
    {
        const struct { QByteArray file; QList<QByteArray> jobs; const char *problem; } cases[] = {
            {"^K1a\r\nE\r\n^K5b\r\nE\r\nc\r\nE\r\n", {"^K1a\r\nE\r\n", "^K5b\r\nE\r\nc\r\nE\r\n"}, ""},
            {"^Z0^K5a\r\nE\r\n^K1b\r\nE\r\n", {"^Z0^K5a\r\nE\r\n", "^K1b\r\nE\r\n"}, ""},
            {"pre^K1^K5aE\r\n", {"pre^K1^K5aE\r\n"}, ""},                       // the first ^K decides
            {"^Z0^K1^Z1^K5aE\r\n", {"^Z0^K1^Z1^K5aE\r\n"}, ""},                 // unless ^Z0 came before
            {"^K5only one end\r\nE\r\n", {}, "only 1"},
            {"^K1a\r\nE\r\n\n", {"^K1a\r\nE\r\n"}, "1 bytes follow"},
            {"label text\r\n", {}, "no print job"},
            {"", {}, "no print job"},
            {"E\r\n^K1aE\r\n", {}, "before its job marker"},
            {"^K1aE\r\nbE\r\n", {"^K1aE\r\n"}, "job 2 has no job marker"},
            {"^K1aE\r\n^Z", {"^K1aE\r\n"}, "2 bytes follow"},
        };
        for (const auto &entry : cases) {
            const PrintJobs::Split split = PrintJobs::split(entry.file);
            QVERIFY2(qstrlen(entry.problem) == 0 ? split.problem.isEmpty()
                                                 : split.problem.contains(QLatin1String(entry.problem)),
                     qPrintable(entry.file + " -> " + split.problem));
            if (split.problem.isEmpty())
                QCOMPARE(split.jobs, entry.jobs);
        }
    }

    // A path that is no device (a file named by mistake) is never written.
    void onlyCharacterDevicesAreWritten()
    {
        QTemporaryDir dir;
        const QByteArray job("^K1label\r\nE\r\n");
        const QString victim = fileWith(dir, "victim.txt", "keep me");
        ToolRun print({"-d", victim, "print", fileWith(dir, "job.prn", job)});
        QVERIFY(print.finish());
        QCOMPARE(print.tool.exitCode(), 5);
        QVERIFY2(print.err.contains(QStringLiteral("no character device")), qPrintable(print.err));

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("BREVCTL_DEVICE"), victim);
        ToolRun query({"supply"}, {}, environment);
        QVERIFY(query.finish());
        QCOMPARE(query.tool.exitCode(), 5);
        QCOMPARE(fileContent(victim), QByteArray("keep me"));
    }

    // Jobs go one at a time: the next only once the printer answers a
    // query after the one before, and the tool returns only once it does
    // after the last, so nothing is sent while the printer does not read.
    void printSendsJobsOneAtATime()
    {
        QTemporaryDir dir;
        FakeGadget gadget;
        const QByteArray first("^K1first\r\nE\r\n");
        const QByteArray second("^K5second\r\nE\r\npart two\r\nE\r\n");
        ToolRun print(gadget, {"print", "-"}, first + second);
        const QByteArray probe = Requests::readingProbe();
        // Unanswered, the tool asks again; the second job still waits.
        QTRY_COMPARE_WITH_TIMEOUT(gadget.received(), first + probe + probe, 30000);
        QVERIFY(gadget.send("~U,SOFTVER,1.0,2.3\r\n"));
        QTRY_VERIFY_WITH_TIMEOUT(gadget.received().endsWith(second + probe), 30000);
        QCOMPARE(print.tool.state(), QProcess::Running);
        QVERIFY(gadget.send("~S,STATUSRES,0\r\n"));
        QVERIFY(print.finish());
        QCOMPARE(print.tool.exitCode(), 0);
        QVERIFY2(print.out.contains(QStringLiteral("2 jobs")), qPrintable(print.out));

        // A file that is not whole jobs: nothing is sent, and the reason is told.
        ToolRun partial(gadget, {"print", fileWith(dir, "partial.prn", "^K5one end\r\nE\r\n")});
        QVERIFY(partial.finish());
        QCOMPARE(partial.tool.exitCode(), 1);
        QVERIFY2(partial.err.contains(QStringLiteral("^K5")) && partial.err.contains(QStringLiteral("--raw")),
                 qPrintable(partial.err));
        // Told to, it goes as it is, without waiting.
        gadget.clearReceived();
        ToolRun raw(gadget, {"print", "--raw", "-q", fileWith(dir, "raw.prn", "plain text")});
        QVERIFY(raw.finish());
        QCOMPARE(raw.tool.exitCode(), 0);
        QCOMPARE(raw.out, QString());
        QTRY_COMPARE_WITH_TIMEOUT(gadget.received(), QByteArray("plain text"), 10000);
    }

    // A printer that takes nothing makes every sending command give up after
    // the timeout, saying how far it got, instead of hanging.
    void sendingGivesUpWhenThePrinterTakesNothing()
    {
        QTemporaryDir dir;
        FakeGadget gadget;
        gadget.setReading(false);
        const QString job = fileWith(dir, "big.prn", "^K1" + printData(4 << 20) + "E\r\n");
        ToolRun print(gadget, {"print", "-t", "1", job});
        QVERIFY(print.finish());
        QCOMPARE(print.tool.exitCode(), 3);
        QVERIFY2(print.err.contains(QStringLiteral("took no data for 1 s")), qPrintable(print.err));
        QVERIFY2(print.err.contains(QStringLiteral("Sending the job:")), qPrintable(print.err)); // progress shown
    }

    // An update is checked before it is sent; it then shows the transfer
    // moving, up to its whole size, and the installer's progress.
    void updateChecksThenShowsTransferAndInstallation()
    {
        QTemporaryDir dir;
        FakeGadget gadget;
        ToolRun fake(gadget, {"update", fileWith(dir, "cvipc_2.0.deb", "no package")});
        QVERIFY(fake.finish());
        QCOMPARE(fake.tool.exitCode(), 1);
        QVERIFY2(fake.err.contains(QStringLiteral("no Debian package")), qPrintable(fake.err));
        QCOMPARE(gadget.unreadByHost() + gadget.received().size(), 0);

        const QString package = buildPackage(dir, QStringLiteral("cvipc_2.0_all.deb"), 300000);
        QVERIFY(!package.isEmpty());
        const QByteArray transfer = Requests::transfer(QStringLiteral("cvipc_2.0_all.deb"), fileContent(package));
        ToolRun update(gadget, {"update", package});
        QTRY_COMPARE_WITH_TIMEOUT(gadget.received().size(), transfer.size(), 30000);
        QVERIFY(gadget.send("~U,PROGRESS,50\r\n~U,PROGRESS,100\r\n"));
        QVERIFY(update.finish());
        QCOMPARE(update.tool.exitCode(), 0);
        QVERIFY(update.out.contains(QStringLiteral("Update installed.")));

        const QStringList lines = update.err.split(QLatin1Char('\n'));
        const QString whole = LinkFormat::transferText(QStringLiteral("cvipc_2.0_all.deb"), transfer.size(),
                                                       transfer.size(), 0).section(QLatin1Char(','), 0, 0);
        const int sent = int(std::find_if(lines.begin(), lines.end(),
                                          [&](const QString &line) { return line.startsWith(whole); }) - lines.begin());
        QVERIFY2(sent >= 2 && sent < lines.size(), qPrintable(update.err)); // earlier steps shown too
        QCOMPARE(lines.mid(sent + 1, 2), QStringList({LinkFormat::progressBar(50), LinkFormat::progressBar(100)}));
    }

    // Interrupted mid-file, the printer would take the next command as file
    // data: the tool keeps the device until the printer gives the file up.
    void interruptedUpdateHoldsTheDeviceUntilThePrinterGivesUp()
    {
        QTemporaryDir dir;
        FakeGadget gadget;
        gadget.setReading(false);
        const QString package = buildPackage(dir, QStringLiteral("cvipc_3.0_all.deb"), 2 << 20);
        QVERIFY(!package.isEmpty());
        ToolRun update(gadget, {"update", package});
        QVERIFY(update.tool.waitForStarted(30000));
        QTRY_VERIFY_WITH_TIMEOUT(gadget.unreadByHost() > 0, 30000);
        ::kill(pid_t(update.tool.processId()), SIGINT);
        QByteArray told;
        QTRY_VERIFY_WITH_TIMEOUT((told += update.tool.readAllStandardError()).contains("holding the device"), 30000);
        QVERIFY(locksHeldBy(QByteArray::number(update.tool.processId())) > 0);
        QVERIFY(gadget.send("~U,ERROR,34\r\n"));
        QVERIFY(update.finish());
        QCOMPARE(update.tool.exitCode(), 130);
        QVERIFY2(update.err.contains(QStringLiteral("gave up the file")), qPrintable(update.err));

        // A second Ctrl-C leaves at once, saying how long to wait.
        FakeGadget quiet;
        quiet.setReading(false);
        ToolRun impatient(quiet, {"update", package});
        QVERIFY(impatient.tool.waitForStarted(30000));
        QTRY_VERIFY_WITH_TIMEOUT(quiet.unreadByHost() > 0, 30000);
        ::kill(pid_t(impatient.tool.processId()), SIGINT);
        told.clear();
        QTRY_VERIFY_WITH_TIMEOUT((told += impatient.tool.readAllStandardError()).contains("holding the device"), 30000);
        ::kill(pid_t(impatient.tool.processId()), SIGINT);
        QVERIFY(impatient.finish());
        QCOMPARE(impatient.tool.exitCode(), 130);
        QVERIFY2(impatient.err.contains(QStringLiteral("before the next command")), qPrintable(impatient.err));
    }

    // Settings are confirmed, not just sent: the network configuration by
    // what the printer reports back, the ship value by an answer after it.
    void settingsSayWhatWasConfirmed()
    {
        FakeGadget gadget;
        const QStringList network{"set-network", "1", "192.168.1.20", "255.255.255.0", "192.168.1.1"};
        ToolRun confirmed(gadget, network);
        QTRY_VERIFY_WITH_TIMEOUT(gadget.received().endsWith("~U,ETHCONF\r\n"), 30000);
        QVERIFY(gadget.send("~U,ETHCONF,1,192.168.1.20,255.255.255.0,192.168.1.1,\r\n"));
        QVERIFY(confirmed.finish());
        QCOMPARE(confirmed.tool.exitCode(), 0);
        QVERIFY2(confirmed.out.contains(QStringLiteral("Confirmed")), qPrintable(confirmed.out));

        gadget.clearReceived();
        ToolRun differs(gadget, network);
        QTRY_VERIFY_WITH_TIMEOUT(gadget.received().endsWith("~U,ETHCONF\r\n"), 30000);
        QVERIFY(gadget.send("~U,ETHCONF,0,,,,\r\n"));
        QVERIFY(differs.finish());
        QCOMPARE(differs.tool.exitCode(), 4);

        ToolRun unanswered(gadget, {"set-ship", "-t", "1", "3"});
        QVERIFY(unanswered.finish());
        QCOMPARE(unanswered.tool.exitCode(), 3);
        QVERIFY2(unanswered.err.contains(QStringLiteral("not confirmed")), qPrintable(unanswered.err));

        gadget.clearReceived();
        ToolRun ship(gadget, {"set-ship", "3"});
        QTRY_VERIFY_WITH_TIMEOUT(gadget.received() == "^SETCVSHIP,3\r\n" + Requests::readingProbe(), 30000);
        QVERIFY(gadget.send("~S,STATUSRES,0\r\n"));
        QVERIFY(ship.finish());
        QCOMPARE(ship.tool.exitCode(), 0);
    }

    // Two programs reading one link would split its lines: a second run is
    // refused at once and told which program holds the device.
    void secondRunIsRefused()
    {
        FakeGadget gadget;
        ToolRun watch(gadget, {"watch", "--json"});
        QVERIFY(watch.tool.waitForStarted(10000));
        const QByteArray pid = QByteArray::number(watch.tool.processId());
        QTRY_VERIFY_WITH_TIMEOUT(locksHeldBy(pid) > 0, 30000);
        ToolRun status(gadget, {"status", "-t", "30"});
        QVERIFY(status.finish());
        QCOMPARE(status.tool.exitCode(), 2);
        const QString refusal = status.err;
        const QString holder = QStringLiteral("pid ") + QLatin1String(pid);
        QVERIFY2(refusal.contains(holder), qPrintable(refusal));
        // Ctrl-C ends watch as a success.
        QVERIFY(gadget.send("SIRES,S1\r\n"));
        QByteArray shown;
        QTRY_VERIFY_WITH_TIMEOUT((shown += watch.tool.readAllStandardOutput()).contains(R"("line":"SIRES,S1")"),
                                 30000);
        ::kill(pid_t(watch.tool.processId()), SIGINT);
        QVERIFY(watch.finish());
        QCOMPARE(watch.tool.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(BrevctlTest)
#include "tst_brevctl.moc"
