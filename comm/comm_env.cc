#include "comm/comm_env.h"

#include <atomic>

namespace veldrane::comm {
namespace {

class SystemEnvironment final : public CommEnvironment {
 public:
  platform::Clock& GetClock() override { return platform::SystemClock(); }
  std::unique_ptr<platform::SerialDevice> NewSerialDevice() override {
    return platform::NewSystemSerialDevice();
  }
};

SystemEnvironment g_system;
std::atomic<CommEnvironment*> g_environment{&g_system};

}  // namespace

CommEnvironment& Environment() {
  return *g_environment.load();
}

CommEnvironment* SetEnvironment(CommEnvironment* environment) {
  return g_environment.exchange(environment ? environment : &g_system);
}

}  // namespace veldrane::comm
