#include "tools/meter/live_panel.h"

#include <cstdio>

namespace veldrane::meter {

LivePanel::LivePanel() {
  std::fputs("\033[?25l\033[2J", stdout);
}

LivePanel::~LivePanel() {
  std::fputs("\033[?25h", stdout);
  std::fflush(stdout);
}

void LivePanel::Draw(const std::string& text) {
  std::string screen = "\033[H";
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    screen += text.substr(start, end - start) + "\033[K\n";
    start = end + 1;
  }
  screen += "\033[J";
  std::fputs(screen.c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace veldrane::meter
