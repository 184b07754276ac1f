#include "platform/files/atomic_file.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <vector>

#include "platform/files/path.h"

namespace veldrane::platform {
namespace {

// Permission bits of a new file before the process's mask, as a plain create gives them.
constexpr uint32_t kNewFileMode = 0666;
// As the kernel's own limit on links followed in one path.
constexpr int kMaxLinks = 40;
constexpr const char* kTempMark = ".tmp";

std::atomic<unsigned> g_counter{0};

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of(kPathSeparators);
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of(kPathSeparators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// The process id of a temporary file name "BASE.tmpPID-N" of the file BASE, or -1.
long TempOwner(const std::string& name, const std::string& base) {
  std::string prefix = base + kTempMark;
  if (name.compare(0, prefix.size(), prefix) != 0) return -1;
  std::string rest = name.substr(prefix.size());
  size_t dash = rest.find('-');
  if (dash == std::string::npos || dash > 9) return -1;
  std::string pid = rest.substr(0, dash);
  if (!AllDigits(pid) || !AllDigits(rest.substr(dash + 1))) return -1;
  return std::stol(pid);
}

}  // namespace

bool FollowLinks(const std::string& path, std::string* target) {
  std::string current = path;
  std::vector<char> buffer(4096);
  for (int hop = 0; hop <= kMaxLinks; ++hop) {
    errno = 0;
    int64_t n = Files().read_link(current.c_str(), buffer.data(), buffer.size());
    if (n < 0) {
      // Not a link (EINVAL), or nothing there yet (ENOENT): this is the file.
      if (errno != EINVAL && errno != ENOENT) return false;
      *target = current;
      return true;
    }
    std::string next(buffer.data(), static_cast<size_t>(n));
    if (!next.empty() && next[0] != '/' && current.find('/') != std::string::npos) {
      next = DirectoryOf(current) + "/" + next;
    }
    current = next;
  }
  errno = ELOOP;
  return false;
}

AtomicFile::~AtomicFile() {
  Discard();
}

const char* AtomicFile::StepText(Step step) {
  switch (step) {
    case Step::kNone:
      return "";
    case Step::kFollowLink:
      return "follow the link";
    case Step::kLock:
      return "lock";
    case Step::kOpen:
      return "open";
    case Step::kCreate:
      return "create";
    case Step::kSetPermissions:
      return "set permissions";
    case Step::kWrite:
      return "write";
    case Step::kFlush:
      return "flush";
    case Step::kClose:
      return "close";
    case Step::kReplace:
      return "replace";
  }
  return "";
}

bool AtomicFile::Fail(Step step, int error) {
  failed_ = step;
  error_ = error != 0 ? error : EIO;
  Discard();
  return false;
}

void AtomicFile::Discard() {
  if (!committed_ && !temp_path_.empty()) {
    file_.Close();
    Files().remove(temp_path_.c_str());
    temp_path_.clear();
  }
  guard_.Release();
  lock_.Unlock();
}

void AtomicFile::KeepOwner(const FileInfo& old) {
  FileInfo now{};
  if (!file_.Info(&now) || (now.uid == old.uid && now.gid == old.gid)) return;
  // Only a privileged process may give a file away; anyone may keep a group that is theirs.
  // What cannot be kept is not an error: the file is the saver's then, as after any rewrite.
  if (!file_.SetOwner(old.uid, old.gid)) file_.SetOwner(kKeepId, old.gid);
}

void AtomicFile::RemoveStaleTemporaries() {
  struct Scan {
    std::string base;
    std::vector<std::string> stale;
  } scan{BaseName(target_), {}};
  Files().list_dir(
      DirectoryOf(target_).c_str(),
      [](const char* name, void* context) {
        auto* s = static_cast<Scan*>(context);
        long pid = TempOwner(name, s->base);
        if (pid > 0 && pid != ::getpid() && Files().process_exists(static_cast<int>(pid)) == 0) {
          s->stale.push_back(name);
        }
      },
      &scan);
  for (const std::string& name : scan.stale) {
    Files().remove((DirectoryOf(target_) + "/" + name).c_str());
  }
}

bool AtomicFile::Begin(const std::string& path, const FileLock* held, uint32_t lock_wait_ms) {
  Discard();
  committed_ = false;
  if (!FollowLinks(path, &target_)) return Fail(Step::kFollowLink, errno);
  if (!(held && held->Holds(target_))) {
    switch (lock_.Lock(target_, lock_wait_ms)) {
      case FileLock::Result::kLocked:
      case FileLock::Result::kNoFile:  // a new file: nothing to take turns on yet
        break;
      case FileLock::Result::kTimedOut:
        return Fail(Step::kLock, EWOULDBLOCK);
      case FileLock::Result::kFailed:
        // A file that this process may write but not read cannot be locked; the lock is
        // advisory, so the save goes on without it.
        if (lock_.error() != EACCES) return Fail(Step::kLock, lock_.error());
        break;
    }
  }
  // An existing file that may not be written is refused, as opening it for writing would be.
  errno = 0;
  FileInfo old{};
  bool exists = Files().info(target_.c_str(), &old) == 0;
  uint32_t mode = exists ? old.mode : kNewFileMode;
  if (exists && Files().check_writable(target_.c_str()) != 0) return Fail(Step::kOpen, errno);
  RemoveStaleTemporaries();
  // A name of its own beside the old file (the same file system, so the rename is atomic).
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = target_ + kTempMark + std::to_string(::getpid()) + "-" +
                       std::to_string(g_counter.fetch_add(1));
    if (file_.CreateNew(temp.c_str(), mode)) {
      temp_path_ = temp;
      break;
    }
    if (file_.LastError() != EEXIST) return Fail(Step::kCreate, file_.LastError());
  }
  if (temp_path_.empty()) return Fail(Step::kCreate, EEXIST);
  guard_.Guard(temp_path_);
  if (exists) {
    KeepOwner(old);
    // The old file's bits exactly, whatever the process's mask (after the owner: a change of
    // owner clears the set-id bits).
    if (!file_.SetMode(mode)) return Fail(Step::kSetPermissions, file_.LastError());
  }
  return true;
}

bool AtomicFile::Commit() {
  if (temp_path_.empty()) return Fail(Step::kWrite, EBADF);
  if (!file_.Sync()) return Fail(Step::kFlush, file_.LastError());
  if (!file_.Close()) return Fail(Step::kClose, file_.LastError());
  errno = 0;
  if (Files().replace(temp_path_.c_str(), target_.c_str()) != 0) return Fail(Step::kReplace, errno);
  committed_ = true;
  temp_path_.clear();
  guard_.Release();
  // The new content is in place; flushing the directory only makes the rename durable sooner,
  // so its failure does not undo the save.
  Files().sync_dir(target_.c_str());
  lock_.Unlock();
  return true;
}

}  // namespace veldrane::platform
