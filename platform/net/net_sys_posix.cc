#include <netdb.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock/clock.h"
#include "platform/net/net_sys.h"
#include "platform/replaceable_api.h"
#include "platform/retry_eintr.h"
#include "platform/stop_signal.h"

// ThreadSanitizer, as GCC and Clang tell it.
#if defined(__SANITIZE_THREAD__)
#define VELDRANE_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VELDRANE_THREAD_SANITIZER 1
#endif
#endif

namespace veldrane::platform {
namespace {

// A name asked of the name service in the background (getaddrinfo_a), so that a service that
// does not answer costs the caller only its time-out. A lookup given up on while the service
// still works on it is kept until it has ended, then freed.
struct Lookup {
  Lookup(const char* host_name, const char* service_name) : host(host_name), service(service_name) {
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    request.ar_name = this->host.c_str();
    request.ar_service = this->service.c_str();
    request.ar_request = &hints;
  }
  ~Lookup() {
    if (request.ar_result) freeaddrinfo(request.ar_result);
  }
  std::string host;
  std::string service;
  addrinfo hints{};
  gaicb request{};
};

std::mutex g_abandoned_mutex;
std::vector<std::unique_ptr<Lookup>> g_abandoned;

void Abandon(std::unique_ptr<Lookup> lookup) {
  std::lock_guard<std::mutex> lock(g_abandoned_mutex);
  std::erase_if(g_abandoned,
                [](const auto& l) { return gai_error(&l->request) != EAI_INPROGRESS; });
  g_abandoned.push_back(std::move(lookup));
}

// How often a lookup that a stop may end looks at it.
constexpr uint64_t kStopLookUs = 20000;

int Resolve(const char* host, const char* service, addrinfo** result, int timeout_ms,
            const StopSignal* stop) {
  *result = nullptr;
  // An address needs no name service.
  addrinfo numeric{};
  numeric.ai_family = AF_UNSPEC;
  numeric.ai_socktype = SOCK_STREAM;
  numeric.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  if (getaddrinfo(host, service, &numeric, result) == 0) return 0;
  *result = nullptr;

#if defined(VELDRANE_THREAD_SANITIZER)
  // ThreadSanitizer cannot follow the threads that the C library starts for getaddrinfo_a
  // (they crash in its allocator): its builds look names up in the caller's thread, unbounded.
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  (void)timeout_ms;
  (void)stop;
  return getaddrinfo(host, service, &hints, result);
#endif
  auto lookup = std::make_unique<Lookup>(host, service);
  gaicb* list[1] = {&lookup->request};
  if (int rc = getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr); rc != 0) return rc;
  const uint64_t deadline =
      MonotonicUs() + static_cast<uint64_t>(timeout_ms > 0 ? timeout_ms : 0) * 1000;
  int rc;
  while ((rc = gai_error(&lookup->request)) == EAI_INPROGRESS) {
    uint64_t now = MonotonicUs();
    if (now >= deadline || (stop && stop->Raised())) break;
    uint64_t left = deadline - now;
    if (stop) left = std::min(left, kStopLookUs);
    timespec wait{static_cast<time_t>(left / 1000000), static_cast<long>(left % 1000000) * 1000};
    gai_suspend(list, 1, &wait);
  }
  if (rc == EAI_INPROGRESS) {
    if (gai_cancel(&lookup->request) != EAI_CANCELED) Abandon(std::move(lookup));
    return EAI_AGAIN;
  }
  if (rc == 0) {
    *result = lookup->request.ar_result;
    lookup->request.ar_result = nullptr;
  }
  return rc;
}

void FreeAddresses(addrinfo* list) {
  if (list) freeaddrinfo(list);
}

int Socket(int domain, int type, int protocol) {
  return ::socket(domain, type, protocol);
}

// Not retried: a non-blocking connect that a signal interrupts goes on in the background, and
// the caller waits for it as for EINPROGRESS.
int Connect(int fd, const sockaddr* address, socklen_t length) {
  int r = ::connect(fd, address, length);
  if (r != 0 && errno == EINTR) errno = EINPROGRESS;
  return r;
}

int GetSockOpt(int fd, int level, int name, void* value, socklen_t* length) {
  return ::getsockopt(fd, level, name, value, length);
}

int SetSockOpt(int fd, int level, int name, const void* value, socklen_t length) {
  return ::setsockopt(fd, level, name, value, length);
}

// Not retried: the caller recomputes what is left of its time.
int Poll(pollfd* fds, nfds_t count, int timeout_ms) {
  return ::poll(fds, count, timeout_ms);
}

ssize_t Send(int fd, const void* bytes, size_t count, int flags) {
  return RetryOnEintr([&] { return ::send(fd, bytes, count, flags); });
}

ssize_t Recv(int fd, void* bytes, size_t count, int flags) {
  return RetryOnEintr([&] { return ::recv(fd, bytes, count, flags); });
}

int Ioctl(int fd, unsigned long request, void* arg) {
  return RetryOnEintr([&] { return ::ioctl(fd, request, arg); });
}

// close is not retried: the descriptor is gone even when it reports EINTR.
int Close(int fd) {
  return ::close(fd);
}

const NetSysApi kSystem = {&Resolve,    &FreeAddresses, &Socket, &Connect, &GetSockOpt,
                           &SetSockOpt, &Poll,          &Send,   &Recv,    &Ioctl,
                           &Close,      &MonotonicUs,   &SleepUs};
ReplaceableApi<NetSysApi> g_api(&kSystem);

}  // namespace

const NetSysApi& NetSys() {
  return g_api.Get();
}

const NetSysApi* SetNetSysApi(const NetSysApi* api) {
  return g_api.Set(api);
}

const NetSysApi& SystemNetSysApi() {
  return g_api.System();
}

}  // namespace veldrane::platform
