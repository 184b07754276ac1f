#include "ui/clipboard_keeper.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QClipboard>
#include <QGuiApplication>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/modules/module.h"

extern char** environ;

namespace veldrane::ui {
namespace {

// Whether a clipboard manager holds the CLIPBOARD_MANAGER selection of the display.
bool ClipboardManagerRuns(xcb_connection_t* c) {
  const char name[] = "CLIPBOARD_MANAGER";
  xcb_intern_atom_reply_t* atom =
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof name - 1, name), nullptr);
  if (!atom) return false;
  bool runs = false;
  if (atom->atom != XCB_ATOM_NONE) {
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
    runs = owner && owner->owner != XCB_WINDOW_NONE;
    std::free(owner);
  }
  std::free(atom);
  return runs;
}

// The text as a file that no path names, for the keeper's standard input: the host writes it
// at once and goes on, whatever the keeper does.
int TextFile(const QByteArray& text) {
  int fd = ::memfd_create("veldrane-clipboard", MFD_CLOEXEC);
  if (fd < 0) return -1;
  qsizetype done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.constData() + done, static_cast<size_t>(text.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int error = errno;
      ::close(fd);
      errno = error;
      return -1;
    }
    done += n;
  }
  ::lseek(fd, 0, SEEK_SET);
  return fd;
}

}  // namespace

std::string KeeperPath() {
  std::string folder = platform::ModuleFolderOf(reinterpret_cast<const void*>(&KeeperPath));
  return (folder.empty() ? std::string(".") : folder) + "/veldrane-clipkeeper";
}

bool StartKeeper(const std::string& keeper, const QByteArray& text, std::string* reason) {
  int fd = TextFile(text);
  if (fd < 0) {
    *reason = std::string("cannot hold the text for ") + keeper + ": " + std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fd, STDIN_FILENO);
  // The host's output streams may be pipes that a script reads to their end: the keeper, which
  // outlives the host, holds none of them.
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Its own session (a Ctrl-C at the host's terminal is not for it), no signal blocked or
  // ignored as the host may have them.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::string name = "veldrane-clipkeeper";
  char* argv[] = {name.data(), nullptr};
  pid_t pid = 0;
  int error = posix_spawn(&pid, keeper.c_str(), &actions, &attr, argv, environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fd);
  if (error != 0) {
    *reason = "cannot start " + keeper + ": " + std::strerror(error);
    return false;
  }
  // Reaped whenever it ends, by a thread of its own: the host goes on meanwhile.
  std::thread([pid] {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

ClipboardHandOver KeepClipboard(const std::string& keeper, std::string* reason) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (!clipboard->ownsClipboard()) return ClipboardHandOver::kNotOwned;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11 || !x11->connection()) return ClipboardHandOver::kNotX11;
  if (ClipboardManagerRuns(x11->connection())) return ClipboardHandOver::kManager;
  QByteArray text = clipboard->text().toUtf8();
  if (text.isEmpty()) return ClipboardHandOver::kNotOwned;  // nothing worth keeping
  if (!StartKeeper(keeper, text, reason)) return ClipboardHandOver::kFailed;
  return ClipboardHandOver::kKeeper;
}

}  // namespace veldrane::ui
