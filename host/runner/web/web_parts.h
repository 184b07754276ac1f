// The web server as the runner sees it: one status output (the page, the JSON, the metrics) and
// one value input (PUT /api/values/TAG), sharing one server.
#pragma once

#include <memory>

#include "host/runner/gateway/status_output.h"
#include "host/runner/gateway/value_input.h"
#include "host/runner/web/web_options.h"

namespace veldrane::host {

struct WebParts {
  std::unique_ptr<StatusOutput> output;
  std::unique_ptr<ValueInput> input;
};

// Both parts on one server for `options` (enabled()); the server listens from the first Start.
WebParts MakeWeb(const WebOptions& options);

}  // namespace veldrane::host
