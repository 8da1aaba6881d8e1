// The simulated printer's link relay (brevlink) against one bare
// pseudo-terminal pair, turn by turn in the same run: bytes written to the
// host's end and read at the printer's end, checked whole. The relay passes
// every byte through two pairs and itself, so it cannot beat the bare pair;
// what counts is that it keeps up with USB 2.0 (at least 20 MB/s).
//
// Last line: "ratio: R", relay rate / bare pair rate.

#include "benchsetup.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr qint64 bytesPerRun = qint64(256) << 20;
constexpr int rounds = 3;

quint64 checksum(const char *bytes, size_t count, quint64 sum)
{
    for (size_t index = 0; index < count; ++index)
        sum = sum * 31 + static_cast<unsigned char>(bytes[index]);
    return sum;
}

// MB/s from `writeFd` to `readFd`, or 0 when what arrived differs.
double rate(int writeFd, int readFd, const QByteArray &block)
{
    quint64 expected = 0;
    for (qint64 sent = 0; sent < bytesPerRun; sent += block.size())
        expected = checksum(block.constData(), size_t(block.size()), expected);
    QElapsedTimer clock;
    clock.start();
    std::thread writer([&] {
        for (qint64 sent = 0; sent < bytesPerRun;) {
            const ssize_t count = ::write(writeFd, block.constData() + sent % block.size(),
                                          size_t(block.size() - sent % block.size()));
            if (count <= 0)
                return;
            sent += count;
        }
    });
    quint64 received = 0;
    qint64 total = 0;
    char buffer[65536];
    while (total < bytesPerRun) {
        const ssize_t count = ::read(readFd, buffer, sizeof buffer);
        if (count <= 0)
            break;
        received = checksum(buffer, size_t(count), received);
        total += count;
    }
    writer.join();
    const double seconds = clock.nsecsElapsed() / 1e9;
    return total == bytesPerRun && received == expected ? bytesPerRun / seconds / 1e6 : 0.0;
}

int openRaw(const QString &path)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    termios raw;
    if (fd >= 0 && tcgetattr(fd, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(fd, TCSANOW, &raw);
    }
    return fd;
}

double barePairRate(const QByteArray &block)
{
    int master = -1;
    int slave = -1;
    termios raw;
    cfmakeraw(&raw);
    if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0)
        return 0;
    const double result = rate(master, slave, block);
    ::close(master);
    ::close(slave);
    return result;
}

double relayRate(const QByteArray &block)
{
    QTemporaryDir dir;
    QProcess relay;
    relay.start(QStringLiteral(BREV_LINK), {dir.filePath(QStringLiteral("host")), dir.filePath(QStringLiteral("gadget")),
                                            dir.filePath(QStringLiteral("link.log"))});
    for (int waited = 0; waited < 100 && !QFile::exists(dir.filePath(QStringLiteral("gadget"))); ++waited)
        QThread::msleep(50);
    const int host = openRaw(dir.filePath(QStringLiteral("host")));
    const int gadget = openRaw(dir.filePath(QStringLiteral("gadget")));
    const double result = host >= 0 && gadget >= 0 ? rate(host, gadget, block) : 0.0;
    ::close(host);
    ::close(gadget);
    relay.terminate();
    relay.waitForFinished();
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QByteArray block = randomBytes(1 << 20, 7);
    double relayBest = 0;
    double bareBest = 0;
    for (int round = 0; round < rounds; ++round) {
        const double relay = relayRate(block);
        const double bare = barePairRate(block);
        std::printf("round %d: relay %.1f MB/s, bare pair %.1f MB/s%s\n", round + 1, relay, bare,
                    relay == 0 || bare == 0 ? " WRONG" : "");
        relayBest = relay == 0 ? 0 : qMax(relayBest, relay);
        bareBest = bare == 0 ? 0 : qMax(bareBest, bare);
        if (relayBest == 0 || bareBest == 0)
            break;
    }
    std::printf("relay %.1f MB/s (target at least 20), bare pair %.1f MB/s\n", relayBest, bareBest);
    std::printf("ratio: %.2f\n", bareBest > 0 ? relayBest / bareBest : 0.0);
    return 0;
}
