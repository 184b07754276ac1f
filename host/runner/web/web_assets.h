// The live page's files (HTML, style, script, icon), compiled into the runner: the page needs
// nothing from any other server.
#pragma once

#include <string>

namespace veldrane::host {

struct WebAsset {
  const char* path;  // "/", "/app.js", ...
  const char* type;  // the Content-Type
  const char* body;
};

// The asset served at `path`; null when there is none.
const WebAsset* FindWebAsset(const std::string& path);

}  // namespace veldrane::host
