#include "commandline.h"
#include "linkformat.h"
#include "requests.h"

#include <QtTest>

static CommandLine parse(const QStringList &arguments)
{
    return parseCommandLine(QStringList{QStringLiteral("brevctl")} + arguments);
}

class BrevctlTest : public QObject
{
    Q_OBJECT

private slots:
    void defaultsAndOptions()
    {
        const CommandLine defaults = parse({"supply"});
        QCOMPARE(defaults.device, QStringLiteral("/dev/usb/lp0"));
        QCOMPARE(defaults.timeoutMs, 5000);
        QCOMPARE(parse({"update", "file.deb"}).timeoutMs, 120000);

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

    void helpForAllAndForEachCommand()
    {
        const CommandLine general = parse({"--help"});
        for (const char *command : {"supply", "ribbons", "status", "ids", "uids", "version", "network", "print",
                                    "update", "set-network", "set-ship", "watch"}) {
            QVERIFY2(general.text.contains(QLatin1String(command)), command);
            const CommandLine own = parse({command, "-h"});
            QCOMPARE(own.outcome, CommandLine::ShowHelp); // before the argument checks: "update -h" needs no file
            QVERIFY(own.text.startsWith(QStringLiteral("Usage: brevctl [options] ") + QLatin1String(command)));
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
        QCOMPARE(Requests::queryBytes(Requests::queryItems(QStringLiteral("supply"))),
                 QByteArray("~S,SRFIDREQ\r\n~S,R1RFIDREQ\r\n~S,R2RFIDREQ\r\n"));
        // One "RI1REQ" brings both ribbon IDs.
        QCOMPARE(Requests::queryBytes(Requests::queryItems(QStringLiteral("ribbons"))),
                 QByteArray("~S,R1RFIDREQ\r\nRI1REQ\r\nRUI1REQ\r\n~S,R2RFIDREQ\r\nRUI2REQ\r\n"));

        const QByteArray content("E\r\n\x00\xff", 5);
        const QByteArray digest = QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex();
        QCOMPARE(Requests::transfer(QStringLiteral("cvipc_2.0.deb"), content),
                 "^XFER,cvipc_2.0.deb,5," + digest + "\r\n" + content);
    }

    void outputForAPerson()
    {
        const auto supply = Requests::queryItems(QStringLiteral("supply"));
        QCOMPARE(Requests::answerText(supply, {{4, "42"}, {5, "0"}, {6, "-1"}}),
                 QStringLiteral("Supply:          42 %\nRibbon 1:        0 %\nRibbon 2:        -1 %"));
        QCOMPARE(Requests::answerText(supply, {{4, "x"}}),
                 QStringLiteral("Supply:          ? (\"x\")\nRibbon 1:        no answer\nRibbon 2:        no answer"));
        QCOMPARE(Requests::answerText(Requests::queryItems(QStringLiteral("version")), {{11, "1.0,2.3"}}),
                 QStringLiteral("Software package: 1.0\nPrint engine:     2.3"));
        QCOMPARE(LinkFormat::networkText(QStringLiteral("1,a,b,c,m")),
                 QStringLiteral("Mode:       1\nSetting A:  a\nSetting B:  b\nSetting C:  c\nExtra:      m"));
        // A short record never reads past its end.
        QCOMPARE(LinkFormat::networkText(QStringLiteral("0")).count(QLatin1Char('\n')), 4);

        QCOMPARE(LinkFormat::progressBar(-5, 10), QStringLiteral("[----------]   0 %"));
        QCOMPARE(LinkFormat::progressBar(45, 10), QStringLiteral("[####------]  45 %"));
        QCOMPARE(LinkFormat::progressBar(250, 10), QStringLiteral("[##########] 100 %"));
        QVERIFY(LinkFormat::errorMeaning(15).contains(QStringLiteral("digest")));
        QSet<QString> meanings{LinkFormat::errorMeaning(99)};
        for (int code : {1, 2, 3, 15, 31, 32, 33, 34, 35})
            meanings.insert(LinkFormat::errorMeaning(code));
        QCOMPARE(meanings.size(), 10); // each its own, none the unknown one

        QCOMPARE(LinkFormat::watchLine(QDateTime(QDate(2024, 5, 1), QTime(13, 4, 5, 67)), "SIRES,A\x01\xe9"),
                 QStringLiteral("13:04:05.067  SIRES,A\\x01\\xe9"));
    }
};

QTEST_GUILESS_MAIN(BrevctlTest)
#include "tst_brevctl.moc"
