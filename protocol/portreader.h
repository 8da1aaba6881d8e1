#pragma once

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>

#include <functional>

#include <sys/types.h>

// Reads the port (opened non-blocking) for one update transfer without ever
// blocking: a read takes what waits, and only a read that finds nothing
// waits for the port in poll(), so that a transfer the host keeps fed costs
// one system call per chunk.
class PortReader
{
public:
    enum Result : ssize_t {
        HostSilent = -2, // nothing came for the silence bound
        PortFailed = -1, // the read failed or the host end hung up
    };

    PortReader(int socket, int silenceMs);

    // At most `wanted` bytes into `chunk`: the count read, or a Result.
    ssize_t read(char *chunk, qint64 wanted);

private:
    bool waitForBytes();

    const int m_socket;
    const int m_silenceMs;
    QElapsedTimer m_sinceBytes;
    bool m_silenceStarts = false; // bytes came since the last wait
};

// One update file on its way in: every byte taken as content is hashed and
// written to the file, if one is open. A discarded transfer has no file.
struct IncomingFile
{
    QFile file;
    QCryptographicHash hash{QCryptographicHash::Md5};
    qint64 received = 0;
    bool writeFailed = false;
    bool discarded = false;

    void take(const char *bytes, qint64 count);
};

enum class TransferEnd {
    Complete,
    HostSilent,
    PortFailed, // a failed read or the host end hung up, logged as it happens
    PortClosed, // the events run between chunks closed the port
};

// Takes the rest of the file from the port in chunks of at most 256 bytes,
// never more than the file still misses, and lets the event loop run after
// each. The events may close the port: `portStillOpen` tells.
TransferEnd receiveFromPort(IncomingFile &incoming, qint64 size, PortReader &port,
                            const std::function<bool()> &portStillOpen);
