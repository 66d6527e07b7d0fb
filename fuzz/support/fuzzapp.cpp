#include "support/fuzzapp.h"

#include <QApplication>
#include <QDeadlineTimer>

void StartFuzzApplication(int* argc, char*** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Lives until the process ends; libFuzzer never returns from its loop.
  static QApplication* application = new QApplication(*argc, *argv);
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

// fontconfig keeps what it loads for the first text laid out: not ours to fix.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
