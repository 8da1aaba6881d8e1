#pragma once

#include <QByteArray>
#include <QString>

// The header of an update transfer: "^XFER,name,size,md5hex\r\n", followed
// directly by the file's bytes.
struct TransferHeader
{
    enum Problem {
        None,
        Incomplete, // no line end among the bytes at hand, or fewer than four fields
        BadName,    // empty, could leave the update directory, or holds a control byte
    };
    Problem problem = None;
    QString name;
    qint32 size = 0;
    QByteArray digest;     // the 16 bytes the hex text stands for
    int contentOffset = 0; // where the file's bytes begin
};

// Reads the header from `bytes`, which start at "^XFER".
TransferHeader parseTransferHeader(const QByteArray &bytes);
