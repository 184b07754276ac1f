// veldrane-cfg: the configuration-file tool.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/console.h"
#include "tools/cfg/cfg_tool.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  veldrane::platform::UseUtf8Output();
  return veldrane::cfg::Run(args, {stdin, stdout, stderr, veldrane::platform::StdoutIsTerminal()});
}
