#include "benchsetup.h"

#include "fakegadget.h"

#include <QRandomGenerator>

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

DaemonBenchmark::ShippedDispatchers::ShippedDispatchers()
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

namespace {

class TerminalHost : public HostEnd
{
public:
    TerminalHost()
    {
        m_gadget.setReading(false);
    }
    QString devicePath() const override { return m_gadget.devicePath(); }
    void sendFromThread(const QByteArray &bytes) override { m_gadget.sendFromThread(bytes); }
    void waitSent() override { m_gadget.waitSent(); }

private:
    FakeGadget m_gadget;
};

class PipeHost : public HostEnd
{
public:
    PipeHost()
        : m_path(m_dir.filePath(QStringLiteral("port")))
    {
        ::mkfifo(qPrintable(m_path), 0600);
        m_pipe = ::open(qPrintable(m_path), O_RDWR | O_CLOEXEC);
        ::fcntl(m_pipe, F_SETPIPE_SZ, 1 << 20);
    }
    ~PipeHost() override
    {
        waitSent();
        ::close(m_pipe);
    }
    QString devicePath() const override { return m_path; }
    void sendFromThread(const QByteArray &bytes) override
    {
        waitSent();
        m_sender = std::thread([fd = m_pipe, bytes] {
            for (qint64 sent = 0; sent < bytes.size();) {
                const ssize_t count = ::write(fd, bytes.constData() + sent, size_t(bytes.size() - sent));
                if (count <= 0)
                    return;
                sent += count;
            }
        });
    }
    void waitSent() override
    {
        if (m_sender.joinable())
            m_sender.join();
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
    int m_pipe = -1;
    std::thread m_sender;
};

} // namespace

std::unique_ptr<HostEnd> hostEnd(bool pipe)
{
    if (pipe)
        return std::make_unique<PipeHost>();
    return std::make_unique<TerminalHost>();
}

