// Which platform the window opens on, from the environment, and why it cannot open: the toolkit
// must never be left to abort the host on a display it cannot open.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/temp_dir.h"
#include "ui/app_scope.h"

namespace veldrane::test {
namespace {

bool g_x_reachable = false;

const ui::DisplayProbe kProbe{[](const std::string& name) {
                                return name == "xcb" || name == "offscreen" || name == "wayland";
                              },
                              [] { return g_x_reachable; }};

struct Case {
  const char* qpa;
  const char* display;
  const char* wayland;
  bool x_reachable;
  bool opens;
  const char* platform;  // passed to the application ("" leaves QT_QPA_PLATFORM to choose)
  const char* reason;    // a part of the reason when it does not open
};

TEST(ChoosePlatform, OpensOnlyWhereAWindowCanOpen) {
  TempDir runtime;
  std::ofstream(runtime.File("wayland-0")) << "";  // a compositor's socket
  const Case cases[] = {
      {"", "", "", false, false, "", "no display"},
      {"", ":99", "", true, true, "xcb", ""},
      {"", ":99", "", false, false, "", "X display :99 cannot be opened"},
      {"", "", "wayland-0", false, true, "wayland", ""},
      {"", "", "wayland-9", false, false, "", "Wayland display wayland-9"},
      {"", ":99", "wayland-0", false, true, "wayland", ""},
      {"offscreen", "", "", false, true, "", ""},
      {"offscreen:fontengine=freetype", "", "", false, true, "", ""},
      {"xcb", ":99", "", false, false, "", "QT_QPA_PLATFORM=xcb"},
      {"xcb", "", "", true, false, "", "QT_QPA_PLATFORM=xcb"},
      {"wayland-egl;offscreen", "", "", false, true, "", ""},
      {"vnc", "", "", false, false, "", "names no platform"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.qpa) + "|" + c.display + "|" + c.wayland);
    g_x_reachable = c.x_reachable;
    ui::DisplayEnvironment env{c.qpa, c.display, c.wayland, runtime.path()};
    std::string platform = "unset", reason;
    EXPECT_EQ(ui::ChoosePlatform(env, kProbe, &platform, &reason), c.opens);
    if (c.opens) {
      EXPECT_EQ(platform, c.platform);
    } else {
      EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    }
  }
}

}  // namespace
}  // namespace veldrane::test
