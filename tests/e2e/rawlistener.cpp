#include "rawlistener.h"

#include <QTcpSocket>

bool RawListener::listen()
{
    connect(&m_server, &QTcpServer::newConnection, this, &RawListener::accept);
    return m_server.listen(QHostAddress::LocalHost);
}

void RawListener::accept()
{
    while (QTcpSocket *connection = m_server.nextPendingConnection()) {
        auto *job = new QByteArray;
        connect(connection, &QTcpSocket::readyRead, connection, [connection, job] { *job += connection->readAll(); });
        connect(connection, &QTcpSocket::disconnected, this, [this, connection, job] {
            *job += connection->readAll();
            m_jobs.append(*job);
            delete job;
            connection->deleteLater();
        });
    }
}
