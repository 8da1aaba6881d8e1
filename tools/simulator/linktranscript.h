#pragma once

#include <QByteArray>
#include <QTime>

// The simulated printer's link traffic as a person reads it: one
// time-stamped line per line of commands and answers, and one line that
// sums up each run of print data or update file ("(N bytes of data)").
class LinkTranscript
{
public:
    enum Direction { HostToPrinter, PrinterToHost };

    // What `bytes`, read in one piece, add to the transcript. A piece of
    // more than 256 bytes is data, not commands or answers, and so is a
    // smaller one that comes while data flows and is not whole text lines.
    // A run of data is summed up once it ends.
    QByteArray feed(Direction direction, const QByteArray &bytes, const QTime &when);
    // Ends the runs of data that have been quiet since `quietSince`.
    QByteArray flush(const QTime &quietSince);

private:
    struct DataRun
    {
        QTime start;
        QTime last;
        qint64 bytes = 0;
    };

    QByteArray endRun(Direction direction);

    DataRun m_runs[2];
};
