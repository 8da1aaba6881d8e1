// Receiving a 64 MiB update over a raw pseudo-terminal: the running daemon's
// "^XFER" against a plain loop on an identical terminal, in the same run.
//
// The loop is what the daemon's receive has to do at least: read(fd, buf,
// 256) into a QFile, which buffers its writes as the daemon's does, and the
// MD5 of every chunk. The daemon also lets its event loop run after every
// chunk. Each side runs a few rounds and keeps its best, so that a moment of
// load on the machine does not decide the ratio. Every round checks the
// file's bytes and the digest: the daemon must have logged no refusal and no
// digest mismatch (it logs nothing when the digest matches), the loop must
// have the digest the host sent.
//
// The instruction counts come from a second run of one 8 MiB update per
// side under callgrind, through named pipes (benchsetup.h says why).
// Last line: "ratio: R", daemon rate / loop rate.

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
    bool right = false;
};

// Runs `work` and returns its cost.
template <typename Work>
double cost(Run run, Work work)
{
    if (run == Run::Counted)
        return InstructionCount::measure(work);
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed());
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
    const QByteArray header = "^XFER,bench.bin," + QByteArray::number(update.content.size()) + ','
                              + update.digest.toHex() + "\r\n";
    QElapsedTimer sinceStart;
    sinceStart.start();
    const LogCapture log;

    Outcome outcome;
    outcome.cost = cost(run, [&] {
        host->sendFromThread(header + update.content);
        while (QFileInfo(received).size() < update.content.size() && sinceStart.elapsed() < giveUpMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    });
    host->waitSent();
    outcome.right = log.messages().isEmpty() && fileContent(received) == update.content;
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
    outcome.cost = cost(run, [&] {
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
    double daemonBest = 0;
    double plainBest = 0;
    double withEventsBest = 0;
    int wrong = 0;
    const auto rate = [](const Outcome &outcome) { return fileSize / 1e6 / (outcome.cost / 1e9); };
    for (int round = 0; round < rounds; ++round) {
        const Outcome plain = plainReceive(update, Run::Timed);
        const Outcome withEvents = plainReceive(update, Run::Timed, true);
        const Outcome daemon = daemonReceive(update, Run::Timed);
        wrong += !plain.right + !withEvents.right + !daemon.right;
        plainBest = std::max(plainBest, rate(plain));
        withEventsBest = std::max(withEventsBest, rate(withEvents));
        daemonBest = std::max(daemonBest, rate(daemon));
    }
    std::printf("plain read(256)/QFile/MD5 loop: %.1f MB/s (with the event pass after each chunk %.1f MB/s)\n",
                plainBest, withEventsBest);
    std::printf("daemon ^XFER receive: %.1f MB/s\n", daemonBest);
    std::printf("%d rounds, %s\n", rounds, wrong ? "WRONG: a file or digest differs" : "every file and digest right");
    InstructionCount::runCounted();
    std::printf("ratio: %.2f\n", wrong ? 0.0 : daemonBest / plainBest);
    return 0;
}
