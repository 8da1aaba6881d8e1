#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QMutex>

#include <fcntl.h>
#include <unistd.h>

namespace {

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(content);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TestEnv::TestEnv()
{
    QDir(m_dir.path()).mkpath(QStringLiteral("bin"));
    QDir(m_dir.path()).mkpath(QStringLiteral("Home"));
    for (const char *program : {"lp", "dpkg", "Fenwick"})
        writeStub(QLatin1String(program));
    qputenv("PATH", (path(QStringLiteral("bin")) + QLatin1Char(':')).toLocal8Bit() + qgetenv("PATH"));
    writeAptConfig();
}

void TestEnv::writeStub(const QString &program) const
{
    const QString stub = path(QStringLiteral("bin/") + program);
    const QString record = path(program + QStringLiteral(".calls"));
    const QString code = path(program + QStringLiteral(".exit"));
    writeFile(stub, QStringLiteral("#!/bin/sh\necho \"$@\" >> '%1'\n"
                                   "[ -f '%2' ] && exit \"$(cat '%2')\"\nexit 0\n")
                        .arg(record, code).toLocal8Bit());
    QFile::setPermissions(stub, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void TestEnv::writeAptConfig() const
{
    QDir(m_dir.path()).mkpath(QStringLiteral("apt/lists/partial"));
    QDir(m_dir.path()).mkpath(QStringLiteral("apt/cache/archives/partial"));
    QDir(m_dir.path()).mkpath(QStringLiteral("apt/empty"));
    writeFile(path(QStringLiteral("apt/status")),
              "Package: cvipc\nStatus: install ok installed\nPriority: optional\nSection: misc\n"
              "Installed-Size: 1\nMaintainer: Test <test@example.invalid>\nArchitecture: all\n"
              "Version: 1.0\nDescription: printer software\n\n");
    const QString apt = path(QStringLiteral("apt"));
    writeFile(path(QStringLiteral("apt/apt.conf")),
              QStringLiteral("Dir::State::status \"%1/status\";\n"
                             "Dir::State::Lists \"%1/lists/\";\n"
                             "Dir::Cache \"%1/cache/\";\n"
                             "Dir::Etc::SourceList \"%1/empty/sources.list\";\n"
                             "Dir::Etc::SourceParts \"%1/empty/\";\n"
                             "Dir::Etc::Parts \"%1/empty/\";\n"
                             "Dir::Etc::PreferencesParts \"%1/empty/\";\n")
                  .arg(apt).toLocal8Bit());
    qputenv("APT_CONFIG", path(QStringLiteral("apt/apt.conf")).toLocal8Bit());
}

DaemonSettings TestEnv::settings(const QString &gadgetPath) const
{
    DaemonSettings settings;
    settings.gadgetPath = gadgetPath;
    settings.jobFilePath = jobFilePath();
    settings.updateDir = updateDir();
    settings.updateProgram = path(QStringLiteral("bin/Fenwick"));
    settings.reinitIntervalMs = 500;
    settings.pingIntervalMs = 1500;
    settings.batchIntervalMs = 200;
    settings.printRetryIntervalMs = 500;
    settings.transferSilenceMs = 1000;
    return settings;
}

QByteArray TestEnv::jobFile() const
{
    return readFile(jobFilePath());
}

QStringList TestEnv::calls(const QString &program) const
{
    const QByteArray text = readFile(path(program + QStringLiteral(".calls")));
    QStringList lines = QString::fromLocal8Bit(text).split(QLatin1Char('\n'));
    lines.removeAll(QString());
    return lines;
}

void TestEnv::setExitCode(const QString &program, int code) const
{
    writeFile(path(program + QStringLiteral(".exit")), QByteArray::number(code));
}

namespace {

QMutex logMutex;
QStringList logMessages;
QtMessageHandler previousHandler = nullptr;

void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        QMutexLocker lock(&logMutex);
        logMessages.append(message);
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

LogCapture::LogCapture()
{
    QMutexLocker lock(&logMutex);
    logMessages.clear();
    previousHandler = qInstallMessageHandler(collect);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previousHandler);
}

QStringList LogCapture::messages() const
{
    QMutexLocker lock(&logMutex);
    return logMessages;
}

int LogCapture::count(const QString &text) const
{
    int found = 0;
    for (const QString &message : messages())
        found += message.contains(text) ? 1 : 0;
    return found;
}

StderrCapture::StderrCapture()
{
    std::fflush(stderr);
    m_saved = ::dup(2);
    const int file = ::open(qPrintable(m_dir.filePath(QStringLiteral("stderr"))),
                            O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(file, 2);
    ::close(file);
}

StderrCapture::~StderrCapture()
{
    std::fflush(stderr);
    ::dup2(m_saved, 2);
    ::close(m_saved);
}

QByteArray StderrCapture::text() const
{
    std::fflush(stderr);
    return readFile(m_dir.filePath(QStringLiteral("stderr")));
}
