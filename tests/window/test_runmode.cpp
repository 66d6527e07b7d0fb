#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/runmode.h"

namespace {

struct RunModeCase {
  const char* name;
  bool noWindowAsked;
  std::map<std::string, QByteArray> environment;
  bool headless;
};

TEST(RunMode, WindowOnlyWhereADisplayCanShowIt) {
  const RunModeCase cases[] = {
      {"X display", false, {{"DISPLAY", ":0"}}, false},
      {"Wayland display", false, {{"WAYLAND_DISPLAY", "wayland-0"}}, false},
      {"ssh without a display", false, {}, true},
      {"empty DISPLAY", false, {{"DISPLAY", ""}}, true},
      {"offscreen asked for", false, {{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "offscreen"}}, true},
      {"offscreen with options",
       false,
       {{"QT_QPA_PLATFORM", "offscreen:fontengine=freetype"}},
       true},
      {"minimal platform", false, {{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "minimal"}}, true},
      {"xcb without a display", false, {{"QT_QPA_PLATFORM", "xcb"}}, true},
      {"xcb with a display", false, {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":1"}}, false},
      {"framebuffer needs no display", false, {{"QT_QPA_PLATFORM", "linuxfb"}}, false},
      {"--no-window with a display", true, {{"DISPLAY", ":0"}}, true},
  };
  for (const RunModeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto environment = [&c](const char* name) {
      const auto it = c.environment.find(name);
      return it == c.environment.end() ? QByteArray() : it->second;
    };
    EXPECT_EQ(RunsHeadless(c.noWindowAsked, environment), c.headless);
  }
}

}  // namespace
