// The runner without its web server (the Windows build: no libmicrohttpd there). The --http
// options are known, and refused with the reason.
#include "host/runner/web/web_parts.h"

namespace veldrane::host {

const char* const kWebUsage =
    "  --http ADDR:PORT  not in this build (no HTTP server library for Windows)\n";

bool IsWebOption(const std::string& option) {
  return option == "--http" || option == "--http-allow" || option == "--http-token";
}

bool SetWebOption(const std::string& option, const std::string&, WebOptions*, std::string* error) {
  *error = option + ": this build has no web server (no HTTP server library for Windows)";
  return false;
}

bool FinishWebOptions(WebOptions*, std::string*) {
  return true;
}

WebParts MakeWeb(const WebOptions&) {
  return {};
}

}  // namespace veldrane::host
