// Receiving a 64 MiB update over a raw pseudo-terminal: the running daemon's
// "^XFER" against a plain loop on an identical terminal, in the same run.
//
// The loop is what the daemon's receive has to do at least: read(fd, buf,
// 256) into a QFile, which buffers its writes as the daemon's does, and the
// MD5 of every chunk. The daemon also lets its event loop run after every
// chunk. Each side runs a few rounds and keeps its best, so that a moment of
// load on the machine does not decide the ratio. Every round checks the
// file's bytes and the digest: the daemon must have logged nothing but the
// installer's answer that the file is no package (it is called only when
// the digest matched), the loop must have the digest the host sent.
//
// Each round takes the wall-clock time and the CPU time (user and system)
// of the receiving thread. The wall clock follows the load that other
// programs put on the machine; the CPU time a receive costs hardly does, and
// the ratio is taken from it: loop CPU time / daemon CPU time, for the same
// bytes. The instruction counts come from a second run of one 8 MiB update
// per side under callgrind, through named pipes (benchsetup.h says why).
// Last line: "ratio: R".

#include "benchsetup.h"
#include "daemon/brevdaemon.h"
#include "instructioncount.h"
#include "testenv.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int fileSize = 64 << 20;
constexpr int countedSize = 8 << 20;
constexpr int rounds = 5;
constexpr int giveUpMs = 120000;

struct Update
{
    explicit Update(int size)
        : content(randomBytes(size, 6))
        , digest(QCryptographicHash::hash(content, QCryptographicHash::Md5))
    {
    }

    QByteArray content;
    QByteArray digest;
};

// The timed runs go through terminals and take seconds, the counted run
// goes through pipes and takes instructions.
enum class Run { Timed, Counted };

struct Outcome
{
    double cost = 0; // nanoseconds or instructions
    double cpuNs = 0; // the receiving thread's, in a timed run
    bool right = false;
};

double threadCpuNs()
{
    timespec now;
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e9 + double(now.tv_nsec);
}

// Runs `work` in this thread and takes its cost.
template <typename Work>
void measure(Run run, Outcome &outcome, Work work)
{
    if (run == Run::Counted) {
        outcome.cost = InstructionCount::measure(work);
        return;
    }
    QElapsedTimer timer;
    const double cpuBefore = threadCpuNs();
    timer.start();
    work();
    outcome.cost = double(timer.nsecsElapsed());
    outcome.cpuNs = threadCpuNs() - cpuBefore;
}

// The daemon takes the update in one readyRead() call that only returns when
// the file is whole, so a single pass of the event loop waits for it.
Outcome daemonReceive(const Update &update, Run run)
{
    TestEnv env;
    const std::unique_ptr<HostEnd> host = hostEnd(run == Run::Counted);
    // No keep-alive: through a pipe it would come back to the daemon as file
    // bytes. And the printer's own silence bound, for a host that a loaded
    // machine holds up.
    DaemonSettings settings = env.settings(host->devicePath());
    settings.pingIntervalMs = 600000;
    settings.transferSilenceMs = DaemonSettings().transferSilenceMs;
    Brevdaemon daemon(settings);
    const QString received = env.updateDir() + QStringLiteral("bench.bin");
    const QByteArray sent = "^XFER,bench.bin," + QByteArray::number(update.content.size()) + ','
                            + update.digest.toHex() + "\r\n" + update.content;
    QElapsedTimer sinceStart;
    sinceStart.start();
    const LogCapture log;

    Outcome outcome;
    measure(run, outcome, [&] {
        host->sendFromThread(sent);
        while (QFileInfo(received).size() < update.content.size() && sinceStart.elapsed() < giveUpMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    });
    host->waitSent();
    const QStringList installerAnswer{QStringLiteral("update not installed: error 1 - the update is no .deb package")};
    const QStringList logged = log.messages();
    outcome.right = (logged.isEmpty() || logged == installerAnswer) && fileContent(received) == update.content;
    return outcome;
}

// Blocking reads of at most 256 bytes, a buffered QFile and the MD5; with
// `eventPass`, also the event loop's pass after every chunk that the daemon
// has to make, which shows what that pass alone costs.
Outcome plainReceive(const Update &update, Run run, bool eventPass = false)
{
    TestEnv env;
    const std::unique_ptr<HostEnd> host = hostEnd(run == Run::Counted);
    const int port = ::open(qPrintable(host->devicePath()), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QFile file(env.path(QStringLiteral("plain.bin")));
    QCryptographicHash hash(QCryptographicHash::Md5);
    const int size = update.content.size();

    Outcome outcome;
    measure(run, outcome, [&] {
        host->sendFromThread(update.content);
        file.open(QIODevice::WriteOnly);
        char chunk[256];
        for (int got = 0; got < size;) {
            const ssize_t count = ::read(port, chunk, size_t(std::min<int>(size - got, sizeof chunk)));
            if (count <= 0 || file.write(chunk, count) != count)
                break;
            hash.addData(chunk, int(count));
            got += int(count);
            if (eventPass)
                QCoreApplication::processEvents();
        }
        file.close();
    });
    host->waitSent();
    ::close(port);
    outcome.right = hash.result() == update.digest && fileContent(file.fileName()) == update.content;
    return outcome;
}

// The best of a side's rounds: the least wall-clock time and the least CPU
// time, each over all rounds.
struct Best
{
    double wallNs = 0;
    double cpuNs = 0;

    bool add(const Outcome &outcome)
    {
        wallNs = wallNs == 0 ? outcome.cost : std::min(wallNs, outcome.cost);
        cpuNs = cpuNs == 0 ? outcome.cpuNs : std::min(cpuNs, outcome.cpuNs);
        return outcome.right;
    }
    double rate() const { return fileSize / 1e6 / (wallNs / 1e9); }
    double cpuPerGib() const { return cpuNs / 1e9 * (double(1 << 30) / fileSize); }
};

} // namespace

int main(int argc, char *argv[])
{
    DaemonBenchmark benchmark(argc, argv);
    if (!benchmark.ready())
        return 1;
    if (InstructionCount::counting(argc, argv)) {
        const Update update(countedSize);
        const Outcome daemon = daemonReceive(update, Run::Counted);
        const Outcome plain = plainReceive(update, Run::Counted);
        const Outcome withEvents = plainReceive(update, Run::Counted, true);
        std::printf("instructions per MiB: daemon %s, plain loop %s (with the event pass %s); daemon/loop %.2f%s\n",
                    InstructionCount::perMib(daemon.cost, countedSize).constData(),
                    InstructionCount::perMib(plain.cost, countedSize).constData(),
                    InstructionCount::perMib(withEvents.cost, countedSize).constData(), daemon.cost / plain.cost,
                    daemon.right && plain.right && withEvents.right ? "" : " (WRONG: a file or digest differs)");
        return 0;
    }

    const Update update(fileSize);
    Best daemon;
    Best plain;
    Best withEvents;
    int wrong = 0;
    for (int round = 0; round < rounds; ++round) {
        wrong += !plain.add(plainReceive(update, Run::Timed));
        wrong += !withEvents.add(plainReceive(update, Run::Timed, true));
        wrong += !daemon.add(daemonReceive(update, Run::Timed));
    }
    std::printf("plain read(256)/QFile/MD5 loop: %.1f MB/s, %.2f CPU s/GiB (with the event pass after each chunk "
                "%.1f MB/s, %.2f CPU s/GiB)\n",
                plain.rate(), plain.cpuPerGib(), withEvents.rate(), withEvents.cpuPerGib());
    std::printf("daemon ^XFER receive: %.1f MB/s, %.2f CPU s/GiB\n", daemon.rate(), daemon.cpuPerGib());
    std::printf("%d rounds, %s; wall-clock daemon/loop %.2f\n", rounds,
                wrong ? "WRONG: a file or digest differs" : "every file and digest right", daemon.rate() / plain.rate());
    InstructionCount::runCounted();
    std::printf("ratio: %.2f\n", wrong ? 0.0 : plain.cpuPerGib() / daemon.cpuPerGib());
    return 0;
}
