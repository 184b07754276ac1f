// VeldraneWindow.so: the configuration window as a module that Veldrane.so loads on demand.
#include <cstdio>
#include <exception>
#include <string>
#include <type_traits>

#include "tarko/header.h"
#include "ui/app_scope.h"
#include "ui/clipboard_keeper.h"
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
      veldrane::ui::ConfigWindow window(*doc, ui);
      ui.RunDialog(window);
      result = window.Result();
    }
    // The application made here takes the clipboard with it: what was copied is handed on.
    if (app.made_here()) {
      std::string why;
      if (veldrane::ui::KeepClipboard(veldrane::ui::KeeperPath(), &why) ==
          veldrane::ui::ClipboardHandOver::kFailed) {
        std::fprintf(stderr, "veldrane: the copied stations leave the clipboard: %s\n",
                     why.c_str());
      }
    }
    return result;
  } catch (const std::exception& e) {
    *reason = std::string("the configuration window failed: ") + e.what();
  } catch (...) {
    *reason = "the configuration window failed";
  }
  return -1;
}

extern "C" __attribute__((visibility("default"))) int32_t VeldraneShowError(int32_t code,
                                                                            int32_t mode,
                                                                            const char* text,
                                                                            std::string* reason) {
  std::string ignored;
  if (!reason) reason = &ignored;
  try {
    veldrane::ui::AppScope app(reason);
    if (!app.ok()) return -1;
    veldrane::ui::BoxInteraction ui;
    veldrane::ui::ErrorBoxScope box(ui);
    CTarkoError::ErrMsg(code, mode, text);
    return 0;
  } catch (const std::exception& e) {
    *reason = std::string("the message box failed: ") + e.what();
  } catch (...) {
    *reason = "the message box failed";
  }
  return -1;
}

// The entries' types are the ones Veldrane.so calls through.
static_assert(std::is_same_v<decltype(&VeldraneRunWindow), veldrane::window::RunWindowFn>);
static_assert(std::is_same_v<decltype(&VeldraneShowError), veldrane::window::ShowErrorFn>);
