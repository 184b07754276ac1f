// DrvConfigure as a host calls it: the built Veldrane.so loaded with dlopen, the reference host
// modules on the search path, and the window module beside the driver (or not).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "host/loader/driver_module.h"
#include "host/sub/tarko_sub_host.h"
#include "tests/support/temp_dir.h"

namespace veldrane::test {
namespace {

using host::DriverModule;

struct Box {
  int32_t code;
  std::string text;
};

class ConfigureEntry : public ::testing::Test {
 protected:
  void SetUp() override {
    TarkoSubSetErrMsgHandler(
        [](int32_t code, int32_t, const char* text, void* context) {
          static_cast<std::vector<Box>*>(context)->push_back({code, text ? text : ""});
        },
        &boxes_);
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) unsetenv(name);
    std::string error;
    ASSERT_TRUE(driver_.Load(VELDRANE_SO, &error)) << error;
  }
  void TearDown() override {
    driver_.Unload();
    TarkoSubSetErrMsgHandler(nullptr, nullptr);
  }
  bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
  }

  TempDir dir_;
  DriverModule driver_;
  std::vector<Box> boxes_;
};

TEST_F(ConfigureEntry, WithoutADisplayReturns0AndSaysWhy) {
  EXPECT_EQ(driver_.Configure(dir_.File("new.cfg").c_str()), 0);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].code, 2706);
  EXPECT_NE(boxes_[0].text.find("no display"), std::string::npos) << boxes_[0].text;
  EXPECT_FALSE(Exists(dir_.File("new.cfg")));
}

TEST_F(ConfigureEntry, ADamagedFileShows2002AndOpensNoWindow) {
  std::string path = dir_.File("bad.cfg");
  std::ofstream(path) << "not a configuration";
  EXPECT_EQ(driver_.Configure(path.c_str()), 0);
  ASSERT_EQ(boxes_.size(), 1u) << "the window was not tried";
  EXPECT_EQ(boxes_[0].code, 2002);
  EXPECT_EQ(boxes_[0].text, path);
}

TEST_F(ConfigureEntry, WithoutTheWindowModuleReturns0AndSaysSo) {
  // A copy of the driver in a folder of its own, without the window module beside it.
  driver_.Unload();
  std::string copy = dir_.File("Veldrane.so");
  ASSERT_EQ(std::system(("cp '" VELDRANE_SO "' '" + copy + "'").c_str()), 0);
  std::string error;
  ASSERT_TRUE(driver_.Load(copy, &error)) << error;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  EXPECT_EQ(driver_.Configure(dir_.File("new.cfg").c_str()), 0);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].code, 2706);
  EXPECT_NE(boxes_[0].text.find("no configuration window"), std::string::npos) << boxes_[0].text;
}

// What the user does once the window is up, for the application that DrvConfigure makes.
std::function<void(QWidget&)>& Script() {
  static std::function<void(QWidget&)> script;
  return script;
}

void RunScriptWhenTheWindowIsUp() {
  QTimer::singleShot(0, [] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->objectName() == "veldrane_config_window" && w->isVisible() && Script()) {
        Script()(*w);
        return;
      }
    }
    ADD_FAILURE() << "no configuration window";
    QApplication::closeAllWindows();
  });
}

void Press(QWidget& window, const char* button) {
  auto* b = window.findChild<QPushButton*>(QString::fromLatin1(button));
  ASSERT_NE(b, nullptr) << button;
  b->click();
}

TEST_F(ConfigureEntry, OffscreenRunSavesAndCanRunAgain) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  qAddPreRoutine(&RunScriptWhenTheWindowIsUp);
  std::string path = dir_.File("line1.cfg");

  Script() = [](QWidget& w) {
    Press(w, "save");
    Press(w, "exit");
  };
  EXPECT_EQ(driver_.Configure(path.c_str()), 1);
  EXPECT_EQ(QCoreApplication::instance(), nullptr) << "the application made for the run is gone";
  EXPECT_EQ(driver_.Open(path.c_str()), 0) << "a new configuration was written";

  // Again in the same process, leaving without a change.
  Script() = [](QWidget& w) { Press(w, "exit"); };
  EXPECT_EQ(driver_.Configure(path.c_str()), 0);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ConfigureEntry, AQtHostKeepsItsOwnApplication) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int argc = 1;
  char name[] = "host";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  Script() = [](QWidget& w) { Press(w, "exit"); };
  RunScriptWhenTheWindowIsUp();
  EXPECT_EQ(driver_.Configure(dir_.File("line1.cfg").c_str()), 0);
  EXPECT_EQ(QCoreApplication::instance(), &app);
  EXPECT_TRUE(boxes_.empty());
}

}  // namespace
}  // namespace veldrane::test
