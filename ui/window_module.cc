// VeldraneWindow.so: the configuration window as a module that Veldrane.so loads on demand.
#include <exception>
#include <string>
#include <type_traits>

#include "ui/app_scope.h"
#include "ui/config_window.h"
#include "ui/interaction.h"
#include "veldrane/config_window.h"

extern "C" __attribute__((visibility("default"))) int32_t VeldraneRunWindow(
    veldrane::window::Document* doc, std::string* reason) {
  std::string ignored;
  if (!reason) reason = &ignored;
  if (!doc) {
    *reason = "no configuration";
    return -1;
  }
  try {
    veldrane::ui::AppScope app(reason);
    if (!app.ok()) return -1;
    veldrane::ui::BoxInteraction ui;
    int32_t result = 0;
    {
      veldrane::ui::CDriverConfigDlg window(*doc, ui);
      ui.RunDialog(window);
      result = window.Result();
    }
    return result;
  } catch (const std::exception& e) {
    *reason = std::string("the configuration window failed: ") + e.what();
  } catch (...) {
    *reason = "the configuration window failed";
  }
  return -1;
}

// The entry's type is the one Veldrane.so calls through.
static_assert(std::is_same_v<decltype(&VeldraneRunWindow), veldrane::window::RunWindowFn>);
