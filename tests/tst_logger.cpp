#include "testenv.h"

#include <logger.h>

#include <QtTest>

#include <sys/stat.h>

namespace {

const char childOption[] = "--log-two-lines";

// In the child: the process's logger, then a fault, a plain message and one
// carrying a line end and a journal priority, as a host could send them.
int logTwoLines(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    setupLogger();
    qWarning() << "Error opening gadget:" << 19;
    qDebug() << "Enable read of next job";
    qWarning("md5 check failed: %s", "\n<0>forged\tentry");
    return 0;
}

} // namespace

class LoggerTest : public QObject
{
    Q_OBJECT

private slots:
    // Under systemd (its journal stream on standard error) each line carries
    // its priority and no time stamp of its own, faults as warnings; a stream
    // that is not the journal's, or none, gets time-stamped lines. Either
    // way one message is one line: control characters in it are escaped.
    void linesForTheJournalOrATerminal_data()
    {
        QTest::addColumn<QString>("journalStream"); // "self": the file's own
        QTest::addColumn<QRegularExpression>("lines");
        const QRegularExpression journal(QStringLiteral(
            "^<4>Error opening gadget: 19\n<7>Enable read of next job\n"
            "<4>md5 check failed: \\\\n<0>forged\\\\x09entry\n$"));
        const QString stamp = QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} ");
        const QRegularExpression stamped(QStringLiteral("^%1warning: Error opening gadget: 19\n"
                                                        "%1debug: Enable read of next job\n"
                                                        "%1warning: md5 check failed: \\\\n<0>forged\\\\x09entry\n$")
                                             .arg(stamp));
        QTest::newRow("journal") << QStringLiteral("self") << journal;
        QTest::newRow("another stream") << QStringLiteral("1:1") << stamped;
        QTest::newRow("no journal") << QString() << stamped;
    }

    void linesForTheJournalOrATerminal()
    {
        QFETCH(QString, journalStream);
        QFETCH(QRegularExpression, lines);
        QTemporaryDir dir;
        const QString log = dir.filePath(QStringLiteral("log"));
        QFile(log).open(QIODevice::WriteOnly);
        struct stat file;
        QCOMPARE(::stat(qPrintable(log), &file), 0);

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("JOURNAL_STREAM"));
        if (journalStream == QLatin1String("self"))
            journalStream = QStringLiteral("%1:%2").arg(file.st_dev).arg(file.st_ino);
        if (!journalStream.isEmpty())
            environment.insert(QStringLiteral("JOURNAL_STREAM"), journalStream);
        QProcess child;
        child.setProcessEnvironment(environment);
        child.setStandardErrorFile(log);
        child.start(QCoreApplication::applicationFilePath(), {QLatin1String(childOption)});
        QVERIFY(child.waitForFinished(30000));
        const QString text = QString::fromLocal8Bit(fileContent(log));
        QVERIFY2(lines.match(text).hasMatch(), qPrintable(text));
    }
};

int main(int argc, char *argv[])
{
    if (argc == 2 && qstrcmp(argv[1], childOption) == 0)
        return logTwoLines(argc, argv);
    QCoreApplication app(argc, argv);
    LoggerTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_logger.moc"
