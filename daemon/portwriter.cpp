#include "daemon/portwriter.h"

qint64 writeWithRetries(QByteArray bytes, const std::function<qint64(const char *, qint64)> &write)
{
    const qint64 size = bytes.size();
    qint64 written = 0;
    int failures = 0;
    while (written < size && failures <= 2) {
        const qint64 count = write(bytes.constData() + written, size - written);
        if (count <= 0)
            ++failures;
        else
            written += count;
    }
    return written;
}
