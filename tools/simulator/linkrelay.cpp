// brevlink: the simulated printer's USB link. Two raw pseudo-terminals, the
// host's end and the printer's (gadget) end, joined by a relay that passes
// every byte on at once, in large pieces, and writes a transcript of the
// traffic. Each end stays open on this side too, so that a program closing
// and opening its end again (the daemon restarting its port, brevctl runs
// one after another) finds the link as it left it, unread bytes included,
// as on the real cable.
//
// Usage: brevlink HOST_LINK GADGET_LINK TRANSCRIPT
// It makes HOST_LINK and GADGET_LINK symbolic links to the two ends and runs
// until it is ended by a signal.

#include "linktranscript.h"

#include <QByteArray>
#include <QFile>
#include <QTime>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopping = 0;

// How long a run of data may pause and still be one run.
constexpr int quietMs = 300;

void onSignal(int)
{
    stopping = 1;
}

// One pseudo-terminal: the relay's master side, and the far side kept open
// and raw (no echo, no line discipline) for the program that uses it.
struct End
{
    int master = -1;
    int keeper = -1;
    QByteArray pending; // read from the other end, not yet taken by this one
};

bool openEnd(End &end, const char *link)
{
    char name[128];
    termios raw;
    cfmakeraw(&raw);
    if (openpty(&end.master, &end.keeper, name, &raw, nullptr) != 0)
        return false;
    fcntl(end.master, F_SETFL, O_NONBLOCK);
    fcntl(end.master, F_SETFD, FD_CLOEXEC);
    fcntl(end.keeper, F_SETFD, FD_CLOEXEC);
    unlink(link);
    return symlink(name, link) == 0;
}

// What to wait for on `self`: reading once `other` has taken what came
// before, writing while `self` has bytes waiting.
short events(const End &self, const End &other)
{
    return short((other.pending.isEmpty() ? POLLIN : 0) | (self.pending.isEmpty() ? 0 : POLLOUT));
}

// Moves what `from` has to `to`, and writes what `to` has waiting; returns
// the bytes read, for the transcript. A terminal hands over a few KiB a
// read: as many reads as come at once go on in one write.
QByteArray relay(End &from, End &to)
{
    constexpr int piece = 65536;
    QByteArray read;
    if (to.pending.isEmpty()) {
        char buffer[piece];
        int filled = 0;
        ssize_t count;
        while (filled < piece && (count = ::read(from.master, buffer + filled, size_t(piece - filled))) > 0)
            filled += int(count);
        read = QByteArray(buffer, filled);
        to.pending = read;
    }
    if (!to.pending.isEmpty()) {
        const ssize_t written = ::write(to.master, to.pending.constData(), size_t(to.pending.size()));
        if (written > 0)
            to.pending.remove(0, int(written));
    }
    return read;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: brevlink HOST_LINK GADGET_LINK TRANSCRIPT\n");
        return 2;
    }
    End host;
    End gadget;
    if (!openEnd(host, argv[1]) || !openEnd(gadget, argv[2])) {
        std::perror("brevlink: cannot make the link");
        return 1;
    }
    QFile transcriptFile(QString::fromLocal8Bit(argv[3]));
    if (!transcriptFile.open(QIODevice::Append | QIODevice::Unbuffered)) {
        std::fprintf(stderr, "brevlink: cannot write %s\n", argv[3]);
        return 1;
    }
    struct sigaction action = {};
    action.sa_handler = onSignal;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);

    LinkTranscript transcript;
    while (!stopping) {
        pollfd ends[2] = {{host.master, events(host, gadget), 0}, {gadget.master, events(gadget, host), 0}};
        const int ready = ::poll(ends, 2, quietMs);
        if (ready < 0 && errno != EINTR)
            break;
        const QTime now = QTime::currentTime();
        // A run of data ends in the transcript once the link is quiet.
        transcriptFile.write(transcript.flush(now.addMSecs(-quietMs)));
        if (ready <= 0)
            continue;
        const QByteArray fromHost = relay(host, gadget);
        const QByteArray fromPrinter = relay(gadget, host);
        QByteArray text;
        if (!fromHost.isEmpty())
            text += transcript.feed(LinkTranscript::HostToPrinter, fromHost, now);
        if (!fromPrinter.isEmpty())
            text += transcript.feed(LinkTranscript::PrinterToHost, fromPrinter, now);
        if (!text.isEmpty())
            transcriptFile.write(text);
    }
    transcriptFile.write(transcript.flush(QTime::currentTime()));
    unlink(argv[1]);
    unlink(argv[2]);
    return 0;
}
