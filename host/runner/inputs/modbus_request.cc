#include "host/runner/inputs/modbus_request.h"

#include <algorithm>
#include <cmath>

namespace veldrane::host {

RegisterIndex::RegisterIndex(const ModbusMap& map) : map_(map) {
  if (map_.empty()) return;
  uint32_t low = 65535, high = 0;
  for (const MapEntry& e : map_) {
    low = std::min<uint32_t>(low, e.address);
    high = std::max<uint32_t>(high, e.address + e.Width() - 1);
  }
  first_ = static_cast<uint16_t>(low);
  entry_of_.assign(high - low + 1, -1);
  for (size_t i = 0; i < map_.size(); ++i) {
    for (int w = 0; w < map_[i].Width(); ++w) {
      entry_of_[map_[i].address + w - low] = static_cast<int>(i);
    }
  }
}

int RegisterIndex::EntryAt(uint32_t address) const {
  if (address < first_ || address - first_ >= entry_of_.size()) return -1;
  return entry_of_[address - first_];
}

namespace {

// Protocol bounds of the register counts.
constexpr uint16_t kMaxRead = 125;
constexpr uint16_t kMaxWrite = 123;
constexpr uint16_t kMaxReadWriteWrite = 121;

uint16_t Word(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

bool InMap(const RegisterIndex& index, uint32_t address, uint32_t count) {
  for (uint32_t a = address; a < address + count; ++a) {
    if (index.EntryAt(a) < 0) return false;
  }
  return true;
}

RequestPlan Refuse(uint8_t exception) {
  RequestPlan plan;
  plan.exception = exception;
  return plan;
}

// The values of the registers [address, address + count) given big-endian in `data`: an entry
// partly written, or a value that is not finite, refuses the whole write.
uint8_t PlanWrite(const RegisterIndex& index, uint16_t address, uint16_t count, const uint8_t* data,
                  RequestPlan* plan) {
  if (address + count > 65536 || !InMap(index, address, count)) return kIllegalAddress;
  uint32_t end = address + count;
  for (uint32_t a = address; a < end;) {
    const MapEntry& e = index.map()[index.EntryAt(a)];
    if (e.address < address || e.address + static_cast<uint32_t>(e.Width()) > end)
      return kIllegalValue;
    uint16_t words[2] = {};
    for (int w = 0; w < e.Width(); ++w) words[w] = Word(data + 2 * (a - address + w));
    double value = DecodeRegisters(e, words);
    if (!std::isfinite(value)) return kIllegalValue;
    plan->writes.emplace_back(e.tag, value);
    a += e.Width();
  }
  return 0;
}

uint8_t PlanRead(const RegisterIndex& index, uint16_t address, uint16_t count, RequestPlan* plan) {
  if (address + count > 65536 || !InMap(index, address, count)) return kIllegalAddress;
  plan->read_address = address;
  plan->read_count = count;
  return 0;
}

}  // namespace

RequestPlan PlanRequest(const RegisterIndex& index, const uint8_t* pdu, size_t size) {
  if (size < 1) return Refuse(kIllegalFunction);
  const uint8_t function = pdu[0];
  const uint8_t* d = pdu + 1;
  const size_t n = size - 1;
  RequestPlan plan;
  uint8_t refused = 0;
  switch (function) {
    case 3: {
      if (n != 4) return Refuse(kIllegalValue);
      uint16_t count = Word(d + 2);
      if (count < 1 || count > kMaxRead) return Refuse(kIllegalValue);
      refused = PlanRead(index, Word(d), count, &plan);
      break;
    }
    case 6:
      if (n != 4) return Refuse(kIllegalValue);
      refused = PlanWrite(index, Word(d), 1, d + 2, &plan);
      break;
    case 16: {
      if (n < 5) return Refuse(kIllegalValue);
      uint16_t count = Word(d + 2);
      if (count < 1 || count > kMaxWrite || d[4] != 2 * count || n != 5u + d[4]) {
        return Refuse(kIllegalValue);
      }
      refused = PlanWrite(index, Word(d), count, d + 5, &plan);
      break;
    }
    case 23: {
      if (n < 9) return Refuse(kIllegalValue);
      uint16_t read_count = Word(d + 2), write_count = Word(d + 6);
      if (read_count < 1 || read_count > kMaxRead || write_count < 1 ||
          write_count > kMaxReadWriteWrite || d[8] != 2 * write_count || n != 9u + d[8]) {
        return Refuse(kIllegalValue);
      }
      refused = PlanWrite(index, Word(d + 4), write_count, d + 9, &plan);
      if (refused == 0) refused = PlanRead(index, Word(d), read_count, &plan);
      break;
    }
    default:
      return Refuse(kIllegalFunction);
  }
  if (refused != 0) return Refuse(refused);
  return plan;
}

}  // namespace veldrane::host
