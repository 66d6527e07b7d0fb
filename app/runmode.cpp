#include "app/runmode.h"

#include <cstring>

bool RunsHeadless(int argc, const char* const* argv, const EnvironmentLookup& environment) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-window") == 0) return true;
  }
  // A platform may carry options after a colon ("offscreen:fontengine=...").
  const QByteArray platform = environment("QT_QPA_PLATFORM").split(':').first();
  if (platform == "offscreen" || platform == "minimal") return true;
  const bool needsDisplay =
      platform.isEmpty() || platform == "xcb" || platform.startsWith("wayland");
  return needsDisplay && environment("DISPLAY").isEmpty() &&
         environment("WAYLAND_DISPLAY").isEmpty();
}
