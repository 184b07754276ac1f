// The Modbus server's register map: the file read and refused with its line, the map made from
// the configurations' tags and printed back, the registers' meaning, and each request checked
// before anything changes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "host/runner/inputs/modbus_map.h"
#include "host/runner/inputs/modbus_request.h"

namespace {

using veldrane::host::MapEntry;
using veldrane::host::ModbusMap;
using veldrane::host::RegisterType;

TEST(ModbusMap, RefusedWithTheirLine) {
  struct Case {
    std::string text;
    std::string error;
  };
  const Case cases[] = {
      {"0 float32 T0\n1 int16 T1\n", "plc.map:2: register 1 is taken by line 1"},
      {"# head\n\n10 int16 T0\n4 float32-swapped T1\n9 uint32 T2\n",
       "plc.map:5: register 10 is taken by line 3"},
      {"0 float T0", "plc.map:1: 'float' is no type"},
      {"0 int16-swapped T0", "plc.map:1: 'int16-swapped' is no type"},
      {"-1 int16 T0", "plc.map:1: '-1' is no register address"},
      {"65536 int16 T0", "plc.map:1: '65536' is no register address"},
      {"65535 uint32 T0", "plc.map:1: uint32 at 65535 would go past register 65535"},
      {"1\n0 int16", "plc.map:1: expected 'REGISTER TYPE TAG [SCALE]', found 1 word"},
      {"0 int16 T0 10 # ok\n2 int16 T1 10 more", "plc.map:2: expected"},
      {"0 int16 T0 0", "plc.map:1: the scale '0' is no number above zero"},
      {"0 int16 T0 -10", "plc.map:1: the scale '-10' is no number above zero"},
      {"0 int16 T0 nan", "plc.map:1: the scale 'nan'"},
      {"0 int16 T0 1e999", "plc.map:1: the scale '1e999'"},
      {"0 int16 \"T 0", "plc.map:1: a tag in double quotes without its closing quote"},
      {"0 int16 \"T\"0", "plc.map:1: a blank is wanted after the closing quote"},
      {"0 int16 \"\"", "plc.map:1: an empty tag"},
      {"0 int16 T\xFF", "plc.map:1: the tag 'T\\xff' is not UTF-8"},
      {"0 int16 \xF0\x9F\x98\x80",
       "plc.map:1: the tag '\xF0\x9F\x98\x80' has a character that code page"},
  };
  for (const Case& c : cases) {
    ModbusMap map;
    std::string error;
    EXPECT_FALSE(veldrane::host::ParseModbusMap(c.text, "plc.map", &map, &error)) << c.text;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.text << " gave: " << error;
  }
  // A tag no station links, named with its line.
  ModbusMap map;
  std::string error;
  ASSERT_TRUE(
      veldrane::host::ParseModbusMap("# c\n\n0 int16 T0\n1 int16 T9\n", "plc.map", &map, &error));
  EXPECT_FALSE(veldrane::host::CheckMapTags(map, "plc.map", {"T0", "T1"}, &error));
  EXPECT_EQ(error, "plc.map:4: no station links the tag 'T9'");
}

TEST(ModbusMap, ReadAsWrittenAndPrintedBack) {
  // A byte-order mark, comments where a word starts, a '#' inside a tag, quotes, CR LF.
  const std::string text =
      "\xEF\xBB\xBF# the plant\r\n"
      "  100 int32-swapped T#1 10  # flow\r\n"
      "7 uint16 \"Tank 2\"\n"
      "0 float32 \xEC\x9C\xA0\xEB\x9F\x89 0.5\n";
  ModbusMap map;
  std::string error;
  ASSERT_TRUE(veldrane::host::ParseModbusMap(text, "m", &map, &error)) << error;
  ASSERT_EQ(map.size(), 3u);
  EXPECT_EQ(map[0].address, 100);
  EXPECT_EQ(map[0].type, RegisterType::kInt32);
  EXPECT_TRUE(map[0].swapped);
  EXPECT_EQ(map[0].scale, 10);
  EXPECT_EQ(map[0].tag, "T#1");
  EXPECT_EQ(map[0].line, 2);
  EXPECT_EQ(map[1].tag, "Tank 2");
  EXPECT_EQ(map[2].tag, "\xC0\xAF\xB7\xAE");  // 유량 in code page 949, as stations store it

  // Printed and read again: the same entries.
  ModbusMap again;
  ASSERT_TRUE(
      veldrane::host::ParseModbusMap(veldrane::host::FormatModbusMap(map), "m", &again, &error))
      << error;
  ASSERT_EQ(again.size(), map.size());
  for (size_t i = 0; i < map.size(); ++i) {
    EXPECT_EQ(again[i].address, map[i].address);
    EXPECT_EQ(TypeName(again[i]), TypeName(map[i]));
    EXPECT_EQ(again[i].scale, map[i].scale);
    EXPECT_EQ(again[i].tag, map[i].tag);
  }

  // Made from the stations' tags: each once, in their order, a float32 each from register 0.
  ASSERT_TRUE(veldrane::host::MakeModbusMap({"B", "", "A", "B", "#C"}, &map, &error));
  EXPECT_EQ(veldrane::host::FormatModbusMap(map).substr(veldrane::host::FormatModbusMap({}).size()),
            "0 float32 B\n2 float32 A\n4 float32 \"#C\"\n");
}

TEST(ModbusMap, RegistersOfEachType) {
  auto entry = [](RegisterType type, bool swapped, double scale) {
    MapEntry e;
    e.type = type;
    e.swapped = swapped;
    e.scale = scale;
    return e;
  };
  struct Case {
    MapEntry entry;
    double value;
    std::vector<uint16_t> registers;
  };
  const Case both_ways[] = {
      {entry(RegisterType::kInt16, false, 10), -12.3, {0xFF85}},
      {entry(RegisterType::kUint16, false, 1), 65535, {0xFFFF}},
      {entry(RegisterType::kInt32, false, 1), -2, {0xFFFF, 0xFFFE}},
      {entry(RegisterType::kInt32, true, 100), 700000.01, {0x1D81, 0x042C}},
      {entry(RegisterType::kUint32, false, 1), 4294967295.0, {0xFFFF, 0xFFFF}},
      {entry(RegisterType::kUint32, true, 1), 0x12345678, {0x5678, 0x1234}},
      {entry(RegisterType::kFloat32, false, 1), 12.25, {0x4144, 0x0000}},
      {entry(RegisterType::kFloat32, true, 1), -3.125, {0x0000, 0xC048}},
      {entry(RegisterType::kFloat32, false, 4), 0.5, {0x4000, 0x0000}},
  };
  for (const Case& c : both_ways) {
    uint16_t r[2] = {};
    EncodeRegisters(c.entry, c.value, r);
    EXPECT_EQ(std::vector<uint16_t>(r, r + c.entry.Width()), c.registers) << c.value;
    EXPECT_NEAR(DecodeRegisters(c.entry, c.registers.data()), c.value, 1e-9) << c.value;
  }
  // A value the type cannot hold is saturated on a read, never wrapped; NaN reads as 0.
  const Case saturated[] = {
      {entry(RegisterType::kInt16, false, 10), 5000, {0x7FFF}},
      {entry(RegisterType::kUint16, false, 1), -1, {0x0000}},
      {entry(RegisterType::kInt32, false, 1), -1e12, {0x8000, 0x0000}},
      {entry(RegisterType::kUint32, false, 1), 1e12, {0xFFFF, 0xFFFF}},
      {entry(RegisterType::kUint16, false, 1), std::nan(""), {0x0000}},
  };
  for (const Case& c : saturated) {
    uint16_t r[2] = {};
    EncodeRegisters(c.entry, c.value, r);
    EXPECT_EQ(std::vector<uint16_t>(r, r + c.entry.Width()), c.registers) << c.value;
  }
}

TEST(ModbusRequest, CheckedBeforeAnythingChanges) {
  ModbusMap map;
  std::string error;
  ASSERT_TRUE(veldrane::host::ParseModbusMap("10 int16 A 10\n11 float32 B\n20 uint16 C\n", "m",
                                             &map, &error));
  const veldrane::host::RegisterIndex index(map);
  struct Case {
    std::vector<uint8_t> pdu;
    uint8_t exception;
    std::vector<std::pair<std::string, double>> writes;
    uint16_t read_count = 0;
  };
  const Case cases[] = {
      // Reads: within the map, or across a gap.
      {{3, 0, 10, 0, 3}, 0, {}, 3},
      {{3, 0, 12, 0, 1}, 0, {}, 1},  // half a value may be read
      {{3, 0, 10, 0, 11}, 2, {}},    // 13 to 19 are not mapped
      {{3, 0, 9, 0, 1}, 2, {}},
      {{3, 0xFF, 0xFF, 0, 2}, 2, {}},  // past the last register
      {{3, 0, 10, 0, 0}, 3, {}},
      {{3, 0, 10, 0, 126}, 3, {}},
      {{3, 0, 10, 0}, 3, {}},  // too short
      // Writes of whole values, scaled; together or not at all.
      {{6, 0, 10, 0xFF, 0x85}, 0, {{"A", -12.3}}},
      {{16, 0, 10, 0, 3, 6, 0, 5, 0x41, 0x44, 0, 0}, 0, {{"A", 0.5}, {"B", 12.25}}},
      {{6, 0, 11, 0x41, 0x44}, 3, {}},                  // half of B
      {{16, 0, 10, 0, 2, 4, 0, 5, 0x41, 0x44}, 3, {}},  // A and half of B
      {{16, 0, 11, 0, 2, 4, 0x7F, 0xC0, 0, 0}, 3, {}},  // B = NaN
      {{16, 0, 11, 0, 2, 4, 0x7F, 0x80, 0, 0}, 3, {}},  // B = infinity
      {{16, 0, 20, 0, 2, 4, 0, 1, 0, 2}, 2, {}},        // 21 is not mapped
      {{16, 0, 10, 0, 1, 3, 0, 5, 0}, 3, {}},           // byte count disagrees
      {{16, 0, 10, 0, 1, 2, 0, 5, 0}, 3, {}},           // more data than counted
      // Read and write: the write is checked as a write, the read as a read.
      {{23, 0, 10, 0, 3, 0, 20, 0, 1, 2, 0, 7}, 0, {{"C", 7}}, 3},
      {{23, 0, 10, 0, 3, 0, 12, 0, 1, 2, 0, 7}, 3, {}},
      {{23, 0, 30, 0, 1, 0, 20, 0, 1, 2, 0, 7}, 2, {}},
      // Other functions.
      {{1, 0, 10, 0, 1}, 1, {}},
      {{4, 0, 10, 0, 1}, 1, {}},
      {{43, 14, 1, 0}, 1, {}},
  };
  for (const Case& c : cases) {
    veldrane::host::RequestPlan plan = PlanRequest(index, c.pdu.data(), c.pdu.size());
    std::string what = "function " + std::to_string(c.pdu[0]) + " at " + std::to_string(c.pdu[2]);
    EXPECT_EQ(plan.exception, c.exception) << what;
    ASSERT_EQ(plan.writes.size(), c.writes.size()) << what;
    for (size_t i = 0; i < c.writes.size(); ++i) {
      EXPECT_EQ(plan.writes[i].first, c.writes[i].first) << what;
      EXPECT_NEAR(plan.writes[i].second, c.writes[i].second, 1e-9) << what;
    }
    EXPECT_EQ(plan.read_count, c.read_count) << what;
  }
}

}  // namespace
