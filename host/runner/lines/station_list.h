// The stations of a configuration file, as the host runner shows them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veldrane::host {

struct StationRow {
  std::string name;  // code page 949
  int32_t kind = 0;
  int32_t number = 0;
  uint32_t decimals = 0;
  std::string tag;  // code page 949; empty: none
};

// Reads the stations of a configuration file, the port it names (COMn) into *port and whether
// the port uses the RTS/CTS handshake into *rts_cts, each when given; false with a message when
// it cannot be read.
bool ReadStations(const std::string& path, std::vector<StationRow>* rows, std::string* error,
                  std::string* port = nullptr, bool* rts_cts = nullptr);

}  // namespace veldrane::host
