#include "commandline.h"
#include "linkformat.h"
#include "requests.h"

#include <QCryptographicHash>
#include <QtTest>

class BrevctlTest : public QObject
{
    Q_OBJECT

private:
    static CommandLine parse(const QStringList &arguments)
    {
        return parseCommandLine(QStringList{QStringLiteral("brevctl")} + arguments);
    }

private slots:
    void optionsAnywhereAndDefaults()
    {
        const CommandLine defaults = parse({"supply"});
        QCOMPARE(defaults.outcome, CommandLine::Run);
        QCOMPARE(defaults.device, QStringLiteral("/dev/usb/lp0"));
        QCOMPARE(defaults.timeoutMs, 5000);
        QCOMPARE(parse({"update", "file.deb"}).timeoutMs, 120000);

        const CommandLine line = parse({"watch", "-d", "/tmp/host", "--timeout", "2.5", "-v"});
        QCOMPARE(line.outcome, CommandLine::Run);
        QCOMPARE(line.command, QStringLiteral("watch"));
        QCOMPARE(line.device, QStringLiteral("/tmp/host"));
        QCOMPARE(line.timeoutMs, 2500);
        QVERIFY(line.verbose);
    }

    void badArgumentsAreRefused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("complaint");
        QTest::newRow("no command") << QStringList{} << "No command given";
        QTest::newRow("unknown command") << QStringList{"suply"} << "Unknown command \"suply\"";
        QTest::newRow("unknown option") << QStringList{"supply", "--fast"} << "fast";
        QTest::newRow("missing file") << QStringList{"print"} << "print FILE";
        QTest::newRow("extra argument") << QStringList{"status", "now"} << "status";
        QTest::newRow("zero timeout") << QStringList{"status", "-t", "0"} << "positive";
        QTest::newRow("word timeout") << QStringList{"status", "-t", "soon"} << "positive";
        QTest::newRow("ship not a number") << QStringList{"set-ship", "x"} << "not an integer";
        QTest::newRow("mode not a number") << QStringList{"set-network", "dhcp", "a", "b", "c"} << "not an integer";
        QTest::newRow("comma in a text") << QStringList{"set-network", "1", "a,b", "c", "d"} << "comma";
        QTest::newRow("comma in a file name") << QStringList{"update", "dir/a,b.deb"} << "comma";
    }

    void badArgumentsAreRefused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, complaint);
        const CommandLine line = parse(arguments);
        QCOMPARE(line.outcome, CommandLine::Invalid);
        QVERIFY2(line.text.contains(complaint), qPrintable(line.text));
        QVERIFY(line.text.contains(QStringLiteral("--help")));
    }

    void negativeModeAfterDoubleDash()
    {
        const CommandLine line = parse({"set-network", "--", "-1", "a", "b", "c"});
        QCOMPARE(line.outcome, CommandLine::Run);
        QCOMPARE(Requests::setNetwork(line.arguments), QByteArray("^SETETHCONF,-1,a,b,c\r\n"));
    }

    void helpForAllAndForEachCommand()
    {
        const CommandLine general = parse({"--help"});
        QCOMPARE(general.outcome, CommandLine::ShowHelp);
        for (const char *command : {"supply", "ribbons", "status", "ids", "uids", "version", "network", "print",
                                    "update", "set-network", "set-ship", "watch"}) {
            QVERIFY2(general.text.contains(QLatin1String(command)), command);
            const CommandLine own = parse({command, "-h"});
            QCOMPARE(own.outcome, CommandLine::ShowHelp);
            QVERIFY(own.text.startsWith(QStringLiteral("Usage: brevctl [options] ") + QLatin1String(command)));
        }
        // Help comes before argument checks: "update --help" needs no file.
        QVERIFY(parse({"update", "--help"}).text.contains(QStringLiteral("MD5")));
    }

    void linesAreCutAtLineEnds()
    {
        LinkFormat::LineSplitter splitter;
        QCOMPARE(splitter.feed("PI"), QList<QByteArray>{});
        QCOMPARE(splitter.feed("NG\r\n~S,SRF"), QList<QByteArray>{"PING"});
        QCOMPARE(splitter.feed("IDRES,42\r\nA\nB\r"), (QList<QByteArray>{"~S,SRFIDRES,42", "A"}));
        QCOMPARE(splitter.feed("\n"), QList<QByteArray>{"B"});
    }

    void repliesAreRecognisedByPrefix_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("payload");
        QTest::newRow("keep-alive") << QByteArray("PING") << 999 << "PING";
        QTest::newRow("supply ID") << QByteArray("SIRES,ABC") << 1 << "ABC";
        QTest::newRow("supply UID") << QByteArray("SUIRES,U1") << 21 << "U1";
        QTest::newRow("ribbon 2 UID") << QByteArray("RUI2RES,U3") << 23 << "U3";
        QTest::newRow("ribbon 2 level") << QByteArray("~S,R2RFIDRES,7") << 6 << "7";
        QTest::newRow("negative status") << QByteArray("~S,STATUSRES,-3") << 7 << "-3";
        QTest::newRow("empty payload") << QByteArray("~U,PROGRESS,") << 12 << "";
        QTest::newRow("network with commas") << QByteArray("~U,ETHCONF,0,x,y,z,m") << 16 << "0,x,y,z,m";
        QTest::newRow("foreign line") << QByteArray("HELLO") << -1 << "";
        QTest::newRow("prefix not at the start") << QByteArray(" SIRES,A") << -1 << "";
    }

    void repliesAreRecognisedByPrefix()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, id);
        QFETCH(QString, payload);
        const LinkFormat::Reply reply = LinkFormat::parseReply(line);
        QCOMPARE(reply.id, id);
        QCOMPARE(reply.payload, payload);
    }

    void queriesAskEachRequestOnce()
    {
        QCOMPARE(Requests::queryBytes(Requests::queryItems(QStringLiteral("supply"))),
                 QByteArray("~S,SRFIDREQ\r\n~S,R1RFIDREQ\r\n~S,R2RFIDREQ\r\n"));
        // One "RI1REQ" brings both ribbon IDs.
        QCOMPARE(Requests::queryBytes(Requests::queryItems(QStringLiteral("ids"))), QByteArray("SIREQ\r\nRI1REQ\r\n"));
        QCOMPARE(Requests::queryBytes(Requests::queryItems(QStringLiteral("uids"))),
                 QByteArray("SUIREQ\r\nRUI1REQ\r\nRUI2REQ\r\n"));
        QCOMPARE(Requests::queryBytes(Requests::queryItems(QStringLiteral("network"))), QByteArray("~U,ETHCONF\r\n"));
        QVERIFY(Requests::queryItems(QStringLiteral("watch")).isEmpty());
    }

    void answersAreShownReadably()
    {
        const auto supply = Requests::queryItems(QStringLiteral("supply"));
        QCOMPARE(Requests::answerText(supply, {{4, "42"}, {5, "0"}, {6, "-1"}}),
                 QStringLiteral("Supply:          42 %\nRibbon 1:        0 %\nRibbon 2:        -1 %"));
        QCOMPARE(Requests::answerText(supply, {{4, "x"}}),
                 QStringLiteral("Supply:          ? (\"x\")\nRibbon 1:        no answer\nRibbon 2:        no answer"));
        QCOMPARE(Requests::answerText(Requests::queryItems(QStringLiteral("version")), {{11, "1.0,2.3"}}),
                 QStringLiteral("Software package: 1.0\nPrint engine:     2.3"));
        QCOMPARE(LinkFormat::versionText(QStringLiteral(",")), QStringLiteral("Software package: \nPrint engine:     "));
        QCOMPARE(LinkFormat::networkText(QStringLiteral("1,a,b,c,m")),
                 QStringLiteral("Mode:       1\nSetting A:  a\nSetting B:  b\nSetting C:  c\nExtra:      m"));
        // A short record never reads past its end.
        QCOMPARE(LinkFormat::networkText(QStringLiteral("0")).count(QLatin1Char('\n')), 4);
    }

    void progressBarIsBounded()
    {
        QCOMPARE(LinkFormat::progressBar(0, 10), QStringLiteral("[----------]   0 %"));
        QCOMPARE(LinkFormat::progressBar(45, 10), QStringLiteral("[####------]  45 %"));
        QCOMPARE(LinkFormat::progressBar(100, 10), QStringLiteral("[##########] 100 %"));
        QCOMPARE(LinkFormat::progressBar(250, 10), QStringLiteral("[##########] 100 %"));
        QCOMPARE(LinkFormat::progressBar(-5, 10), QStringLiteral("[----------]   0 %"));
    }

    void errorCodesHaveMeanings()
    {
        QVERIFY(LinkFormat::errorMeaning(15).contains(QStringLiteral("digest")));
        QVERIFY(LinkFormat::errorMeaning(1).contains(QStringLiteral("no package")));
        QVERIFY(LinkFormat::errorMeaning(3).contains(QStringLiteral("failed")));
        QVERIFY(LinkFormat::errorMeaning(34).contains(QStringLiteral("complete")));
        QCOMPARE(LinkFormat::errorMeaning(99), QStringLiteral("unknown error"));
        QSet<QString> meanings;
        for (int code : {1, 2, 3, 15, 31, 32, 33, 34, 35})
            meanings.insert(LinkFormat::errorMeaning(code));
        QCOMPARE(meanings.size(), 9);
    }

    void transferCarriesSizeAndDigest()
    {
        const QByteArray content("E\r\n\x00\xff", 5);
        const QByteArray bytes = Requests::transfer(QStringLiteral("cvipc_2.0.deb"), content);
        const QByteArray digest = QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex();
        QCOMPARE(bytes, "^XFER,cvipc_2.0.deb,5," + digest + "\r\n" + content);
        QCOMPARE(Requests::setShip(QStringLiteral("3")), QByteArray("^SETCVSHIP,3\r\n"));
    }

    void watchShowsTimeAndEscapes()
    {
        const QDateTime when(QDate(2024, 5, 1), QTime(13, 4, 5, 67));
        QCOMPARE(LinkFormat::watchLine(when, QByteArray("SIRES,A\x01\xe9", 9)),
                 QStringLiteral("13:04:05.067  SIRES,A\\x01\\xe9"));
    }
};

QTEST_GUILESS_MAIN(BrevctlTest)
#include "tst_brevctl.moc"
