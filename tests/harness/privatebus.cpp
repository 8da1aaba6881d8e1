#include "privatebus.h"

#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char config[] = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
)";

} // namespace

PrivateBus::~PrivateBus()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

// Starts the bus and reads the address it prints, waiting at most 30 s.
bool PrivateBus::start()
{
    const QString configPath = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile file(configPath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QString::fromLatin1(config).arg(m_dir.path()).toUtf8());
    file.close();

    int address[2];
    if (::pipe2(address, O_CLOEXEC) != 0)
        return false;
    const QByteArray configOption = "--config-file=" + QFile::encodeName(configPath);
    const QByteArray printOption = "--print-address=" + QByteArray::number(address[1]);
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid == 0) {
        // The bus dies with the test even when the test is killed.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(1);
        ::fcntl(address[1], F_SETFD, 0);
        ::execlp("dbus-daemon", "dbus-daemon", "--nofork", printOption.constData(), configOption.constData(),
                 static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(address[1]);
    QByteArray line;
    pollfd readable = {address[0], POLLIN, 0};
    char byte;
    while (m_pid > 0 && !line.endsWith('\n') && ::poll(&readable, 1, 30000) == 1 && ::read(address[0], &byte, 1) == 1)
        line += byte;
    ::close(address[0]);
    if (!line.endsWith('\n'))
        return false;
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", line.trimmed());
    return true;
}
