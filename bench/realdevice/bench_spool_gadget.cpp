// Spooling throughput of the daemon on the kernel's own USB printer gadget,
// against a plain read/write loop on the same gadget. It runs inside the
// virtual machine of scripts/realdevice-vm.sh (scripts/bench-realdevice.sh
// builds it and starts it there), where /dev/g_printer0 is the printer's end
// of an emulated cable and /dev/usb/lp0 the host's, served by usblp.
//
// 32 jobs of 8 MiB ("^K1", random print data, "E\r\n"), as many and as large
// as on the pseudo-terminal, so that starting "lp" once a job (a fifth of a
// second under emulation) weighs little, are written by a host thread,
// blocking, to the usblp node. Each job goes once to the daemon, in-process,
// which spools it into its job file and hands it to a stub "lp"; the stub's
// record marks the job's end, and the print engine's queue-complete slot then
// closes the port, which opens again at once when the next job is due: the
// restarts count in the daemon's time. The same job then goes to a loop of
// read(fd, buf, 1023) and write() into a file, on the same gadget node opened
// blocking and closed again for each job, as the two cannot hold the node at
// once. The two take turns job by job, so that both see the same load. Both
// files must equal the job byte for byte. Under emulation the rates mean
// little; their ratio is the figure.
// Last line: "ratio: R", daemon rate / plain loop rate.

#include "bench/benchsetup.h"
#include "daemon/brevdaemon.h"
#include "testenv.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileSystemWatcher>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

const char gadgetNode[] = "/dev/g_printer0";
const char hostNode[] = "/dev/usb/lp0";
constexpr int jobCount = 32;
constexpr int printDataSize = 8 << 20;
constexpr int giveUpMs = 120000;

// Random print data with no byte that starts or ends a command ('^' starts
// the job markers and "^" commands, every other command ends in CR LF), so
// that each job holds exactly one "^K1" and one "E\r\n".
QByteArray job(quint32 seed)
{
    QByteArray data = randomBytes(printDataSize, seed);
    data.replace('^', '_');
    data.replace('\r', '\n');
    return "^K1" + data + "E\r\n";
}

// Ends the run: a side that stopped reading leaves the host thread in a
// blocking write that nothing would end.
[[noreturn]] void giveUp(const char *what, int jobIndex)
{
    std::printf("job %d: %s\n", jobIndex, what);
    std::fflush(stdout);
    std::_Exit(1);
}

// The host computer: one open usblp node, and a thread that writes a job to
// it blocking, as a host's print spooler does, while this thread reads.
class Host
{
public:
    Host()
        : m_fd(::open(hostNode, O_WRONLY | O_CLOEXEC))
    {
    }
    ~Host()
    {
        finish();
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool isOpen() const { return m_fd >= 0; }

    void start(const QByteArray &bytes)
    {
        m_writer = std::thread([fd = m_fd, bytes] {
            qint64 sent = 0;
            while (sent < bytes.size()) {
                const ssize_t count = ::write(fd, bytes.constData() + sent, size_t(bytes.size() - sent));
                if (count > 0)
                    sent += count;
                else if (!(count < 0 && errno == EINTR))
                    return;
            }
        });
    }

    void finish()
    {
        if (m_writer.joinable())
            m_writer.join();
    }

private:
    int m_fd;
    std::thread m_writer;
};

// The daemon in this process, on the gadget node, with a stub "lp" whose
// record tells when a job was handed over.
class DaemonSide
{
public:
    DaemonSide()
        : m_daemon(settings())
    {
        const QString record = m_env.path(QStringLiteral("lp.calls"));
        QFile(record).open(QIODevice::WriteOnly);
        m_watcher.addPath(record);
        QObject::connect(&m_watcher, &QFileSystemWatcher::fileChanged, &m_loop, &QEventLoop::quit);
        m_giveUp.setSingleShot(true);
        QObject::connect(&m_giveUp, &QTimer::timeout, &m_loop, &QEventLoop::quit);
    }

    // Lets the host send one job, waits until the daemon hands it to "lp",
    // and closes the port as the print engine's queue-complete signal does;
    // the port opens again when the event loop next runs.
    bool spool(Host &host, const QByteArray &bytes)
    {
        const int handedOver = m_env.calls(QStringLiteral("lp")).size();
        host.start(bytes);
        m_giveUp.start(giveUpMs);
        while (m_env.calls(QStringLiteral("lp")).size() == handedOver && m_giveUp.isActive())
            m_loop.exec();
        if (!m_giveUp.isActive())
            return false;
        m_giveUp.stop();
        QMetaObject::invokeMethod(&m_daemon, "onPrintDone");
        host.finish();
        return true;
    }

    // Intact until the port opens again: only then is it truncated.
    QByteArray jobFile() const { return m_env.jobFile(); }

private:
    // The printer's own pace for PINGs and batches; only the restart after
    // queue-complete, 5 s on the printer, comes at once, so that the run
    // measures spooling rather than waiting.
    DaemonSettings settings() const
    {
        const DaemonSettings printer;
        DaemonSettings settings = m_env.settings(QString::fromLatin1(gadgetNode));
        settings.pingIntervalMs = printer.pingIntervalMs;
        settings.batchIntervalMs = printer.batchIntervalMs;
        settings.reinitIntervalMs = 0;
        return settings;
    }

    TestEnv m_env;
    Brevdaemon m_daemon;
    QFileSystemWatcher m_watcher;
    QEventLoop m_loop;
    QTimer m_giveUp;
};

// A plain loop on the gadget node: open it blocking, read(fd, buf, 1023) and
// write() into a file until the job is there, close it.
class PlainSide
{
public:
    PlainSide()
        : m_path(m_dir.filePath(QStringLiteral("copy")))
    {
    }

    bool copy(Host &host, const QByteArray &bytes)
    {
        const int port = ::open(gadgetNode, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (port < 0)
            return false;
        const int file = ::open(qPrintable(m_path), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (file < 0) {
            ::close(port);
            return false;
        }
        host.start(bytes);
        qint64 copied = 0;
        char buffer[1023];
        while (copied < bytes.size()) {
            const ssize_t count = ::read(port, buffer, sizeof buffer);
            if (count <= 0 || ::write(file, buffer, size_t(count)) != count)
                break;
            copied += count;
        }
        ::close(file);
        ::close(port);
        if (copied < bytes.size())
            return false;
        host.finish();
        return true;
    }

    QByteArray copied() const
    {
        QFile file(m_path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
};

// Wall seconds spent on the jobs so far.
struct Clock
{
    double seconds = 0;

    template <typename Work>
    bool time(Work work)
    {
        QElapsedTimer clock;
        clock.start();
        const bool done = work();
        seconds += clock.nsecsElapsed() / 1e9;
        return done;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    if (qgetenv("BREV_REALDEVICE_VM") != "1" || ::access(gadgetNode, F_OK) != 0) {
        std::printf("runs only inside the rig's virtual machine: scripts/bench-realdevice.sh\n");
        return 1;
    }
    DaemonBenchmark benchmark(argc, argv);
    if (!benchmark.ready())
        return 1;
    Host host;
    if (!host.isOpen()) {
        std::printf("cannot open %s: %s\n", hostNode, std::strerror(errno));
        return 1;
    }

    DaemonSide daemonSide;
    PlainSide plainSide;
    Clock daemon, plain;
    qint64 bytes = 0;
    for (int i = 0; i < jobCount; ++i) {
        const QByteArray bytesOfJob = job(quint32(i + 1));
        bytes += bytesOfJob.size();
        if (!daemon.time([&] { return daemonSide.spool(host, bytesOfJob); }))
            giveUp("the daemon did not hand the job to lp", i);
        if (daemonSide.jobFile() != bytesOfJob)
            giveUp("the daemon's job file differs from what the host sent", i);
        if (!plain.time([&] { return plainSide.copy(host, bytesOfJob); }))
            giveUp("the plain loop did not get the whole job", i);
        if (plainSide.copied() != bytesOfJob)
            giveUp("the plain loop's file differs from what the host sent", i);
    }

    std::printf("%.2f MiB in %d jobs through usblp and the printer gadget, each way; every job file "
                "equal to what was sent\n", bytes / double(1 << 20), jobCount);
    const double daemonRate = bytes / daemon.seconds, plainRate = bytes / plain.seconds;
    std::printf("daemon (job restarts included): %.2f MB/s\n", daemonRate / 1e6);
    std::printf("plain read/write loop: %.2f MB/s\n", plainRate / 1e6);
    std::printf("ratio: %.3f\n", daemonRate / plainRate);
    return 0;
}
