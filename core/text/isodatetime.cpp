#include "core/text/isodatetime.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

time_t SecondsOf(qint64 msecsSinceEpoch) {
  // Floored, so that an instant before 1970 keeps its second.
  return time_t(msecsSinceEpoch / 1000 - (msecsSinceEpoch % 1000 < 0 ? 1 : 0));
}

}  // namespace

QByteArray IsoDateTime(qint64 msecsSinceEpoch, int offsetSeconds) {
  const time_t shifted = SecondsOf(msecsSinceEpoch) + offsetSeconds;
  tm parts{};
  gmtime_r(&shifted, &parts);
  char text[40];
  int length =
      std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", parts.tm_year + 1900,
                    parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  if (offsetSeconds == 0) {
    text[length++] = 'Z';
  } else {
    const int minutes = std::abs(offsetSeconds) / 60;
    length += std::snprintf(text + length, sizeof text - size_t(length), "%c%02d:%02d",
                            offsetSeconds < 0 ? '-' : '+', minutes / 60, minutes % 60);
  }
  return QByteArray(text, length);
}

int LocalOffsetAt(qint64 msecsSinceEpoch) {
  // glibc reads the zone once here, and again whenever Qt's own look-ups
  // reset it; asking each time would stat /etc/localtime for every event.
  const time_t seconds = SecondsOf(msecsSinceEpoch);
  tm parts{};
  localtime_r(&seconds, &parts);
  return int(parts.tm_gmtoff);
}
