#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/runmode.h"

namespace {

struct RunModeCase {
  const char* name;
  std::vector<const char*> arguments;
  std::map<std::string, QByteArray> environment;
  bool headless;
};

TEST(RunMode, WindowOnlyWhereADisplayCanShowIt) {
  const RunModeCase cases[] = {
      {"X display", {}, {{"DISPLAY", ":0"}}, false},
      {"Wayland display", {}, {{"WAYLAND_DISPLAY", "wayland-0"}}, false},
      {"ssh without a display", {}, {}, true},
      {"empty DISPLAY", {}, {{"DISPLAY", ""}}, true},
      {"offscreen asked for", {}, {{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "offscreen"}}, true},
      {"offscreen with options", {}, {{"QT_QPA_PLATFORM", "offscreen:fontengine=freetype"}}, true},
      {"minimal platform", {}, {{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "minimal"}}, true},
      {"xcb without a display", {}, {{"QT_QPA_PLATFORM", "xcb"}}, true},
      {"xcb with a display", {}, {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":1"}}, false},
      {"framebuffer needs no display", {}, {{"QT_QPA_PLATFORM", "linuxfb"}}, false},
      {"--no-window with a display", {"--no-window"}, {{"DISPLAY", ":0"}}, true},
      {"--no-window among others", {"-x", "--no-window", "y"}, {{"DISPLAY", ":0"}}, true},
      {"similar argument", {"--no-windows", "no-window"}, {{"DISPLAY", ":0"}}, false},
  };
  for (const RunModeCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<const char*> argv = {"Tarvex"};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    const auto environment = [&c](const char* name) {
      const auto it = c.environment.find(name);
      return it == c.environment.end() ? QByteArray() : it->second;
    };
    EXPECT_EQ(RunsHeadless(int(argv.size()), argv.data(), environment), c.headless);
  }
}

}  // namespace
