// What the window copied must outlive the window. On X the clipboard's text is served by the
// program that owns it, so it would go when the application made for the window goes. Before
// that, this hands it on: to the desktop's clipboard manager where one runs (the toolkit hands
// the text over as its application ends), else to veldrane-clipkeeper, a small program of this
// package that serves it until another program takes the clipboard. The keeper is started as a
// new program (never a copy of the host process) and the host never waits for it.
#pragma once

#include <QByteArray>
#include <string>

namespace veldrane::ui {

enum class ClipboardHandOver {
  kNotOwned,  // the clipboard holds no text of this application: nothing to keep
  kNotX11,    // not an X display: the platform keeps it, or nothing can
  kManager,   // a clipboard manager takes it as the application ends
  kKeeper,    // the keeper was started with the text
  kFailed,    // the keeper could not be started (*reason says why)
};

// The keeper's path: beside the window's module, as the package installs it.
std::string KeeperPath();

// Call just before the application made for the window goes.
ClipboardHandOver KeepClipboard(const std::string& keeper, std::string* reason);

// Starts `keeper` with `text` on its standard input, in a session of its own and with the
// signals at their defaults, and reaps it when it ends. False with the reason.
bool StartKeeper(const std::string& keeper, const QByteArray& text, std::string* reason);

}  // namespace veldrane::ui
