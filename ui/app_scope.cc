#include "ui/app_scope.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <QDir>
#include <QLibraryInfo>
#include <cstdlib>

namespace veldrane::ui {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// The folders the toolkit looks for platform plugins in.
std::vector<QString> PluginFolders() {
  std::vector<QString> folders;
  for (const std::string& dir : Split(Env("QT_QPA_PLATFORM_PLUGIN_PATH"), ':')) {
    folders.push_back(QString::fromStdString(dir));
  }
  for (const std::string& dir : Split(Env("QT_PLUGIN_PATH"), ':')) {
    folders.push_back(QString::fromStdString(dir) + "/platforms");
  }
  folders.push_back(QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms");
  return folders;
}

bool SystemHasPlugin(const std::string& name) {
  // Plugins are libq<name>.so; the Wayland ones libqwayland-<flavour>.so.
  QString stem = QStringLiteral("libq") + QString::fromStdString(name);
  for (const QString& folder : PluginFolders()) {
    const QStringList files = QDir(folder).entryList({stem + "*.so"}, QDir::Files);
    for (const QString& file : files) {
      if (file == stem + ".so" || file.startsWith(stem + "-")) return true;
    }
  }
  return false;
}

// Connects to the X server the way the xcb platform will, through the system's libxcb, which
// the xcb platform loads anyway.
bool SystemXReachable() {
  void* xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
  if (!xcb) return false;
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  using Disconnect = void (*)(void*);
  auto connect = reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect"));
  auto has_error = reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error"));
  auto disconnect = reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect"));
  bool reachable = false;
  if (connect && has_error && disconnect) {
    void* c = connect(nullptr, nullptr);
    reachable = c && has_error(c) == 0;
    if (c) disconnect(c);
  }
  dlclose(xcb);
  return reachable;
}

bool WaylandSocketExists(const DisplayEnvironment& env) {
  std::string path = env.wayland_display;
  if (path.empty()) return false;
  if (path[0] != '/') {
    if (env.runtime_dir.empty()) return false;
    path = env.runtime_dir + "/" + path;
  }
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// Whether the platform `name` (as QT_QPA_PLATFORM gives it, options after ':' allowed) can open.
bool Usable(const std::string& entry, const DisplayEnvironment& env, const DisplayProbe& probe) {
  std::string name = entry.substr(0, entry.find(':'));
  if (name.empty() || !probe.has_plugin(name)) return false;
  if (name == "xcb") return !env.display.empty() && probe.x_reachable();
  if (name.rfind("wayland", 0) == 0) return WaylandSocketExists(env);
  return true;
}

}  // namespace

DisplayEnvironment DisplayEnvironment::FromProcess() {
  return {Env("QT_QPA_PLATFORM"), Env("DISPLAY"), Env("WAYLAND_DISPLAY"), Env("XDG_RUNTIME_DIR")};
}

const DisplayProbe& DisplayProbe::System() {
  static const DisplayProbe probe{&SystemHasPlugin, &SystemXReachable};
  return probe;
}

bool ChoosePlatform(const DisplayEnvironment& env, const DisplayProbe& probe, std::string* platform,
                    std::string* reason) {
  platform->clear();
  if (!env.qpa_platform.empty()) {
    // The toolkit tries the names in order; one that can open is enough.
    for (const std::string& entry : Split(env.qpa_platform, ';')) {
      if (Usable(entry, env, probe)) return true;
    }
    *reason = "QT_QPA_PLATFORM=" + env.qpa_platform + " names no platform that can open a window" +
              (env.display.empty() ? std::string() : " on the display " + env.display);
    return false;
  }
  if (!env.display.empty()) {
    if (Usable("xcb", env, probe)) {
      *platform = "xcb";
      return true;
    }
  }
  if (!env.wayland_display.empty() && Usable("wayland", env, probe)) {
    *platform = "wayland";
    return true;
  }
  if (env.display.empty() && env.wayland_display.empty()) {
    *reason =
        "no display: neither DISPLAY nor WAYLAND_DISPLAY is set (QT_QPA_PLATFORM=offscreen runs "
        "the window without one)";
  } else if (!env.display.empty()) {
    *reason = "the X display " + env.display + " cannot be opened";
  } else {
    *reason = "the Wayland display " + env.wayland_display + " cannot be opened";
  }
  return false;
}

AppScope::AppScope(std::string* reason) {
  if (QCoreApplication* app = QCoreApplication::instance()) {
    ok_ = qobject_cast<QApplication*>(app) != nullptr;
    if (!ok_) *reason = "the host's Qt application has no widgets (it is not a QApplication)";
    return;
  }
  std::string platform;
  if (!ChoosePlatform(DisplayEnvironment::FromProcess(), DisplayProbe::System(), &platform,
                      reason)) {
    return;
  }
  args_ = {"veldrane"};
  if (!platform.empty()) args_.insert(args_.end(), {"-platform", platform});
  for (std::string& arg : args_) argv_.push_back(arg.data());
  argv_.push_back(nullptr);
  argc_ = static_cast<int>(args_.size());
  own_ = std::make_unique<QApplication>(argc_, argv_.data());
  ok_ = true;
}

AppScope::~AppScope() {
  if (!own_) return;
  // Widgets deleted later belong to this application: delete them before it goes.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  own_.reset();
}

}  // namespace veldrane::ui
