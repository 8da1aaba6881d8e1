#include "protocol/diskreserve.h"

#include <algorithm>
#include <limits>
#include <sys/statvfs.h>

namespace {

constexpr qint64 sliceBytes = 1024 * 1024;

qint64 roomOf(int status, const struct statvfs &fileSystem, qint64 reserve)
{
    if (status != 0)
        return std::numeric_limits<qint64>::max();
    return qint64(fileSystem.f_bavail) * qint64(fileSystem.f_frsize) - reserve;
}

} // namespace

qint64 roomAboveReserve(const QString &path, qint64 reserve)
{
    struct statvfs fileSystem;
    return roomOf(::statvfs(qPrintable(path), &fileSystem), fileSystem, reserve);
}

qint64 roomAboveReserve(int fd, qint64 reserve)
{
    struct statvfs fileSystem;
    return roomOf(::fstatvfs(fd, &fileSystem), fileSystem, reserve);
}

bool ReserveGuard::take(int fd, qint64 count)
{
    if (count > m_room)
        m_room = std::min(roomAboveReserve(fd, m_reserve), sliceBytes);
    if (count > m_room)
        return false;
    m_room -= count;
    return true;
}
