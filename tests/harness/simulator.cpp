#include "simulator.h"

#include <QEventLoop>
#include <QTimer>

namespace {

// Generous: the simulator and the in-process daemon share a loaded machine.
const int answerTimeoutMs = 20000;

} // namespace

Simulator::Simulator(QObject *parent)
    : QObject(parent)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &Simulator::readLines);
}

Simulator::~Simulator()
{
    m_process.closeWriteChannel(); // the simulator ends with its input
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool Simulator::start(const QStringList &services)
{
    QStringList arguments;
    if (!services.isEmpty())
        arguments << QStringLiteral("--services") << services.join(QLatin1Char(','));
    m_process.start(QStringLiteral(BREV_SIMULATOR), arguments);
    if (!waitForAnswer())
        return false;
    return m_answers.takeFirst() == QLatin1String("ready");
}

bool Simulator::command(const QString &line)
{
    m_process.write(line.toLocal8Bit() + '\n');
    if (!waitForAnswer()) {
        qWarning("brevsim gave no answer to: %s", qPrintable(line));
        return false;
    }
    const QString answer = m_answers.takeFirst();
    if (answer != QLatin1String("ok"))
        qWarning("brevsim: %s: %s", qPrintable(line), qPrintable(answer));
    return answer == QLatin1String("ok");
}

void Simulator::readLines()
{
    while (m_process.canReadLine()) {
        const QString line = QString::fromLocal8Bit(m_process.readLine()).trimmed();
        if (line.startsWith(QLatin1String("call ")))
            m_calls.append(line.mid(5));
        else if (line == QLatin1String("ready") || line == QLatin1String("ok")
                 || line.startsWith(QLatin1String("error ")))
            m_answers.append(line);
    }
}

// Runs the event loop, so that an in-process daemon goes on working, until
// an answer line arrives, the simulator ends or the time is up.
bool Simulator::waitForAnswer()
{
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(&m_process, &QProcess::readyReadStandardOutput, &loop, &QEventLoop::quit);
    connect(&m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop,
            &QEventLoop::quit);
    connect(&m_process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    deadline.start(answerTimeoutMs);
    while (m_answers.isEmpty() && deadline.isActive() && m_process.state() != QProcess::NotRunning)
        loop.exec();
    readLines();
    return !m_answers.isEmpty();
}
