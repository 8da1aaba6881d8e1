// libFuzzer target: the daemon's read path, Brevdaemon::readyRead().
//
// The fuzzer's input makes one stream from the host, of print data and whole
// commands, and a set of cuts in it. The stream goes to one daemon twice:
// once as a single read, once cut into one read per piece. Both passes must
// run the same commands in the same order (the daemon's command trace and
// everything else it logs), submit a job or not alike, and leave the same
// bytes in the job file.
//
// Cuts anywhere else must not matter, inside a command (its start waits for
// the next read) among them. Where the daemon's rules make a cut matter, no
// cut is made:
// - "^K" and "^Z" take their argument from the byte after them, and a read
//   that ends right after the marker gives 0: no cut right after a marker.
// - A job marker takes everything before it in its read into the job file,
//   commands included; past the last marker of a read, a command's own bytes
//   stay out. No cut between a command and the job marker after it.
// - A "^SETETHCONF" or "^SETCVSHIP" line cut short waits for its end, and
//   the rest of its read waits with it: a cut inside such a line counts as
//   one where the line starts, for the two rules above.
// Streams holding "^XFER" are not tried: it takes the file that follows it
// straight from the port, outside the reads under test.
// Once a job is complete, reading waits for the port's restart, so neither
// pass reads on after the completing end marker. The whole stream fits in
// one read.

#include "daemonlink.h"
#include "plainparse.h"
#include "privatebus.h"
#include "protocol/hostlink.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QCoreApplication>
#include <QLoggingCategory>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int readLimit = 1023; // the most one read of the daemon takes

// The pieces of a stream, each sent as the host's next write.
using Pieces = QVector<QByteArray>;

struct Outcome
{
    QStringList log;
    QByteArray jobFile;
    bool submitted = false;
};

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "read path: %s\n", what);
    std::abort();
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

// One daemon for the whole fuzzing run, on a private bus, in a scratch
// world; the test holds a pipe of its own whose read end it hands to
// readyRead() as the descriptor to read.
class ReadPath
{
public:
    ReadPath()
    {
        if (!m_busStarted)
            fail("the private bus did not start");
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
            fail("no pipe");
        m_readEnd = ends[0];
        m_writeEnd = ends[1];
    }

    ~ReadPath()
    {
        ::close(m_readEnd);
        ::close(m_writeEnd);
    }

    Outcome feed(const Pieces &pieces)
    {
        Outcome outcome;
        m_link.log.clear();
        for (const QByteArray &piece : pieces) {
            send(piece);
            outcome.submitted = readAll();
            if (outcome.submitted)
                break;
        }
        outcome.log = m_link.log.messages();
        outcome.jobFile = m_link.env.jobFile();
        restart();
        return outcome;
    }

private:
    void send(const QByteArray &bytes)
    {
        if (::write(m_writeEnd, bytes.constData(), size_t(bytes.size())) != bytes.size())
            fail("the pipe did not take a piece");
    }

    int waiting() const
    {
        int count = 0;
        ::ioctl(m_readEnd, FIONREAD, &count);
        return count;
    }

    // Lets the daemon read until the pipe is empty or a job is submitted,
    // after which it would not read again before the port restarts.
    bool readAll()
    {
        for (int left = waiting(); left > 0; left = waiting()) {
            m_link.daemon.readyRead(m_readEnd);
            if (!m_link.env.calls(QStringLiteral("lp")).isEmpty())
                return true;
            if (waiting() == left)
                fail("the daemon did not read");
        }
        return false;
    }

    // Brings the daemon back to where it started: ".\r\n", which begins no
    // command and ends any waiting line, takes whatever waits in its buffer
    // (the start of a command, a line waiting for its end, or what followed a
    // completed job) out of it, then the port restarts, as after a printed
    // job, with a new job file and counters.
    void restart()
    {
        send(".\r\n");
        while (waiting() > 0)
            m_link.daemon.readyRead(m_readEnd);
        for (const char *slot : {"uninitialize", "initialize"}) {
            if (!QMetaObject::invokeMethod(&m_link.daemon, slot, Qt::DirectConnection))
                fail("the port did not restart");
        }
        m_link.env.clearCalls(QStringLiteral("lp"));
        // Timers and bus messages; what the daemon writes to the host is not
        // looked at.
        QCoreApplication::processEvents();
        m_link.gadget.clearReceived();
    }

    // In this order: the bus is up before the daemon connects to it.
    PrivateBus m_bus;
    const bool m_busStarted = m_bus.start();
    // No update program: what "^UPDATE" starts is not looked at here, and a
    // process started for each one would take most of the run's time.
    DaemonLink m_link{[](DaemonLink &link) { link.settings.updateProgram.clear(); }};
    int m_readEnd = -1;
    int m_writeEnd = -1;
};

ReadPath *readPath = nullptr;

bool takesArgumentByte(int id)
{
    return id == HostLink::JobEndCount || id == HostLink::JobZ;
}

bool isJobMarker(int id)
{
    return takesArgumentByte(id) || id == HostLink::JobEndMarker;
}

bool waitsForItsLine(int id)
{
    return id == HostLink::SetEthernetConfig || id == HostLink::SetShip;
}

// Where the read that a cut at p ends (p: the first byte of the next read)
// counts as ending. A command line cut short waits in the buffer, and what
// follows it in the read waits with it, so that read counts as ending where
// the line starts: for "^SETETHCONF" and "^SETCVSHIP", from the command's
// first byte up to the carriage return or line feed that ends its line.
QVector<int> effectiveCuts(const QByteArray &stream, const QVector<ParseMatch> &commands)
{
    QVector<int> effective(stream.size() + 1);
    std::iota(effective.begin(), effective.end(), 0);
    for (const ParseMatch &command : commands) {
        if (!waitsForItsLine(command.id))
            continue;
        int lineEnd = command.end + 1;
        while (lineEnd < stream.size() && stream[lineEnd] != '\r' && stream[lineEnd] != '\n')
            ++lineEnd;
        for (int p = command.start + 1; p <= lineEnd; ++p)
            effective[p] = std::min(effective[p], command.start);
    }
    return effective;
}

// Which positions a cut may not fall on, by the rules in the comment at the
// top, applied where the read counts as ending.
QVector<bool> cutsThatMatter(const QByteArray &stream, const QVector<ParseMatch> &commands)
{
    QVector<bool> endMatters(stream.size() + 1, false);
    const auto rule = [&](int from, int to) {
        for (int p = from; p <= to && p < stream.size(); ++p)
            endMatters[p] = true;
    };
    for (int i = 0; i < commands.size(); ++i) {
        const ParseMatch &command = commands[i];
        if (command.id == ParseMatch::Partial)
            continue;
        if (takesArgumentByte(command.id))
            rule(command.end + 1, command.end + 1);
        if (!isJobMarker(command.id)) {
            for (int j = i + 1; j < commands.size(); ++j) {
                if (isJobMarker(commands[j].id)) {
                    rule(command.end + 1, commands[j].end);
                    break;
                }
            }
        }
    }
    const QVector<int> effective = effectiveCuts(stream, commands);
    QVector<bool> matters(stream.size() + 1);
    for (int p = 0; p <= stream.size(); ++p)
        matters[p] = endMatters[effective[p]];
    return matters;
}

QString escaped(const QByteArray &bytes)
{
    QString text;
    for (char c : bytes) {
        if (c >= 0x20 && c < 0x7f && c != '\\' && c != '|')
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(uint(uchar(c)), 2, 16, QLatin1Char('0'));
    }
    return text;
}

void report(const Pieces &pieces, const Outcome &whole, const Outcome &cut)
{
    QStringList reads;
    for (const QByteArray &piece : pieces)
        reads << escaped(piece);
    const auto describe = [](const Outcome &outcome) {
        return QStringLiteral("job %1submitted, job file: %2\n  log: %3")
            .arg(outcome.submitted ? "" : "not ", escaped(outcome.jobFile), outcome.log.join(QStringLiteral(" | ")));
    };
    std::fprintf(stderr, "reads, cut at |: %s\none read:  %s\ncut reads: %s\n",
                 qPrintable(reads.join(QLatin1Char('|'))), qPrintable(describe(whole)), qPrintable(describe(cut)));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static int qtArgc = 1;
    static char *qtArgv[] = {(*argv)[0], nullptr};
    (void)argc;
    static QCoreApplication app(qtArgc, qtArgv);
    // The daemon's log is compared, not shown; its command trace is on.
    qInstallMessageHandler(quiet);
    QLoggingCategory::setFilterRules(QStringLiteral("brevdaemon.hostlink.debug=true"));
    readPath = new ReadPath;
    // Stops the private bus and removes the scratch world when the run ends.
    std::atexit([] { delete readPath; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const Catalogue catalogue = hostCatalogue();

    // Whole commands, runs of any bytes, and cuts at or a little before the
    // end of what the stream holds so far, so that cuts also fall inside
    // commands.
    FuzzedDataProvider input(data, size);
    QByteArray stream;
    QVector<int> cuts;
    while (input.remaining_bytes() > 0 && stream.size() < readLimit) {
        const int choice = input.ConsumeIntegralInRange<int>(0, catalogue.size() + 1);
        if (choice < catalogue.size()) {
            stream += catalogue[choice].bytes;
        } else if (choice == catalogue.size()) {
            const std::string bytes = input.ConsumeBytesAsString(input.ConsumeIntegralInRange<size_t>(1, 16));
            stream += QByteArray(bytes.data(), int(bytes.size()));
        } else {
            cuts.append(stream.size() - input.ConsumeIntegralInRange<int>(0, 15));
        }
    }
    stream.truncate(readLimit);

    const QVector<ParseMatch> commands = plainParse(stream.constData(), stream.size(), catalogue);
    for (const ParseMatch &command : commands) {
        if (command.id == HostLink::Transfer)
            return -1;
    }
    const QVector<bool> matters = cutsThatMatter(stream, commands);
    std::sort(cuts.begin(), cuts.end());
    Pieces pieces;
    int from = 0;
    for (int cut : cuts) {
        if (cut <= from || cut >= stream.size() || matters[cut])
            continue;
        pieces.append(stream.mid(from, cut - from));
        from = cut;
    }
    pieces.append(stream.mid(from));

    const Outcome whole = readPath->feed({stream});
    const Outcome cut = readPath->feed(pieces);
    if (whole.log != cut.log || whole.jobFile != cut.jobFile || whole.submitted != cut.submitted) {
        report(pieces, whole, cut);
        fail("the reads did not give what the stream read whole gives");
    }
    return 0;
}
