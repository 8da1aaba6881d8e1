#include "linktranscript.h"

#include <algorithm>

namespace {

constexpr int largestCommandPiece = 256;

bool isPrintable(char byte)
{
    const auto value = static_cast<unsigned char>(byte);
    return value >= 0x20 && value < 0x7f;
}

// Whole lines of text, as commands and answers are.
bool isTextLines(const QByteArray &bytes)
{
    return bytes.endsWith('\n') && std::all_of(bytes.begin(), bytes.end(), [](char byte) {
               return isPrintable(byte) || byte == '\r' || byte == '\n';
           });
}

// A line's text with control bytes written as escapes.
QByteArray printable(const QByteArray &line)
{
    QByteArray text;
    for (const char byte : line) {
        if (isPrintable(byte))
            text += byte;
        else
            text += "\\x" + QByteArray::number(static_cast<unsigned char>(byte), 16).rightJustified(2, '0');
    }
    return text;
}

QByteArray stamp(LinkTranscript::Direction direction, const QTime &when)
{
    return when.toString(QStringLiteral("HH:mm:ss")).toLatin1()
           + (direction == LinkTranscript::HostToPrinter ? "  host -> printer  " : "  printer -> host  ");
}

} // namespace

QByteArray LinkTranscript::endRun(Direction direction)
{
    DataRun &run = m_runs[direction];
    if (run.bytes == 0)
        return {};
    const QByteArray line = stamp(direction, run.start) + '(' + QByteArray::number(run.bytes) + " bytes of data)\n";
    run.bytes = 0;
    return line;
}

QByteArray LinkTranscript::flush(const QTime &quietSince)
{
    QByteArray text;
    for (Direction direction : {HostToPrinter, PrinterToHost}) {
        if (m_runs[direction].bytes > 0 && m_runs[direction].last <= quietSince)
            text += endRun(direction);
    }
    return text;
}

QByteArray LinkTranscript::feed(Direction direction, const QByteArray &bytes, const QTime &when)
{
    DataRun &run = m_runs[direction];
    if (bytes.size() > largestCommandPiece || (run.bytes > 0 && !isTextLines(bytes))) {
        if (run.bytes == 0)
            run.start = when;
        run.bytes += bytes.size();
        run.last = when;
        return {};
    }
    QByteArray text = endRun(direction);
    for (QByteArray line : bytes.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            text += stamp(direction, when) + printable(line) + '\n';
    }
    return text;
}
