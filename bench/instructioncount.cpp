#include "instructioncount.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/syscall.h>
#include <unistd.h>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define BREV_CALLGRIND 1
#endif

namespace InstructionCount {

namespace {

// Where callgrind writes its dumps: "<prefix>.<dump>-<thread>".
const char *const dumpPrefixVariable = "BREV_CALLGRIND_OUT";
// The marker that the qemu plugin watches for: prctl() with an option that
// no kernel knows, which fails harmlessly everywhere else.
constexpr long markerOption = 0x62726576;

#ifdef BREV_CALLGRIND
int dumps = 0;

bool underCallgrind()
{
    return RUNNING_ON_VALGRIND && std::getenv(dumpPrefixVariable);
}

// The total of the main thread's part of the latest callgrind dump.
double lastDumpTotal()
{
    QFile dump(QString::fromLocal8Bit(std::getenv(dumpPrefixVariable)) + QStringLiteral(".%1-01").arg(dumps));
    if (!dump.open(QIODevice::ReadOnly))
        return -1;
    while (!dump.atEnd()) {
        const QByteArray line = dump.readLine();
        if (line.startsWith("totals: "))
            return line.mid(8).trimmed().toDouble();
    }
    return -1;
}
#endif

QByteArray firstLine(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readLine().trimmed() : QByteArray();
}

} // namespace

bool counting(int argc, char **argv)
{
    return argc > 1 && std::strcmp(argv[1], "--count") == 0;
}

void begin()
{
#ifdef BREV_CALLGRIND
    if (underCallgrind()) {
        CALLGRIND_TOGGLE_COLLECT;
        return;
    }
#endif
    ::syscall(SYS_prctl, markerOption, 1L);
}

double end()
{
#ifdef BREV_CALLGRIND
    if (underCallgrind()) {
        CALLGRIND_TOGGLE_COLLECT;
        CALLGRIND_DUMP_STATS;
        ++dumps;
        return lastDumpTotal();
    }
#endif
    ::syscall(SYS_prctl, markerOption, 0L);
    const char *countFile = std::getenv("BREV_INSN_COUNT_FILE");
    if (!countFile)
        return -1;
    bool ok = false;
    const double count = firstLine(QString::fromLocal8Bit(countFile)).toDouble(&ok);
    return ok ? count : -1;
}

void runCounted(const QStringList &arguments)
{
#ifndef BREV_CALLGRIND
    (void)arguments;
    std::printf("instructions: not counted, built without valgrind's headers\n");
#else
    std::fflush(stdout);
    QTemporaryDir dumps;
    QProcess callgrind;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(dumpPrefixVariable), dumps.filePath(QStringLiteral("out")));
    callgrind.setProcessEnvironment(environment);
    callgrind.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    callgrind.start(QStringLiteral("valgrind"),
                    QStringList{QStringLiteral("--tool=callgrind"), QStringLiteral("--quiet"),
                                QStringLiteral("--collect-atstart=no"),
                                QStringLiteral("--separate-threads=yes"),
                                QStringLiteral("--callgrind-out-file=") + dumps.filePath(QStringLiteral("out")),
                                QCoreApplication::applicationFilePath(), QStringLiteral("--count")}
                        + arguments);
    if (!callgrind.waitForFinished(-1) || callgrind.exitStatus() != QProcess::NormalExit
        || callgrind.exitCode() != 0) {
        std::printf("instructions: the run under callgrind failed (%s; is valgrind installed?)\n",
                    qPrintable(callgrind.errorString()));
        std::printf("%s", callgrind.readAllStandardError().constData());
    }
    std::fflush(stdout);
#endif
}

QByteArray perMib(double instructions, double bytes)
{
    if (instructions < 0 || bytes <= 0)
        return "?";
    return QByteArray::number(instructions / (bytes / (1 << 20)) / 1e6, 'f', 2) + " M";
}

} // namespace InstructionCount
