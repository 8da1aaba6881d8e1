#pragma once

#include <QByteArray>
#include <QString>

// The utility service's network configuration record is a QDataStream of one
// int32 I and five strings T1..T5. The host gets "I,T3,T4,T5,T1": the same
// kinds, in the same order, as the arguments of "^SETETHCONF". A record that
// ends early reads as 0 and empty texts.
QString ethernetConfigPayload(const QByteArray &record);
