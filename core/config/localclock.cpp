#include "core/config/localclock.h"

#include <limits>

QDateTime LocalNow() {
  thread_local qint64 offsetSecond = std::numeric_limits<qint64>::min();
  thread_local int offset = 0;
  const QDateTime utc = QDateTime::currentDateTimeUtc();
  const qint64 second = utc.toSecsSinceEpoch();
  if (second != offsetSecond) {
    offset = utc.toLocalTime().offsetFromUtc();
    offsetSecond = second;
  }
  return utc.toOffsetFromUtc(offset);
}
