#include "printernamespace.h"

#include "waitforfile.h"

#include <QFile>


PrinterNamespace::~PrinterNamespace()
{
    stop();
}

bool PrinterNamespace::start(const QString &daemon)
{
    if (!m_state.isValid())
        return false;
    m_launcher.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("BREV_LINK"), QStringLiteral(BREV_LINK));
    environment.insert(QStringLiteral("BREV_INSTALLER"), QStringLiteral(BREV_PACKAGE_INSTALLER));
    m_launcher.setProcessEnvironment(environment);
    // Should the test process die, the script still gets its signal to clean up.
    m_launcher.start(QStringLiteral("setpriv"),
                     {QStringLiteral("--pdeathsig"), QStringLiteral("TERM"),
                      QStringLiteral(BREV_SOURCE_DIR "/scripts/printer-namespace.sh"), m_state.path(), daemon});
    return m_launcher.waitForStarted(10000) && waitForFile(hostPath(), m_launcher, 60000);
}

bool PrinterNamespace::stop()
{
    if (m_launcher.state() == QProcess::NotRunning)
        return true;
    m_launcher.terminate();
    return m_launcher.waitForFinished(30000);
}

QStringList PrinterNamespace::calls(const QString &program) const
{
    QFile record(path(program + QStringLiteral(".calls")));
    if (!record.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(record.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList PrinterNamespace::existingMachinePaths()
{
    QStringList existing;
    for (const char *path : {"/dev/g_nira_printer", "/Home", "/usr/bin/Fenwick"}) {
        if (QFile::exists(QLatin1String(path)))
            existing.append(QLatin1String(path));
    }
    return existing;
}
