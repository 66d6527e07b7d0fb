#include "ui/headless.h"

#include <QGuiApplication>

bool IsHeadless() {
  const QString platform = QGuiApplication::platformName();
  return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}
