#pragma once

#include <QString>
#include <QTemporaryDir>

// A tmpfs of a given size, mounted for the calling thread alone: the thread
// moves to a private mount namespace first, so nothing of it is seen outside
// this process, and it goes away with the object. The daemon under test runs
// on the test's main thread, and the programs it starts inherit the mount.
// Needs root; `mounted()` says whether it worked, `why()` why not.
class SmallFileSystem
{
public:
    explicit SmallFileSystem(qint64 bytes);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem &) = delete;
    SmallFileSystem &operator=(const SmallFileSystem &) = delete;

    bool mounted() const { return m_why.isEmpty(); }
    QString why() const { return m_why; }
    QString path(const QString &name = QString()) const { return m_dir.filePath(name); }
    qint64 freeBytes() const;

private:
    QTemporaryDir m_dir;
    QString m_why;
};
