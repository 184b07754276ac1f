// The register map of the Modbus server: which holding registers stand for which tag, and how.
//
// The map file holds one line per value, REGISTER TYPE TAG [SCALE]:
//   REGISTER  the first holding register's address as it goes on the wire (0 to 65535)
//   TYPE      int16, uint16 (one register); int32, uint32, float32 (two registers, the high
//             word first), or int32-swapped, uint32-swapped, float32-swapped (the low word first)
//   TAG       the tag's name in UTF-8; in double quotes when it holds a blank or starts with '#'
//   SCALE     a divisor (default 1): int16 with 10 turns the register's 123 into 12.3
// '#' where a word starts begins a comment; blank lines are skipped; a UTF-8 byte-order mark at
// the start is skipped. Tags are matched against the stations' tags converted from code page
// 949, as the MQTT value topics and `veldrane-cfg import --utf8` treat them.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace veldrane::host {

enum class RegisterType { kInt16, kUint16, kInt32, kUint32, kFloat32 };

struct MapEntry {
  uint16_t address = 0;
  RegisterType type = RegisterType::kFloat32;
  bool swapped = false;  // 32-bit types: the low word in the first register
  double scale = 1;      // finite and above zero
  std::string tag;       // code page 949, as the configurations store it
  int line = 0;          // in the map file; 0 in a made map

  int Width() const {
    return type == RegisterType::kInt16 || type == RegisterType::kUint16 ? 1 : 2;
  }
};

// Entries in the order of their lines; no two overlap.
using ModbusMap = std::vector<MapEntry>;

// Parses the text of a map file; `name` leads each message ("plc.map:3: ..."). False with the
// first bad line's message: a line that does not parse, a tag that is not UTF-8 or has a
// character code page 949 lacks, a value past register 65535, registers that another line uses.
bool ParseModbusMap(const std::string& text, const std::string& name, ModbusMap* map,
                    std::string* error);

// False, naming the line, when an entry's tag is not among `linked` (code page 949).
bool CheckMapTags(const ModbusMap& map, const std::string& name,
                  const std::set<std::string>& linked, std::string* error);

// The map made without a file: each tag once, in the order given, a float32 each from register
// 0. False when the tags do not fit in the 65536 registers.
bool MakeModbusMap(const std::vector<std::string>& tags, ModbusMap* map, std::string* error);

// The map in the file's format (UTF-8), with a heading comment; ParseModbusMap reads it back.
std::string FormatModbusMap(const ModbusMap& map);

// The type's name in the file: "int16", "float32-swapped".
std::string TypeName(const MapEntry& entry);

// A value of the entry from its registers (Width() of them, in the order they have on the wire).
double DecodeRegisters(const MapEntry& entry, const uint16_t* registers);
// The registers of a value: scaled and rounded to the nearest integer of the type (saturated at
// its bounds; NaN gives 0) or to the nearest float.
void EncodeRegisters(const MapEntry& entry, double value, uint16_t* registers);

}  // namespace veldrane::host
