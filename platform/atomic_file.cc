#include "platform/atomic_file.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace veldrane::platform {
namespace {

// Permission bits of a new file before the process's mask, as a plain create gives them.
constexpr uint32_t kNewFileMode = 0666;

std::atomic<unsigned> g_counter{0};

}  // namespace

AtomicFile::~AtomicFile() {
  Discard();
}

bool AtomicFile::Fail(const char* step, int error) {
  failed_step_ = step;
  error_ = error != 0 ? error : EIO;
  Discard();
  return false;
}

void AtomicFile::Discard() {
  if (committed_ || temp_path_.empty()) return;
  file_.Close();
  Files().remove(temp_path_.c_str());
  temp_path_.clear();
}

bool AtomicFile::Begin(const std::string& path) {
  Discard();
  path_ = path;
  committed_ = false;
  // An existing file that may not be written is refused, as opening it for writing would be.
  errno = 0;
  uint32_t mode = kNewFileMode;
  bool exists = Files().get_mode(path.c_str(), &mode) == 0;
  if (exists && Files().check_writable(path.c_str()) != 0) return Fail("open", errno);
  // A name of its own beside the old file (the same file system, so the rename is atomic).
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp =
        path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(g_counter.fetch_add(1));
    if (file_.CreateNew(temp.c_str(), exists ? mode : kNewFileMode)) {
      temp_path_ = temp;
      break;
    }
    if (file_.LastError() != EEXIST) return Fail("create", file_.LastError());
  }
  if (temp_path_.empty()) return Fail("create", EEXIST);
  // The old file's bits exactly, whatever the process's mask.
  if (exists && !file_.SetMode(mode)) return Fail("set permissions", file_.LastError());
  return true;
}

bool AtomicFile::Commit() {
  if (temp_path_.empty()) return Fail("write", EBADF);
  if (!file_.Sync()) return Fail("flush", file_.LastError());
  if (!file_.Close()) return Fail("close", file_.LastError());
  errno = 0;
  if (Files().replace(temp_path_.c_str(), path_.c_str()) != 0) return Fail("replace", errno);
  committed_ = true;
  temp_path_.clear();
  // The new content is in place; flushing the directory only makes the rename durable sooner,
  // so its failure does not undo the save.
  Files().sync_dir(path_.c_str());
  return true;
}

}  // namespace veldrane::platform
