// Idle memory of the running daemon, by package database. The version
// lookup reads the installed packages only, so the machine's package lists,
// however many, must cost nothing: the daemon on the machine's own APT
// configuration (its dpkg status and all its lists) against the daemon on a
// database that holds the machine's dpkg status and nothing else; and, for
// what the installed packages themselves cost, on one that lists only
// "cvipc". Each figure comes from a process of its own (this
// program, run again), since memory once taken is not given back: the
// resident set after the daemon has idled for a while, the best of a few
// rounds. Last line: "ratio: R", dpkg-status figure / machine figure.

#include "benchsetup.h"
#include "daemon/brevdaemon.h"
#include "fakegadget.h"
#include "testenv.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr int rounds = 3;
constexpr int idleMs = 3000;
const char measureOption[] = "--idle-rss";

struct Database
{
    const char *name;
    const char *what;
};

const Database databases[] = {
    {"small", "database with only cvipc"},
    {"status", "the machine's dpkg status, no lists"},
    {"machine", "the machine's APT configuration"},
};

long residentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// In the child: the daemon on the named database, idle for a while.
int measure(int argc, char *argv[], const QByteArray &database)
{
    DaemonBenchmark benchmark(argc, argv);
    if (!benchmark.ready())
        return 1;
    TestEnv env; // its APT configuration lists only cvipc
    if (database == "machine")
        qunsetenv("APT_CONFIG");
    if (database == "status") {
        QFile::remove(env.path(QStringLiteral("apt/status")));
        QFile::copy(QStringLiteral("/var/lib/dpkg/status"), env.path(QStringLiteral("apt/status")));
    }
    FakeGadget gadget;
    Brevdaemon daemon(env.settings(gadget.devicePath()));
    QEventLoop idle;
    QTimer::singleShot(idleMs, &idle, &QEventLoop::quit);
    idle.exec();
    std::printf("%ld\n", residentKilobytes());
    return 0;
}

long idleKilobytes(const char *program, const char *database)
{
    long best = -1;
    for (int round = 0; round < rounds; ++round) {
        QProcess child;
        child.start(QString::fromLocal8Bit(program), {QLatin1String(measureOption), QLatin1String(database)});
        child.waitForFinished(60000);
        const long kilobytes = child.readAllStandardOutput().trimmed().toLong();
        if (kilobytes > 0)
            best = best < 0 ? kilobytes : std::min(best, kilobytes);
    }
    return best;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && std::strcmp(argv[1], measureOption) == 0)
        return measure(argc, argv, argv[2]);

    const QFileInfoList lists = QDir(QStringLiteral("/var/lib/apt/lists"))
                                    .entryInfoList({QStringLiteral("*_Packages*")}, QDir::Files);
    qint64 listBytes = 0;
    for (const QFileInfo &list : lists)
        listBytes += list.size();
    std::printf("package lists on this machine: %d, %.1f MB\n", int(lists.size()), listBytes / 1e6);

    long figures[3];
    for (int i = 0; i < 3; ++i) {
        figures[i] = idleKilobytes(argv[0], databases[i].name);
        std::printf("idle RSS, %s: %.1f MB\n", databases[i].what, figures[i] / 1024.0);
    }
    std::printf("the package lists cost: %.1f MB\n", (figures[2] - figures[1]) / 1024.0);
    std::printf("ratio: %.2f\n", double(figures[1]) / figures[2]);
    return 0;
}
