#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantList>

// The utility service's network configuration as its
// "onEthernetConfigChanged" signal carries it: a data stream of one int32
// and five texts. The host is shown the integer, texts 3, 4 and 5, then
// text 1, so the four values of "setEthernetConfig" are stored as the
// integer and texts 3 to 5: a set followed by a query shows the host the
// same four values in the same order.
struct EthernetRecord
{
    qint32 number = 0;
    QString texts[5]; // a null text is streamed as such

    // Stores the (int32, string, string, string) arguments of a set.
    void applySettings(const QVariantList &arguments);
    QByteArray encoded() const;
};
