// The device of a COM port: its port-map entry decides, when the port opens, whether it is a
// local terminal or a device server's port. Everything else is the chosen device's.
#include "platform/port_map.h"
#include "platform/serial_device.h"

namespace veldrane::platform {
namespace {

class PortDevice final : public SerialDevice {
 public:
  SerialResult Open(const char* port_name, const SerialSettings& settings) override {
    const std::string path = ComDevicePath(port_name);
    const bool network = !path.empty() && !PortEntryAddress(path).empty();
    device_ = network ? NewNetworkSerialDevice() : NewTerminalSerialDevice();
    return device_->Open(port_name, settings);
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
  bool TakeReturned() override { return device_->TakeReturned(); }

 private:
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
