// veldrane-cfg: the configuration-file tool.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/cfg/cfg_tool.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return veldrane::cfg::Run(args, {stdin, stdout, stderr, ::isatty(STDOUT_FILENO) == 1});
}
