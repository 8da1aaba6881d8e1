#include "daemon/brevdaemon.h"
#include "fakegadget.h"
#include "privatebus.h"
#include "simulator.h"
#include "testenv.h"

#include <QtTest>

#include <atomic>
#include <functional>
#include <thread>
#include <unistd.h>

namespace {

constexpr int lineWaitMs = 15000;
const QByteArray startUpdater = "^UPDATE\r\n";

// A daemon on a fake gadget in a scratch world; `adjust` changes its settings.
struct Link
{
    explicit Link(const std::function<void(DaemonSettings &)> &adjust = {})
        : daemon(settingsFor(adjust))
    {
    }

    DaemonSettings settingsFor(const std::function<void(DaemonSettings &)> &adjust) const
    {
        DaemonSettings settings = env.settings(gadget.devicePath());
        if (adjust)
            adjust(settings);
        return settings;
    }

    QByteArray updateFile(const QString &name) const
    {
        QFile file(env.updateDir() + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    TestEnv env;
    FakeGadget gadget;
    Brevdaemon daemon;
};

QByteArray md5Hex(const QByteArray &content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex();
}

QByteArray transfer(const QByteArray &name, const QByteArray &content, const QByteArray &digestHex)
{
    return "^XFER," + name + ',' + QByteArray::number(content.size()) + ',' + digestHex + "\r\n" + content;
}

QByteArray transfer(const QByteArray &name, const QByteArray &content)
{
    return transfer(name, content, md5Hex(content));
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

// Sends bytes in pieces with a pause before each but the first, from a
// thread of its own; gives up once destroyed.
class PacedHost
{
public:
    PacedHost(int fd, const QByteArray &bytes, int pieces)
        : m_thread([this, fd, bytes, pieces] { send(fd, bytes, pieces); })
    {
    }

    ~PacedHost()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    void send(int fd, const QByteArray &bytes, int pieces)
    {
        const int piece = bytes.size() / pieces + 1;
        for (int at = 0; at < bytes.size() && !m_stop; at += piece) {
            if (at > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const int end = std::min(at + piece, bytes.size());
            for (int sent = at; sent < end && !m_stop;) {
                const ssize_t count = ::write(fd, bytes.constData() + sent, size_t(end - sent));
                if (count > 0)
                    sent += int(count);
                else
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
    }

    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The command right after the file is recognised, none inside it; and the
// file's bytes after the first read went neither to the job file.
void verifyFileTakenFromThePort(Link &link)
{
    QTRY_COMPARE_WITH_TIMEOUT(link.env.calls(QStringLiteral("Fenwick")).size(), 1, lineWaitMs);
    link.gadget.waitSent();
    QVERIFY(link.env.jobFile().size() < 1024);
}

// Rewrites the package database so that "cvipc" is not installed.
bool listOnlyAnotherPackage(const TestEnv &env)
{
    QFile status(env.path(QStringLiteral("apt/status")));
    if (!status.open(QIODevice::ReadWrite))
        return false;
    const QByteArray listed = status.readAll().replace("Package: cvipc", "Package: cvother");
    status.resize(0);
    return status.write(listed) == listed.size();
}

// A host command sent after a transfer still reaches the dispatcher.
void verifyStillServing(Link &link, int updaterStartsBefore = 0)
{
    QVERIFY(link.gadget.send(startUpdater));
    QTRY_COMPARE_WITH_TIMEOUT(link.env.calls(QStringLiteral("Fenwick")).size(), updaterStartsBefore + 1, lineWaitMs);
}

} // namespace

class SoftwareUpdateTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_bus.start());
    }

    void updaterStartsDetachedEachTime()
    {
        Link link;
        QVERIFY(link.gadget.send(startUpdater + startUpdater));
        const QStringList twice{QStringLiteral("--internal-usb"), QStringLiteral("--internal-usb")};
        QTRY_COMPARE_WITH_TIMEOUT(link.env.calls(QStringLiteral("Fenwick")), twice, lineWaitMs);
    }

    void fileWithItsHeaderIsVerifiedWithoutReadingOn_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("file");
        const QByteArray content = "package bytes\r\nwith a line end";
        QTest::newRow("exact") << transfer("u.bin", content) << content;
        QTest::newRow("upper-case digest") << transfer("u.bin", content, md5Hex(content).toUpper()) << content;
        QTest::newRow("size 0") << transfer("u.bin", "", md5Hex("")) << QByteArray();
        QTest::newRow("size without digits") << QByteArray("^XFER,u.bin,none," + md5Hex("") + "\r\n") << QByteArray();
        // Every buffered byte after the header is content, also beyond the size.
        QTest::newRow("more than the size")
            << QByteArray("^XFER,u.bin,3," + md5Hex("abcdef") + "\r\nabcdef") << QByteArray("abcdef");
    }

    void fileWithItsHeaderIsVerifiedWithoutReadingOn()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, file);
        Link link;
        QVERIFY(link.gadget.send(bytes));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(installerFoundNothing), 1, lineWaitMs);
        QCOMPARE(link.updateFile(QStringLiteral("u.bin")), file);
        // A transfer still reading would take this command as file content.
        verifyStillServing(link);
    }

    void mismatchKeepsTheFileAndSkipsTheInstaller_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("file");
        const QByteArray content = "not what was announced";
        QTest::newRow("wrong digest") << transfer("u.deb", content, md5Hex("other")) << content;
        QTest::newRow("digest of the announced size only")
            << QByteArray("^XFER,u.deb,3," + md5Hex("abc") + "\r\nabcdef") << QByteArray("abcdef");
    }

    void mismatchKeepsTheFileAndSkipsTheInstaller()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, file);
        Link link;
        LogCapture log;
        QVERIFY(link.gadget.send(bytes));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(errorLine(15)), 1, lineWaitMs);
        QCOMPARE(link.updateFile(QStringLiteral("u.deb")), file);
        QCOMPARE(log.count(QStringLiteral("md5 check failed:")), 1);
        // The installer reports progress 0 as soon as it is called; that line
        // would have left in the same batch as the error.
        QVERIFY(!link.gadget.received().contains("~U,PROGRESS,"));
        QVERIFY(link.env.calls(QStringLiteral("dpkg")).isEmpty());
    }

    void fileSpreadOverManyReadsArrivesWhole()
    {
        Link link;
        const QByteArray content = largeContent(200 * 1024);
        link.gadget.sendFromThread(transfer("big.bin", content));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(installerFoundNothing), 1, lineWaitMs);
        link.gadget.waitSent();
        QVERIFY(link.updateFile(QStringLiteral("big.bin")) == content);
        verifyStillServing(link);
    }

    // The silence bound counts from the last bytes, not from the header.
    void slowHostIsWaitedFor()
    {
        Link link([](DaemonSettings &settings) { settings.transferSilenceMs = 3000; });
        // 12 pauses of 300 ms: longer in all than the bound.
        PacedHost host(link.gadget.masterFd(), transfer("slow.bin", largeContent(12 * 1024)), 13);
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(installerFoundNothing), 1, lineWaitMs);
        QCOMPARE(link.gadget.countLines(errorLine(34)), 0);
    }

    void matchingDigestInstallsTheUpdateDirectory()
    {
        Link link;
        QVERIFY(link.gadget.send(transfer("cvipc_2.0.deb", "a package")));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines("~U,PROGRESS,100\r\n"), 1, lineWaitMs);
        QCOMPARE(link.gadget.countLines("~U,PROGRESS,0\r\n"), 1);
        QCOMPARE(link.env.calls(QStringLiteral("dpkg")),
                 QStringList{"--force-downgrade --install " + link.env.updateDir() + "cvipc_2.0.deb"});
    }

    void installerFailureReachesTheHost()
    {
        Link link;
        link.env.setExitCode(QStringLiteral("dpkg"), 1);
        QVERIFY(link.gadget.send(transfer("cvipc_2.0.deb", "a broken package")));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(errorLine(3)), 1, lineWaitMs);
        QCOMPARE(link.gadget.countLines("~U,PROGRESS,100\r\n"), 0);
    }

    void headerNotWholeIsRefusedWithoutAFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("fewer than four fields") << QByteArray("^XFER,u.bin,3\r\nabc");
        QTest::newRow("no line end") << QByteArray("^XFER,u.bin,3,00");
    }

    void headerNotWholeIsRefusedWithoutAFile()
    {
        QFETCH(QByteArray, bytes);
        Link link;
        QVERIFY(link.gadget.send(bytes));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(errorLine(31)), 1, lineWaitMs);
        QVERIFY(QDir(link.env.updateDir()).isEmpty());
        verifyStillServing(link);
    }

    // A refused name's bytes are taken from the host and dropped, so that the
    // commands inside them are not run.
    void namesLeavingTheDirectoryAreRefused_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("parent") << QByteArray("../outside");
        QTest::newRow("subdirectory") << QByteArray("sub/outside");
        QTest::newRow("empty") << QByteArray();
    }

    void namesLeavingTheDirectoryAreRefused()
    {
        QFETCH(QByteArray, name);
        Link link;
        QVERIFY(QDir(link.env.updateDir()).mkdir(QStringLiteral("sub")));
        link.gadget.sendFromThread(transfer(name, largeContent(20 * 1024)) + startUpdater);
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(errorLine(32)), 1, lineWaitMs);
        verifyFileTakenFromThePort(link);
        QVERIFY(!QFile::exists(link.env.path(QStringLiteral("outside"))));
        QVERIFY(QDir(link.env.updateDir() + QStringLiteral("sub")).isEmpty());
        QCOMPARE(QDir(link.env.updateDir()).entryList(QDir::Files), QStringList());
    }

    // Tests run as root, so a file that cannot be created is one in a
    // directory that does not exist, or one whose name is a directory.
    void fileThatCannotBeCreatedTakesExactlyItsBytes_data()
    {
        QTest::addColumn<QString>("subdirectory");
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("missing directory") << QStringLiteral("missing/") << QByteArray("u.bin");
        QTest::newRow("name of a directory") << QString() << QByteArray("sub");
    }

    void fileThatCannotBeCreatedTakesExactlyItsBytes()
    {
        QFETCH(QString, subdirectory);
        QFETCH(QByteArray, name);
        Link link([&](DaemonSettings &settings) { settings.updateDir += subdirectory; });
        QVERIFY(QDir(link.env.updateDir()).mkdir(QStringLiteral("sub")));
        link.gadget.sendFromThread(transfer(name, largeContent(20 * 1024)) + startUpdater);
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(errorLine(33)), 1, lineWaitMs);
        verifyFileTakenFromThePort(link);
        QVERIFY(!QFile::exists(link.env.updateDir() + QStringLiteral("missing")));
        verifyStillServing(link, 1);
    }

    void silentHostEndsTheTransfer()
    {
        Link link;
        QVERIFY(link.gadget.send("^XFER,u.bin,5000," + md5Hex("x") + "\r\nonly the start"));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(errorLine(34)), 1, lineWaitMs);
        QCOMPARE(link.gadget.countLines(installerFoundNothing), 0);
        verifyStillServing(link);
    }

    void installerSignalsAreRelayed_data()
    {
        QTest::addColumn<QByteArray>("slot");
        QTest::addColumn<double>("value");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("progress rounds up") << QByteArray("updateProgress") << 99.6 << QByteArray("~U,PROGRESS,100\r\n");
        QTest::newRow("progress rounds down") << QByteArray("updateProgress") << 0.4 << QByteArray("~U,PROGRESS,0\r\n");
        QTest::newRow("negative error") << QByteArray("updateError") << -3.0 << errorLine(-3);
    }

    void installerSignalsAreRelayed()
    {
        QFETCH(QByteArray, slot);
        QFETCH(double, value);
        QFETCH(QByteArray, line);
        Link link;
        const bool invoked = slot == "updateProgress"
            ? QMetaObject::invokeMethod(&link.daemon, slot, Q_ARG(double, value))
            : QMetaObject::invokeMethod(&link.daemon, slot, Q_ARG(int, int(value)));
        QVERIFY(invoked);
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(line), 1, lineWaitMs);
    }

    // The engine is asked first; only its answer leads to the package lookup.
    void softwareVersion_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<bool>("packageListed");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("logged");
        QTest::newRow("both versions") << QString() << true << QByteArray("~U,SOFTVER,1.0,2.3\r\n") << QString();
        QTest::newRow("empty engine version")
            << QStringLiteral("reply r6 r6Version \"\"") << true << QByteArray("~U,SOFTVER,1.0,\r\n") << QString();
        QTest::newRow("engine fails") << QStringLiteral("fail r6 r6Version") << false << QByteArray()
                                      << QStringLiteral("reply invalid");
        QTest::newRow("package missing") << QString() << false << QByteArray()
                                         << QStringLiteral("failed to obtain software version");
    }

    void softwareVersion()
    {
        QFETCH(QString, engine);
        QFETCH(bool, packageListed);
        QFETCH(QByteArray, line);
        QFETCH(QString, logged);
        Simulator simulator;
        QVERIFY(simulator.start());
        if (!engine.isEmpty())
            QVERIFY(simulator.command(engine));
        TestEnv env;
        if (!packageListed)
            QVERIFY(listOnlyAnotherPackage(env));
        FakeGadget gadget;
        Brevdaemon daemon(env.settings(gadget.devicePath()));
        LogCapture log;
        // The status answer follows any version line in the same batch.
        QVERIFY(gadget.send("~U,SOFTVER\r\n~S,STATUSREQ\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(gadget.countLines("~S,STATUSRES,0\r\n"), 1, lineWaitMs);
        QCOMPARE(gadget.received().contains("~U,SOFTVER"), !line.isEmpty());
        if (!line.isEmpty())
            QCOMPARE(gadget.countLines(line), 1);
        const QStringList notices{QStringLiteral("reply invalid"), QStringLiteral("failed to obtain software version")};
        for (const QString &notice : notices)
            QCOMPARE(log.count(notice), notice == logged ? 1 : 0);
    }

private:
    PrivateBus m_bus;
};

QTEST_GUILESS_MAIN(SoftwareUpdateTest)
#include "tst_softwareupdate.moc"
