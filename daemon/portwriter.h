#pragma once

#include <QByteArray>

#include <functional>

// Writes as much of `bytes` as the device takes through `write` (which
// returns what write(2) returns, on a non-blocking descriptor): a short write
// goes straight on with the rest, an interrupted one is tried again, and the
// first refusal (a full device, an absent host) ends the pass. Returns the
// number of bytes written.
qint64 writeAvailable(const QByteArray &bytes, const std::function<qint64(const char *, qint64)> &write);
