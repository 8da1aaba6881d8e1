// Spooling throughput of the running daemon against a plain read/write loop.
//
// 256 MiB of label data, as 32 jobs of 8 MiB ("^K1" ... "E\r\n"), go from the
// master side of a raw pseudo-terminal, written by a thread of their own,
// through the daemon into its job file. "lp" is a stub; each submission is
// noticed through the stub's record and answered with the queue-complete
// slot, and the port restarts at once; the restarts count in the daemon's
// time. Each job also goes, from the same kind of writer thread, through an
// identical pseudo-terminal to a loop of read(fd, buf, 1023) and write() into
// a file, and to the daemon's event pattern alone (a read notifier queued to
// a slot that switches it off, reads 1023 bytes, writes them and switches it
// on again), which shows what the daemon's own work adds. The three take
// turns job by job, so that all see the same load on a shared machine.
// Last line: "ratio: R", daemon rate / plain loop rate.

#include "benchsetup.h"
#include "daemon/brevdaemon.h"
#include "fakegadget.h"
#include "testenv.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int jobSize = 8 << 20;
constexpr int jobCount = 32;
constexpr double mebibyte = 1 << 20;
constexpr int giveUpMs = 60000;

// ZPL-like labels: dense in "^" and "\r\n", with one "^K1" and one "E\r\n"
// and nothing else that the daemon would take for a command.
QByteArray labelJob()
{
    QByteArray label;
    for (int line = 0; line < 40; ++line)
        label += "^FO50," + QByteArray::number(line * 30) + "^A0N,30,30^FDField " +
                 QByteArray::number(line) + "^FS\r\n";
    const QByteArray start("^K1"), end("E\r\n");

    QByteArray job = start;
    while (job.size() + label.size() + end.size() <= jobSize)
        job += label;
    return job + QByteArray(jobSize - job.size() - end.size(), 'x') + end;
}

double threadCpuSeconds()
{
    rusage usage;
    ::getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The host side does not listen while it sends: only the reader's port is in
// the event loop, as on the printer.
void stopHostListening(FakeGadget &gadget)
{
    if (QSocketNotifier *hostListening = gadget.findChild<QSocketNotifier *>())
        hostListening->setEnabled(false);
}

// Wall and CPU seconds spent on the jobs so far, and their bytes.
struct Tally
{
    double seconds = 0;
    double cpuSeconds = 0;
    qint64 bytes = 0;

    template <typename Work>
    void add(Work work)
    {
        QElapsedTimer clock;
        const double cpuBefore = threadCpuSeconds();
        clock.start();
        bytes += work();
        seconds += clock.nsecsElapsed() / 1e9;
        cpuSeconds += threadCpuSeconds() - cpuBefore;
    }
};

// The daemon on its pseudo-terminal, restarted for each job the way the print
// engine's queue-complete signal restarts it.
class DaemonSide
{
public:
    DaemonSide()
        : m_daemon(settings())
        , m_record(m_env.path(QStringLiteral("lp.calls")))
    {
        stopHostListening(m_gadget);
        QFile(m_record).open(QIODevice::WriteOnly);
        m_watcher.addPath(m_record);
        QObject::connect(&m_watcher, &QFileSystemWatcher::fileChanged, &m_loop, &QEventLoop::quit);
    }

    // Sends one job and waits until it is handed to "lp"; returns the bytes
    // in the job file then.
    qint64 spool(const QByteArray &job)
    {
        const int submitted = m_env.calls(QStringLiteral("lp")).size();
        QTimer giveUp;
        giveUp.setSingleShot(true);
        QObject::connect(&giveUp, &QTimer::timeout, &m_loop, &QEventLoop::quit);
        giveUp.start(giveUpMs);

        m_gadget.sendFromThread(job);
        while (m_env.calls(QStringLiteral("lp")).size() == submitted && giveUp.isActive())
            m_loop.exec();
        m_gadget.waitSent();
        const qint64 spooled = QFileInfo(m_env.jobFilePath()).size();
        QMetaObject::invokeMethod(&m_daemon, "onPrintDone");
        return spooled;
    }

private:
    DaemonSettings settings() const
    {
        DaemonSettings settings = m_env.settings(m_gadget.devicePath());
        settings.reinitIntervalMs = 0;
        settings.pingIntervalMs = 600000;
        return settings;
    }

    TestEnv m_env;
    FakeGadget m_gadget;
    Brevdaemon m_daemon;
    QString m_record;
    QFileSystemWatcher m_watcher;
    QEventLoop m_loop;
};

// A pseudo-terminal whose host side only sends, its slave opened blocking
// as the daemon opens its port, and a file to copy into.
struct CopyPort
{
    CopyPort()
        : port(::open(qPrintable(gadget.devicePath()), O_RDWR | O_NOCTTY | O_CLOEXEC))
        , file(::open(qPrintable(dir.filePath(QStringLiteral("copy"))),
                      O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600))
    {
        stopHostListening(gadget);
    }

    ~CopyPort()
    {
        ::close(port);
        ::close(file);
    }

    // Reads one block and writes it to the file; returns the bytes read.
    qint64 copyBlock()
    {
        char buffer[1023];
        const ssize_t count = ::read(port, buffer, sizeof buffer);
        return count > 0 && ::write(file, buffer, size_t(count)) == count ? count : 0;
    }

    QTemporaryDir dir;
    FakeGadget gadget;
    int port;
    int file;
};

qint64 plainCopy(CopyPort &copyPort, const QByteArray &job)
{
    qint64 copied = 0;
    copyPort.gadget.sendFromThread(job);
    while (copied < job.size()) {
        const qint64 count = copyPort.copyBlock();
        if (count == 0)
            break;
        copied += count;
    }
    copyPort.gadget.waitSent();
    return copied;
}

// The daemon's per-block event pattern with nothing else in the slot.
class RoundTripCopy
{
public:
    RoundTripCopy()
        : m_notifier(m_copyPort.port, QSocketNotifier::Read)
    {
        m_notifier.setEnabled(false);
        QObject::connect(&m_notifier, &QSocketNotifier::activated, &m_notifier, [this] {
            m_notifier.setEnabled(false);
            m_copied += m_copyPort.copyBlock();
            if (m_copied < m_size)
                m_notifier.setEnabled(true);
            else
                m_loop.quit();
        }, Qt::QueuedConnection);
    }

    qint64 copy(const QByteArray &job)
    {
        m_copied = 0;
        m_size = job.size();
        m_copyPort.gadget.sendFromThread(job);
        m_notifier.setEnabled(true);
        m_loop.exec();
        m_copyPort.gadget.waitSent();
        return m_copied;
    }

private:
    CopyPort m_copyPort;
    QSocketNotifier m_notifier;
    QEventLoop m_loop;
    qint64 m_copied = 0;
    qint64 m_size = 0;
};

void report(const char *name, const Tally &tally)
{
    std::printf("%s: %.1f MB/s, %.2f CPU s/GiB\n", name, tally.bytes / 1e6 / tally.seconds,
                tally.cpuSeconds / (tally.bytes / mebibyte / 1024));
}

} // namespace

int main(int argc, char *argv[])
{
    DaemonBenchmark benchmark(argc, argv);
    if (!benchmark.ready())
        return 1;

    const QByteArray job = labelJob();
    DaemonSide daemonSide;
    RoundTripCopy roundTripCopy;
    CopyPort plainPort;
    Tally daemon, roundTrip, plain;
    for (int i = 0; i < jobCount; ++i) {
        daemon.add([&] { return daemonSide.spool(job); });
        roundTrip.add([&] { return roundTripCopy.copy(job); });
        plain.add([&] { return plainCopy(plainPort, job); });
    }

    const qint64 expected = qint64(job.size()) * jobCount;
    std::printf("%.0f MiB in %d jobs\n", expected / mebibyte, jobCount);
    for (const Tally *tally : {&daemon, &roundTrip, &plain}) {
        if (tally->bytes != expected)
            std::printf("short: %lld of %lld bytes\n", tally->bytes, expected);
    }
    report("daemon (job restarts included)", daemon);
    report("event pattern alone", roundTrip);
    report("plain read/write loop", plain);
    std::printf("ratio: %.3f\n", (daemon.bytes / daemon.seconds) / (plain.bytes / plain.seconds));
    return 0;
}
