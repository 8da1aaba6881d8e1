// Spooling throughput of the running daemon against a plain read/write loop.
//
// 256 MiB of label data, cut into jobs of 8 MiB ("^K1" ... "E\r\n"), go from
// the master side of a raw pseudo-terminal, written by a thread of their own,
// through the daemon into its job file. "lp" is a stub; each submission is
// noticed through the stub's record and answered with the queue-complete
// slot, and the port restarts after 1 ms. Those restarts are counted in the
// daemon's time. The same bytes then go, from the same kind of writer thread,
// through an identical pseudo-terminal to a loop of read(fd, buf, 1023) and
// write() into a file. Each figure is the best of three runs, the two
// kinds taking turns. Last line:
// "ratio: R", daemon rate / plain loop rate.

#include "daemon/brevdaemon.h"
#include "fakegadget.h"
#include "privatebus.h"
#include "testenv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int jobSize = 8 << 20;
constexpr int jobCount = 32;
constexpr int runs = 3;
constexpr double mebibyte = 1 << 20;

// Jobs of ZPL-like labels: dense in "^" and "\r\n", one "^K1" and one "E\r\n"
// each, nothing else that the daemon would take for a command.
QByteArray jobsCorpus()
{
    QByteArray label;
    for (int line = 0; line < 40; ++line)
        label += "^FO50," + QByteArray::number(line * 30) + "^A0N,30,30^FDField " +
                 QByteArray::number(line) + "^FS\r\n";
    const QByteArray start("^K1"), end("E\r\n");

    QByteArray job = start;
    while (job.size() + label.size() + end.size() <= jobSize)
        job += label;
    job += QByteArray(jobSize - job.size() - end.size(), 'x') + end;

    QByteArray corpus;
    corpus.reserve(qsizetype(jobSize) * jobCount);
    for (int i = 0; i < jobCount; ++i)
        corpus += job;
    return corpus;
}

void keepOutOfChildren(const QByteArray &bytes)
{
    const quintptr page = quintptr(::sysconf(_SC_PAGESIZE));
    const quintptr begin = (quintptr(bytes.constData()) + page - 1) & ~(page - 1);
    const quintptr end = (quintptr(bytes.constData()) + quintptr(bytes.size())) & ~(page - 1);
    ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_DONTFORK);
}

double threadCpuSeconds()
{
    rusage usage;
    ::getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Run
{
    double seconds;
    double cpuSeconds;
};

// The daemon spools the corpus; each job that "lp" is handed is answered
// with the queue-complete slot, which restarts the port for the next one.
Run throughDaemon(const QByteArray &corpus)
{
    TestEnv env;
    FakeGadget gadget;
    DaemonSettings settings = env.settings(gadget.devicePath());
    settings.reinitIntervalMs = 1;
    settings.pingIntervalMs = 600000;
    Brevdaemon daemon(settings);
    // The host side does not listen while it sends; only the daemon's port
    // is in the event loop, as on the printer.
    if (QSocketNotifier *hostListening = gadget.findChild<QSocketNotifier *>())
        hostListening->setEnabled(false);

    const QString record = env.path(QStringLiteral("lp.calls"));
    QFile(record).open(QIODevice::WriteOnly);
    QFileSystemWatcher watcher({record});
    QEventLoop loop;
    int submitted = 0;
    qint64 spooled = 0;
    QObject::connect(&watcher, &QFileSystemWatcher::fileChanged, [&] {
        const int calls = env.calls(QStringLiteral("lp")).size();
        if (calls == submitted)
            return;
        submitted = calls;
        spooled += QFileInfo(env.jobFilePath()).size();
        if (submitted == jobCount)
            loop.quit();
        else
            QMetaObject::invokeMethod(&daemon, "onPrintDone");
    });

    // A daemon that stops spooling ends the run short rather than hanging it.
    QTimer::singleShot(300000, &loop, &QEventLoop::quit);

    QElapsedTimer clock;
    const double cpuBefore = threadCpuSeconds();
    clock.start();
    gadget.sendFromThread(corpus);
    loop.exec();
    const Run run{clock.nsecsElapsed() / 1e9, threadCpuSeconds() - cpuBefore};
    gadget.waitSent();
    if (spooled != corpus.size())
        std::printf("daemon spooled %lld of %lld bytes\n", qint64(spooled), qint64(corpus.size()));
    return run;
}

// The same bytes through a plain loop on an identical pseudo-terminal.
Run throughPlainLoop(const QByteArray &corpus)
{
    TestEnv env;
    FakeGadget gadget;
    const int port = ::open(qPrintable(gadget.devicePath()), O_RDWR | O_NOCTTY | O_CLOEXEC);
    const int file = ::open(qPrintable(env.path(QStringLiteral("plain.out"))),
                            O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    char buffer[1023];
    qint64 copied = 0;

    QElapsedTimer clock;
    const double cpuBefore = threadCpuSeconds();
    clock.start();
    gadget.sendFromThread(corpus);
    while (copied < corpus.size()) {
        const ssize_t count = ::read(port, buffer, sizeof buffer);
        if (count <= 0 || ::write(file, buffer, size_t(count)) != count)
            break;
        copied += count;
    }
    const Run run{clock.nsecsElapsed() / 1e9, threadCpuSeconds() - cpuBefore};
    gadget.waitSent();
    ::close(port);
    ::close(file);
    if (copied != corpus.size())
        std::printf("plain loop copied %lld of %lld bytes\n", copied, qint64(corpus.size()));
    return run;
}

Run best(const Run &a, const Run &b)
{
    return a.seconds <= b.seconds ? a : b;
}

} // namespace

int main(int argc, char *argv[])
{
    // As in the shipped program: Qt's own event dispatcher, not GLib's.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    PrivateBus bus;
    if (!bus.start()) {
        std::printf("no private bus\n");
        return 1;
    }

    // The corpus stays out of the children that run "lp": the daemon on the
    // printer holds no such memory, so its forks copy no such page tables.
    const QByteArray corpus = jobsCorpus();
    keepOutOfChildren(corpus);
    Run daemon{1e9, 0}, plain{1e9, 0};
    for (int run = 0; run < runs; ++run) {
        daemon = best(daemon, throughDaemon(corpus));
        plain = best(plain, throughPlainLoop(corpus));
    }

    const double size = corpus.size() / mebibyte;
    const double daemonRate = corpus.size() / 1e6 / daemon.seconds;
    const double plainRate = corpus.size() / 1e6 / plain.seconds;
    std::printf("%.0f MiB in %d jobs\n", size, jobCount);
    std::printf("daemon: %.1f MB/s, %.2f CPU s/GiB (restarts between jobs included)\n",
                daemonRate, daemon.cpuSeconds / (size / 1024));
    std::printf("plain read/write loop: %.1f MB/s, %.2f CPU s/GiB\n",
                plainRate, plain.cpuSeconds / (size / 1024));
    std::printf("ratio: %.3f\n", daemonRate / plainRate);
    return 0;
}
