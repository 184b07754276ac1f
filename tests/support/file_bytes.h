// Configuration files byte by byte, built without the archive: the tests' own statement of the
// layout (little-endian integers, string prefixes, object tags), to hold the archive against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veldrane::test {

class Bytes {
 public:
  Bytes& u8(uint32_t v) {
    s_ += static_cast<char>(v & 0xFF);
    return *this;
  }
  Bytes& u16(uint32_t v) { return u8(v).u8(v >> 8); }
  Bytes& u32(uint32_t v) { return u16(v).u16(v >> 16); }
  Bytes& raw(const std::string& b) {
    s_ += b;
    return *this;
  }
  // A string with its length prefix (8-bit form).
  Bytes& str(const std::string& b) {
    if (b.size() < 0xFF) {
      u8(static_cast<uint32_t>(b.size()));
    } else if (b.size() < 0xFFFE) {
      u8(0xFF).u16(static_cast<uint32_t>(b.size()));
    } else {
      u8(0xFF).u16(0xFFFF).u32(static_cast<uint32_t>(b.size()));
    }
    return raw(b);
  }
  Bytes& count(uint32_t n) { return n < 0xFFFF ? u16(n) : u16(0xFFFF).u32(n); }
  const std::string& str() const { return s_; }
  size_t size() const { return s_.size(); }

 private:
  std::string s_;
};

struct Station {
  Station(std::string n, std::string d = "", int32_t k = 0, int32_t nr = 0, uint32_t dec = 0,
          std::string t = "")
      : name(std::move(n)),
        description(std::move(d)),
        kind(k),
        number(nr),
        decimals(dec),
        tag(std::move(t)) {}
  std::string name;
  std::string description;
  int32_t kind;
  int32_t number;
  uint32_t decimals;
  std::string tag;
};

struct Port {
  int32_t port_index = 0, baud_index = 5, parity_index = 0, data_bits = 1, stop_bits = 0;
  uint32_t option_flags = 0;
};

// The header of this driver's files: type 3 and "Veldrane.Dll".
inline std::string HeaderBytes(uint32_t type = 3) {
  return Bytes().u32(type).str("Veldrane.Dll").str();
}

// One station's tagged object. `index` counts from 1 in list order: the first carries the class
// description; later ones refer to class 1, in the long form once the archive's next index
// (index + 1) has reached 0x7FFF.
inline void AppendStation(Bytes& b, const Station& st, uint32_t index) {
  if (index == 1) {
    b.u16(0xFFFF).u16(1).u16(12).raw("CStationInfo");
  } else if (index + 1 < 0x7FFF) {
    b.u16(0x8001);
  } else {
    b.u16(0x7FFF).u32(0x80000001u);
  }
  b.str(st.name).str(st.description).u32(static_cast<uint32_t>(st.kind));
  b.u32(static_cast<uint32_t>(st.number)).u32(st.decimals).str(st.tag);
}

// Everything after the header: names, port settings, stations.
inline std::string BodyBytes(const std::vector<Station>& stations, const Port& port = Port()) {
  Bytes b;
  b.count(static_cast<uint32_t>(stations.size()));
  for (const Station& st : stations) b.str(st.name);
  b.u32(static_cast<uint32_t>(port.port_index)).u32(static_cast<uint32_t>(port.baud_index));
  b.u32(static_cast<uint32_t>(port.parity_index)).u32(static_cast<uint32_t>(port.data_bits));
  b.u32(static_cast<uint32_t>(port.stop_bits)).u32(port.option_flags);
  b.count(static_cast<uint32_t>(stations.size()));
  uint32_t index = 0;
  for (const Station& st : stations) AppendStation(b, st, ++index);
  return b.str();
}

inline std::string FileBytes(const std::vector<Station>& stations, const Port& port = Port()) {
  return HeaderBytes() + BodyBytes(stations, port);
}

}  // namespace veldrane::test
