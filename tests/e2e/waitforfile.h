#pragma once

#include <QProcess>
#include <QString>

// Waits until `path` exists, for as long as `maker`, the process that makes
// it, runs and `timeoutMs` allows.
bool waitForFile(const QString &path, const QProcess &maker, int timeoutMs);
