#include "daemon/brevdaemon.h"

#include "daemon/logcategories.h"
#include "engineinterface.h"
#include "protocol/hostlink.h"
#include "services/servicecontract.h"
#include "supplyinterface.h"
#include "utilityinterface.h"

#include <QDBusConnection>
#include <QSocketNotifier>

#include <unistd.h>

Brevdaemon::Brevdaemon(QObject *parent)
    : Brevdaemon(DaemonSettings(), parent)
{
}

Brevdaemon::Brevdaemon(const DaemonSettings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_jobFileRoom(settings.jobFileReserveBytes)
    , m_updateHelper(settings.packageInstaller)
{
    initPackageDatabase();

    connectSupplyService();
    connectEngineService();
    connectUtilityService();

    m_serviceWatcher.setConnection(QDBusConnection::systemBus());
    m_serviceWatcher.setWatchMode(QDBusServiceWatcher::WatchForRegistration);
    m_serviceWatcher.addWatchedService(QLatin1String(Services::Engine::name));
    m_serviceWatcher.addWatchedService(QLatin1String(Services::Supply::name));
    connect(&m_serviceWatcher, &QDBusServiceWatcher::serviceRegistered,
            this, &Brevdaemon::onServiceRegistered);

    connect(&m_updateHelper, &UpdateHelper::ProgressChanged, this, &Brevdaemon::updateProgress);
    connect(&m_updateHelper, &UpdateHelper::ErrorOccurred, this, &Brevdaemon::updateError);
    m_updateProgram.setProcessChannelMode(QProcess::ForwardedChannels);
    connect(&m_updateProgram, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
            this, &Brevdaemon::onUpdateProgramEnded);

    registerCommands();

    m_writeQueue = new QStringList;

    m_reinitTimer.setInterval(m_settings.reinitIntervalMs);
    m_reinitTimer.setSingleShot(true);
    connect(&m_reinitTimer, &QTimer::timeout, this, &Brevdaemon::initialize);

    m_pingTimer.setInterval(m_settings.pingIntervalMs);
    connect(&m_pingTimer, &QTimer::timeout, this, &Brevdaemon::onPingTimeout,
            Qt::QueuedConnection);

    m_portRetryTimer.setSingleShot(true);
    connect(&m_portRetryTimer, &QTimer::timeout, this, &Brevdaemon::onPortRetry);

    m_batchTimer.setInterval(m_settings.batchIntervalMs);
    m_batchTimer.setSingleShot(true);
    connect(&m_batchTimer, &QTimer::timeout, this, &Brevdaemon::onBatchTimeout,
            Qt::QueuedConnection);

    qCInfo(logPort).noquote() << "brevdaemon" << BREV_VERSION << "serving" << m_settings.gadgetPath
                              << "- print jobs to" << m_settings.printProgram << "from" << m_settings.jobFilePath
                              << "- updates into" << m_settings.updateDir << "- status from"
                              << Services::Engine::name << Services::Supply::name << Services::Utility::name;
    initialize();
}

// An update program still running ends with the daemon object (only tests
// destroy it), and its end must not reach a daemon half destroyed.
Brevdaemon::~Brevdaemon()
{
    m_updateProgram.disconnect(this);
    uninitialize();
    if (m_jobFd >= 0)
        ::close(m_jobFd);
    delete m_writeQueue;
    delete m_engineInterface;
    delete m_supplyInterface;
    delete m_utilityInterface;
}

void Brevdaemon::registerCommands()
{
    for (const HostLink::InboundCommand &command : HostLink::inboundCommands)
        m_parser.addCommand(QByteArray(command.literal), command.id);
}
