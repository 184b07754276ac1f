#include <fcntl.h>
#include <netdb.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "host/runner/lines/port_lock.h"
#include "platform/files/path.h"
#include "platform/net/net_address.h"
#include "platform/serial/port_map.h"

namespace veldrane::host {
namespace {

// A holder that ends just while its file is taken over: a few tries settle it.
constexpr int kTakeTries = 5;
// The line after the process number that marks a runner's file. A runner holds its file's
// flock while it lives, so such a file without the flock is left over, whatever process now
// has its number.
constexpr char kRunnerMark[] = "veldrane-host\n";

// "LCK..ttyUSB0" for /dev/ttyUSB0, "LCK..pts_3" for /dev/pts/3.
std::string DeviceLockName(const std::string& device) {
  std::string name = device.rfind("/dev/", 0) == 0 ? device.substr(5) : device;
  name.erase(0, name.find_first_not_of('/'));
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return "LCK.." + name;
}

// One name for each address the server's name resolves to.
std::vector<std::string> NetLockNames(const platform::NetAddress& address) {
  std::vector<std::string> names;
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const std::string port = std::to_string(address.port);
  if (::getaddrinfo(address.host.c_str(), port.c_str(), &hints, &list) != 0) return names;
  for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
    char host[NI_MAXHOST];
    if (::getnameinfo(a->ai_addr, a->ai_addrlen, host, sizeof host, nullptr, 0, NI_NUMERICHOST) !=
        0) {
      continue;
    }
    std::string text = host;
    // An IPv4 address mapped into IPv6 is that IPv4 address.
    if (text.rfind("::ffff:", 0) == 0 && text.find('.') != std::string::npos) text.erase(0, 7);
    const std::string name = "LCK..veldrane-net-" + text + "-" + port;
    bool known = false;
    for (const std::string& n : names) known = known || n == name;
    if (!known) names.push_back(name);
  }
  ::freeaddrinfo(list);
  return names;
}

// The process number a lock file holds (0 when it holds none), and whether a runner wrote it.
long ReadPid(int fd, bool* runners = nullptr) {
  char text[64] = {};
  ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  if (runners != nullptr) *runners = n > 0 && std::strstr(text, kRunnerMark) != nullptr;
  if (n <= 0) return 0;
  char* end = nullptr;
  long pid = std::strtol(text, &end, 10);
  return pid > 0 ? pid : 0;
}

bool Alive(long pid) {
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// "veldrane-host (process 1234, its lock /run/lock/LCK..ttyS0)".
std::string Holder(long pid, const std::string& path) {
  std::string name;
  if (pid > 0) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::getline(comm, name);
  }
  std::string text = pid > 0 ? "process " + std::to_string(pid) : std::string("a process");
  text += ", its lock " + path;
  return name.empty() ? text : name + " (" + text + ")";
}

bool SameFileAt(int fd, const std::string& path) {
  struct stat open {
  }, named{};
  return ::fstat(fd, &open) == 0 && ::stat(path.c_str(), &named) == 0 &&
         open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

}  // namespace

std::string PortLockDir() {
  const char* dir = std::getenv("VELDRANE_LOCK_DIR");
  return dir != nullptr && *dir != '\0' ? dir : "/run/lock";
}

std::vector<std::string> PortLockNames(const std::string& port) {
  const std::string path = platform::ComDevicePath(port.c_str());
  if (path.empty()) return {};
  if (const std::string address = platform::PortEntryAddress(path); !address.empty()) {
    platform::NetAddress a;
    return platform::ParseNetAddress(address, &a, nullptr) ? NetLockNames(a)
                                                           : std::vector<std::string>{};
  }
  const std::string device = platform::FinalTarget(path);
  struct stat st {};
  if (::stat(device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return {};
  return {DeviceLockName(device)};
}

PortLock::~PortLock() {
  Release();
}

PortLock& PortLock::operator=(PortLock&& other) noexcept {
  if (this != &other) {
    Release();
    files_ = std::exchange(other.files_, {});
  }
  return *this;
}

void PortLock::Release() {
  for (const auto& [fd, path] : files_) {
    // Removed while still held, and only while it is still this file, so that a runner that
    // opened it meanwhile sees it gone and makes its own.
    if (SameFileAt(fd, path)) ::unlink(path.c_str());
    ::close(fd);
  }
  files_.clear();
}

PortLock::Outcome PortLock::Take(const std::string& dir, const std::string& name,
                                 std::string* text) {
  const std::string path = dir + "/" + name;
  for (int i = 0; i < kTakeTries; ++i) {
    bool writable = true;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    // Another user's file still tells its holder.
    if (fd < 0 && errno == EACCES) {
      writable = false;
      fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0) {
      *text = "cannot make the port's lock " + path + ": " + std::strerror(errno);
      return Outcome::kNoLock;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      const long pid = ReadPid(fd);
      ::close(fd);
      if (error == EWOULDBLOCK) {
        *text = Holder(pid, path);
        return Outcome::kBusy;
      }
      *text = "cannot lock " + path + ": " + std::strerror(error);
      return Outcome::kNoLock;
    }
    // Its holder removed it between the open and the lock: make a new one.
    if (!SameFileAt(fd, path)) {
      ::close(fd);
      continue;
    }
    // A program that keeps such files without flock holds the port while its process lives.
    bool runners = false;
    const long pid = ReadPid(fd, &runners);
    if (!runners && pid > 0 && pid != ::getpid() && Alive(pid)) {
      ::close(fd);
      *text = Holder(pid, path);
      return Outcome::kBusy;
    }
    if (!writable) {
      ::close(fd);
      *text = "the port's lock " + path + " was left by a process that has ended and " +
              "belongs to another user: remove it";
      return Outcome::kNoLock;
    }
    char line[48];
    const int size =
        std::snprintf(line, sizeof line, "%10ld\n%s", static_cast<long>(::getpid()), kRunnerMark);
    // Readable by all whatever the umask, so that others can name the holder.
    ::fchmod(fd, 0644);
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, line, static_cast<size_t>(size), 0) != size) {
      *text = "cannot write the port's lock " + path + ": " + std::strerror(errno);
      ::unlink(path.c_str());
      ::close(fd);
      return Outcome::kNoLock;
    }
    files_.emplace_back(fd, path);
    return Outcome::kTaken;
  }
  *text = "the port's lock " + path + " keeps changing hands";
  return Outcome::kNoLock;
}

PortLock::Outcome LockPort(const std::string& port, PortLock* lock, std::string* text) {
  const std::string dir = PortLockDir();
  PortLock::Outcome outcome = PortLock::Outcome::kTaken;
  for (const std::string& name : PortLockNames(port)) {
    std::string said;
    PortLock::Outcome one = lock->Take(dir, name, &said);
    if (one == PortLock::Outcome::kBusy) {
      lock->Release();
      *text = said;
      return one;
    }
    if (one == PortLock::Outcome::kNoLock && outcome == PortLock::Outcome::kTaken) {
      outcome = one;
      *text = said;
    }
  }
  return outcome;
}

}  // namespace veldrane::host
