#pragma once

#include <QString>
#include <QStringList>

// Processes whose program is `executable` or whose command line names
// `text`, each as "pid command line".
QStringList processesOf(const QString &executable, const QString &text);
