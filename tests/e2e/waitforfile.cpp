#include "waitforfile.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

bool waitForFile(const QString &path, const QProcess &maker, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!QFile::exists(path)) {
        if (deadline.hasExpired() || maker.state() != QProcess::Running)
            return false;
        QThread::msleep(50);
    }
    return true;
}
