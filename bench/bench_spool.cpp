// Spooling throughput of the running daemon against a plain read/write loop,
// and its user-space instructions per MiB against the bare read-notifier
// pattern that the daemon's reading is built on.
//
// 256 MiB of label data, as 32 jobs of 8 MiB ("^K1" ... "E\r\n"), go from the
// master side of a raw pseudo-terminal, written by a thread of their own,
// through the daemon into its job file, which must then hold the job byte for
// byte. "lp" is a stub; each submission is noticed through the stub's record
// and answered with the queue-complete slot, and the port restarts at once;
// the restarts count in the daemon's time. Each job also goes, from the same
// kind of writer thread, through an identical pseudo-terminal to a loop of
// read(fd, buf, 1023) and write() into a file, and to the bare pattern: a
// read notifier whose activated(int) is connected string-based and queued to
// a slot that switches it off, reads 1023 bytes, writes them and switches it
// on again, as the daemon's own notifier is connected. The three take turns
// job by job, so that all see the same load on a shared machine, and every
// copy is compared with its job.
//
// The instruction counts come from a second run of a few jobs of label data
// and of random bytes under callgrind, each side reading a named pipe instead
// of a terminal (benchsetup.h says why).
// Last line: "ratio: R", daemon rate / plain loop rate.

#include "benchsetup.h"
#include "daemon/brevdaemon.h"
#include "instructioncount.h"
#include "testenv.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
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
constexpr int countedJobs = 2; // per kind of data, in the run under callgrind
constexpr double mebibyte = 1 << 20;
constexpr int giveUpMs = 60000;

// "^K1", then `content` cut or padded to fill the job, then "E\r\n".
QByteArray job(const QByteArray &content)
{
    const QByteArray start("^K1"), end("E\r\n");
    const int room = jobSize - start.size() - end.size();
    return start + content.left(room) + QByteArray(room - std::min(room, content.size()), 'x') + end;
}

// ZPL-like labels: dense in "^" and "\r\n", with no command in them.
QByteArray labelJob()
{
    QByteArray label;
    for (int line = 0; line < 40; ++line)
        label += "^FO50," + QByteArray::number(line * 30) + "^A0N,30,30^FDField " +
                 QByteArray::number(line) + "^FS\r\n";
    QByteArray labels;
    while (labels.size() + label.size() <= jobSize)
        labels += label;
    return job(labels);
}

// Random bytes in which no job marker ("^K", "^Z", "E\r\n") occurs by chance;
// the longer commands are too long to occur in them.
QByteArray randomJob()
{
    QByteArray content = randomBytes(jobSize, 3);
    char *bytes = content.data();
    for (int i = 0; i + 2 < content.size(); ++i) {
        if (bytes[i] == '^' && (bytes[i + 1] == 'K' || bytes[i + 1] == 'Z'))
            bytes[i + 1] = 'k';
        if (bytes[i] == 'E' && bytes[i + 1] == '\r' && bytes[i + 2] == '\n')
            bytes[i] = 'e';
    }
    return job(content);
}

double threadCpuSeconds()
{
    rusage usage;
    ::getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Wall and CPU seconds spent on the jobs so far, their bytes, and the jobs
// whose copy differed from what was sent.
struct Tally
{
    double seconds = 0;
    double cpuSeconds = 0;
    qint64 bytes = 0;
    int wrongCopies = 0;

    // `work` sends the job and returns the bytes it took; `copy` is then
    // what it made of them.
    template <typename Work, typename Copy>
    void add(const QByteArray &job, Work work, Copy copy)
    {
        QElapsedTimer clock;
        const double cpuBefore = threadCpuSeconds();
        clock.start();
        bytes += work(job);
        seconds += clock.nsecsElapsed() / 1e9;
        cpuSeconds += threadCpuSeconds() - cpuBefore;
        if (copy() != job)
            ++wrongCopies;
    }
};

// The daemon on its pseudo-terminal, restarted for each job the way the print
// engine's queue-complete signal restarts it.
class DaemonSide
{
public:
    explicit DaemonSide(bool pipe)
        : m_host(hostEnd(pipe))
        , m_daemon(settings())
        , m_record(m_env.path(QStringLiteral("lp.calls")))
    {
        QFile(m_record).open(QIODevice::WriteOnly);
        m_watcher.addPath(m_record);
        QObject::connect(&m_watcher, &QFileSystemWatcher::fileChanged, &m_loop, &QEventLoop::quit);
    }

    // Sends one job and waits until it is handed to "lp"; returns the job's
    // size when it was, else 0.
    qint64 spool(const QByteArray &job)
    {
        const int submitted = m_env.calls(QStringLiteral("lp")).size();
        QTimer giveUp;
        giveUp.setSingleShot(true);
        QObject::connect(&giveUp, &QTimer::timeout, &m_loop, &QEventLoop::quit);
        giveUp.start(giveUpMs);

        m_host->sendFromThread(job);
        while (m_env.calls(QStringLiteral("lp")).size() == submitted && giveUp.isActive())
            m_loop.exec();
        m_host->waitSent();
        QMetaObject::invokeMethod(&m_daemon, "onPrintDone");
        return giveUp.isActive() ? job.size() : 0;
    }

    QByteArray jobFile() const { return m_env.jobFile(); }

private:
    DaemonSettings settings() const
    {
        DaemonSettings settings = m_env.settings(m_host->devicePath());
        settings.reinitIntervalMs = 0;
        settings.pingIntervalMs = 600000;
        return settings;
    }

    TestEnv m_env;
    std::unique_ptr<HostEnd> m_host;
    Brevdaemon m_daemon;
    QString m_record;
    QFileSystemWatcher m_watcher;
    QEventLoop m_loop;
};

// A pseudo-terminal whose host side only sends, and a file to copy into,
// emptied for each job.
struct CopyPort
{
    CopyPort(bool pipe, int openFlags)
        : host(hostEnd(pipe))
        , port(::open(qPrintable(host->devicePath()), O_RDWR | O_NOCTTY | O_CLOEXEC | openFlags))
        , file(::open(qPrintable(path()), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600))
    {
    }

    ~CopyPort()
    {
        ::close(port);
        ::close(file);
    }

    QString path() const { return dir.filePath(QStringLiteral("copy")); }

    void startJob(const QByteArray &job)
    {
        if (::ftruncate(file, 0) != 0 || ::lseek(file, 0, SEEK_SET) != 0)
            std::printf("the copy file could not be emptied\n");
        host->sendFromThread(job);
    }

    // Reads one block and writes it to the file; returns the bytes read, 0
    // when there were none.
    qint64 copyBlock()
    {
        char buffer[1023];
        const ssize_t count = ::read(port, buffer, sizeof buffer);
        return count > 0 && ::write(file, buffer, size_t(count)) == count ? count : 0;
    }

    QTemporaryDir dir;
    std::unique_ptr<HostEnd> host;
    int port;
    int file;
};

// Blocking read() and write() in a loop.
class PlainCopy
{
public:
    explicit PlainCopy(bool pipe)
        : m_port(pipe, 0)
    {
    }

    qint64 copy(const QByteArray &job)
    {
        qint64 copied = 0;
        m_port.startJob(job);
        while (copied < job.size()) {
            const qint64 count = m_port.copyBlock();
            if (count == 0)
                break;
            copied += count;
        }
        m_port.host->waitSent();
        return copied;
    }

    QByteArray copied() const { return fileContent(m_port.path()); }

private:
    CopyPort m_port;
};

// The daemon's per-block event pattern with nothing else in the slot, on a
// port opened as the daemon opens its own.
class BarePattern : public QObject
{
    Q_OBJECT

public:
    explicit BarePattern(bool pipe)
        : m_port(pipe, O_NONBLOCK)
        , m_notifier(m_port.port, QSocketNotifier::Read)
    {
        m_notifier.setEnabled(false);
        connect(&m_notifier, SIGNAL(activated(int)), this, SLOT(readyRead(int)), Qt::QueuedConnection);
    }

    qint64 copy(const QByteArray &job)
    {
        m_copied = 0;
        m_size = job.size();
        m_port.startJob(job);
        m_notifier.setEnabled(true);
        m_loop.exec();
        m_port.host->waitSent();
        return m_copied;
    }

    QByteArray copied() const { return fileContent(m_port.path()); }

private slots:
    void readyRead(int)
    {
        m_notifier.setEnabled(false);
        m_copied += m_port.copyBlock();
        if (m_copied < m_size)
            m_notifier.setEnabled(true);
        else
            m_loop.quit();
    }

private:
    CopyPort m_port;
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

struct Sides
{
    explicit Sides(bool pipe)
        : daemon(pipe)
        , bare(pipe)
        , plain(pipe)
    {
    }

    DaemonSide daemon;
    BarePattern bare;
    PlainCopy plain;
};

// The counted run: a few jobs of each kind through each side (or of the one
// kind named after "--count", for a profile), and their instructions per MiB.
void count(Sides &sides, const QStringList &arguments)
{
    const std::pair<const char *, QByteArray> jobs[] = {{"label", labelJob()}, {"random", randomJob()}};
    for (const auto &entry : jobs) {
        // Named, not bound: C++17 lambdas cannot capture a structured binding.
        const char *kind = entry.first;
        const QByteArray &job = entry.second;
        if (arguments.size() > 2 && arguments[2] != QLatin1String(kind))
            continue;
        double daemon = 0, bare = 0, plain = 0;
        for (int i = 0; i < countedJobs; ++i) {
            daemon += InstructionCount::measure([&] { sides.daemon.spool(job); });
            bare += InstructionCount::measure([&] { sides.bare.copy(job); });
            plain += InstructionCount::measure([&] { sides.plain.copy(job); });
        }
        const double bytes = double(job.size()) * countedJobs;
        std::printf("instructions per MiB, %s data: daemon %s, bare pattern %s, plain loop %s; "
                    "daemon/bare %.2f\n",
                    kind, InstructionCount::perMib(daemon, bytes).constData(),
                    InstructionCount::perMib(bare, bytes).constData(),
                    InstructionCount::perMib(plain, bytes).constData(), daemon / bare);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    DaemonBenchmark benchmark(argc, argv);
    if (!benchmark.ready())
        return 1;
    if (InstructionCount::counting(argc, argv)) {
        Sides pipeSides(true);
        count(pipeSides, QCoreApplication::arguments());
        return 0;
    }
    Sides sides(false);

    const QByteArray job = labelJob();
    Tally daemon, bare, plain;
    for (int i = 0; i < jobCount; ++i) {
        daemon.add(job, [&](const QByteArray &j) { return sides.daemon.spool(j); },
                   [&] { return sides.daemon.jobFile(); });
        bare.add(job, [&](const QByteArray &j) { return sides.bare.copy(j); },
                 [&] { return sides.bare.copied(); });
        plain.add(job, [&](const QByteArray &j) { return sides.plain.copy(j); },
                  [&] { return sides.plain.copied(); });
    }

    const qint64 expected = qint64(job.size()) * jobCount;
    std::printf("%.0f MiB of label data in %d jobs\n", expected / mebibyte, jobCount);
    for (const Tally *tally : {&daemon, &bare, &plain}) {
        if (tally->bytes != expected || tally->wrongCopies)
            std::printf("WRONG: %lld of %lld bytes, %d jobs copied wrong\n", tally->bytes, expected,
                        tally->wrongCopies);
    }
    report("daemon (job restarts included)", daemon);
    report("bare read-notifier pattern", bare);
    report("plain read/write loop", plain);
    InstructionCount::runCounted();
    std::printf("ratio: %.3f\n", (daemon.bytes / daemon.seconds) / (plain.bytes / plain.seconds));
    return 0;
}

#include "bench_spool.moc"
