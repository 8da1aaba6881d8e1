#pragma once

#include <QByteArray>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

// A pipe whose ends close with it, non-blocking as the daemon's port; the
// test writes the write end and may hang it up.
struct TestPipe
{
    TestPipe() { QVERIFY(::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0); }
    ~TestPipe()
    {
        for (int fd : fds)
            if (fd >= 0)
                ::close(fd);
    }
    void send(const QByteArray &bytes)
    {
        QCOMPARE(::write(fds[1], bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    }
    void hangUp()
    {
        ::close(fds[1]);
        fds[1] = -1;
    }

    int fds[2] = {-1, -1};
};
