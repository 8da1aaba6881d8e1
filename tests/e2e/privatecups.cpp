#include "privatecups.h"

#include "testenv.h"
#include "waitforfile.h"

#include <QDir>
#include <QFile>

namespace {

// Anyone may do anything: the scheduler is reachable only through its socket.
const char schedulerConfig[] = R"(Listen %1/cups.sock
LogLevel warn
Browsing No
DefaultAuthType None
<Policy default>
  JobPrivateAccess all
  JobPrivateValues none
  SubscriptionPrivateAccess all
  SubscriptionPrivateValues none
  <Limit All>
    Order allow,deny
    Allow all
  </Limit>
</Policy>
<Location />
  Order allow,deny
  Allow all
</Location>
)";

// User and Group stay at their defaults: cupsd refuses to run jobs as root.
const char filesConfig[] = R"(ServerRoot %1/etc
RequestRoot %1/spool
TempDir %1/spool/tmp
CacheDir %1/cache
StateDir %1/state
ErrorLog %1/error_log
AccessLog %1/access_log
PageLog %1/page_log
)";

} // namespace

PrivateCups::~PrivateCups()
{
    m_cupsd.terminate();
    if (!m_cupsd.waitForFinished(10000)) {
        m_cupsd.kill();
        m_cupsd.waitForFinished(5000);
    }
}

bool PrivateCups::writeConfiguration()
{
    // The backends run as the unprivileged "lp" user and must reach the spool.
    QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                            | QFileDevice::ReadGroup | QFileDevice::ExeGroup
                                            | QFileDevice::ReadOther | QFileDevice::ExeOther);
    for (const char *folder : {"etc", "spool/tmp", "cache", "state"})
        QDir(m_dir.path()).mkpath(QLatin1String(folder));
    return writeFile(m_dir.filePath(QStringLiteral("cupsd.conf")), QString::fromLatin1(schedulerConfig).arg(m_dir.path()).toUtf8())
           && writeFile(m_dir.filePath(QStringLiteral("cups-files.conf")),
                        QString::fromLatin1(filesConfig).arg(m_dir.path()).toUtf8());
}

bool PrivateCups::run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool PrivateCups::start(quint16 printerPort)
{
    if (!m_dir.isValid() || !writeConfiguration())
        return false;
    qputenv("CUPS_SERVER", socketPath().toLocal8Bit());
    m_cupsd.setProcessChannelMode(QProcess::ForwardedChannels);
    m_cupsd.start(QStringLiteral("setpriv"),
                  {QStringLiteral("--pdeathsig"), QStringLiteral("TERM"), QStringLiteral("cupsd"), QStringLiteral("-f"),
                   QStringLiteral("-c"), m_dir.filePath(QStringLiteral("cupsd.conf")), QStringLiteral("-s"),
                   m_dir.filePath(QStringLiteral("cups-files.conf"))});
    if (!m_cupsd.waitForStarted(10000) || !waitForFile(socketPath(), m_cupsd, 20000))
        return false;
    const QString device = QStringLiteral("socket://127.0.0.1:%1").arg(printerPort);
    return run(QStringLiteral("lpadmin"), {QStringLiteral("-p"), QStringLiteral("brev"), QStringLiteral("-E"),
                                           QStringLiteral("-v"), device})
           && run(QStringLiteral("lpadmin"), {QStringLiteral("-d"), QStringLiteral("brev")});
}
