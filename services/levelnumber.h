#pragma once

#include <QString>

// A supply or ribbon level as the host reads it: the fraction times 100,
// truncated toward zero ("0.29" gives "28", "-0.005" gives "0"). A level that
// is not a number, or whose truncated product does not fit in 32 bits, gives
// an empty text, so no line is sent rather than a meaningless one.
QString levelNumber(double fraction);
