// Map files as anyone may write them, and requests from anyone who may connect: the parser never
// crashes, a refusal names its line, a map read is one without overlaps that reads back the
// same when printed, and a request against it is answered or refused, never half taken.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "host/runner/inputs/modbus_map.h"
#include "host/runner/inputs/modbus_request.h"

namespace {

bool SameEntries(const veldrane::host::ModbusMap& a, const veldrane::host::ModbusMap& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].address != b[i].address || a[i].type != b[i].type || a[i].swapped != b[i].swapped ||
        a[i].scale != b[i].scale || a[i].tag != b[i].tag) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  veldrane::host::ModbusMap map;
  std::string error;
  if (!veldrane::host::ParseModbusMap(text, "f", &map, &error)) {
    if (error.rfind("f:", 0) != 0 || error.size() < 4) std::abort();
    return 0;
  }
  std::set<uint32_t> used;
  for (const veldrane::host::MapEntry& e : map) {
    if (e.tag.empty() || !(e.scale > 0)) std::abort();
    for (int w = 0; w < e.Width(); ++w) {
      if (!used.insert(e.address + w).second || e.address + w > 65535) std::abort();
    }
  }
  veldrane::host::ModbusMap again;
  if (!veldrane::host::ParseModbusMap(FormatModbusMap(map), "f", &again, &error) ||
      !SameEntries(map, again)) {
    std::abort();
  }
  // The same bytes as a request's PDU against the map.
  veldrane::host::RegisterIndex index(map);
  veldrane::host::RequestPlan plan = PlanRequest(index, data, size);
  if (plan.exception > 3 || (plan.exception != 0 && !plan.writes.empty())) std::abort();
  return 0;
}
