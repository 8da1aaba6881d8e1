#include "waitforfile.h"

#include <QFile>
#include <QTest>

bool waitForFile(const QString &path, const QProcess &maker, int timeoutMs)
{
    // The event loop runs meanwhile, so that the maker's end is noticed.
    return QTest::qWaitFor([&] { return QFile::exists(path) || maker.state() != QProcess::Running; }, timeoutMs)
        && QFile::exists(path);
}
