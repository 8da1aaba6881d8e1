#pragma once

#include <QByteArray>
#include <QString>

// Whether a file is a Debian package, the only thing the printer installs:
// asked of dpkg-deb where the host has it, else judged by the archive's
// opening. Returns why it is none, or an empty text.
QString packageProblem(const QString &path, const QByteArray &content);
