#include "qtwait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

bool WaitUntil(std::function<bool()> condition, int timeoutMs) {
  const QDeadlineTimer deadline(timeoutMs);
  // Wakes the loop now and then, so that the deadline is seen when nothing else happens.
  QTimer tick;
  tick.start(5);
  while (!condition()) {
    if (deadline.hasExpired()) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  return true;
}
