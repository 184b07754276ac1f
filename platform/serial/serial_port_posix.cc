// The device of a COM port: its port-map entry decides whether it is a local terminal or a device
// server's port. The kind is chosen when the port opens, and again at each reopening: a device
// that went away while its entry has come to name the other kind (a terminal relinked to a
// device server, or back) is replaced by one of that kind, opened on the same port and settings,
// at most once a second. Everything else is the chosen device's.
#include "platform/net/net_sys.h"
#include "platform/serial/port_map.h"
#include "platform/serial/serial_device.h"

namespace veldrane::platform {
namespace {

constexpr uint64_t kReplaceIntervalUs = 1000000;

class PortDevice final : public SerialDevice {
 public:
  SerialResult Open(const char* port_name, const SerialSettings& settings) override {
    port_name_ = port_name ? port_name : "";
    settings_ = settings;
    replacing_ = false;
    return OpenKind(EntryIsNetwork());
  }
  SerialResult Purge() override { return device_->Purge(); }
  SerialResult SetRts(bool up) override { return device_->SetRts(up); }
  ModemLine Cts() override { return device_->Cts(); }
  SerialResult Write(const uint8_t* bytes, size_t length, uint32_t timeout_ms) override {
    return device_->Write(bytes, length, timeout_ms);
  }
  SerialResult WaitTransmitted(uint32_t timeout_ms) override {
    return device_->WaitTransmitted(timeout_ms);
  }
  // Asked once a pass: the place to follow an entry that changed its kind.
  bool TakeReturned() override {
    if (replacing_ || (device_->Lost() && EntryIsNetwork() != network_)) {
      replacing_ = true;
      const uint64_t now = NetSys().now_us();
      if (now - last_replace_us_ >= kReplaceIntervalUs) {
        SerialResult r = OpenKind(EntryIsNetwork());
        last_replace_us_ = NetSys().now_us();
        replacing_ = !r.ok();
        if (r.ok()) return true;
      }
      if (replacing_) return false;
    }
    return device_->TakeReturned();
  }
  bool Lost() const override { return replacing_ || device_->Lost(); }
  void WatchStop(const StopSignal* stop) override {
    stop_ = stop;
    device_->WatchStop(stop);
  }

 private:
  bool EntryIsNetwork() const {
    const std::string path = ComDevicePath(port_name_.c_str());
    return !path.empty() && !PortEntryAddress(path).empty();
  }
  SerialResult OpenKind(bool network) {
    network_ = network;
    device_.reset();  // the old device lets go of the port first
    device_ = network ? NewNetworkSerialDevice() : NewTerminalSerialDevice();
    device_->WatchStop(stop_);
    return device_->Open(port_name_.c_str(), settings_);
  }

  std::string port_name_;
  SerialSettings settings_;
  bool network_ = false;
  // The device was replaced by one of the other kind that did not open: tried again, as the
  // entry then says, once a second.
  bool replacing_ = false;
  uint64_t last_replace_us_ = 0;
  const StopSignal* stop_ = nullptr;
  // Until the first Open, a terminal that is not open answers every call.
  std::unique_ptr<SerialDevice> device_ = NewTerminalSerialDevice();
};

}  // namespace

std::unique_ptr<SerialDevice> NewPosixSerialDevice() {
  return std::make_unique<PortDevice>();
}

std::unique_ptr<SerialDevice> NewSystemSerialDevice() {
  return NewPosixSerialDevice();
}

}  // namespace veldrane::platform
