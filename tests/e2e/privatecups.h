#pragma once

#include <QProcess>
#include <QTemporaryDir>

// A CUPS scheduler of the test's own: its configuration, spool and socket in a
// temp dir, one raw queue "brev" as the default destination, whose device is a
// socket printer on a loopback port. Programs reach it through CUPS_SERVER,
// which start() exports. cupsd ends with this object, or with the test
// process if that dies first.
class PrivateCups
{
public:
    ~PrivateCups();

    bool start(quint16 printerPort);
    QString socketPath() const { return m_dir.filePath(QStringLiteral("cups.sock")); }

private:
    bool writeConfiguration();
    bool run(const QString &program, const QStringList &arguments);

    QTemporaryDir m_dir;
    QProcess m_cupsd;
};
