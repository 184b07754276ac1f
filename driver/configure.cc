#include "driver/configure.h"

#include <sys/stat.h>

#include <string>

#include "config/doc.h"
#include "driver/window_document.h"
#include "hostlink/host_modules.h"
#include "platform/modules/module.h"
#include "tarko/header.h"
#include "veldrane/config_window.h"

namespace veldrane {
namespace {

// The window module, looked for beside this module (not on the host's search path), loaded the
// first time it is needed and kept: the toolkit it brings cannot be unloaded cleanly.
platform::ModuleHandle WindowModule(std::string* reason) {
  static platform::ModuleHandle module = nullptr;
  if (module) return module;
  std::string folder = platform::ModuleFolderOf(reinterpret_cast<const void*>(&RunConfigure));
  std::string path = (folder.empty() ? std::string(".") : folder) + "/" + window::kWindowModuleName;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    *reason = "this installation has no configuration window (" + path + " is missing)";
    return nullptr;
  }
  module = platform::Modules().load(path.c_str());
  if (!module) *reason = "the configuration window " + path + " cannot be loaded";
  return module;
}

// An export of the window module, or null with the reason.
void* WindowExport(const char* name, std::string* reason) {
  platform::ModuleHandle module = WindowModule(reason);
  if (!module) return nullptr;
  void* entry = platform::Modules().find_export(module, name);
  if (!entry) *reason = std::string(window::kWindowModuleName) + " has no " + name;
  return entry;
}

// The host's error box for a configuration that cannot be loaded: in a box of the window's
// module where a display can show one (the console line stays), else on the console alone.
void ShowLoadFailure(const char* path) {
  std::string reason;
  auto show = reinterpret_cast<window::ShowErrorFn>(WindowExport(window::kShowErrorName, &reason));
  if (show && show(2002, 1, path, &reason) == 0) return;
  CTarkoError::ErrMsg(2002, 1, path);
}

}  // namespace

int32_t RunConfigure(CVeldraneDoc& doc, const char* path) {
  doc.SetPath(path);
  struct stat st {};
  if (path && ::stat(path, &st) == 0) {
    if (!doc.Load(path)) {
      ShowLoadFailure(path);
      return 0;
    }
  }
  std::string reason;
  auto run = reinterpret_cast<window::RunWindowFn>(WindowExport(window::kWindowEntryName, &reason));
  int32_t result = -1;
  if (run) {
    WindowDocument::BrowseFn browse;
    if (TgTable()) browse = [](CString* tag) { return BrowseTag(tag); };
    WindowDocument view(doc, std::move(browse));
    result = run(&view, &reason);
  }
  if (result < 0) {
    CTarkoError::ErrMsg(kWindowUnavailable, 1, reason.c_str());
    return 0;
  }
  return result;
}

}  // namespace veldrane
