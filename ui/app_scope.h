// The application object the window runs under: the host's own when the host runs Qt, else one
// made for the modal run and removed afterwards, so that the window can be opened again later in
// the same process. It never lets the toolkit abort the host: without a display that it can
// open, it says why instead of making an application.
#pragma once

#include <QApplication>
#include <memory>
#include <string>
#include <vector>

namespace veldrane::ui {

// The environment the platform is chosen from (the process's own unless a test gives one).
struct DisplayEnvironment {
  std::string qpa_platform;     // QT_QPA_PLATFORM
  std::string display;          // DISPLAY
  std::string wayland_display;  // WAYLAND_DISPLAY
  std::string runtime_dir;      // XDG_RUNTIME_DIR
  static DisplayEnvironment FromProcess();
};

// What the checks of the platform need from the system, so that tests can answer them.
struct DisplayProbe {
  // Whether a platform plugin of this name (xcb, offscreen, wayland, ...) is installed.
  bool (*has_plugin)(const std::string& name);
  // Whether the X server named by the DISPLAY can be reached.
  bool (*x_reachable)();
  static const DisplayProbe& System();
};

// The platform to pass to the application: empty to leave the choice to QT_QPA_PLATFORM, which
// then names a usable one. False with the reason when no platform can open a window.
bool ChoosePlatform(const DisplayEnvironment& env, const DisplayProbe& probe, std::string* platform,
                    std::string* reason);

class AppScope {
 public:
  explicit AppScope(std::string* reason);
  ~AppScope();
  AppScope(const AppScope&) = delete;
  AppScope& operator=(const AppScope&) = delete;

  bool ok() const { return ok_; }
  bool made_here() const { return own_ != nullptr; }

 private:
  bool ok_ = false;
  int argc_ = 0;
  std::vector<std::string> args_;
  std::vector<char*> argv_;
  std::unique_ptr<QApplication> own_;
};

}  // namespace veldrane::ui
