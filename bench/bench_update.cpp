// Receiving a 64 MiB update over a raw pseudo-terminal: the running daemon's
// "^XFER" against a plain read(256)/write/MD5 loop on an identical terminal,
// in the same run. Each side runs a few rounds and keeps its best, so that a
// moment of load on the machine does not decide the ratio.

#include "benchsetup.h"
#include "daemon/brevdaemon.h"
#include "fakegadget.h"
#include "testenv.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int fileSize = 64 * 1024 * 1024;
constexpr int rounds = 5;
constexpr int giveUpMs = 120000;

double megabytesPerSecond(qint64 nanoseconds)
{
    return fileSize / 1e6 / (nanoseconds / 1e9);
}

// The daemon takes the update in one readyRead() call that only returns when
// the file is whole, so a single pass of the event loop waits for it.
double daemonRate(const QByteArray &content, const QByteArray &digest)
{
    TestEnv env;
    FakeGadget gadget;
    Brevdaemon daemon(env.settings(gadget.devicePath()));
    const QString received = env.updateDir() + QStringLiteral("bench.bin");
    const QByteArray header = "^XFER,bench.bin," + QByteArray::number(fileSize) + ',' + digest.toHex() + "\r\n";

    QElapsedTimer timer;
    timer.start();
    gadget.sendFromThread(header + content);
    while (QFileInfo(received).size() < fileSize && timer.elapsed() < giveUpMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    const qint64 elapsed = timer.nsecsElapsed();
    gadget.waitSent();
    return megabytesPerSecond(elapsed);
}

double plainLoopRate(const QByteArray &content, const QByteArray &digest)
{
    TestEnv env;
    FakeGadget gadget;
    const int port = ::open(qPrintable(gadget.devicePath()), O_RDWR | O_NOCTTY);
    const int file = ::open(qPrintable(env.path(QStringLiteral("plain.bin"))), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    QCryptographicHash hash(QCryptographicHash::Md5);
    char chunk[256];

    QElapsedTimer timer;
    timer.start();
    gadget.sendFromThread(content);
    int got = 0;
    while (got < fileSize) {
        const ssize_t count = ::read(port, chunk, size_t(std::min<int>(fileSize - got, sizeof chunk)));
        if (count <= 0)
            break;
        if (::write(file, chunk, size_t(count)) != count)
            break;
        hash.addData(chunk, int(count));
        got += int(count);
    }
    ::close(file);
    const qint64 elapsed = timer.nsecsElapsed();
    gadget.waitSent();
    ::close(port);
    if (hash.result() != digest)
        std::printf("plain loop: digest mismatch\n");
    return megabytesPerSecond(elapsed);
}

} // namespace

int main(int argc, char *argv[])
{
    DaemonBenchmark benchmark(argc, argv);
    if (!benchmark.ready())
        return 1;
    const QByteArray content = randomBytes(fileSize, 6);
    const QByteArray digest = QCryptographicHash::hash(content, QCryptographicHash::Md5);

    double daemonBest = 0;
    double plainBest = 0;
    for (int round = 0; round < rounds; ++round) {
        plainBest = std::max(plainBest, plainLoopRate(content, digest));
        daemonBest = std::max(daemonBest, daemonRate(content, digest));
    }
    std::printf("plain read(256)/write/MD5 loop: %.1f MB/s\n", plainBest);
    std::printf("daemon ^XFER receive: %.1f MB/s\n", daemonBest);
    std::printf("ratio: %.2f\n", daemonBest / plainBest);
    return 0;
}
