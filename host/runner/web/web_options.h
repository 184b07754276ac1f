// The runner's web options: where the page is served, who may connect and the token that lets a
// request set values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veldrane::host {

// An address block of --http-allow: 10.0.0.0/8, 192.168.1.7, fd00::/8. IPv4 blocks also hold
// the IPv4-mapped IPv6 addresses of their addresses.
struct AddressBlock {
  bool v6 = false;
  uint8_t bytes[16] = {};  // network order; the first 4 for IPv4
  int prefix = 0;          // bits that must match
};

bool ParseAddressBlock(const std::string& text, AddressBlock* block, std::string* error);
// Whether the address (4 bytes IPv4 or 16 bytes IPv6, network order) lies in the block.
bool BlockHolds(const AddressBlock& block, const uint8_t* address, size_t size);

struct WebOptions {
  std::string listen;  // ADDR:PORT as given; empty: no web server
  std::string host;    // the address to bind, without brackets
  int port = 0;
  std::vector<AddressBlock> allow;  // empty: every address that reaches the bound one
  std::string token_file;
  std::string token;  // filled by FinishWebOptions; empty: values over HTTP are refused (403)

  bool enabled() const { return !listen.empty(); }
};

// The option texts for --help.
extern const char* const kWebUsage;

bool IsWebOption(const std::string& option);
// Stores the value of one option; false with a message when it is not acceptable.
bool SetWebOption(const std::string& option, const std::string& value, WebOptions* options,
                  std::string* error);
// After all options: checks that they fit together and reads the token file (a regular file of
// at most 4 KB whose first line is the token). False with a message when they cannot be used.
bool FinishWebOptions(WebOptions* options, std::string* error);

// ADDR:PORT with ADDR an IPv4 address or an IPv6 address in brackets; port 1 to 65535.
bool ParseListenAddress(const std::string& text, std::string* host, int* port, std::string* error);

}  // namespace veldrane::host
