#include "smallfilesystem.h"

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

SmallFileSystem::SmallFileSystem(qint64 bytes)
{
    const QByteArray options = "size=" + QByteArray::number(bytes);
    const char *failed = nullptr;
    if (::unshare(CLONE_NEWNS) != 0)
        failed = "no private mount namespace: ";
    else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        failed = "mounts stay shared: ";
    else if (::mount("tmpfs", qPrintable(m_dir.path()), "tmpfs", 0, options.constData()) != 0)
        failed = "no tmpfs: ";
    if (failed)
        m_why = QString::fromLatin1(failed) + QString::fromLocal8Bit(std::strerror(errno));
}

SmallFileSystem::~SmallFileSystem()
{
    if (mounted())
        ::umount2(qPrintable(m_dir.path()), MNT_DETACH);
}

qint64 SmallFileSystem::freeBytes() const
{
    struct statvfs fileSystem;
    if (::statvfs(qPrintable(m_dir.path()), &fileSystem) != 0)
        return -1;
    return qint64(fileSystem.f_bavail) * qint64(fileSystem.f_frsize);
}
