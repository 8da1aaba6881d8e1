#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QMutex>


QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

namespace {

QMutex logMutex;
QStringList logMessages;
QtMessageHandler previousHandler = nullptr;
int captures = 0; // LogCapture objects alive

void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    QMutexLocker lock(&logMutex);
    logMessages.append(message);
    lock.unlock();
    previousHandler(type, context, message); // never null: Qt hands out its default one
}

} // namespace

// The stubs and the package database are scripts/fake-machine.sh's, the
// simulated printer's own.
TestEnv::TestEnv()
{
    QProcess::execute(QStringLiteral("sh"), {QStringLiteral(BREV_SOURCE_DIR "/scripts/fake-machine.sh"), m_dir.path(),
                                             QStringLiteral("lp"), QStringLiteral("dpkg"), QStringLiteral("Fenwick")});
    qputenv("PATH", (path(QStringLiteral("bin")) + QLatin1Char(':')).toLocal8Bit() + qgetenv("PATH"));
    qputenv("APT_CONFIG", path(QStringLiteral("apt/apt.conf")).toLocal8Bit());
    qputenv("BREVDAEMON_DEBSIG_ROOT", debsigRoot().toLocal8Bit());
}

TestEnv::~TestEnv()
{
    qputenv("PATH", m_path);
    qunsetenv("BREVDAEMON_DEBSIG_ROOT");
    if (m_hadAptConfig)
        qputenv("APT_CONFIG", m_aptConfig);
    else
        qunsetenv("APT_CONFIG");
}

DaemonSettings TestEnv::settings(const QString &gadgetPath) const
{
    DaemonSettings settings;
    settings.gadgetPath = gadgetPath;
    settings.jobFilePath = jobFilePath();
    settings.updateDir = updateDir();
    settings.updateProgram = path(QStringLiteral("bin/Fenwick"));
    settings.packageInstaller = QStringLiteral(BREV_PACKAGE_INSTALLER);
    // Each interval its own value, so that a timer started with another's
    // interval shows.
    settings.reinitIntervalMs = 700;
    settings.pingIntervalMs = 1500;
    settings.batchIntervalMs = 200;
    settings.printRetryIntervalMs = 1100;
    settings.transferSilenceMs = 1000;
    settings.portRetryMinMs = 30;
    settings.portRetryMaxMs = 120;
    return settings;
}

QByteArray TestEnv::jobFile() const
{
    return fileContent(jobFilePath());
}

QStringList TestEnv::calls(const QString &program) const
{
    return QString::fromLocal8Bit(fileContent(path(program + QStringLiteral(".calls"))))
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void TestEnv::clearCalls(const QString &program) const
{
    QFile::remove(path(program + QStringLiteral(".calls")));
}

void TestEnv::setExitCode(const QString &program, int code) const
{
    writeFile(path(program + QStringLiteral(".exit")), QByteArray::number(code));
}

void TestEnv::setAction(const QString &program, const QString &shell) const
{
    writeFile(path(program + QStringLiteral(".action")), shell.toLocal8Bit());
}

LogCapture::LogCapture()
{
    QMutexLocker lock(&logMutex);
    if (captures++ > 0)
        return;
    logMessages.clear();
    previousHandler = qInstallMessageHandler(collect);
}

LogCapture::~LogCapture()
{
    QMutexLocker lock(&logMutex);
    if (--captures == 0)
        qInstallMessageHandler(previousHandler);
}

QStringList LogCapture::messages() const
{
    QMutexLocker lock(&logMutex);
    return logMessages;
}

void LogCapture::clear()
{
    QMutexLocker lock(&logMutex);
    logMessages.clear();
}

int LogCapture::count(const QString &text) const
{
    return messages().filter(text).size();
}
