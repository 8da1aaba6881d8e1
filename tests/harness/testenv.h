#pragma once

#include "daemon/settings.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

// What the file holds; nothing when it cannot be read.
QByteArray fileContent(const QString &path);
// Writes `content` as the whole file; returns whether all of it was written.
bool writeFile(const QString &path, const QByteArray &content);

// A scratch world for one test: a temp dir with the job file and the update
// directory, stub programs first on PATH ("lp", "dpkg" and the update
// program, each recording its arguments one call per line), and an
// APT_CONFIG whose package database lists only "cvipc" 1.0, and a root for
// the update installer's debsig folders that holds no maker's key
// (debsigRoot(), BREVDAEMON_DEBSIG_ROOT). PATH and APT_CONFIG are restored
// when it ends.
class TestEnv
{
public:
    TestEnv();
    ~TestEnv();
    TestEnv(const TestEnv &) = delete;
    TestEnv &operator=(const TestEnv &) = delete;

    // The printer's settings redirected here, with the given gadget path and
    // the intervals shortened where a test does not need the real ones.
    DaemonSettings settings(const QString &gadgetPath) const;

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString jobFilePath() const { return path(QStringLiteral("temp.cvzl")); }
    QString debsigRoot() const { return path(QStringLiteral("debsig")); }
    QString updateDir() const { return path(QStringLiteral("Home")) + QLatin1Char('/'); }
    QByteArray jobFile() const;

    // The argument lines a stub recorded, one per call.
    QStringList calls(const QString &program) const;
    // Forgets the calls recorded so far.
    void clearCalls(const QString &program) const;
    // Makes the stub exit with `code` from now on.
    void setExitCode(const QString &program, int code) const;
    // Makes the stub also run this shell text, with the call's arguments in "$@".
    void setAction(const QString &program, const QString &shell) const;

private:
    QTemporaryDir m_dir;
    const QByteArray m_path = qgetenv("PATH");
    const bool m_hadAptConfig = qEnvironmentVariableIsSet("APT_CONFIG");
    const QByteArray m_aptConfig = qgetenv("APT_CONFIG");
};

// Collects what goes through the Qt message handler while it lives. Captures
// alive at once share what they collect, from the first one's start on.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    QStringList messages() const;
    int count(const QString &text) const; // messages containing text
    void clear(); // forgets the messages collected so far
};
