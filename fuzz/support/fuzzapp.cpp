#include "support/fuzzapp.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

void StartFuzzApplication(int* argc, char*** argv) {
  // Lives until the process ends; libFuzzer never returns from its loop.
  static QCoreApplication* application = new QCoreApplication(*argc, *argv);
  Q_UNUSED(application);
}

bool PumpUntil(const std::function<bool()>& condition, int timeoutMs) {
  const QDeadlineTimer deadline(timeoutMs);
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}
