#pragma once

#include <QByteArray>

#include <functional>

// Writes `bytes` through `write` (which returns what write(2) returns).
// A short write goes straight on with the rest; after the third write that
// returns 0 or -1 the rest is dropped. Returns the number of bytes written.
qint64 writeWithRetries(QByteArray bytes, const std::function<qint64(const char *, qint64)> &write);
