#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// The shipped daemon run unmodified by scripts/printer-namespace.sh: its
// device, update folder, /tmp and update program redirected into a state
// folder of this object's own (see the script). The daemon uses the bus of
// DBUS_SYSTEM_BUS_ADDRESS and the print scheduler of CUPS_SERVER.
class PrinterNamespace
{
public:
    ~PrinterNamespace();

    // Starts the daemon and waits until the host's end of the link exists.
    bool start(const QString &daemon);
    // Stops the daemon; the script removes what it made. True if it exited.
    bool stop();

    QString path(const QString &name) const { return m_state.filePath(name); }
    QString hostPath() const { return path(QStringLiteral("host")); }
    // Argument lines a stub ("dpkg", "Fenwick") recorded, one per call.
    QStringList calls(const QString &program) const;

    // Which of the machine's paths that the script redirects exist: none
    // should, and a run must not make any.
    static QStringList existingMachinePaths();

private:
    QTemporaryDir m_state;
    QProcess m_launcher;
};
