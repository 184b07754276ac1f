#include "driver/configure.h"

#include <sys/stat.h>

#include <string>

#include "config/doc.h"
#include "driver/window_document.h"
#include "hostlink/host_modules.h"
#include "platform/module.h"
#include "tarko/header.h"
#include "veldrane/config_window.h"

namespace veldrane {
namespace {

// The window module, looked for beside this module (not on the host's search path), loaded the
// first time it is needed and kept: the toolkit it brings cannot be unloaded cleanly.
window::RunWindowFn WindowEntry(std::string* reason) {
  static window::RunWindowFn entry = nullptr;
  if (entry) return entry;
  std::string folder = platform::ModuleFolderOf(reinterpret_cast<const void*>(&RunConfigure));
  std::string path = (folder.empty() ? std::string(".") : folder) + "/" + window::kWindowModuleName;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    *reason = "this installation has no configuration window (" + path + " is missing)";
    return nullptr;
  }
  platform::ModuleHandle module = platform::Modules().load(path.c_str());
  if (!module) {
    *reason = "the configuration window " + path + " cannot be loaded";
    return nullptr;
  }
  entry = reinterpret_cast<window::RunWindowFn>(
      platform::Modules().find_export(module, window::kWindowEntryName));
  if (!entry) {
    *reason = path + " has no " + window::kWindowEntryName;
    platform::Modules().free(module);
  }
  return entry;
}

}  // namespace

int32_t RunConfigure(CVeldraneDoc& doc, const char* path) {
  doc.SetPath(path);
  struct stat st {};
  if (path && ::stat(path, &st) == 0) {
    if (!doc.Load(path)) {
      CTarkoError::ErrMsg(2002, 1, path);
      return 0;
    }
  }
  std::string reason;
  window::RunWindowFn run = WindowEntry(&reason);
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
