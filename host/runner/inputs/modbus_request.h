// What the Modbus server does with one request: the function's fields read from the request's
// PDU (after libmodbus has framed it) and checked against the register map before anything
// changes, so that a request either applies all its values or none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host/runner/inputs/modbus_map.h"

namespace veldrane::host {

// The map by register, for the checks of each request.
class RegisterIndex {
 public:
  explicit RegisterIndex(const ModbusMap& map);
  const ModbusMap& map() const { return map_; }
  // The lowest register of the map and the count up to its highest (0 for an empty map).
  uint16_t first() const { return first_; }
  uint32_t count() const { return static_cast<uint32_t>(entry_of_.size()); }
  // The entry that uses `address`, or -1.
  int EntryAt(uint32_t address) const;

 private:
  ModbusMap map_;
  uint16_t first_ = 0;
  std::vector<int> entry_of_;  // from first_
};

// Exception codes of the protocol.
enum ModbusException : uint8_t {
  kIllegalFunction = 1,
  kIllegalAddress = 2,
  kIllegalValue = 3,
};

struct RequestPlan {
  uint8_t exception = 0;  // non-zero: answer it; nothing changes
  // The tags' new values, taken together once the whole request passed its checks.
  std::vector<std::pair<std::string, double>> writes;
  // The registers the answer reads (count 0: none).
  uint16_t read_address = 0;
  uint16_t read_count = 0;
};

// `pdu`: the function code and its data. Function codes 3, 6, 16 and 23 are served; a count out
// of the protocol's bounds or disagreeing with the data, a write of part of a value, or a value
// that is not finite answer exception 3; a register the map lacks exception 2.
RequestPlan PlanRequest(const RegisterIndex& index, const uint8_t* pdu, size_t size);

}  // namespace veldrane::host
