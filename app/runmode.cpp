#include "app/runmode.h"

#include <QList>

bool RunsHeadless(bool noWindowAsked, const EnvironmentLookup& environment) {
  if (noWindowAsked) return true;
  // A platform may carry options after a colon ("offscreen:fontengine=...").
  const QByteArray platform = environment("QT_QPA_PLATFORM").split(':').first();
  if (platform == "offscreen" || platform == "minimal") return true;
  const bool needsDisplay =
      platform.isEmpty() || platform == "xcb" || platform.startsWith("wayland");
  return needsDisplay && environment("DISPLAY").isEmpty() &&
         environment("WAYLAND_DISPLAY").isEmpty();
}
