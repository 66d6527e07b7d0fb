#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <ctime>

// TZ set for the scope's length, and as it was (or unset) again after.
class ScopedZone {
 public:
  explicit ScopedZone(const char* zone) : m_old(qgetenv("TZ")) {
    qputenv("TZ", zone);
    tzset();
  }
  ~ScopedZone() {
    if (m_old.isNull()) {
      qunsetenv("TZ");
    } else {
      qputenv("TZ", m_old);
    }
    tzset();
  }
  ScopedZone(const ScopedZone&) = delete;
  ScopedZone& operator=(const ScopedZone&) = delete;

 private:
  QByteArray m_old;
};
