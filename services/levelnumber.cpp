#include "services/levelnumber.h"

#include <cmath>
#include <limits>

QString levelNumber(double fraction)
{
    const double product = fraction * 100.0;
    // Written so that NaN fails the test too.
    if (!(product > double(std::numeric_limits<qint32>::min()) - 1.0
          && product < double(std::numeric_limits<qint32>::max()) + 1.0))
        return QString();
    return QString::number(static_cast<qint32>(product), 10);
}
