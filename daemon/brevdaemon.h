#pragma once

#include "daemon/settings.h"
#include "protocol/diskreserve.h"

#include <cvparse.h>
#include <updatehelper.h>

#include <QApt/Backend>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QProcess>
#include <QSet>
#include <QStringList>
#include <QTimer>

class EngineInterface;
class QDBusAbstractInterface;
class QSocketNotifier;
class SupplyInterface;
class UtilityInterface;

// The printer's USB link daemon: spools print jobs from the host's byte
// stream, answers the host's queries from the sibling services on the system
// bus, pushes their changes to the host, and receives software updates.
// Its slots are spread over the folders of their concern.
class Brevdaemon : public QObject
{
    Q_OBJECT

public:
    explicit Brevdaemon(QObject *parent = nullptr);
    explicit Brevdaemon(const DaemonSettings &settings, QObject *parent = nullptr);
    ~Brevdaemon() override;

    // Offers one line to the host: the id's prefix, the payload and CR LF.
    void queueMessage(const int &id, const QString &payload);

public slots:
    // services/statusnotices.cpp
    void supplyIDChanged(QString id);
    void ribbonIDsChanged(QStringList ids);
    void supplyUIDChanged(QString id);
    void ribbon1UIDChanged(QString id);
    void ribbon2UIDChanged(QString id);
    void supplyMileageChanged(double percent);
    void ribbon1MileageChanged(double percent);
    void ribbon2MileageChanged(double percent);
    void printerStatusChanged(int status);
    // protocol/networkconfig.cpp
    void ethernetConfigChanged(QByteArray data);
    // protocol/inbounddispatch.cpp
    void readyRead(int socket);
    // daemon/outboundqueue.cpp
    void readyWrite(int socket);

private slots:
    // daemon/gadgetport.cpp
    void initialize();
    void uninitialize();
    void closeDevice(); // the device and its notifiers only
    void onPortRetry();
    // services/serviceconnections.cpp
    void onServiceRegistered(QString serviceName);
    // protocol/printjob.cpp
    void onPrintDone();
    void onQueueFull();
    // daemon/outboundqueue.cpp
    void onPingTimeout();
    void onBatchTimeout();
    // protocol/printjob.cpp
    void retryPrint();
    // protocol/softwareupdate.cpp
    void updateProgress(double percent);
    void updateError(int error);

private:
    // State of one readyRead() pass over the buffer.
    struct ReadPass
    {
        int total = 0;         // valid bytes in m_bufferData
        int writePosition = 0; // bytes before this index are in the job file
        bool jobSubmitted = false;
    };

    void registerCommands();

    // daemon/gadgetport.cpp
    void openDevice();
    void setReadEnabled(bool enabled);
    void pauseReading(int error);
    void portWorks();
    void retryPortLater();

    // daemon/outboundqueue.cpp
    bool hasUnsentLines() const;
    void dropOneLine();

    // protocol/inbounddispatch.cpp
    void dispatch(const ParseMatch &match, const QVector<ParseMatch> &matches, ReadPass &pass);
    bool lineStillArriving(const ParseMatch &match, int total) const;
    void refuseUnfinishedLine();
    void keepTail(const QVector<ParseMatch> &matches, const ReadPass &pass);
    void appendToJob(const char *bytes, int count);
    void carryOver(int from, int total);

    // protocol/printjob.cpp
    void appendAtMarker(const ParseMatch &marker, ReadPass &pass);
    void onJobZMarker(const ParseMatch &marker, ReadPass &pass);
    void onJobEndCountMarker(const ParseMatch &marker, ReadPass &pass);
    void onJobEndMarker(const ParseMatch &marker, const QVector<ParseMatch> &matches, ReadPass &pass);
    void submitJob();
    void restartPort();

    // protocol/hostqueries.cpp
    void answerQuery(int id);

    // protocol/softwareupdate.cpp
    void initPackageDatabase();
    void startUpdateProgram();
    void reportSoftwareVersion();
    void receiveTransfer(int start, int socket, const ReadPass &pass);
    bool makeRoomForTransfer(const QString &path, qint64 size);
    void onUpdateProgramEnded(int exitCode, QProcess::ExitStatus status);

    // protocol/networkconfig.cpp
    QList<QByteArray> configLineFields(int start, const ReadPass &pass, int count, const char *refusal);
    void applyEthernetConfig(int start, const ReadPass &pass);
    void requestEthernetConfig();
    void applyShip(int start, const ReadPass &pass);

    // services/serviceconnections.cpp
    void connectEngineService();
    void connectSupplyService();
    void connectUtilityService();

    const DaemonSettings m_settings;

    int m_jobFd = -1;
    int m_gadgetFd = -1;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QTimer m_reinitTimer;
    QTimer m_pingTimer;
    QTimer m_batchTimer;
    QTimer m_portRetryTimer;
    int m_portRetryDelayMs = 0;
    bool m_portFaulted = false; // the device did not open, or its reads fail
    bool m_openRefused = false; // the last open failed with EPERM or EACCES
    QDBusServiceWatcher m_serviceWatcher;
    QStringList *m_writeQueue = nullptr;
    QByteArray m_unsentText; // the part of a write pass the device did not take
    int m_droppedLines = 0;  // lines the full queue dropped since the host last read
    char m_bufferData[1024];
    int m_lastReadCount = 0;
    int m_bufferUsed = 0;
    int m_unfinishedLine = 0; // id of the command whose line waits in the buffer, or 0
    int m_jobEndsExpected = 0;
    int m_jobZValue = 1;
    int m_jobEndsSeen = 0;
    bool m_jobWriteFailed = false; // the job file takes no more bytes (why is logged)
    ReserveGuard m_jobFileRoom;
    // Proxies built from the services' interface descriptions (services/dbus/).
    EngineInterface *m_engineInterface = nullptr;
    SupplyInterface *m_supplyInterface = nullptr;
    UtilityInterface *m_utilityInterface = nullptr;
    QSet<const QDBusAbstractInterface *> m_silentServices; // see services/servicecall.h
    QApt::Backend m_backend;
    UpdateHelper m_updateHelper;
    QProcess m_updateProgram;
    QString m_lastTransferFile; // what the latest transfer left in the update folder
    QString m_supplyID;
    QStringList m_ribbonIDs;
    QString m_supplyUID;
    QString m_ribbon1UID;
    QString m_ribbon2UID;
    CVParse m_parser;
    // The view of m_bufferData that is parsed, reset for each read: a new
    // view would cost an allocation per read.
    QByteArray m_parsedView;
};
