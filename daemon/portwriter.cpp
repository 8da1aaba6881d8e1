#include "daemon/portwriter.h"

#include <cerrno>

qint64 writeAvailable(const QByteArray &bytes, const std::function<qint64(const char *, qint64)> &write)
{
    const qint64 size = bytes.size();
    qint64 written = 0;
    while (written < size) {
        const qint64 count = write(bytes.constData() + written, size - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        written += count;
    }
    return written;
}
