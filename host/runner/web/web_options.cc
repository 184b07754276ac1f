#include "host/runner/web/web_options.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/text/display_text.h"
#include "platform/text/whole_number.h"

namespace veldrane::host {

const char* const kWebUsage =
    "  --http ADDR:PORT  serve the live page, /api/status, /api/events, /metrics and /healthz\n"
    "                    on ADDR:PORT (127.0.0.1:8640; an IPv6 address in brackets)\n"
    "  --http-allow CIDR,...\n"
    "                    only these address blocks may connect (10.0.0.0/8,fd00::/8)\n"
    "  --http-token FILE the token (first line of FILE) that PUT /api/values/TAG must carry\n"
    "                    as 'Authorization: Bearer TOKEN'; without it values over HTTP are\n"
    "                    refused\n";

namespace {

constexpr off_t kMaxTokenFile = 4096;

bool ParseAddress(const std::string& text, bool* v6, uint8_t* bytes) {
  if (inet_pton(AF_INET, text.c_str(), bytes) == 1) {
    *v6 = false;
    return true;
  }
  if (inet_pton(AF_INET6, text.c_str(), bytes) == 1) {
    *v6 = true;
    return true;
  }
  return false;
}

bool PrefixMatches(const uint8_t* a, const uint8_t* b, int bits) {
  int whole = bits / 8, rest = bits % 8;
  if (std::memcmp(a, b, static_cast<size_t>(whole)) != 0) return false;
  if (rest == 0) return true;
  uint8_t mask = static_cast<uint8_t>(0xFF << (8 - rest));
  return (a[whole] & mask) == (b[whole] & mask);
}

bool ReadToken(const std::string& path, std::string* token, std::string* error) {
  // Opened without following a FIFO's writer or a device's stream: only a regular file.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = "--http-token: cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (!regular || st.st_size > kMaxTokenFile) {
    ::close(fd);
    *error = "--http-token: " + path +
             (regular ? " is larger than 4 KB: it holds the token on its first line"
                      : " is not a regular file: give a file that holds the token");
    return false;
  }
  char buffer[kMaxTokenFile + 1];
  ssize_t got = ::read(fd, buffer, sizeof buffer - 1);
  ::close(fd);
  std::string text(buffer, got > 0 ? static_cast<size_t>(got) : 0);
  text = text.substr(0, text.find('\n'));
  if (!text.empty() && text.back() == '\r') text.pop_back();
  bool printable = !text.empty();
  for (char c : text) printable = printable && c > ' ' && c != 0x7F;
  if (!printable) {
    *error = "--http-token: the first line of " + path +
             " must hold the token: visible characters without blanks";
    return false;
  }
  if ((st.st_mode & 0077) != 0) {
    std::fprintf(stderr,
                 "veldrane-host: warning: other users may read the token file %s (chmod 600 %s)\n",
                 path.c_str(), path.c_str());
  }
  *token = text;
  return true;
}

}  // namespace

bool ParseAddressBlock(const std::string& text, AddressBlock* block, std::string* error) {
  AddressBlock b;
  size_t slash = text.find('/');
  std::string address = text.substr(0, slash);
  if (!ParseAddress(address, &b.v6, b.bytes)) {
    *error = "--http-allow takes address blocks such as 10.0.0.0/8 or fd00::/8, not '" +
             platform::Excerpt(text) + "'";
    return false;
  }
  int most = b.v6 ? 128 : 32;
  b.prefix = most;
  if (slash != std::string::npos) {
    std::string bits = text.substr(slash + 1);
    long n = 0;
    if (!platform::ParseWholeNumber(bits, 0, most, &n)) {
      *error = "--http-allow: the prefix of '" + platform::Excerpt(text) + "' must be 0 to " +
               std::to_string(most);
      return false;
    }
    b.prefix = static_cast<int>(n);
  }
  *block = b;
  return true;
}

bool BlockHolds(const AddressBlock& block, const uint8_t* address, size_t size) {
  static const uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (size == 16 && !block.v6 && std::memcmp(address, kMapped, 12) == 0) {
    address += 12;
    size = 4;
  }
  if (size != (block.v6 ? 16u : 4u)) return false;
  return PrefixMatches(address, block.bytes, block.prefix);
}

bool ParseListenAddress(const std::string& text, std::string* host, int* port, std::string* error) {
  size_t colon = text.rfind(':');
  std::string h = colon == std::string::npos ? "" : text.substr(0, colon);
  if (h.size() >= 2 && h.front() == '[' && h.back() == ']') {
    h = h.substr(1, h.size() - 2);
  } else if (h.find(':') != std::string::npos) {
    h.clear();  // an IPv6 address without brackets: its port cannot be told apart
  }
  bool v6 = false;
  uint8_t bytes[16];
  std::string digits = colon == std::string::npos ? "" : text.substr(colon + 1);
  long n = 0;
  if (h.empty() || !ParseAddress(h, &v6, bytes) ||
      !platform::ParseWholeNumber(digits, 1, 65535, &n)) {
    *error = "--http takes ADDR:PORT (127.0.0.1:8640, 0.0.0.0:8640 or [::1]:8640), not '" +
             platform::Excerpt(text) + "'";
    return false;
  }
  *host = h;
  *port = static_cast<int>(n);
  return true;
}

bool IsWebOption(const std::string& option) {
  return option == "--http" || option == "--http-allow" || option == "--http-token";
}

bool SetWebOption(const std::string& option, const std::string& value, WebOptions* options,
                  std::string* error) {
  if (option == "--http") {
    options->listen = value;
    return ParseListenAddress(value, &options->host, &options->port, error);
  }
  if (option == "--http-token") {
    options->token_file = value;
    return true;
  }
  size_t from = 0;
  while (from <= value.size()) {
    size_t comma = value.find(',', from);
    std::string item = value.substr(from, comma - from);
    AddressBlock block;
    if (!ParseAddressBlock(item, &block, error)) return false;
    options->allow.push_back(block);
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return true;
}

bool FinishWebOptions(WebOptions* options, std::string* error) {
  if (!options->enabled()) {
    if (!options->allow.empty() || !options->token_file.empty()) {
      *error = "--http-allow and --http-token need --http ADDR:PORT";
      return false;
    }
    return true;
  }
  return options->token_file.empty() || ReadToken(options->token_file, &options->token, error);
}

}  // namespace veldrane::host
