#pragma once

#include <QString>

// What the host sends never takes the last of a file system: the job file and
// the update files leave a reserve free for the rest of the printer (the
// journal, dpkg, the print spooler's own copy of a job).

// Bytes the file system holding `path` can still take while keeping
// `reserve` bytes free; negative when it is below its reserve already. A file
// system that cannot be asked counts as having room: the write that follows
// reports what is wrong.
qint64 roomAboveReserve(const QString &path, qint64 reserve);

// The same for the file system of the open file `fd`.
qint64 roomAboveReserve(int fd, qint64 reserve);

// Lets a growing file take bytes while its file system keeps its reserve.
// The file system is asked again only when the room it gave is used up, and
// gives at most a slice at a time, so that a file growing by small writes
// costs a system call per slice, not per write, and what others write
// meanwhile is noticed within a slice.
class ReserveGuard
{
public:
    explicit ReserveGuard(qint64 reserve) : m_reserve(reserve) {}

    // A new file: the room is asked for again.
    void reset() { m_room = 0; }

    // Whether `count` more bytes keep the reserve; they are counted as taken.
    bool take(int fd, qint64 count);

    qint64 reserve() const { return m_reserve; }

private:
    const qint64 m_reserve;
    qint64 m_room = 0;
};
