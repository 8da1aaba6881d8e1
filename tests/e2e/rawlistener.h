#pragma once

#include <QByteArray>
#include <QList>
#include <QTcpServer>

// The far end of a raw print queue: listens on a loopback port as a network
// printer does and keeps what each connection carried, one job per
// connection, once the sender has closed it.
class RawListener : public QObject
{
    Q_OBJECT

public:
    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    QList<QByteArray> jobs() const { return m_jobs; }

private:
    void accept();

    QTcpServer m_server;
    QList<QByteArray> m_jobs;
};
