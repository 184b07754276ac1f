// The meter's terminal panel: drawn over itself from the top left corner, the cursor hidden
// meanwhile.
#pragma once

#include <string>

namespace veldrane::meter {

class LivePanel {
 public:
  LivePanel();
  ~LivePanel();
  LivePanel(const LivePanel&) = delete;
  LivePanel& operator=(const LivePanel&) = delete;

  void Draw(const std::string& text);
};

}  // namespace veldrane::meter
