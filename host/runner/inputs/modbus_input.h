// The Modbus TCP server as a value input: PLCs and SCADA write holding registers, which set the
// tags of the register map; reads give back each tag's last value. One thread serves every
// client (libmodbus frames the requests and answers); nothing it does waits on the driver.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/runner/gateway/value_input.h"
#include "host/runner/inputs/modbus_map.h"
#include "host/runner/inputs/modbus_options.h"

namespace veldrane::host {

struct ModbusServerSettings {
  std::string host = "127.0.0.1";
  uint16_t port = 502;  // 0: a free port, as tests want (see ModbusInput::port())
  int unit = -1;        // -1: every unit identifier
  size_t max_clients = 8;
  std::vector<IpNetwork> allow;           // empty: anyone
  std::chrono::milliseconds idle{60000};  // a client silent this long is closed
  // Tells the user of refused clients and requests, once for each kind; any thread.
  std::function<void(const std::string&)> log;
};

class ModbusInput : public ValueInput {
 public:
  ModbusInput(ModbusServerSettings settings, ModbusMap map);
  ~ModbusInput() override;

  std::string Name() const override { return "modbus"; }
  // Listens; false when the address cannot be had (in use, not this machine's, port 502
  // without the right to it). Clients that connect wait until Start serves them.
  bool Prepare(const std::vector<RunLine>& lines, std::string* error) override;
  // Serves, listening first when Prepare did not.
  bool Start(ValueSink* sink, std::string* error) override;
  void Stop() override;
  // Detail: "tcp://127.0.0.1:502: 2 clients, 1234 writes".
  InputHealth Health() const override;

  // The port listened on, after a Start that succeeded.
  uint16_t port() const { return bound_port_; }

 private:
  struct Server;

  bool Listen(std::string* error);
  void Serve();

  ModbusServerSettings settings_;
  ModbusMap map_;
  std::unique_ptr<Server> server_;
  std::thread thread_;
  uint16_t bound_port_ = 0;
  std::atomic<bool> serving_{false};
  std::atomic<size_t> clients_{0};
  std::atomic<uint64_t> writes_{0};   // write requests taken
  std::atomic<uint64_t> values_{0};   // tag values set
  std::atomic<uint64_t> refused_{0};  // requests answered with an exception, clients refused
};

// The input the options ask for: the map read from --modbus-map (or made of `linked`, the tags
// the configurations link in station order) and checked against `linked`. Null with the
// reason, naming the map file's line, when the map cannot be used.
std::unique_ptr<ValueInput> NewModbusInput(const ModbusOptions& options,
                                           const std::vector<std::string>& linked,
                                           std::function<void(const std::string&)> log,
                                           std::string* error);

}  // namespace veldrane::host
