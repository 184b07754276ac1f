#include "host/runner/inputs/modbus_map.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <map>

#include "platform/text/cp949.h"
#include "platform/text/display_text.h"
#include "platform/text/utf8.h"

namespace veldrane::host {
namespace {

struct TypeWord {
  const char* word;
  RegisterType type;
  bool swapped;
};

constexpr TypeWord kTypes[] = {
    {"int16", RegisterType::kInt16, false},
    {"uint16", RegisterType::kUint16, false},
    {"int32", RegisterType::kInt32, false},
    {"uint32", RegisterType::kUint32, false},
    {"float32", RegisterType::kFloat32, false},
    {"int32-swapped", RegisterType::kInt32, true},
    {"uint32-swapped", RegisterType::kUint32, true},
    {"float32-swapped", RegisterType::kFloat32, true},
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// The words of a line up to a comment; a word in double quotes may hold blanks and '#'.
bool SplitWords(const std::string& line, std::vector<std::string>* words, std::string* error) {
  size_t i = 0;
  while (true) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size() || line[i] == '#') return true;
    if (line[i] == '"') {
      size_t close = line.find('"', i + 1);
      if (close == std::string::npos) {
        *error = "a tag in double quotes without its closing quote";
        return false;
      }
      words->push_back(line.substr(i + 1, close - i - 1));
      i = close + 1;
      if (i < line.size() && !IsBlank(line[i])) {
        *error = "a blank is wanted after the closing quote";
        return false;
      }
      continue;
    }
    size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    words->push_back(line.substr(start, i - start));
  }
}

bool ParseAddress(const std::string& word, uint16_t* address) {
  if (word.empty() || word.size() > 5) return false;
  unsigned long n = 0;
  for (char c : word) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<unsigned long>(c - '0');
  }
  if (n > 65535) return false;
  *address = static_cast<uint16_t>(n);
  return true;
}

bool ParseScale(const std::string& word, double* scale) {
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(word.c_str(), &end);
  if (word.empty() || end != word.c_str() + word.size() || errno == ERANGE) return false;
  if (!std::isfinite(v) || !(v > 0)) return false;
  *scale = v;
  return true;
}

// The tag in code page 949, or the reason it has none.
bool TagOf(const std::string& utf8, std::string* cp949, std::string* error) {
  if (utf8.empty()) {
    *error = "an empty tag";
    return false;
  }
  if (platform::InvalidUtf8At(utf8) != std::string::npos) {
    *error = "the tag '" + platform::Excerpt(utf8) + "' is not UTF-8";
    return false;
  }
  size_t bad = 0;
  try {
    if (!platform::Utf8ToCp949Exact(utf8.data(), utf8.size(), cp949, &bad)) {
      *error = "the tag '" + platform::Excerpt(utf8) + "' has a character that code page 949 lacks";
      return false;
    }
  } catch (const std::exception& e) {
    *error = "the tag '" + platform::Excerpt(utf8) + "' cannot be converted: " + e.what();
    return false;
  }
  return true;
}

bool ParseLine(const std::string& line, MapEntry* entry, bool* blank, std::string* error) {
  std::vector<std::string> words;
  if (!SplitWords(line, &words, error)) return false;
  *blank = words.empty();
  if (words.empty()) return true;
  if (words.size() < 3 || words.size() > 4) {
    *error = "expected 'REGISTER TYPE TAG [SCALE]', found " + std::to_string(words.size()) +
             (words.size() == 1 ? " word" : " words");
    return false;
  }
  if (!ParseAddress(words[0], &entry->address)) {
    *error = "'" + platform::Excerpt(words[0]) + "' is no register address (0 to 65535)";
    return false;
  }
  const TypeWord* type = nullptr;
  for (const TypeWord& t : kTypes) {
    if (words[1] == t.word) type = &t;
  }
  if (type == nullptr) {
    *error = "'" + platform::Excerpt(words[1]) +
             "' is no type (int16, uint16, int32, uint32, float32; the 32-bit ones also "
             "with -swapped)";
    return false;
  }
  entry->type = type->type;
  entry->swapped = type->swapped;
  if (entry->address + entry->Width() > 65536) {
    *error = std::string(type->word) + " at " + words[0] + " would go past register 65535";
    return false;
  }
  if (!TagOf(words[2], &entry->tag, error)) return false;
  if (words.size() == 4 && !ParseScale(words[3], &entry->scale)) {
    *error = "the scale '" + platform::Excerpt(words[3]) + "' is no number above zero";
    return false;
  }
  return true;
}

}  // namespace

bool ParseModbusMap(const std::string& text, const std::string& name, ModbusMap* map,
                    std::string* error) {
  std::string_view rest = platform::WithoutUtf8Bom(text);
  // The line of the entry that uses each register.
  std::map<uint32_t, int> used;
  ModbusMap result;
  for (int number = 1; !rest.empty(); ++number) {
    size_t end = rest.find('\n');
    std::string line(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    MapEntry entry;
    entry.line = number;
    bool blank = false;
    std::string reason;
    if (!ParseLine(line, &entry, &blank, &reason)) {
      *error = name + ":" + std::to_string(number) + ": " + reason;
      return false;
    }
    if (blank) continue;
    for (int i = 0; i < entry.Width(); ++i) {
      auto [at, added] = used.emplace(entry.address + i, number);
      if (added) continue;
      *error = name + ":" + std::to_string(number) + ": register " +
               std::to_string(entry.address + i) + " is taken by line " +
               std::to_string(at->second);
      return false;
    }
    result.push_back(std::move(entry));
  }
  *map = std::move(result);
  return true;
}

bool CheckMapTags(const ModbusMap& map, const std::string& name,
                  const std::set<std::string>& linked, std::string* error) {
  for (const MapEntry& entry : map) {
    if (linked.count(entry.tag) != 0) continue;
    *error = name + ":" + std::to_string(entry.line) + ": no station links the tag '" +
             platform::DisplayCp949(entry.tag) + "'";
    return false;
  }
  return true;
}

bool MakeModbusMap(const std::vector<std::string>& tags, ModbusMap* map, std::string* error) {
  std::set<std::string> seen;
  ModbusMap result;
  uint32_t address = 0;
  for (const std::string& tag : tags) {
    if (tag.empty() || !seen.insert(tag).second) continue;
    if (address + 2 > 65536) {
      *error = "the tags do not fit in the 65536 registers as a float32 each: give a map";
      return false;
    }
    MapEntry entry;
    entry.address = static_cast<uint16_t>(address);
    entry.tag = tag;
    result.push_back(std::move(entry));
    address += 2;
  }
  *map = std::move(result);
  return true;
}

std::string TypeName(const MapEntry& entry) {
  for (const TypeWord& t : kTypes) {
    if (t.type == entry.type && t.swapped == entry.swapped) return t.word;
  }
  return "?";
}

std::string FormatModbusMap(const ModbusMap& map) {
  std::string text =
      "# Holding registers: REGISTER TYPE TAG [SCALE]; REGISTER as on the wire (from 0), 32-bit\n"
      "# types over two registers (high word first, -swapped: low word first), SCALE a divisor\n";
  for (const MapEntry& entry : map) {
    std::string tag = platform::Cp949ToUtf8Exact(entry.tag);
    bool quote =
        tag.find_first_of(" \t\r\v\f") != std::string::npos || tag[0] == '#' || tag[0] == '"';
    text += std::to_string(entry.address) + " " + TypeName(entry) + " " +
            (quote ? "\"" + tag + "\"" : tag);
    if (entry.scale != 1) {
      char scale[32];
      std::snprintf(scale, sizeof scale, "%.17g", entry.scale);
      text += std::string(" ") + scale;
    }
    text += "\n";
  }
  return text;
}

namespace {

// The registers' 32 bits, the first register's word high unless swapped.
uint32_t Bits32(const MapEntry& entry, const uint16_t* r) {
  uint32_t high = entry.swapped ? r[1] : r[0];
  uint32_t low = entry.swapped ? r[0] : r[1];
  return high << 16 | low;
}

void SetBits32(const MapEntry& entry, uint32_t bits, uint16_t* r) {
  r[entry.swapped ? 1 : 0] = static_cast<uint16_t>(bits >> 16);
  r[entry.swapped ? 0 : 1] = static_cast<uint16_t>(bits & 0xFFFF);
}

// `v` rounded to the nearest integer in [low, high]; NaN gives 0.
int64_t Saturated(double v, int64_t low, int64_t high) {
  if (std::isnan(v)) return 0;
  double r = std::round(v);
  if (r <= static_cast<double>(low)) return low;
  if (r >= static_cast<double>(high)) return high;
  return static_cast<int64_t>(r);
}

}  // namespace

double DecodeRegisters(const MapEntry& entry, const uint16_t* r) {
  double raw = 0;
  switch (entry.type) {
    case RegisterType::kInt16:
      raw = static_cast<int16_t>(r[0]);
      break;
    case RegisterType::kUint16:
      raw = r[0];
      break;
    case RegisterType::kInt32:
      raw = static_cast<int32_t>(Bits32(entry, r));
      break;
    case RegisterType::kUint32:
      raw = Bits32(entry, r);
      break;
    case RegisterType::kFloat32: {
      uint32_t bits = Bits32(entry, r);
      float f = 0;
      std::memcpy(&f, &bits, sizeof f);
      raw = f;
      break;
    }
  }
  return raw / entry.scale;
}

void EncodeRegisters(const MapEntry& entry, double value, uint16_t* r) {
  double v = value * entry.scale;
  switch (entry.type) {
    case RegisterType::kInt16:
      r[0] = static_cast<uint16_t>(Saturated(v, INT16_MIN, INT16_MAX));
      break;
    case RegisterType::kUint16:
      r[0] = static_cast<uint16_t>(Saturated(v, 0, UINT16_MAX));
      break;
    case RegisterType::kInt32:
      SetBits32(entry, static_cast<uint32_t>(Saturated(v, INT32_MIN, INT32_MAX)), r);
      break;
    case RegisterType::kUint32:
      SetBits32(entry, static_cast<uint32_t>(Saturated(v, 0, UINT32_MAX)), r);
      break;
    case RegisterType::kFloat32: {
      float f = static_cast<float>(v);
      uint32_t bits = 0;
      std::memcpy(&bits, &f, sizeof bits);
      SetBits32(entry, bits, r);
      break;
    }
  }
}

}  // namespace veldrane::host
