#include "commandline.h"
#include "commandtable.h"
#include "fakegadget.h"
#include "linkformat.h"
#include "requests.h"
#include "testenv.h"

#include <QtTest>

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
    explicit ToolRun(FakeGadget &gadget, const QStringList &arguments)
    {
        tool.start(QStringLiteral(BREVCTL), QStringList{QStringLiteral("-d"), gadget.devicePath()} + arguments);
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
    return writeFile(dir.filePath(name), content) ? dir.filePath(name) : QString();
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
        const CommandLine line = parse({"watch", "-d", "/tmp/host", "--timeout", "2.5", "-v"});
        QCOMPARE(line.device, QStringLiteral("/tmp/host"));
        QCOMPARE(line.timeoutMs, 2500);
        QVERIFY(line.verbose);

        // After "--" a negative mode is no option.
        const CommandLine negative = parse({"set-network", "--", "-1", "a", "b", "c"});
        QCOMPARE(Requests::setNetwork(negative.arguments), QByteArray("^SETETHCONF,-1,a,b,c\r\n"));
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
            {{"set-ship", "x"}, "not an integer"},
            {{"set-network", "dhcp", "a", "b", "c"}, "not an integer"},
            {{"set-network", "1", "a,b", "c", "d"}, "comma"},
            {{"update", "dir/a,b.deb"}, "comma"},
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

        QCOMPARE(LinkFormat::progressBar(-5, 10), QStringLiteral("[----------]   0 %"));
        QCOMPARE(LinkFormat::progressBar(250, 10), QStringLiteral("[##########] 100 %"));
        QSet<QString> meanings{LinkFormat::errorText(99)};
        for (int code : {1, 2, 3, 4, 15, 31, 32, 33, 34, 35, 36})
            meanings.insert(LinkFormat::errorText(code));
        QCOMPARE(meanings.size(), 12); // each its own, none the unknown one

        QCOMPARE(LinkFormat::watchLine(QDateTime(QDate(2024, 5, 1), QTime(13, 4, 5, 67)), "SIRES,A\x01\xe9"),
                 QStringLiteral("13:04:05.067  SIRES,A\\x01\\xe9"));
    }

    // A file without job markers would silently become the start of the
    // next job: it is refused and nothing is sent. A whole job goes as it is.
    void printSendsOnlyWholeJobs()
    {
        QTemporaryDir dir;
        FakeGadget gadget;
        ToolRun plain(gadget, {"print", fileWith(dir, "plain.txt", "label text\r\n")});
        QVERIFY(plain.finish());
        QCOMPARE(plain.tool.exitCode(), 1);
        QVERIFY(plain.err.contains(QStringLiteral("^K1")));

        const QByteArray job("^K1label text\r\nE\r\n");
        ToolRun whole(gadget, {"print", fileWith(dir, "job.prn", job)});
        QVERIFY(whole.finish());
        QCOMPARE(whole.tool.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(gadget.received(), job, 10000);
    }

    // An update shows the transfer moving, up to its whole size, and then the
    // installer's progress until it is done.
    void updateShowsTransferThenInstallation()
    {
        QTemporaryDir dir;
        FakeGadget gadget;
        const QByteArray content(300000, 'u');
        const QString file = fileWith(dir, "cvipc_2.0.deb", content);
        const QByteArray transfer = Requests::transfer(QStringLiteral("cvipc_2.0.deb"), content);
        ToolRun update(gadget, {"update", file});
        QTRY_COMPARE_WITH_TIMEOUT(gadget.received().size(), transfer.size(), 30000);
        QVERIFY(gadget.send("~U,PROGRESS,50\r\n~U,PROGRESS,100\r\n"));
        QVERIFY(update.finish());
        QCOMPARE(update.tool.exitCode(), 0);

        const QStringList lines = update.out.split(QLatin1Char('\n'));
        const QString whole = LinkFormat::transferText(QStringLiteral("cvipc_2.0.deb"), transfer.size(),
                                                       transfer.size(), 0).section(QLatin1Char(','), 0, 0);
        const int sent = int(std::find_if(lines.begin(), lines.end(),
                                          [&](const QString &line) { return line.startsWith(whole); }) - lines.begin());
        QVERIFY2(sent >= 2 && sent < lines.size(), qPrintable(update.out)); // earlier steps shown too
        QCOMPARE(lines.mid(sent + 1, 2), QStringList({LinkFormat::progressBar(50), LinkFormat::progressBar(100)}));
    }

    // Two programs reading one link would split its lines: a second run is
    // refused at once and told which program holds the device.
    void secondRunIsRefused()
    {
        FakeGadget gadget;
        ToolRun watch(gadget, {"watch"});
        QVERIFY(watch.tool.waitForStarted(10000));
        const QByteArray pid = QByteArray::number(watch.tool.processId());
        QTRY_VERIFY_WITH_TIMEOUT(locksHeldBy(pid) > 0, 30000);
        ToolRun status(gadget, {"status", "-t", "30"});
        QVERIFY(status.finish());
        QCOMPARE(status.tool.exitCode(), 2);
        const QString refusal = status.err;
        const QString holder = QStringLiteral("pid ") + QLatin1String(pid);
        QVERIFY2(refusal.contains(holder), qPrintable(refusal));
        watch.tool.kill();
        QVERIFY(watch.tool.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(BrevctlTest)
#include "tst_brevctl.moc"
