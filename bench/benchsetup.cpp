#include "benchsetup.h"

#include <QRandomGenerator>

#include <cstdio>

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

DaemonBenchmark::QtDispatcher::QtDispatcher()
{
    qputenv("QT_NO_GLIB", "1");
}

DaemonBenchmark::DaemonBenchmark(int &argc, char **argv)
    : m_app(argc, argv)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    m_ready = m_bus.start();
    if (!m_ready)
        std::printf("no private bus\n");
}
